// The preview decoder read against printer streams written by hand from the
// command bytes, and against woven streams built the way the band engine
// sends them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "preview.h"

using harness::Hex;
using preview::Decoded;
using preview::Page;

namespace {

// Set-up of a 720 x 720 dpi page on ESC . printers (one unit of 1/720 in).
const char kUnit720[] = "1b 40 1b 28 55 01 00 05";
// Set-up of a 1440 x 720 dpi page on ESC i printers: units of 1/720 in
// vertically and 1/1440 in horizontally, raster rows and dots one unit apart.
const char kUnit1440[] = "1b 40 1b 28 55 05 00 02 02 01 a0 05 1b 28 44 04 00 40 38 14 0a";

// One ink's dots as text: one character per dot ('.' for none, else the
// level), rows separated by '/'.
std::string Picture(const Page &page, int ink)
{
  std::string text;
  for (int r = 0; r < page.height; r++) {
    if (r) text += '/';
    for (int c = 0; c < page.width; c++) {
      int level = preview::DotLevel(page, ink, r, c);
      text += level ? char('0' + level) : '.';
    }
  }
  return text;
}

// Decodes a stream that must decode, and gives its pages.
std::vector<Page> Pages(const std::string &stream)
{
  std::string error;
  std::vector<Page> pages = preview::DecodeStream(stream, &error);
  EXPECT_EQ(error, "");
  return pages;
}

TEST(PreviewPackBits, Expands)
{
  // used: bytes of packed data the expansion takes
  struct Case
  {
    const char *packed;
    size_t length;
    std::string want;
    size_t used;
    const char *error;
  };
  const Case kCases[] = {
      {"fc 41", 5, Hex("41 41 41 41 41"), 2, nullptr},
      {"fd 41 00 42", 5, Hex("41 41 41 41 42"), 4, nullptr},
      {"82 00 b8 00", 200, std::string(200, '\0'), 4, nullptr},
      {"80 01 41 42", 2, Hex("41 42"), 4, nullptr},  // 80 is a no-op
      {"81 07", 128, std::string(128, '\7'), 2, nullptr},
      {"ff 41 00 42 ee", 3, Hex("41 41 42"), 4, nullptr},  // stops when full
      {"fe 41", 2, "", 0, "repeat run of 3"},
      {"02 41 42 43", 2, "", 0, "literal run of 3"},
      {"02 41 42", 3, "", 0, "cut short"},
      {"fe", 3, "", 0, "without its byte"},
      {"01 41 42", 4, "", 0, "ends after 2"},
  };
  for (const Case &c : kCases) {
    std::string stream = Hex(c.packed), out, error;
    size_t pos = 0;
    bool ok = preview::UnpackBits(stream, &pos, c.length, &out, &error);
    if (c.error) {
      EXPECT_FALSE(ok) << c.packed;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.packed << ": " << error;
      continue;
    }
    ASSERT_TRUE(ok) << c.packed << ": " << error;
    EXPECT_EQ(out, c.want) << c.packed;
    EXPECT_EQ(pos, c.used) << c.packed;
  }
}

TEST(PreviewDecode, WholeLineCommandIsOneCyanRow)
{
  std::vector<Page> pages =
      Pages(Hex(kUnit720) + Hex("0d 1b 72 02 1b 2e 01 05 05 01 d0 02 a7 ff 0c"));
  ASSERT_EQ(pages.size(), 1u);
  const Page &page = pages[0];
  EXPECT_EQ(page.width, 720);
  EXPECT_EQ(page.height, 1);
  EXPECT_EQ(preview::PitchDpi(page.x_pitch), 720);
  EXPECT_EQ(preview::PitchDpi(page.y_pitch), 720);
  EXPECT_EQ(page.bits[preview::kCyan], 1);
  EXPECT_EQ(Picture(page, preview::kCyan), std::string(720, '1'));
  for (int ink : {preview::kBlack, preview::kMagenta, preview::kYellow, preview::kLightCyan})
    EXPECT_TRUE(page.levels[ink].empty()) << preview::InkName(ink);
}

// Raster commands and the moves before them, each case one page of one ink.
TEST(PreviewDecode, RasterCommandsPlaceDots)
{
  struct Case
  {
    const char *name;
    std::string stream;
    int ink;
    const char *picture;
  };
  const Case kCases[] = {
      {"ESC i 1-bit", Hex(kUnit1440) + Hex("0d 1b 69 00 00 01 01 00 01 00 a5"), preview::kBlack,
       "1.1..1.1"},
      {"ESC i 2-bit levels", Hex(kUnit1440) + Hex("0d 1b 69 04 00 02 02 00 01 00 1b e4"),
       preview::kYellow, ".123321."},
      {"ESC i rows packed across the row end",
       Hex(kUnit1440) + Hex("0d 1b 69 01 01 01 01 00 02 00 ff 81"), preview::kMagenta,
       "1......1/1......1"},
      {"woven band: rows 4 apart, every other column, one row down, one column in",
       Hex(kUnit1440) + Hex("1b 28 44 04 00 40 38 50 14 1b 28 76 02 00 01 00 "
                            "0d 1b 28 5c 04 00 a0 05 01 00 1b 69 02 00 01 01 00 02 00 c1 80"),
       preview::kCyan,
       "................/.1.1...........1/................/................/................"
       "/.1.............."},
      {"ESC \\ in the horizontal unit",
       Hex(kUnit1440) + Hex("0d 1b 5c 03 00 1b 69 00 00 02 01 00 01 00 c0"), preview::kBlack,
       "...3..."},
      {"ESC . in the selected colour",
       Hex(kUnit720) + Hex("0d 1b 72 04 1b 2e 00 05 05 01 08 00 81"), preview::kYellow, "1......1"},
      {"ESC ( r light cyan", Hex(kUnit720) + Hex("1b 28 72 02 00 01 02 1b 2e 00 05 05 01 04 00 50"),
       preview::kLightCyan, ".1.1"},
      {"ESC ( r light magenta",
       Hex(kUnit720) + Hex("1b 28 72 02 00 01 01 1b 2e 00 05 05 01 02 00 40"),
       preview::kLightMagenta, ".1"},
      {"ESC ( r dark magenta",
       Hex(kUnit720) + Hex("1b 28 72 02 00 00 01 1b 2e 00 05 05 01 01 00 80"), preview::kMagenta,
       "1"},
      {"ESC . band alone: one column is its dot spacing",
       Hex(kUnit720) + Hex("0d 1b 2e 00 0a 0a 02 04 00 90 60"), preview::kBlack, "1..1/..../.11."},
      {"ESC . band and line: one column is the line's dot spacing",
       Hex(kUnit720) + Hex("0d 1b 2e 00 0a 0a 02 04 00 90 60 1b 28 76 02 00 03 00 0d 1b 2e 00 05 "
                           "05 01 01 00 80"),
       preview::kBlack, "1.....1/......./..1.1../1......"},
      {"ESC ( e moves by whole dots",
       Hex("1b 40 1b 28 55 05 00 02 02 02 a0 05 0d 1b 28 65 02 00 01 01 1b 2e 00 05 0a 01 08 00 "
           "c0"),
       preview::kBlack, ".1.1............"},
  };
  for (const Case &c : kCases) {
    std::vector<Page> pages = Pages(c.stream + Hex("0c"));
    ASSERT_EQ(pages.size(), 1u) << c.name;
    EXPECT_EQ(Picture(pages[0], c.ink), c.picture) << c.name;
    EXPECT_EQ(pages[0].overprinted, 0) << c.name;
  }
}

TEST(PreviewDecode, VerticalMovesCountRasterRowsFromTheFirstPosition)
{
  struct Case
  {
    const char *name;
    const char *moves;
    int row;
  };
  const Case kCases[] = {
      {"no move", "", 0},
      {"absolute only", "1b 28 56 02 00 55 00", 0},
      {"feed of 10", "1b 28 56 02 00 55 00 1b 28 76 02 00 0a 00", 10},
      {"feed of 300", "1b 28 76 02 00 2c 01", 300},
      {"two feeds", "1b 28 76 02 00 03 00 1b 28 76 02 00 04 00", 7},
      {"second absolute position", "1b 28 56 02 00 0a 00 1b 28 56 02 00 0d 00", 3},
      {"feed in 1/360 in on a 720 dpi grid",
       "1b 28 55 01 00 0a 1b 28 76 02 00 02 00 1b 28 55 01 00 05", 4},
  };
  for (const Case &c : kCases) {
    std::string stream = Hex(kUnit720) + Hex(c.moves) + Hex("0d 1b 2e 00 05 05 01 08 00 ff 0c");
    std::vector<Page> pages = Pages(stream);
    ASSERT_EQ(pages.size(), 1u) << c.name;
    EXPECT_EQ(pages[0].height, c.row + 1) << c.name;
    EXPECT_EQ(preview::DotLevel(pages[0], preview::kBlack, c.row, 7), 1) << c.name;
  }
}

TEST(PreviewDecode, FormFeedStartsTheNextPageAtItsTop)
{
  std::string line = Hex("0d 1b 2e 00 05 05 01 08 00 ff");
  std::string stream = Hex(kUnit720) + Hex("1b 28 56 02 00 55 00 1b 28 76 02 00 05 00") + line +
                       Hex("0c 1b 40 1b 28 55 01 00 05 1b 28 56 02 00 55 00") + line + Hex("0c") +
                       Hex("0c");
  std::vector<Page> pages = Pages(stream);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].height, 6);
  EXPECT_EQ(pages[1].height, 1);
  EXPECT_EQ(pages[2].height, 0);  // a page without raster is blank
  EXPECT_TRUE(pages[2].levels[preview::kBlack].empty());
}

// A job as the filter frames it: packet-mode exit, page start with its
// remote-mode block and NUL run, one line, form feed, job end.
TEST(PreviewDecode, WholeJobFraming)
{
  std::string stream =
      Hex("00 00 00 1b 01") + "@EJL 1284.4\n@EJL     \n" + Hex("1b 40") +
      Hex("1b 40 1b 28 52 08 00 00") + "REMOTE1" +
      Hex("53 54 02 00 00 00 53 4e 03 00 00 01 00 1b 00 00 00") +
      Hex("1b 28 47 01 00 01 1b 28 55 05 00 02 02 02 a0 05 1b 28 43 02 00 e4 20 "
          "1b 28 63 04 00 55 00 e4 20 1b 28 56 02 00 55 00 1b 55 00 1b") +
      std::string(27, '\0') +
      Hex("1b 28 69 01 00 01 0d 1b 28 65 02 00 00 01 1b 2e 00 05 05 01 08 00 f0 0c") +
      Hex("1b 40 1b 28 52 08 00 00") + "REMOTE1" + Hex("4c 44 00 00 1b 00 00 00");
  Decoded decoded;
  ASSERT_TRUE(preview::DecodeStream(stream, preview::DecodeOptions(), &decoded)) << decoded.error;
  ASSERT_EQ(decoded.pages.size(), 1u);
  EXPECT_EQ(Picture(decoded.pages[0], preview::kBlack), "1111....");
  EXPECT_EQ(decoded.pages[0].form_height, 8420 - 85);
  std::string dump;
  for (const preview::Command &c : decoded.commands) dump += c.text + "\n";
  for (const char *text : {"EJL @EJL 1284.4\n", "remote SN 00 01 00\n", "ESC and 27 NUL\n",
                           "remote LD\n", "ESC 00 00 00 leave remote mode\n"})
    EXPECT_NE(dump.find(text), std::string::npos) << text << " not in\n" << dump;
}

TEST(PreviewDecode, OverprintAndDotsBetweenColumnsAreReported)
{
  std::string row = Hex("0d 1b 2e 00 05 05 01 08 00 ff");
  std::vector<Page> twice = Pages(Hex(kUnit720) + row + row + Hex("0c"));
  ASSERT_EQ(twice.size(), 1u);
  EXPECT_EQ(twice[0].overprinted, 8);
  EXPECT_TRUE(twice[0].warnings.empty());

  // A move of 1/1440 in on a 720 dpi grid lands between two columns.
  std::vector<Page> half = Pages(Hex(kUnit720) + Hex("0d 1b 28 5c 04 00 a0 05 01 00") +
                                 Hex("1b 2e 00 05 05 01 08 00 ff 0c"));
  ASSERT_EQ(half.size(), 1u);
  ASSERT_EQ(half[0].warnings.size(), 1u);
  EXPECT_NE(half[0].warnings[0].find("between the columns"), std::string::npos);
}

TEST(PreviewDecode, EscDotBitsFollowTheDotSizeOrTheOption)
{
  // One byte 1b: as 1-bit dots 0 0 0 1 1 0 1 1, as 2-bit levels 0 1 2 3.
  std::string data = Hex("0d 1b 2e 00 05 05 01 08 00 1b 0c");
  std::vector<Page> one = Pages(Hex(kUnit720) + data);
  std::vector<Page> variable = Pages(Hex(kUnit720) + Hex("1b 28 65 02 00 00 10") + data);
  ASSERT_EQ(one.size(), 1u);
  ASSERT_EQ(variable.size(), 1u);
  EXPECT_EQ(Picture(one[0], preview::kBlack), "...11.11");
  EXPECT_EQ(Picture(variable[0], preview::kBlack), ".123");
  Decoded forced;
  preview::DecodeOptions options;
  options.escdot_bits = 2;
  ASSERT_TRUE(preview::DecodeStream(Hex(kUnit720) + data, options, &forced));
  EXPECT_EQ(Picture(forced.pages[0], preview::kBlack), ".123");
}

TEST(PreviewDecode, RejectsWhatItCannotDecode)
{
  struct Case
  {
    const char *name;
    const char *stream;
    size_t offset;
  };
  const Case kCases[] = {
      {"unknown ESC command", "1b 40 1b 5a 00", 2},
      {"unknown ESC ( command", "1b 40 1b 28 5a 00 00", 2},
      {"stray byte", "1b 40 41", 2},
      {"feed without its count", "1b 28 76 02 00 0a", 0},
      {"feed with three parameter bytes", "1b 28 76 03 00 0a 00 00", 0},
      {"ESC i header cut short", "0d 1b 69 00 00 01 01 00", 1},
      {"raw data cut short", "0d 1b 2e 00 05 05 01 10 00 ff", 1},
      {"PackBits data cut short", "1b 2e 01 05 05 01 10 00 fe", 0},
      {"PackBits run past the rows", "1b 2e 01 05 05 02 08 00 fd 00", 0},
      {"ESC r of no ink", "1b 72 03", 0},
      {"ESC i of no ink", "1b 69 08 00 01 01 00 01 00 00", 0},
      {"ESC i with 3 bits a dot", "1b 69 00 00 03 01 00 01 00 00", 0},
      {"ESC ( U of an odd base", "1b 28 55 05 00 01 01 01 e8 03", 0},
      {"remote mode never left", "1b 28 52 08 00 00 52 45 4d 4f 54 45 31 53 54 02 00 00 00", 19},
      {"remote command of no letters", "1b 28 52 08 00 00 52 45 4d 4f 54 45 31 01 02 00 00", 13},
      {"dots left of the margin", "1b 28 5c 04 00 a0 05 fe ff 1b 2e 00 05 05 01 08 00 ff 0c", 9},
      {"EJL line without its end", "1b 01 40 45 4a 4c 20", 2},
  };
  for (const Case &c : kCases) {
    Decoded decoded;
    EXPECT_FALSE(preview::DecodeStream(Hex(c.stream), preview::DecodeOptions(), &decoded))
        << c.name;
    EXPECT_EQ(decoded.error_offset, c.offset) << c.name << ": " << decoded.error;
    EXPECT_FALSE(decoded.error.empty()) << c.name;
  }
  std::string error;
  EXPECT_TRUE(preview::DecodeStream(Hex("1b 40 1b 5a"), &error).empty());
  EXPECT_EQ(error.compare(0, 10, "offset 2: "), 0) << error;
}

// A random 1-bit page of one ink, rows of `bytes` bytes.
std::vector<std::string> RandomBitmap(int rows, int bytes, unsigned seed)
{
  std::vector<std::string> bitmap(rows, std::string(bytes, '\0'));
  srand(seed);
  for (auto &row : bitmap)
    for (char &b : row)
      if (rand() % 4) b = char(rand());
  bitmap[0] = std::string(bytes, '\0');  // a blank first line needs a feed
  return bitmap;
}

// The bitmap's dots as Picture draws them.
std::string BitmapPicture(const std::vector<std::string> &bitmap)
{
  std::string text;
  for (size_t r = 0; r < bitmap.size(); r++) {
    if (r) text += '/';
    for (size_t i = 0; i < bitmap[r].size() * 8; i++) {
      unsigned byte = static_cast<unsigned char>(bitmap[r][i / 8]);
      text += byte >> (7 - i % 8) & 1 ? '1' : '.';
    }
  }
  return text;
}

// Little-endian 16 bits, as the printer reads them.
std::string Le16(int n)
{
  return std::string{char(n & 0xff), char(n >> 8 & 0xff)};
}

TEST(PreviewDecode, UnwovenLinesGiveBackTheBitmap)
{
  std::vector<std::string> bitmap = RandomBitmap(24, 4, 7);
  bitmap[23] = std::string(4, '\x01');  // ink on the last line keeps the height
  std::string stream = Hex(kUnit720) + Hex("1b 28 56 02 00 55 00");
  int feed = 0;
  for (const std::string &row : bitmap) {
    if (row == std::string(4, '\0')) {
      feed++;
      continue;
    }
    if (feed) stream += Hex("1b 28 76 02 00") + Le16(feed);
    stream += Hex("0d 1b 2e 00 05 05 01") + Le16(32) + row;
    feed = 1;
  }
  std::vector<Page> pages = Pages(stream + Hex("0c"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(Picture(pages[0], preview::kBlack), BitmapPicture(bitmap));
  EXPECT_EQ(pages[0].overprinted, 0);
}

// Bands as a woven page sends them: every raster row of a slot goes into
// the slot's band DotRowStep rows apart; the first band of each slot holds
// fewer rows, so the slots start staggered; columns are every second dot.
TEST(PreviewDecode, WovenBandsGiveBackTheBitmap)
{
  const int kRowStep = 4, kColStep = 2, kCount = 3, kRows = 30, kBytes = 2;
  std::vector<std::string> bitmap = RandomBitmap(kRows, kBytes * kColStep, 11);
  struct Band
  {
    int y, x, count;
  };
  std::vector<Band> bands;
  for (int x = 0; x < kColStep; x++)
    for (int phase = 0; phase < kRowStep; phase++) {
      int y = phase, count = 1 + (phase + x) % kCount;  // staggered first band
      while (y < kRows) {
        int rows = std::min(count, (kRows - 1 - y) / kRowStep + 1);
        bands.push_back({y, x, rows});
        y += rows * kRowStep;
        count = kCount;
      }
    }
  std::stable_sort(bands.begin(), bands.end(),
                   [](const Band &a, const Band &b) { return a.y < b.y; });
  // 1440 x 720 dpi: rows 4 apart are 80/14400 in, columns 2 apart 20/14400 in.
  std::string stream =
      Hex("1b 40 1b 28 55 05 00 02 02 01 a0 05 1b 28 44 04 00 40 38 50 14 1b 28 56 02 00 10 00");
  int current = 0;
  for (const Band &band : bands) {
    if (band.y > current) stream += Hex("1b 28 76 02 00") + Le16(band.y - current);
    current = band.y;
    stream += Hex("0d");
    if (band.x) stream += Hex("1b 28 5c 04 00 a0 05") + Le16(band.x);
    stream += Hex("1b 69 00 00 01") + Le16(kBytes) + Le16(band.count);
    for (int r = 0; r < band.count; r++) {
      std::string row(kBytes, '\0');
      const std::string &line = bitmap[band.y + r * kRowStep];
      for (int i = 0; i < kBytes * 8; i++) {
        int pixel = band.x + i * kColStep;
        if (static_cast<unsigned char>(line[pixel / 8]) >> (7 - pixel % 8) & 1)
          row[i / 8] |= char(0x80 >> (i % 8));
      }
      stream += row;
    }
  }
  std::vector<Page> pages = Pages(stream + Hex("0c"));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(Picture(pages[0], preview::kBlack), BitmapPicture(bitmap));
  EXPECT_EQ(pages[0].overprinted, 0);
  EXPECT_TRUE(pages[0].warnings.empty());
}

TEST(PreviewRender, InksMixOnWhitePaper)
{
  struct Case
  {
    int ink, bits, level;
    int r, g, b;
  };
  const Case kCases[] = {
      {preview::kBlack, 1, 1, 0, 0, 0},       {preview::kCyan, 1, 1, 0, 255, 255},
      {preview::kMagenta, 1, 1, 255, 0, 255}, {preview::kYellow, 1, 1, 255, 255, 0},
      {preview::kCyan, 2, 3, 0, 255, 255},    {preview::kCyan, 1, 0, 255, 255, 255},
  };
  for (const Case &c : kCases) {
    Page page;
    page.width = page.height = 1;
    page.bits[c.ink] = c.bits;
    page.levels[c.ink] = {uint8_t(c.level)};
    uint8_t rgb[3];
    preview::RenderRow(page, 1, -1, 0, rgb);
    EXPECT_EQ(rgb[0], c.r) << preview::InkName(c.ink) << " level " << c.level;
    EXPECT_EQ(rgb[1], c.g) << preview::InkName(c.ink) << " level " << c.level;
    EXPECT_EQ(rgb[2], c.b) << preview::InkName(c.ink) << " level " << c.level;
  }
}

TEST(PreviewRender, SmallDotsAndLightInksAreLighter)
{
  // One row: cyan 2-bit dots of sizes 1, 2, 3, then one light cyan dot.
  Page page;
  page.width = 4;
  page.height = 1;
  page.bits[preview::kCyan] = 2;
  page.levels[preview::kCyan] = {1, 2, 3, 0};
  page.bits[preview::kLightCyan] = 1;
  page.levels[preview::kLightCyan] = {0, 0, 0, 1};
  uint8_t rgb[12], grey[4];
  preview::RenderRow(page, 1, -1, 0, rgb);
  EXPECT_GT(rgb[0], rgb[3]);
  EXPECT_GT(rgb[3], rgb[6]);
  EXPECT_GT(rgb[9], rgb[6]);
  EXPECT_LT(rgb[9], 255);
  EXPECT_EQ(rgb[10], 255);  // cyan takes red only
  preview::RenderRow(page, 1, preview::kLightCyan, 0, grey);
  EXPECT_EQ(grey[3], 0);  // its own picture shows the light ink full
  EXPECT_EQ(grey[0], 255);
}

TEST(PreviewRender, ScaleAveragesBlocksOfDots)
{
  // 3 x 3 dots, one black dot in the top-left 2 x 2 block; at scale 2 the
  // picture is 2 x 2 and the edge blocks average only the dots they hold.
  Page page;
  page.width = page.height = 3;
  page.bits[preview::kBlack] = 1;
  page.levels[preview::kBlack] = {1, 0, 1, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(preview::ImageWidth(page, 2), 2);
  ASSERT_EQ(preview::ImageHeight(page, 2), 2);
  uint8_t grey[2];
  preview::RenderRow(page, 2, preview::kBlack, 0, grey);
  EXPECT_EQ(grey[0], 255 - 255 / 4);  // a quarter covered
  EXPECT_EQ(grey[1], 255 - 255 / 2);  // half of the 1 x 2 edge block
  preview::RenderRow(page, 2, preview::kBlack, 1, grey);
  EXPECT_EQ(grey[0], 255);
}

}  // namespace
