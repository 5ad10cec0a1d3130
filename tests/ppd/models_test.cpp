// Every PPD the build makes, at every resolution and colour model it offers,
// with its other defaults: a small page through the real filter, read back by
// the preview decoder, prints every row once at its own place, each ink where
// the printer's head puts it, and the paper only ever moves forward.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "preview.h"

namespace {

// What the model table says about a printer's head: nozzles per colour, the
// nozzle pitch as a fraction of an inch, and the black nozzles.
struct Head
{
  int nozzles = 0, pitch_num = 0, pitch_den = 0, black = 0;
};

// The heads of the table's rows by model name ("Epson Stylus C84").
std::map<std::string, Head> ReadHeads(const std::string &path)
{
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  std::map<std::string, int> column;
  std::istringstream names(line);
  for (std::string name; std::getline(names, name, '\t');) column[name] = (int)column.size();
  std::map<std::string, Head> heads;
  while (std::getline(in, line)) {
    std::vector<std::string> cell;
    std::istringstream cells(line);
    for (std::string c; std::getline(cells, c, '\t');) cell.push_back(c);
    cell.resize(column.size());
    Head head;
    head.nozzles = std::atoi(cell[column["nozzles_per_colour"]].c_str());
    std::sscanf(cell[column["nozzle_pitch"]].c_str(), "%d/%d", &head.pitch_num, &head.pitch_den);
    head.black = std::atoi(cell[column["black_nozzles"]].c_str());
    if (!head.black) head.black = head.nozzles;
    heads[cell[column["model"]]] = head;
  }
  return heads;
}

// One page setting to print: the header a PPD's choices give, and where.
struct Case
{
  std::string ppd, label;
  int family = 0;
  int group_rows = 0;  // rows between two colour groups of an offset head
  cups_page_header2_t header;
  int covers = 1;  // PPD choices that give this very page
};

// Rows between the colour groups of an offset head, from the physical head:
// the black nozzles span three groups of colour nozzles (0 for other heads).
int GroupRows(const Head *head, int family, const cups_page_header2_t &h)
{
  if ((family != 9 && family != 11) || h.cupsRowCount <= 1) return 0;
  int step = (int)h.cupsRowStep % 100;
  if (!head || !head->black)  // a generic PPD: family 9's 48 black nozzles, 11's weave
    return family == 9 ? 48 / 3 * step : (int)h.cupsRowCount;
  return head->black / 3 * head->pitch_num * (int)h.HWResolution[1] / head->pitch_den;
}

// Every resolution x colour model of every generated PPD, one case per
// distinct page (models that share a head give the filter the same page).
std::vector<Case> Cases()
{
  std::map<std::string, Head> heads = ReadHeads(INKBANDS_MODEL_TABLE);
  std::vector<std::string> files;
  std::ifstream list(INKBANDS_PPD_DIR "/ppds.list");
  for (std::string name; std::getline(list, name);) files.push_back(INKBANDS_PPD_DIR "/" + name);
  EXPECT_GT(files.size(), 16u) << "no model PPDs listed in " INKBANDS_PPD_DIR;
  std::vector<Case> cases;
  std::map<std::string, size_t> seen;
  for (const std::string &file : files) {
    ppd_file_t *ppd = ppdOpenFile(file.c_str());
    if (!ppd) {
      ADD_FAILURE() << file << ": cannot be read";
      continue;
    }
    const Head *head = heads.count(ppd->modelname) ? &heads[ppd->modelname] : nullptr;
    EXPECT_TRUE(head || file.find("/fam") != std::string::npos) << file << ": not in the table";
    ppd_option_t *resolutions = ppdFindOption(ppd, "Resolution");
    ppd_option_t *colours = ppdFindOption(ppd, "ColorModel");
    for (int r = 0; resolutions && r < resolutions->num_choices; r++) {
      for (int c = 0; colours && c < colours->num_choices; c++) {
        // The choices a user makes, the rest as the PPD's constraints leave it.
        ppdMarkDefaults(ppd);
        cups_option_t *options = nullptr;
        int num_options = cupsAddOption("ColorModel", colours->choices[c].choice, 0, &options);
        EXPECT_TRUE(cupsResolveConflicts(ppd, "Resolution", resolutions->choices[r].choice,
                                         &num_options, &options));
        cupsMarkOptions(ppd, num_options, options);
        cupsFreeOptions(num_options, options);
        Case one;
        one.ppd = file;
        one.family = ppd->model_number;
        one.label = std::filesystem::path(file).filename().string() + " " +
                    resolutions->choices[r].choice + " " + colours->choices[c].choice;
        EXPECT_EQ(cupsRasterInterpretPPD(&one.header, ppd, 0, nullptr, nullptr), 0) << one.label;
        one.group_rows = GroupRows(head, one.family, one.header);
        const cups_page_header2_t &h = one.header;
        char key[256];
        std::snprintf(key, sizeof key, "%d %u %u %d %u %u %u %u %u %d %.1f %.1f", one.family,
                      h.HWResolution[0], h.HWResolution[1], (int)h.cupsColorSpace,
                      h.cupsCompression, h.cupsRowCount, h.cupsRowStep, h.cupsBitsPerColor,
                      h.cupsMediaType, one.group_rows, ppd->sizes[0].bottom, ppd->sizes[1].top);
        if (seen.count(key)) {
          cases[seen[key]].covers++;
        } else {
          seen[key] = cases.size();
          cases.push_back(one);
        }
      }
    }
    ppdClose(ppd);
  }
  return cases;
}

// Full ink or none, scattered, different on every line and plane: the
// dither turns full ink into dots and leaves blank pixels blank.
unsigned char Pattern(unsigned line, unsigned index)
{
  unsigned v = (line * 2654435761u) ^ (index * 40503u) ^ (line << 7);
  v ^= (v >> 9) ^ (v >> 17);
  return (v & 3) == 0 ? 255 : 0;
}

// Which ink of the printer a plane of the page carries, and the light ink
// that may stand in for it (-1 if none).
void InksOf(cups_cspace_t space, int plane, int *ink, int *light)
{
  *ink = space == CUPS_CSPACE_CMY ? plane + 1 : plane;
  *light = space != CUPS_CSPACE_KCMYcm ? -1
           : *ink == preview::kCyan    ? preview::kLightCyan
           : *ink == preview::kMagenta ? preview::kLightMagenta
                                       : -1;
}

// Whether a dot of the ink, or of its light ink, lands at a place.
bool HasDot(const preview::Page &out, int ink, int light, int row, int col)
{
  return preview::DotLevel(out, ink, row, col) > 0 ||
         (light >= 0 && preview::DotLevel(out, light, row, col) > 0);
}

// Where an offset head puts each ink, in colour groups below the first:
// family 9 prints yellow first, then black and magenta, then cyan; family
// 11 black and cyan, then magenta, then yellow.
int GroupOf(int family, int ink)
{
  static const int kFamily9[] = {1, 2, 1, 0}, kFamily11[] = {0, 0, 1, 2};
  if (ink > preview::kYellow) return 0;
  return family == 9 ? kFamily9[ink] : family == 11 ? kFamily11[ink] : 0;
}

// The page of a case: rows past the first bands of its weave, full ink or
// none in every plane; six-ink pages come in four planes a line as every
// rasterizer sends them.
harness::Page MakeCasePage(const cups_page_header2_t &weave)
{
  cups_page_header2_t h = weave;
  h.cupsWidth = 64;
  h.cupsHeight = (unsigned)std::max(200, 2 * (int)h.cupsRowCount + 100);
  harness::FixLineSize(h);
  if (h.cupsColorSpace == CUPS_CSPACE_KCMYcm) h.cupsBytesPerLine = 4 * h.cupsWidth;
  return harness::MakePage(h, Pattern);
}

// Prints a page through the filter with a PPD and decodes what it sent.
bool Print(const std::string &ppd, const harness::Page &page, const std::string &label,
           preview::Page *out)
{
  harness::Result got = harness::RunFilter({ppd, harness::WriteRaster({page})});
  EXPECT_EQ(got.status, 0) << label << (got.err.empty() ? "" : ": " + got.err.back());
  for (const std::string &line : got.err)
    if (line.find("OutputFeed = -") != std::string::npos) {
      ADD_FAILURE() << label << ": the paper is fed back: " << line;
      return false;
    }
  preview::DecodeOptions options;
  options.xdpi = (int)page.header.HWResolution[0];
  preview::Decoded decoded;
  EXPECT_TRUE(preview::DecodeStream(got.out, options, &decoded)) << label << ": " << decoded.error;
  if (got.status != 0 || decoded.pages.size() != 1) return false;
  *out = decoded.pages[0];
  EXPECT_EQ(out->overprinted, 0) << label << ": rows printed twice";
  return true;
}

// The planes of a page and the inks that print them.
int PlanesOf(const cups_page_header2_t &h)
{
  return h.cupsColorSpace == CUPS_CSPACE_KCMYcm ? 4 : (int)harness::PlanesOf(h.cupsColorSpace);
}

// A print against its page: a dot wherever the page has full ink, in the
// ink's own row (moved down by its colour group on offset heads), none where
// it has none; the dither may leave out some (where a dot weighs more than
// full ink), never a whole row.
void CheckAgainstPage(const Case &c, const harness::Page &page, const preview::Page &out,
                      const std::string &label)
{
  const cups_page_header2_t &h = page.header;
  for (int p = 0; p < PlanesOf(h); p++) {
    int ink, light;
    InksOf(h.cupsColorSpace, p, &ink, &light);
    int shift = PlanesOf(h) > 1 && h.cupsRowCount > 1 ? GroupOf(c.family, ink) * c.group_rows : 0;
    long wanted = 0, printed = 0, dots = 0, empty_rows = 0;
    for (int y = 0; y < out.height; y++)
      for (int x = 0; x < out.width; x++) dots += HasDot(out, ink, light, y, x);
    for (int y = 0; y < (int)h.cupsHeight; y++) {
      int row_wanted = 0, row_printed = 0;
      for (int x = 0; x < (int)h.cupsWidth; x++) {
        bool want = page.data[(size_t)y * h.cupsBytesPerLine + p * h.cupsWidth + x] != 0;
        row_wanted += want;
        row_printed += want && HasDot(out, ink, light, y + shift, x);
      }
      empty_rows += row_wanted >= 4 && row_printed == 0;
      wanted += row_wanted;
      printed += row_printed;
    }
    std::string what = label + ": " + preview::InkName(ink);
    EXPECT_EQ(dots, printed) << what << " where none was asked";
    EXPECT_EQ(empty_rows, 0) << what << " rows left out";
    EXPECT_GE(printed * 2, wanted) << what << " printed " << printed << " of " << wanted;
  }
}

TEST(ModelPpds, EveryResolutionAndColourModelPrintsEachRowOnceInRegister)
{
  std::vector<Case> cases = Cases();
  int covered = 0;
  for (const Case &c : cases) {
    covered += c.covers;
    harness::Page page = MakeCasePage(c.header);
    preview::Page out;
    if (Print(c.ppd, page, c.label, &out)) CheckAgainstPage(c, page, out, c.label);
  }
  // Two hundred PPDs of two to four resolutions and two or three colour models.
  EXPECT_GT(covered, 1000);
  std::printf("%zu distinct pages cover %d PPD choices\n", cases.size(), covered);
}

}  // namespace
