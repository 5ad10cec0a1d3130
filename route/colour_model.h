// The colour model a job prints in, as both steps around the rasterizer read
// it from the job's options and the printer's PPD.
#ifndef INKBANDS_ROUTE_COLOUR_MODEL_H
#define INKBANDS_ROUTE_COLOUR_MODEL_H

#include <cups/cups.h>
#include <cups/ppd.h>

#include <string>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// The job's colour model: the PPD's marked ColorModel after the job's options
// (IPP's print-quality and print-color-mode included), or the job's own
// ColorModel when there is no PPD or it offers none; "" when neither names one.
static inline std::string JobColourModel(ppd_file_t *ppd, const char *option_text)
{
  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(option_text, 0, &options);
  const char *model = cupsGetOption("ColorModel", num_options, options);
  if (ppd && ppdFindOption(ppd, "ColorModel")) {
    ppdMarkDefaults(ppd);
#if defined(__SANITIZE_ADDRESS__)
    // libcups 2.4 leaks the options of the IPP preset it applies here.
    __lsan_disable();
#endif
    cupsMarkOptions(ppd, num_options, options);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    ppd_choice_t *choice = ppdFindMarkedChoice(ppd, "ColorModel");
    model = choice ? choice->choice : nullptr;
  }
  std::string name = model ? model : "";
  cupsFreeOptions(num_options, options);
  return name;
}

#endif
