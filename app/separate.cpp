// From an IPP job to the filter's page: the PPD settings, the page header and
// the separation of sGray and sRGB lines into the printer's inks.
#include "app.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <algorithm>
#include <cstring>

// Chooses the PPD settings that print a job as its IPP options ask.
JobSettings ChooseSettings(const Model &model, const pappl_pr_options_t *options)
{
  JobSettings s;
  const pappl_color_mode_t grey = PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_AUTO_MONOCHROME |
                                  PAPPL_COLOR_MODE_BI_LEVEL | PAPPL_COLOR_MODE_PROCESS_MONOCHROME;
  // Photos and the best quality get the light inks, as the PPDs' presets do.
  if (options->print_color_mode & grey)
    s.color_model = "Gray";
  else if (model.photo && (options->print_quality == IPP_QUALITY_HIGH ||
                           options->print_content_optimize == PAPPL_CONTENT_PHOTO))
    s.color_model = "Photo";
  else
    s.color_model = "CMYK";

  s.resolution = model.resolutions[(size_t)model.default_resolution].ppd;
  for (const ModelResolution &r : model.resolutions)
    if (r.x == options->printer_resolution[0] && r.y == options->printer_resolution[1])
      s.resolution = r.ppd;

  for (const ModelChoice &type : model.types)
    if (type.ipp == model.type_default) s.media_type = type.ppd;
  for (const ModelChoice &type : model.types)
    if (type.ipp == options->media.type) s.media_type = type.ppd;
  for (const ModelChoice &source : model.sources)
    if (source.ipp == options->media.source) s.input_slot = source.ppd;

  const char *weave = cupsGetOption(kWeaveOption, options->num_vendor, options->vendor);
  s.weave = weave && !strcmp(weave, "printer") ? "Printer" : "Driver";
  const char *dots = cupsGetOption(kDotsOption, options->num_vendor, options->vendor);
  bool variable = dots ? !strcmp(dots, "variable") : model.variable_default;
  s.compression = model.variable_dots && variable ? "VariableDots" : "PackBits";
  const char *cut = cupsGetOption(kCutOption, options->num_vendor, options->vendor);
  s.cut = model.cutter && cut && !strcmp(cut, "after-each-page");
  return s;
}

// Number of ink planes a line of the filter's page carries: six-ink pages
// come as four (K, C, M, Y) and the filter makes the light inks itself.
static unsigned LinePlanes(const cups_page_header2_t &header)
{
  return header.cupsColorSpace == CUPS_CSPACE_K ? 1 : 4;
}

// Builds the page header the filter gets, as CUPS's rasterizers would for the
// same PPD choices, on the page PAPPL laid out; false when the PPD refuses.
bool MakePageHeader(const Model &model, const JobSettings &settings,
                    const cups_page_header2_t &page, cups_page_header2_t *header)
{
  ppd_file_t *ppd = ppdOpenFile(model.ppd_path.c_str());
  if (!ppd) return false;
  ppdMarkDefaults(ppd);
  ppdMarkOption(ppd, "ColorModel", settings.color_model.c_str());
  ppdMarkOption(ppd, "Resolution", settings.resolution.c_str());
  ppdMarkOption(ppd, "MediaType", settings.media_type.c_str());
  if (!settings.input_slot.empty()) ppdMarkOption(ppd, "InputSlot", settings.input_slot.c_str());
  ppdMarkOption(ppd, "Weave", settings.weave.c_str());
  if (model.cutter) ppdMarkOption(ppd, "CutMedia", settings.cut ? "True" : "False");
  // Variable dots where the PPD allows them at this resolution.
  ppdMarkOption(ppd, "Compression", settings.compression.c_str());
  if (ppdConflicts(ppd) > 0) ppdMarkOption(ppd, "Compression", "PackBits");
  memset(header, 0, sizeof(*header));
  bool ok = cupsRasterInterpretPPD(header, ppd, 0, nullptr, nullptr) == 0;
  ppdClose(ppd);
  if (!ok || header->HWResolution[0] != page.HWResolution[0] ||
      header->HWResolution[1] != page.HWResolution[1])
    return false;

  // The paper and the pixels are PAPPL's: it laid out the page.
  memcpy(header->PageSize, page.PageSize, sizeof(header->PageSize));
  memcpy(header->ImagingBoundingBox, page.ImagingBoundingBox, sizeof(header->ImagingBoundingBox));
  memcpy(header->Margins, page.Margins, sizeof(header->Margins));
  memcpy(header->cupsPageSize, page.cupsPageSize, sizeof(header->cupsPageSize));
  memcpy(header->cupsImagingBBox, page.cupsImagingBBox, sizeof(header->cupsImagingBBox));
  header->cupsWidth = page.cupsWidth;
  header->cupsHeight = page.cupsHeight;
  header->NumCopies = 1;
  header->cupsBitsPerColor = 8;
  header->cupsBitsPerPixel = 8;
  header->cupsColorOrder = CUPS_ORDER_BANDED;
  // The PPDs ask rasterizers for KCMY in photo inks (Ghostscript renders no
  // 8-bit KCMYcm); like the step CUPS runs before the filter, mark the page
  // KCMYcm so that the filter splits cyan and magenta into light inks.
  if (settings.color_model == "Photo" && header->cupsColorSpace == CUPS_CSPACE_KCMY)
    header->cupsColorSpace = CUPS_CSPACE_KCMYcm;
  header->cupsBytesPerLine = page.cupsWidth * LinePlanes(*header);
  return true;
}

// Separates one line of 8-bit sGray or sRGB into the filter's ink planes, one
// after the other, the way CUPS's own rasterizers (pdftoraster, the image
// filters) do with no colour profile: grey is 255 less the luminance; the
// colours' common part becomes black in full only for greys, and less the
// more saturated the colour (black = min^3 / max^2), so that bright colours
// are printed with colour inks alone.
void SeparateLine(const cups_page_header2_t &in, const unsigned char *line,
                  const cups_page_header2_t &out, unsigned char *planes)
{
  unsigned width = out.cupsWidth;
  unsigned count = std::min(in.cupsWidth, width);
  unsigned step = in.cupsBitsPerPixel / 8;
  bool additive = in.cupsColorSpace != CUPS_CSPACE_K;  // white is 255
  memset(planes, 0, (size_t)width * LinePlanes(out));
  for (unsigned x = 0; x < count; x++, line += step) {
    unsigned r, g, b;
    if (step >= 3) {
      r = line[0];
      g = line[1];
      b = line[2];
    } else
      r = g = b = additive ? line[0] : 255u - line[0];
    if (LinePlanes(out) == 1) {
      // CUPS's luminance weights: 31 % red, 61 % green, 8 % blue.
      planes[x] = (unsigned char)(255u - (r * 31 + g * 61 + b * 8) / 100);
      continue;
    }
    unsigned c = 255u - r, m = 255u - g, y = 255u - b;
    unsigned k = std::min(c, std::min(m, y));
    unsigned most = std::max(c, std::max(m, y));
    if (most > k) k = k * k * k / (most * most);
    planes[x] = (unsigned char)k;
    planes[width + x] = (unsigned char)(c - k);
    planes[2 * width + x] = (unsigned char)(m - k);
    planes[3 * width + x] = (unsigned char)(y - k);
  }
}
