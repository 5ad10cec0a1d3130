// The band engine end to end: which rows go to the printer, when, in which
// band, after which feed, with which raster command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check.h"
#include "expect.h"
#include "harness.h"
#include "preview.h"

namespace {

using harness::Hex;

// Page start of family 4 at 720 x 720 dpi, no media settings, on the
// default PPD (A4 first, Letter with a 8.5 pt top margin second), black
// only, MediaType "" (dot size 02); woven pages turn the microweave off.
std::string Family4Start(bool woven, int planes = 1)
{
  return "ESC @ | ESC ( R 00 52 45 4d 4f 54 45 31 | ST 00 00 | ESC 00 00 00 | ESC ( G 01 | "
         "ESC ( U 05 | ESC ( C e4 20 | ESC ( c 55 00 e4 20 | ESC ( V 55 00 | ESC U 00 | "
         "ESC ( i " +
         std::string(woven ? "00" : "01") + " | ESC ( K 00 " + (planes == 1 ? "01" : "02") +
         " | ESC ( e 00 02 | ";
}

// A raster command of family 4 for one plane's rows, uncompressed.
std::string EscDot(int vunit, int hunit, int rows, const std::string &data)
{
  char head[64];
  int bytes_per_row = (int)Hex(data).size() / rows;
  snprintf(head, sizeof(head), "CR | ESC . 00 %02x %02x %02x %04x ", vunit, hunit, rows,
           bytes_per_row * 8);
  return head + data + " | ";
}

std::string Feed(int rows)
{
  char text[32];
  snprintf(text, sizeof(text), "ESC ( v %02x %02x | ", rows & 255, rows >> 8);
  return text;
}

std::string ByteHex(int value)
{
  char text[8];
  snprintf(text, sizeof(text), "%02x ", value & 255);
  return text;
}

// One line a byte: line y of the page carries the byte y + 1, so every
// row of the output names the raster line it came from.
unsigned char LineNumber(unsigned line, unsigned)
{
  return (unsigned char)(line + 1);
}

// The 40-line woven page: two row slots, four rows a band, eight bands in
// the pool. Bands fill after lines 0, 5, 8, 13, 16, 21 and 24; from line 24
// on, no free band is left and the first waiting band goes out in the
// middle of the line.
TEST(WovenBands, FortyLinePageSendsBandsInPrintOrderWithTheirFeeds)
{
  harness::TestPage page =
      harness::DescribePage("fam=4 res=720x720 space=K bits=1 w=8 h=40 weave=8/0/2");
  std::string raster = harness::WriteRaster({harness::MakePage(page.header, LineNumber)});
  harness::Result got = harness::RunFilter({harness::WritePpd(4, page.sizes), raster});

  struct Sent
  {
    int feed, y, rows;
  };
  const Sent kSent[] = {{0, 0, 1},  {1, 1, 3},  {1, 2, 4},  {5, 7, 4},  {3, 10, 4}, {5, 15, 4},
                        {3, 18, 4}, {5, 23, 4}, {3, 26, 4}, {5, 31, 4}, {3, 34, 3}, {5, 39, 1}};
  std::string bands;
  for (const Sent &s : kSent) {
    std::string data;
    for (int r = 0; r < s.rows; r++) data += ByteHex(s.y + 2 * r + 1);
    if (s.feed) bands += Feed(s.feed);
    bands += EscDot(10, 5, s.rows, data);
  }
  std::string want =
      expect::kJobStartEjl + Family4Start(true) + bands + " | FF" + expect::kJobEndReset;

  std::vector<std::string> err = expect::PageOpen(1, 1);
  check::Append(err, harness::HeaderDump(page.header));
  err.push_back(expect::BitPlanes(1));
  check::Append(err, expect::PoolHead({1, 1, 8, 2, 0, 4}, 4));
  err.push_back(expect::RowOffset(0, 0));
  check::Append(err, expect::PointerList("start", 8));
  err.push_back(expect::PlacedBand({1, 0, 0, 1, 3}));
  err.push_back(expect::PlacedBand({0, 0, 0, 0, 1}));
  err.push_back(expect::Progress(1, 0));
  auto printing = [](const Sent &s) {
    return "DEBUG: Printing band PTR, x = 0, y = " + std::to_string(s.y) +
           ", plane = 0, count = " + std::to_string(s.rows) +
           ", OutputFeed = " + std::to_string(s.feed);
  };
  for (int i = 0; i < 4; i++) err.push_back(printing(kSent[i]));
  err.push_back(expect::PageDone(1));
  check::Append(err, expect::PointerList("end", 8));
  for (int i = 4; i < 12; i++) {
    err.push_back(printing(kSent[i]));
    err.push_back(std::string("DEBUG: freeing used band PTR, prev = PTR, next = ") +
                  (i < 11 ? "PTR" : "(nil)"));
  }
  check::ExpectRun(got, want, err, 0);
}

// A slot whose lines carry no ink never sends a band: its band moves on in
// place each time it fills.
TEST(WovenBands, BlankSlotAdvancesInPlaceAndSendsNothing)
{
  harness::TestPage page =
      harness::DescribePage("fam=4 res=720x720 space=K bits=1 w=8 h=14 weave=8/0/2");
  // Ink on the even lines only: slot 1 stays blank.
  std::string raster =
      harness::WriteRaster({harness::MakePage(page.header, [](unsigned line, unsigned) {
        return (unsigned char)(line % 2 ? 0 : 0x80 | line);
      })});
  harness::Result got = harness::RunFilter({harness::WritePpd(4, page.sizes), raster});
  ASSERT_EQ(got.status, 0);

  // Only even rows are ever printed: bands at rows 0 (1 row), 2 (4 rows),
  // then the band closed at page end with rows 10 and 12.
  std::string bands = EscDot(10, 5, 1, "80") + Feed(2) + EscDot(10, 5, 4, "82 84 86 88") + Feed(8) +
                      EscDot(10, 5, 2, "8a 8c");
  std::string want =
      expect::kJobStartEjl + Family4Start(true) + bands + " | FF" + expect::kJobEndReset;
  std::string diff = harness::DiffStreams(Hex(want), got.out);
  EXPECT_TRUE(diff.empty()) << diff;
}

// Unwoven: white space becomes one feed, every plane of a printed line is
// sent (a plane with no ink too), and the feed goes out once, before plane 0.
TEST(UnwovenLines, BlankRunIsOneFeedAndEveryPlaneIsSent)
{
  harness::TestPage page =
      harness::DescribePage("fam=4 res=720x720 space=KCMY bits=1 comp=1 w=720 h=13");
  // Lines 0-9 blank, 10 and 11 cyan only, 12 blank.
  std::string raster =
      harness::WriteRaster({harness::MakePage(page.header, [](unsigned line, unsigned index) {
        return (unsigned char)(line >= 10 && line <= 11 && index / 90 == 1 ? 0xFF : 0);
      })});
  harness::Result got = harness::RunFilter({harness::WritePpd(4, page.sizes), raster});

  // Each plane: carriage return, colour, ESC . compressed, 720 dots; 90
  // equal bytes pack into one run (A7).
  const std::string kLine = "CR | ESC r 00 | ESC . 01 05 05 01 02d0 a7 00 "
                            "CR | ESC r 02 | ESC . 01 05 05 01 02d0 a7 ff "
                            "CR | ESC r 01 | ESC . 01 05 05 01 02d0 a7 00 "
                            "CR | ESC r 04 | ESC . 01 05 05 01 02d0 a7 00 ";
  std::string want = expect::kJobStartEjl + Family4Start(false, 4) + Feed(10) + kLine + Feed(1) +
                     kLine + " | FF" + expect::kJobEndReset;
  std::string diff = harness::DiffStreams(Hex(want), got.out);
  EXPECT_TRUE(diff.empty()) << diff;
  EXPECT_EQ(got.status, 0);
}

// Three inks are cyan, magenta and yellow: their planes take the colour
// codes one up from their index, in ESC r and in ESC i alike.
TEST(PlaneColours, ThreeInkPagesShiftToCyanMagentaYellow)
{
  struct Case
  {
    int family;
    std::string prefix;
  };
  const Case kCases[] = {
      {4, "CR | ESC r 02 | ESC . 00 05 05 01 0008 f0 "
          "CR | ESC r 01 | ESC . 00 05 05 01 0008 0f "
          "CR | ESC r 04 | ESC . 00 05 05 01 0008 3c "},
      {7, "CR | ESC i 02 00 01 0001 0001 f0 "
          "CR | ESC i 01 00 01 0001 0001 0f "
          "CR | ESC i 04 00 01 0001 0001 3c "},
  };
  for (const Case &c : kCases) {
    harness::TestPage page = harness::DescribePage("fam=" + std::to_string(c.family) +
                                                   " res=720x720 space=CMY bits=1 w=8 h=1");
    std::string raster =
        harness::WriteRaster({harness::MakePage(page.header, [](unsigned, unsigned index) {
          const unsigned char kRows[] = {0xF0, 0x0F, 0x3C};
          return kRows[index];
        })});
    harness::Result got = harness::RunFilter({harness::WritePpd(c.family, page.sizes), raster});
    ASSERT_EQ(got.status, 0) << c.family;
    std::string want = Hex(c.prefix + " | FF" + expect::kJobEndReset);
    ASSERT_GE(got.out.size(), want.size());
    EXPECT_EQ(harness::ToHex(got.out.substr(got.out.size() - want.size())), harness::ToHex(want))
        << "family " << c.family;
  }
}

// The light inks of family 4 are selected with ESC ( r and density 1.
TEST(PlaneColours, LightInksOfEscDotFamiliesUseTheDensityCommand)
{
  harness::TestPage page = harness::DescribePage("fam=4 res=720x720 space=KCMYcm bits=1 w=8 h=1");
  std::string raster = harness::WriteRaster({harness::MakePage(
      page.header, [](unsigned, unsigned index) { return (unsigned char)(0x11 * (index + 1)); })});
  harness::Result got = harness::RunFilter({harness::WritePpd(4, page.sizes), raster});
  ASSERT_EQ(got.status, 0);
  std::string want = Hex("CR | ESC r 00 | ESC . 00 05 05 01 0008 11 "
                         "CR | ESC r 02 | ESC . 00 05 05 01 0008 22 "
                         "CR | ESC r 01 | ESC . 00 05 05 01 0008 33 "
                         "CR | ESC r 04 | ESC . 00 05 05 01 0008 44 "
                         "CR | ESC ( r 01 02 | ESC . 00 05 05 01 0008 55 "
                         "CR | ESC ( r 01 01 | ESC . 00 05 05 01 0008 66 | FF | ESC @");
  ASSERT_GE(got.out.size(), want.size());
  EXPECT_EQ(harness::ToHex(got.out.substr(got.out.size() - want.size())), harness::ToHex(want));
}

// Interleave columns move right by one dot of the page: ESC ( \ in 1/1440
// inch for 1-bit dots, ESC \ in the page's horizontal unit for 2-bit dots.
TEST(WovenBands, ColumnOffsetIsOneDotOfThePage)
{
  struct Case
  {
    int family;
    std::string words;
    std::string move;
  };
  const Case kCases[] = {
      {7, "res=1440x720 comp=0", "ESC ( \\ a0 05 01 00"},
      {7, "res=720x720 comp=0", "ESC ( \\ a0 05 02 00"},
      {8, "res=2880x720 comp=0", "ESC ( \\ 40 0b 01 00"},
      {7, "res=720x720 comp=2", "ESC \\ 0001"},
  };
  for (const Case &c : kCases) {
    harness::TestPage page =
        harness::DescribePage("fam=" + std::to_string(c.family) + " " + c.words +
                              " space=K bits=8 w=16 h=2 weave=4/0/202");
    std::string raster = harness::WriteRaster(
        {harness::MakePage(page.header, [](unsigned, unsigned) { return (unsigned char)255; })});
    harness::Result got = harness::RunFilter({harness::WritePpd(c.family, page.sizes), raster});
    ASSERT_EQ(got.status, 0) << c.words;
    std::string move = Hex("CR " + c.move);
    EXPECT_NE(got.out.find(move), std::string::npos) << c.family << " " << c.words;
  }
}

// Family 5000 carries its dot size in ESC ( e before every raster command,
// with the band's column; the size set by one page holds on a later page
// whose resolution sets none.
TEST(DotSize, Family5000SendsItWithEveryRowAndKeepsItAcrossPages)
{
  harness::TestPage first =
      harness::DescribePage("fam=5000 res=720x720 media=Plain space=K bits=1 w=8 h=1");
  harness::TestPage second =
      harness::DescribePage("fam=5000 res=2880x720 space=K bits=1 w=8 h=1 weave=4/0/401");
  auto ink = [](unsigned, unsigned) { return (unsigned char)0xA5; };
  std::string raster = harness::WriteRaster(
      {harness::MakePage(first.header, ink), harness::MakePage(second.header, ink)});
  harness::Result got = harness::RunFilter({harness::WritePpd(5000, first.sizes), raster});
  ASSERT_EQ(got.status, 0);
  // Plain paper at 720 dpi is code 1; 2880 dpi keeps it. ESC . at 720 dpi
  // has units 5 x 5, and so has 2880 dpi in four interleave columns.
  std::string row720 = Hex("CR | ESC ( e 00 01 | ESC . 00 05 05 01 0008 a5 | FF");
  std::string row2880 = Hex("CR | ESC ( e 00 01 | ESC . 00 05 05 01 0008 a5 | FF | ESC @");
  size_t at = got.out.find(row720);
  ASSERT_NE(at, std::string::npos) << harness::ToHex(got.out);
  EXPECT_NE(got.out.find(row2880, at + row720.size()), std::string::npos)
      << harness::ToHex(got.out);
}

// CUPS's rasterizers send KCMYcm as four planes a line (K, C, M, Y); such a
// page prints exactly as a six-plane page with the same K, C, M and Y,
// whatever the six-plane page carries in its light rows.
TEST(LightInks, FourPlaneKcmycmLinesPrintAsSixPlaneLines)
{
  harness::TestPage six =
      harness::DescribePage("fam=7 res=720x720 space=KCMYcm bits=8 w=64 h=24 weave=8/0/4");
  harness::TestPage four = six;
  four.header.cupsBytesPerLine = 4 * 64;
  auto amounts = [](unsigned line, unsigned index) {
    unsigned plane = index / 64, x = index % 64;
    if (plane >= 4) return (unsigned char)(37 * x + line);  // ignored by the ink split
    return (unsigned char)((x * 4 + line * 3 + plane * 50) & 255);
  };
  std::string ppd = harness::WritePpd(7, six.sizes);
  harness::Result got6 =
      harness::RunFilter({ppd, harness::WriteRaster({harness::MakePage(six.header, amounts)})});
  harness::Result got4 =
      harness::RunFilter({ppd, harness::WriteRaster({harness::MakePage(four.header, amounts)})});
  ASSERT_EQ(got6.status, 0);
  ASSERT_EQ(got4.status, 0);
  std::string diff = harness::DiffStreams(got6.out, got4.out);
  EXPECT_TRUE(diff.empty()) << diff;
  // Light cyan (code 12) and light magenta (11) rows are present.
  EXPECT_NE(got4.out.find(Hex("ESC i 12")), std::string::npos);
  EXPECT_NE(got4.out.find(Hex("ESC i 11")), std::string::npos);
}

// Six-ink pages at 2880 dpi get the 1440 dpi split, so cyan and magenta
// print even when no earlier page set a split.
TEST(LightInks, SixInkPagesAt2880DpiPrintCyanAndMagenta)
{
  harness::TestPage page = harness::DescribePage("fam=8 res=2880x720 space=KCMYcm bits=8 w=32 h=8");
  auto cyan_magenta = [](unsigned, unsigned index) {
    unsigned plane = index / 32;
    return (unsigned char)(plane == 1 || plane == 2 ? 200 : 0);
  };
  harness::Result got =
      harness::RunFilter({harness::WritePpd(8, page.sizes),
                          harness::WriteRaster({harness::MakePage(page.header, cyan_magenta)})});
  ASSERT_EQ(got.status, 0);
  // Some row of each of cyan (02), magenta (01), light cyan (12), light
  // magenta (11) holds ink: an uncompressed 1-bit row of 4 bytes.
  for (const char *code : {"02", "01", "12", "11"}) {
    std::string head = Hex(std::string("ESC i ") + code + " 00 01 0004 0001");
    bool inked = false;
    for (size_t at = got.out.find(head); at != std::string::npos; at = got.out.find(head, at + 1))
      inked |= got.out.substr(at + head.size(), 4) != std::string(4, '\0');
    EXPECT_TRUE(inked) << "ink " << code;
  }
}

// The main thread shares a line's inks with the worker when the raster is a
// file and leaves them to it when the raster comes through a pipe; on one
// thread or two, from a file or a pipe, a page prints the same bytes and
// says the same, its progress between the same bands (past 128 lines).
TEST(Threads, FileOrPipeOnOneThreadOrTwoPrintsTheSame)
{
  auto photo = [](unsigned line, unsigned index) {
    unsigned x = index % 96, plane = index / 96;
    return (unsigned char)((x + line) % 7 == 0 ? 0 : (x * 3 + line * 5 + plane * 40) & 255);
  };
  for (const char *words : {"fam=7 res=1440x720 space=KCMYcm bits=8 w=96 h=300 weave=8/0/4",
                            "fam=7 res=720x720 space=KCMY bits=8 w=96 h=70",
                            "fam=4 res=720x720 space=CMY bits=8 w=96 h=70"}) {
    SCOPED_TRACE(words);
    harness::TestPage page = harness::DescribePage(words);
    std::string ppd = harness::WritePpd(page.family, page.sizes);
    std::string raster = harness::WriteRaster({harness::MakePage(page.header, photo)});
    harness::Run one(ppd, "", raster);
    one.env = {"INKBANDS_THREADS=1"};
    harness::Result alone = harness::RunFilter(one);
    ASSERT_EQ(alone.status, 0);
    for (bool piped : {false, true}) {
      harness::Run two(ppd, "", raster);
      two.env = {"INKBANDS_THREADS=2"};
      two.piped = piped;
      harness::Result got = harness::RunFilter(two);
      EXPECT_EQ(got.status, 0);
      std::string diff = harness::DiffStreams(alone.out, got.out);
      EXPECT_TRUE(diff.empty()) << (piped ? "piped: " : "file: ") << diff;
      EXPECT_EQ(harness::MaskPointers(alone.err), harness::MaskPointers(got.err)) << piped;
    }
  }
}

}  // namespace

namespace {

// A page prints the same whatever page came before it: nothing of one
// page's bands, buffers, weave or dither carries over to the next. (The
// dither's random weights do run on from page to page, so the first page
// here is pre-dithered and uses none.)
TEST(Pages, EachPagePrintsAsItWouldAlone)
{
  harness::TestPage first =
      harness::DescribePage("fam=7 res=1440x720 space=KCMY bits=1 comp=1 w=48 h=40 weave=32/0/4");
  harness::TestPage second =
      harness::DescribePage("fam=7 res=720x720 space=K bits=8 comp=2 w=64 h=30");
  auto pattern = [](unsigned line, unsigned index) {
    return (unsigned char)(line * 31 + index * 7);
  };
  harness::Page a = harness::MakePage(first.header, pattern);
  harness::Page b = harness::MakePage(second.header, pattern);
  std::string ppd = harness::WritePpd(7, first.sizes);

  harness::Result both = harness::RunFilter({ppd, harness::WriteRaster({a, b})});
  harness::Result alone_a = harness::RunFilter({ppd, harness::WriteRaster({a})});
  harness::Result alone_b = harness::RunFilter({ppd, harness::WriteRaster({b})});
  ASSERT_EQ(both.status, 0);
  ASSERT_EQ(alone_a.status, 0);
  ASSERT_EQ(alone_b.status, 0);

  // Job start and end wrap each job; the pages sit between them.
  std::string start = Hex(expect::kJobStartEjl), end = Hex(expect::kJobEndReset);
  auto page_of = [&](const std::string &job) {
    return job.substr(start.size(), job.size() - start.size() - end.size());
  };
  std::string diff =
      harness::DiffStreams(start + page_of(alone_a.out) + page_of(alone_b.out) + end, both.out);
  EXPECT_TRUE(diff.empty()) << diff;
}

}  // namespace

namespace {

// Weaves that cannot weave are printed unwoven or one row apart; 1440 dpi
// on the ESC . printers prints in two interleave columns, each 1/720 inch
// wide (units of 5/3600 inch), the second moved 1/1440 inch.
TEST(WeaveLimits, PrintedSoundly)
{
  struct Case
  {
    std::string page;
    std::string bytes;
  };
  const Case kCases[] = {
      // 3 nozzle rows cannot make bands 4 rows apart: the printer weaves.
      {"fam=7 weave=3/0/4", "ESC ( i 01 | ESC ( D 40 38 14 14"},
      // Grey pages of family 10 split the interleave three ways; an
      // interleave of 2 leaves the bands one row apart.
      {"fam=10 weave=8/0/2", "ESC ( i 00 | ESC ( K 00 01 | ESC ( D a0 05 02 02"},
      {"fam=4 res=1440x720 bits=8 h=8 weave=8/0/202", "ESC . 00 0a 05"},
      {"fam=5 res=1440x720 bits=8 h=8 weave=8/0/202", "ESC . 00 0a 05"},
      {"fam=5000 res=1440x720 bits=8 h=8 weave=8/0/202", "ESC . 00 0a 05"},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage("w=16 h=20 " + c.page);
    harness::Result got = harness::RunFilter(
        {harness::WritePpd(page.family, page.sizes),
         harness::WriteRaster({harness::MakePage(
             page.header, [](unsigned, unsigned) { return (unsigned char)0x5A; })})});
    EXPECT_EQ(got.status, 0);
    EXPECT_NE(got.out.find(Hex(c.bytes)), std::string::npos) << harness::ToHex(got.out);
  }
}

}  // namespace

namespace {

// A feed longer than the command's 16-bit count goes out in several
// commands, so the line still lands on its own row.
TEST(UnwovenLines, FeedsBeyondSixteenBitsAreSplit)
{
  harness::TestPage page = harness::DescribePage("fam=4 res=720x720 space=K bits=1 w=8 h=70001");
  std::string raster =
      harness::WriteRaster({harness::MakePage(page.header, [](unsigned line, unsigned) {
        return (unsigned char)(line == 70000 ? 0x81 : 0);
      })});
  harness::Result got = harness::RunFilter({harness::WritePpd(4, page.sizes), raster});
  ASSERT_EQ(got.status, 0);
  // 70000 rows: 65535 (ff ff), then 4465 (71 11).
  std::string want =
      Hex("ESC ( v ff ff | ESC ( v 71 11 | CR | ESC . 00 05 05 01 0008 81 | FF | ESC @");
  ASSERT_GE(got.out.size(), want.size());
  EXPECT_EQ(harness::ToHex(got.out.substr(got.out.size() - want.size())), harness::ToHex(want));
}

}  // namespace

namespace {

// The widest roll a printer takes, 44 inches at 2880 dpi (126720 dots), in
// four inks, prints woven and unwoven within the memory a real printer job
// needs; pre-dithered rows arrive at the printer exactly as they came.
TEST(WovenBands, WidestRollPrintsInBoundedMemory)
{
  const unsigned kWidth = 44 * 2880;
  harness::TestPage tiny = harness::DescribePage("fam=4 w=16 h=1");
  harness::Run small = {harness::WritePpd(4, tiny.sizes),
                        harness::WriteRaster({harness::BlankPage(tiny.header)})};
  small.bounded = true;
  long baseline = harness::RunFilter(small).peak_kb;
  for (const char *weave : {"weave=1/0/0", "weave=16/7/4", "weave=16/7/204"}) {
    SCOPED_TRACE(weave);
    harness::TestPage page = harness::DescribePage(
        std::string("fam=8 res=2880x720 space=KCMY bits=8 comp=2 h=6 ") + weave);
    page.header.cupsWidth = kWidth;
    harness::FixLineSize(page.header);
    harness::Page ink = harness::MakePage(page.header, [](unsigned line, unsigned i) {
      return (unsigned char)((i + line) % 7 ? 200 : 0);
    });
    harness::Run run = {harness::WritePpd(8, page.sizes), harness::WriteRaster({ink})};
    run.bounded = true;
    harness::Result got = harness::RunFilter(run);
    EXPECT_EQ(0, got.status);
    EXPECT_EQ(0, check::Count(got.err, "ERROR: "));
    std::vector<check::RasterCommand> commands = check::RasterCommands(got.out);
    ASSERT_FALSE(commands.empty());
    // 2-bit dots: a whole line is 31680 bytes, one of two columns 15840.
    // Every row of the 6 lines goes out once: 4 inks, 1 or 2 columns.
    bool columns = std::string(weave) == "weave=16/7/204";
    unsigned rows = 0;
    for (const check::RasterCommand &c : commands) {
      EXPECT_EQ(columns ? 15840u : 31680u, c.row_bytes);
      rows += c.rows;
    }
    EXPECT_EQ(6u * 4 * (columns ? 2 : 1), rows);
    EXPECT_LT(got.peak_kb, baseline + 160 * 1024) << "baseline " << baseline << " kB";
  }

  // Pre-dithered black dots, unwoven, uncompressed: each line's row is sent
  // as the line itself.
  harness::TestPage page = harness::DescribePage("fam=8 res=2880x720 space=K bits=1 h=3");
  page.header.cupsWidth = kWidth;
  harness::FixLineSize(page.header);
  harness::Page dots = harness::MakePage(page.header, [](unsigned line, unsigned i) {
    return (unsigned char)(i * 13 + line * 101 + 1);
  });
  harness::Result got =
      harness::RunFilter({harness::WritePpd(8, page.sizes), harness::WriteRaster({dots})});
  ASSERT_EQ(0, got.status);
  std::vector<check::RasterCommand> commands = check::RasterCommands(got.out);
  ASSERT_EQ(3u, commands.size());
  for (unsigned y = 0; y < 3; y++) {
    EXPECT_EQ(15840u, commands[y].row_bytes);
    EXPECT_TRUE(commands[y].data ==
                std::string(dots.data.begin() + y * 15840, dots.data.begin() + (y + 1) * 15840))
        << "row " << y;
  }
}

// Line y carries the bytes 4y+1 (black) to 4y+4 (yellow): the rows of a
// band name the lines they came from. Two row slots, bands of four rows.
const std::string kKcmyBands = "ESC i 00 00 01 0001 0001 01\n"
                               "ESC i 02 00 01 0001 0001 02\n"
                               "ESC i 01 00 01 0001 0001 03\n"
                               "ESC i 04 00 01 0001 0001 04\n"
                               "ESC ( v 01 00 | ESC i 00 00 01 0001 0003 05 0d 15\n"
                               "ESC i 02 00 01 0001 0003 06 0e 16\n"
                               "ESC i 01 00 01 0001 0003 07 0f 17\n"
                               "ESC i 04 00 01 0001 0003 08 10 18\n"
                               "ESC ( v 01 00 | ESC i 00 00 01 0001 0004 09 11 19 21\n"
                               "ESC i 02 00 01 0001 0004 0a 12 1a 22\n"
                               "ESC i 01 00 01 0001 0004 0b 13 1b 23\n"
                               "ESC i 04 00 01 0001 0004 0c 14 1c 24\n"
                               "ESC ( v 05 00 | ESC i 00 00 01 0001 0003 1d 25 2d\n"
                               "ESC i 02 00 01 0001 0003 1e 26 2e\n"
                               "ESC i 01 00 01 0001 0003 1f 27 2f\n"
                               "ESC i 04 00 01 0001 0003 20 28 30\n"
                               "ESC ( v 03 00 | ESC i 00 00 01 0001 0001 29\n"
                               "ESC i 02 00 01 0001 0001 2a\n"
                               "ESC i 01 00 01 0001 0001 2b\n"
                               "ESC i 04 00 01 0001 0001 2c\n";

// A woven four-ink page sends its bands in the order the head passes reach
// them: per pass the planes in K, C, M, Y order, each with its feed and the
// rows of its band, the offset heads' planes at their own rows.
TEST(WovenBands, FourInkPageSendsItsBandsInPassOrder)
{
  harness::TestPage page =
      harness::DescribePage("fam=7 res=720x720 space=KCMY bits=1 w=8 h=12 weave=8/0/2");
  std::string raster =
      harness::WriteRaster({harness::MakePage(page.header, [](unsigned line, unsigned index) {
        return (unsigned char)(line * 4 + index + 1);
      })});
  harness::Result got = harness::RunFilter({harness::WritePpd(7, page.sizes), raster});
  ASSERT_EQ(0, got.status);
  // Each band as its feed, then colour, rows and the bytes of its rows.
  std::string order;
  for (const preview::Command &c : preview::ReadCommands(got.out)) {
    if (c.words.rfind("ESC ( v", 0) == 0) order += c.words + " | ";
    if (c.words.rfind("ESC i", 0) == 0)
      order += c.words.substr(0, c.words.rfind(" <")) + " " +
               harness::ToHex(got.out.substr(c.offset + 9, c.length - 9)) + "\n";
  }
  EXPECT_EQ(kKcmyBands, order);
}

}  // namespace
