// The printer application's own decisions: what a model offers as read from
// its PPD, the PPD settings a job's IPP options choose, the page header the
// filter gets, and the separation of sRGB and sGray lines into inks.
#include "app.h"

#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

// Reads a model from the build's PPD of a family.
Model Family(const char *name)
{
  Model model;
  EXPECT_TRUE(ReadModel(std::string(INKBANDS_TEST_PPDS) + "/" + name + ".ppd", &model)) << name;
  return model;
}

// Lists a model's resolutions in its order, "XxY " each.
std::string Resolutions(const Model &model)
{
  std::string text;
  for (const ModelResolution &r : model.resolutions)
    text += std::to_string(r.x) + "x" + std::to_string(r.y) + " ";
  return text;
}

// Lists the IPP keywords of a model's choices in order.
std::string Keywords(const std::vector<ModelChoice> &choices)
{
  std::string text;
  for (const ModelChoice &c : choices) text += c.ipp + " ";
  return text;
}

struct ModelCase
{
  const char *ppd;
  std::string resolutions;  // draft first, high last; the default is 720 x 720
  std::string sources;
  bool photo, variable_dots, cutter;
};

const ModelCase kModels[] = {
    {"fam1", "360x360 720x720 ", "main ", false, false, false},
    {"fam2", "360x360 360x720 720x720 ", "main ", false, false, false},
    {"fam6", "360x360 2880x720 720x720 1440x720 ", "main main-roll ", true, false, false},
    {"fam7", "360x360 720x720 1440x720 ", "main main-roll ", true, true, false},
    {"fam11", "360x360 2880x1440 720x720 1440x720 ", "main ", false, true, false},
    {"fam5000", "360x360 720x720 1440x720 ", "tray-1 manual main-roll ", true, false, false},
    {"fam9000", "360x360 720x720 1440x720 ", "main-roll manual ", true, false, true},
};

TEST(AppModel, CapabilitiesComeFromThePpd)
{
  for (const ModelCase &c : kModels) {
    Model model = Family(c.ppd);
    EXPECT_EQ(Resolutions(model), c.resolutions) << c.ppd;
    const ModelResolution &def = model.resolutions[(size_t)model.default_resolution];
    EXPECT_EQ(def.x * 1000 + def.y, 720720) << c.ppd;
    EXPECT_EQ(Keywords(model.sources), c.sources) << c.ppd;
    EXPECT_EQ(model.photo, c.photo) << c.ppd;
    EXPECT_EQ(model.variable_dots, c.variable_dots) << c.ppd;
    EXPECT_EQ(model.cutter, c.cutter) << c.ppd;
    EXPECT_EQ(model.type_default, "stationery") << c.ppd;
  }
  Model fam7 = Family("fam7");
  EXPECT_EQ(Keywords(fam7.types), "stationery stationery-coated photographic-glossy "
                                  "photographic-matte transparency stationery-archival "
                                  "stationery-cotton ");
  EXPECT_EQ(fam7.media_default, "na_letter_8.5x11in");
  EXPECT_EQ(fam7.media.back(), "custom_max_13x44in");
  EXPECT_EQ(fam7.left_right, 300);
}

struct SettingsCase
{
  const char *ppd;
  pappl_color_mode_t mode;
  ipp_quality_t quality;
  int xdpi, ydpi;
  const char *type, *source, *weave, *dots;
  const char *color_model, *resolution, *media_type, *input_slot, *compression, *weave_choice;
};

const SettingsCase kSettings[] = {
    {"fam7", PAPPL_COLOR_MODE_MONOCHROME, IPP_QUALITY_NORMAL, 720, 720, "stationery", "", nullptr,
     nullptr, "Gray", "720dpi", "Plain", "", "VariableDots", "Driver"},
    {"fam7", PAPPL_COLOR_MODE_COLOR, IPP_QUALITY_HIGH, 1440, 720, "photographic-glossy",
     "main-roll", "printer", "single", "Photo", "1440x720dpi", "Glossy", "Roll", "PackBits",
     "Printer"},
    {"fam8", PAPPL_COLOR_MODE_COLOR, IPP_QUALITY_HIGH, 1440, 720, "stationery-coated", "main",
     nullptr, "variable", "CMYK", "1440x720dpi", "Special", "Auto", "VariableDots", "Driver"},
    {"fam1", PAPPL_COLOR_MODE_COLOR, IPP_QUALITY_DRAFT, 360, 360, "transparency", "", nullptr,
     "variable", "CMYK", "360dpi", "Transparency", "", "PackBits", "Driver"},
    {"fam5", PAPPL_COLOR_MODE_COLOR, IPP_QUALITY_NORMAL, 600, 600, "unknown", "", nullptr, nullptr,
     "CMYK", "720dpi", "Plain", "", "PackBits", "Driver"},
};

TEST(AppSettings, JobOptionsChooseThePpdSettings)
{
  for (const SettingsCase &c : kSettings) {
    Model model = Family(c.ppd);
    pappl_pr_options_t options;
    memset(&options, 0, sizeof(options));
    options.print_color_mode = c.mode;
    options.print_quality = c.quality;
    options.printer_resolution[0] = c.xdpi;
    options.printer_resolution[1] = c.ydpi;
    snprintf(options.media.type, sizeof(options.media.type), "%s", c.type);
    snprintf(options.media.source, sizeof(options.media.source), "%s", c.source);
    int &n = options.num_vendor;
    if (c.weave) n = cupsAddOption(kWeaveOption, c.weave, n, &options.vendor);
    if (c.dots) n = cupsAddOption(kDotsOption, c.dots, n, &options.vendor);
    JobSettings s = ChooseSettings(model, &options);
    SCOPED_TRACE(std::string(c.ppd) + " " + c.color_model + " " + c.resolution);
    EXPECT_EQ(s.color_model, c.color_model);
    EXPECT_EQ(s.resolution, c.resolution);
    EXPECT_EQ(s.media_type, c.media_type);
    EXPECT_EQ(s.input_slot, c.input_slot);
    EXPECT_EQ(s.compression, c.compression);
    EXPECT_EQ(s.weave, c.weave_choice);
    cupsFreeOptions(options.num_vendor, options.vendor);
  }
}

// A page as PAPPL lays it out: 4 x 6 in, sRGB, at the given resolution.
cups_page_header2_t PapplPage(unsigned xdpi, unsigned ydpi)
{
  cups_page_header2_t page;
  cupsRasterInitPWGHeader(&page, pwgMediaForPWG("na_index-4x6_4x6in"), "srgb_8", (int)xdpi,
                          (int)ydpi, "one-sided", nullptr);
  return page;
}

TEST(AppHeader, FilterGetsThePpdsSettingsOnPapplsPage)
{
  Model fam7 = Family("fam7");
  JobSettings photo{"Photo", "1440x720dpi", "Glossy", "", "VariableDots", "Driver", false};
  cups_page_header2_t header;
  ASSERT_TRUE(MakePageHeader(fam7, photo, PapplPage(1440, 720), &header));
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_KCMYcm);
  EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_BANDED);
  EXPECT_EQ(header.cupsWidth, 5760u);
  EXPECT_EQ(header.cupsHeight, 4320u);
  EXPECT_EQ(header.cupsBytesPerLine, 4 * 5760u);  // four planes; the filter splits light inks
  EXPECT_EQ(header.PageSize[1], 432u);
  EXPECT_EQ(header.cupsCompression, 2u);
  EXPECT_EQ(header.HWResolution[0], 1440u);
  EXPECT_STREQ(header.MediaType, "Glossy");

  // Family 7 has no variable dots at 360 dpi: the PPD's constraint gives PackBits.
  JobSettings draft{"Gray", "360dpi", "Plain", "", "VariableDots", "Printer", false};
  ASSERT_TRUE(MakePageHeader(fam7, draft, PapplPage(360, 360), &header));
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_K);
  EXPECT_EQ(header.cupsBytesPerLine, 1440u);
  EXPECT_EQ(header.cupsCompression, 1u);
  EXPECT_EQ(header.cupsRowCount, 1u);

  // A page at a resolution the settings do not name is refused.
  EXPECT_FALSE(MakePageHeader(fam7, photo, PapplPage(720, 720), &header));
}

// sRGB pixels and the inks cups-filters' pdftoraster gives them, measured on
// its output with an inkbands PPD (ColorModel CMYK and Gray).
struct InkCase
{
  unsigned char r, g, b;
  unsigned char k, c, m, y;
  unsigned char grey;
};

const InkCase kInks[] = {
    {255, 0, 0, 0, 0, 255, 255, 176},   {0, 255, 0, 0, 255, 0, 255, 100},
    {0, 0, 255, 0, 255, 255, 0, 235},   {255, 255, 0, 0, 0, 0, 255, 21},
    {128, 128, 128, 127, 0, 0, 0, 127}, {51, 153, 230, 0, 204, 102, 25, 128},
    {0, 0, 0, 255, 0, 0, 0, 255},       {255, 255, 255, 0, 0, 0, 0, 0},
};

TEST(AppSeparation, InksAsCupsRasterizersMakeThem)
{
  const unsigned n = sizeof(kInks) / sizeof(kInks[0]);
  cups_page_header2_t in, kcmy, k;
  memset(&in, 0, sizeof(in));
  in.cupsWidth = n;
  in.cupsBitsPerPixel = 24;
  in.cupsColorSpace = CUPS_CSPACE_SRGB;
  kcmy = in;
  kcmy.cupsColorSpace = CUPS_CSPACE_KCMY;
  k = in;
  k.cupsColorSpace = CUPS_CSPACE_K;
  std::vector<unsigned char> line, planes(4 * n), grey(n);
  for (const InkCase &c : kInks) line.insert(line.end(), {c.r, c.g, c.b});
  SeparateLine(in, line.data(), kcmy, planes.data());
  SeparateLine(in, line.data(), k, grey.data());
  for (unsigned i = 0; i < n; i++) {
    const InkCase &c = kInks[i];
    SCOPED_TRACE("rgb " + std::to_string(c.r) + " " + std::to_string(c.g) + " " +
                 std::to_string(c.b));
    EXPECT_EQ(planes[i], c.k);
    EXPECT_EQ(planes[n + i], c.c);
    EXPECT_EQ(planes[2 * n + i], c.m);
    EXPECT_EQ(planes[3 * n + i], c.y);
    EXPECT_EQ(grey[i], c.grey);
  }

  // An sGray line: black is the grey inverted, in either ink set.
  cups_page_header2_t sgray = in;
  sgray.cupsBitsPerPixel = 8;
  sgray.cupsColorSpace = CUPS_CSPACE_SW;
  sgray.cupsWidth = 2;
  kcmy.cupsWidth = k.cupsWidth = 3;  // wider than the input: the rest is blank
  const unsigned char greys[] = {0, 200};
  SeparateLine(sgray, greys, kcmy, planes.data());
  EXPECT_EQ(std::vector<unsigned char>(planes.begin(), planes.begin() + 12),
            (std::vector<unsigned char>{255, 55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  SeparateLine(sgray, greys, k, grey.data());
  EXPECT_EQ(std::vector<unsigned char>(grey.begin(), grey.begin() + 3),
            (std::vector<unsigned char>{255, 55, 0}));
}

TEST(AppModel, AutoAddMatchesTheDeviceIdsModel)
{
  std::vector<Model> models(2);
  models[0].driver = "stylus-photo-1290";
  models[0].device_id = "MFG:EPSON;CMD:ESCPL2,BDC,D4;MDL:Stylus Photo 1290;CLS:PRINTER;";
  models[1].driver = "stylus-color-880";
  models[1].device_id = "MFG:EPSON;MDL:Stylus COLOR 880;";
  EXPECT_STREQ(MatchDeviceID(models, "MFG:EPSON;MDL:Stylus Photo 1290;DES:x;"),
               "stylus-photo-1290");
  EXPECT_STREQ(MatchDeviceID(models, "MANUFACTURER:Epson;MODEL:stylus color 880;"),
               "stylus-color-880");
  EXPECT_EQ(MatchDeviceID(models, "MFG:EPSON;MDL:Stylus Photo 1280;"), nullptr);
  EXPECT_EQ(MatchDeviceID(models, "MFG:HP;MDL:Stylus Photo 1290;"), nullptr);
  EXPECT_EQ(MatchDeviceID(models, ""), nullptr);
}

}  // namespace
