// The filter's output read back by the preview decoder: pre-dithered pages
// come back dot for dot, every row once and at its place, for every family,
// resolution and weave; contone pages put down more ink where more is asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "preview.h"

namespace {

struct Resolution
{
  int family;
  unsigned x, y;
};

// Every family at each resolution its dot-size tables name. (Families 4, 5
// and 5000 print 1440 dpi only in two interleave columns, which these
// one-column weaves do not have; the filter refuses it otherwise.)
const Resolution kResolutions[] = {
    {1, 360, 360},     {1, 720, 720},     {2, 360, 360},      {2, 360, 720},     {2, 720, 720},
    {3, 360, 360},     {3, 360, 720},     {3, 720, 720},      {4, 360, 360},     {4, 720, 720},
    {5, 360, 360},     {5, 720, 720},     {6, 360, 360},      {6, 720, 720},     {6, 1440, 720},
    {6, 2880, 720},    {7, 360, 360},     {7, 720, 720},      {7, 1440, 720},    {8, 360, 360},
    {8, 720, 720},     {8, 1440, 720},    {8, 2880, 720},     {9, 360, 360},     {9, 720, 720},
    {9, 1440, 720},    {9, 2880, 720},    {10, 360, 360},     {10, 720, 720},    {10, 1440, 720},
    {10, 2880, 720},   {11, 360, 360},    {11, 720, 720},     {11, 1440, 720},   {11, 2880, 1440},
    {5000, 360, 360},  {5000, 720, 720},  {5500, 720, 720},   {5500, 1440, 720}, {9000, 360, 360},
    {9000, 720, 720},  {9000, 1440, 720}, {9600, 360, 360},   {9600, 720, 720},  {9600, 1440, 720},
    {10000, 360, 360}, {10000, 720, 720}, {10000, 1440, 720},
};

std::string Words(const Resolution &r)
{
  return "fam=" + std::to_string(r.family) + " res=" + std::to_string(r.x) + "x" +
         std::to_string(r.y);
}

// Runs the filter and decodes its stream; fails the test when either breaks.
std::vector<preview::Page> PrintAndDecode(const harness::TestPage &page,
                                          const std::vector<harness::Page> &pages,
                                          const std::string &label)
{
  harness::Result got =
      harness::RunFilter({harness::WritePpd(page.family, page.sizes), harness::WriteRaster(pages)});
  EXPECT_EQ(got.status, 0) << label << (got.err.empty() ? "" : "\n" + got.err.back());
  preview::DecodeOptions options;
  options.xdpi = (int)page.header.HWResolution[0];
  preview::Decoded decoded;
  EXPECT_TRUE(preview::DecodeStream(got.out, options, &decoded)) << label << ": " << decoded.error;
  return decoded.pages;
}

// A scattered bit pattern, different on every line and plane.
unsigned char Scatter(unsigned line, unsigned index)
{
  unsigned v = (line * 2654435761u) ^ (index * 40503u) ^ (line << 7);
  return (unsigned char)(v ^ (v >> 9) ^ (v >> 17));
}

// The scatter with runs of four equal bytes in every eight, so that packed
// rows hold both repeat and literal runs.
unsigned char Runs(unsigned line, unsigned index)
{
  return Scatter(line, index % 8 < 4 ? index / 8 : index);
}

// The row offset of a plane's nozzles: families 9 and 11 print their inks
// from heads set apart vertically, so on woven pages their planes are sent
// that much lower.
int PlaneOffset(int family, int planes, int plane, int row_max, int row_step)
{
  if (planes == 1 || row_max <= 1) return 0;
  if (family == 9) {
    int head = ((row_max / row_step + 1) & ~1) * row_step;
    return plane == 0 ? head : (3 - plane) * head;
  }
  if (family == 11) return plane == 0 ? 0 : (plane - 1) * row_max;
  return 0;
}

// Weaves with two, three and four rows between nozzles; the three-row one
// has a feed that shares a factor with its slots. Two of them PackBits
// their rows.
struct Weave
{
  const char *words;
  int row_max, row_step;
};
const Weave kWeaves[] = {{"", 1, 1},
                         {"weave=32/0/4 comp=1", 32, 4},
                         {"weave=21/0/3", 21, 3},
                         {"weave=16/0/2 comp=1", 16, 2}};

// Pre-dithered pages come back dot for dot: unwoven, and woven with
// staggered first bands, for one and four inks, raw and packed.
TEST(RoundTrip, PreDitheredPagesComeBackDotForDot)
{
  const unsigned kWidth = 40, kHeight = 70;
  for (const Resolution &r : kResolutions) {
    for (const char *space : {"K", "KCMY"}) {
      for (const Weave &w : kWeaves) {
        std::string label = Words(r) + " space=" + space + " " + w.words;
        harness::TestPage page = harness::DescribePage(
            label + " bits=1 w=" + std::to_string(kWidth) + " h=" + std::to_string(kHeight));
        bool packed = std::string(w.words).find("comp") != std::string::npos;
        harness::Page raster = harness::MakePage(page.header, packed ? Runs : Scatter);
        // Two-bit dots cannot carry a one-bit page: those settings refuse it.
        if ((r.family == 6 && r.y >= 720) || (r.family == 5500 && r.x == 1440)) {
          harness::Result got = harness::RunFilter(
              {harness::WritePpd(page.family, page.sizes), harness::WriteRaster({raster})});
          EXPECT_EQ(got.status, 1) << label;
          continue;
        }
        std::vector<preview::Page> decoded = PrintAndDecode(page, {raster}, label);
        ASSERT_EQ(decoded.size(), 1u) << label;
        const preview::Page &out = decoded[0];
        EXPECT_EQ(out.overprinted, 0) << label;
        int planes = std::string(space) == "K" ? 1 : 4;
        unsigned row_bytes = (kWidth + 7) / 8;
        int mismatches = 0, dots = 0;
        for (int p = 0; p < planes; p++) {
          int shift = PlaneOffset(r.family, planes, p, w.row_max, w.row_step);
          for (unsigned y = 0; y < kHeight; y++) {
            for (unsigned x = 0; x < kWidth; x++) {
              unsigned char byte =
                  raster.data[(size_t)y * page.header.cupsBytesPerLine + p * row_bytes + x / 8];
              int want = (byte >> (7 - x % 8)) & 1;
              int got = preview::DotLevel(out, p, (int)y + shift, (int)x);
              dots += got;
              if (want != got && mismatches++ < 3)
                ADD_FAILURE() << label << ": plane " << p << " row " << y << " column " << x
                              << " want " << want << " got " << got;
            }
          }
        }
        EXPECT_GT(dots, 0) << label;
      }
    }
  }
}

// Ink put down per band of columns, all dot sizes counted by their level.
std::vector<long> InkByColumnBand(const preview::Page &page, int ink, int bands, int width)
{
  std::vector<long> ink_per_band(bands);
  for (int y = 0; y < page.height; y++)
    for (int x = 0; x < width; x++)
      ink_per_band[x * bands / width] += preview::DotLevel(page, ink, y, x);
  return ink_per_band;
}

// Prints a contone ramp across the page and a blank page: the ramp gets more
// ink band after band, within the page's width, no row printed twice; the
// blank page gets none. Black alone, or cyan alone on a four-ink page (no
// black, so black generation leaves the cyan as it is).
void ExpectRamp(const std::string &label, bool cyan)
{
  const unsigned kWidth = 96, kHeight = 48;
  harness::TestPage page = harness::DescribePage(label + (cyan ? " space=KCMY" : "") +
                                                 " bits=8 w=" + std::to_string(kWidth) +
                                                 " h=" + std::to_string(kHeight));
  harness::Page ramp = harness::MakePage(page.header, [](unsigned, unsigned index) {
    unsigned plane = index / kWidth, x = index % kWidth;
    return (unsigned char)(plane <= 1 ? x * 255 / (kWidth - 1) : 0);
  });
  int ink = cyan ? preview::kCyan : preview::kBlack;
  if (cyan)  // leave black empty on the four-ink page
    for (unsigned y = 0; y < kHeight; y++)
      std::fill_n(ramp.data.begin() + (size_t)y * page.header.cupsBytesPerLine, kWidth, 0);
  std::vector<preview::Page> decoded =
      PrintAndDecode(page, {ramp, harness::BlankPage(page.header)}, label);
  ASSERT_EQ(decoded.size(), 2u) << label;
  EXPECT_EQ(decoded[0].overprinted, 0) << label;
  EXPECT_LE(decoded[0].width, (int)kWidth) << label;
  std::vector<long> bands = InkByColumnBand(decoded[0], ink, 4, (int)kWidth);
  // A family whose smallest dot delivers half the darkest ink prints
  // solid from the middle on: ink never falls, and the dark end gets more.
  for (int b = 1; b < 4; b++) EXPECT_GE(bands[b], bands[b - 1]) << label << " band " << b;
  EXPECT_GT(bands[3], 2 * bands[0]) << label;
  for (int i = 0; i < preview::kInks; i++)
    EXPECT_EQ(InkByColumnBand(decoded[1], i, 1, (int)kWidth)[0], 0) << label << " ink " << i;
}

TEST(RoundTrip, ContoneRampsGetMoreInkAndBlankPagesNone)
{
  for (const Resolution &r : kResolutions)
    for (const Weave &w : {kWeaves[0], kWeaves[1]})
      for (bool cyan : {false, true}) ExpectRamp(Words(r) + " " + w.words, cyan);
}

// Pages in interleave columns: each column's bands start again from the
// left margin after their carriage return, moved by one dot of the page.
TEST(RoundTrip, ColumnInterleavedRampsStayOnThePage)
{
  for (const char *words :
       {"fam=4 res=1440x720 weave=8/0/202", "fam=7 res=720x720 weave=16/0/202 comp=1",
        "fam=7 res=1440x720 weave=16/7/204 comp=2", "fam=8 res=2880x720 weave=16/0/202",
        "fam=5000 res=720x720 weave=8/0/402 comp=1"})
    for (bool cyan : {false, true}) ExpectRamp(words, cyan);
}

}  // namespace
