// The text of a minimal PPD for one printer family: shared by the tests'
// fixtures and the fuzz targets' jobs, header-only so that either links it.
#ifndef INKBANDS_TESTS_PPD_TEXT_H
#define INKBANDS_TESTS_PPD_TEXT_H

#include <cstdio>
#include <string>
#include <vector>

namespace harness {

// A page size of a PPD fixture, in points.
struct PpdSize
{
  std::string name;
  float width, length;
  float left, bottom, right, top;  // imageable area
};

// A PPD with *cupsModelNumber and the given page sizes (*PageSize,
// *PageRegion, *ImageableArea, *PaperDimension, in the given order, the
// first the default) and the filter line.
inline std::string PpdText(int model, const std::vector<PpdSize> &sizes)
{
  char line[512];
  std::string text =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"INKTEST.PPD\"\n*Manufacturer: \"Inkbands\"\n"
      "*Product: \"(Inkbands Test Printer)\"\n*ModelName: \"Inkbands Test Printer\"\n"
      "*NickName: \"Inkbands Test Printer\"\n*ShortNickName: \"Inkbands Test Printer\"\n"
      "*cupsVersion: 2.4\n";
  snprintf(line, sizeof(line), "*cupsModelNumber: %d\n", model);
  text += line;
  text += "*cupsFilter: \"application/vnd.cups-raster 100 inkbands\"\n";
  if (sizes.empty()) return text;
  const char *first = sizes[0].name.c_str();
  for (const char *option : {"PageSize", "PageRegion"}) {
    snprintf(line, sizeof(line),
             "*OpenUI *%s: PickOne\n*OrderDependency: 10 AnySetup *%s\n"
             "*Default%s: %s\n",
             option, option, option, first);
    text += line;
    for (const PpdSize &s : sizes) {
      snprintf(line, sizeof(line),
               "*%s %s/%s: \"<</PageSize[%g %g]/ImagingBBox null>>setpagedevice\"\n", option,
               s.name.c_str(), s.name.c_str(), s.width, s.length);
      text += line;
    }
    snprintf(line, sizeof(line), "*CloseUI: *%s\n", option);
    text += line;
  }
  snprintf(line, sizeof(line), "*DefaultImageableArea: %s\n", first);
  text += line;
  for (const PpdSize &s : sizes) {
    snprintf(line, sizeof(line), "*ImageableArea %s/%s: \"%g %g %g %g\"\n", s.name.c_str(),
             s.name.c_str(), s.left, s.bottom, s.right, s.top);
    text += line;
  }
  snprintf(line, sizeof(line), "*DefaultPaperDimension: %s\n", first);
  text += line;
  for (const PpdSize &s : sizes) {
    snprintf(line, sizeof(line), "*PaperDimension %s/%s: \"%g %g\"\n", s.name.c_str(),
             s.name.c_str(), s.width, s.length);
    text += line;
  }
  return text;
}

}  // namespace harness

#endif
