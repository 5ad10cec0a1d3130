// The commands that open a page, checked on blank pages: nothing on such a
// page is printed, so the printer receives the job start, the page-start
// commands (reset, remote-mode media settings, ESC/P2 set-up, dot size and
// raster unit), the form feed and the job end, and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check.h"
#include "expect.h"
#include "harness.h"

namespace {

// The job frame a family gets: the packet-mode exit at start for the older
// families, the remote-mode defaults at end for the large-format ones.
enum Frame
{
  EJL,
  REMOTE
};

std::string JobStart(Frame f)
{
  return f == EJL ? expect::kJobStartEjl : expect::kJobStartNone;
}
std::string JobEnd(Frame f)
{
  return f == EJL ? expect::kJobEndReset : expect::kJobEndRemote;
}

// Pieces that recur in nearly every page start.
const std::string kReset = "ESC @ | ";
const std::string kRemote = "ESC ( R 00 52 45 4d 4f 54 45 31 | ST 00 00 | ";
const std::string kLeave = "ESC 00 00 00 | ";
const std::string kGraphics = "ESC ( G 01 | ";
const std::string kNuls = "ESC 00*27 | ";
// Remote mode with these settings after ST, then graphics mode.
std::string Open(const std::string &settings)
{
  return kReset + kRemote + settings + kLeave + kGraphics;
}
const std::string kOpen = Open("");
// The large-format defaults: A4 by its MS paper code, or the cutter off.
const std::string kOpenMs = Open("MS 00 00 03 00 00 00 00 00 | ");
const std::string kOpenAc = Open("AC 00 00 | ");
// A4 at 720 dpi with the default PPD: page length 8420 rows, top 85 rows.
const std::string kA4 = "ESC ( C e4 20 | ESC ( c 55 00 e4 20 | ESC ( V 55 00 | ";
// The same page sent as a paper dimension: 5950 x 8420 rows.
const std::string kA4Dim = "ESC ( S 3e 17 00 00 e4 20 00 00 | ";
const std::string kA4Top = "ESC ( c 55 00 e4 20 | ESC ( V 55 00 | ";
// A4 on families 9 and 11, whose head offsets move the top: 81 and 83 rows.
const std::string kA4Fam9 = "ESC ( C e4 20 | ESC ( c 51 00 e4 20 | ESC ( V 51 00 | ";
const std::string kA4Fam11 = "ESC ( C e4 20 | ESC ( c 53 00 e4 20 | ESC ( V 53 00 | ";
// The page unit of the families from 6 on at 720 dpi vertical, by
// horizontal resolution.
const std::string kUnit360 = "ESC ( U 02 02 04 a0 05 | ";
const std::string kUnit720 = "ESC ( U 02 02 02 a0 05 | ";
const std::string kUnit1440 = "ESC ( U 02 02 01 a0 05 | ";
const std::string kUnit2880 = "ESC ( U 04 04 01 40 0b | ";
// The one-byte unit of the families up to 5, 720 dpi vertical.
const std::string kUnit5 = "ESC ( U 05 | ";

struct StartCase
{
  const char *page;  // the page, in the words of harness::DescribePage
  Frame frame;
  std::string bytes;
};

// Runs one blank page and checks the whole job; with a trace, the debug
// lines too: set_up after the header dump, during_page after the first
// progress, page_end after the last message.
struct Trace
{
  std::vector<std::string> set_up, during_page, page_end;
};
void CheckBlankPage(const harness::TestPage &page, Frame frame, const std::string &bytes,
                    const Trace *trace = nullptr)
{
  std::string ppd = harness::WritePpd(page.family, page.sizes);
  std::string raster = harness::WriteRaster({harness::BlankPage(page.header)});
  harness::Result got = harness::RunFilter({ppd, raster});

  std::vector<std::string> err = expect::PageOpen(1, (int)page.header.NumCopies);
  if (trace) {
    check::Append(err, harness::HeaderDump(page.header));
    check::Append(err, trace->set_up);
  }
  err.push_back(expect::Progress(1, 0));
  if (trace) check::Append(err, trace->during_page);
  err.push_back(expect::PageDone(1));
  if (trace) check::Append(err, trace->page_end);
  std::string stream = JobStart(frame) + " | " + bytes + " | FF | " + JobEnd(frame);
  if (trace)
    check::ExpectTrace(got, stream, err, 0);
  else
    check::ExpectRun(got, stream, err, 0);
}

// One page start on a blank page, without the trace.
void CheckUnwoven(const StartCase &c)
{
  SCOPED_TRACE(c.page);
  CheckBlankPage(harness::DescribePage(c.page), c.frame, c.bytes);
}

// One row per printer family, 720 x 720 dpi unless named: which remote
// commands, unit form, paper command, page format, direction, NUL run and
// closing commands each family gets.
// clang-format off
const StartCase kFamilies[] = {
  {"fam=1", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01"},
  {"fam=2", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( e 00 01"},
  {"fam=3 res=360x360", EJL, kReset + kGraphics + "ESC ( U 0a | ESC ( C 72 10 | "
      "ESC ( c 2a 00 72 10 | ESC ( V 2a 00 | ESC U 00 | ESC ( i 01"},
  {"fam=4", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=5", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( e 00 02"},
  // Family 6 prints 2-bit dots from 720 dpi vertical on (see the contone
  // pages); at 360 dpi vertical it keeps 1-bit dots.
  {"fam=6 res=720x360", EJL, kOpen + "ESC ( U 04 04 02 a0 05 | ESC ( S 9f 0b 00 00 72 10 00 00 | "
      "ESC ( c 2a 00 72 10 | ESC ( V 2a 00 | ESC U 00 | ESC ( i 01 | ESC ( D 40 38 28 14 | "
      "ESC ( e 00 02"},
  {"fam=7", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | "
      "ESC ( e 00 02"},
  {"fam=8", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 02 | ESC ( e 00 11"},
  {"fam=9", EJL, kOpen + kUnit720 + kA4Fam9 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 02 | ESC ( e 00 10"},
  {"fam=10", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 02 | ESC ( e 00 11"},
  {"fam=11", EJL, kOpen + kUnit720 + kA4Fam11 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 02 | ESC ( e 00 11"},
  {"fam=5000", REMOTE, kOpenMs + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5500", REMOTE, kOpenMs + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14"},
  {"fam=9000", REMOTE, kOpenAc + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=9600", REMOTE, kOpenAc + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=10000", REMOTE, kOpenAc + kUnit720 + kA4Dim + "ESC ( c 55 00 00 00 56 00 00 00 | "
      "ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  // Numbers no family uses fall into the ranges their value places them in.
  {"fam=0", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01"},
  {"fam=12", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01"},
  {"fam=4999", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01"},
  {"fam=7000", REMOTE, kOpen + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
};
// clang-format on

TEST(PageStart, EachFamilyGetsItsCommands)
{
  for (const StartCase &c : kFamilies) CheckUnwoven(c);
}

// Family 5000's MS command names the paper by its length alone; any other
// length goes as a custom size in 1/360 inch. The page length command
// follows the length too.
struct SizeCase
{
  unsigned width, length;
  std::string ms;    // the six size bytes of MS
  std::string rows;  // the page length in rows, 16 bits
};
// clang-format off
const SizeCase kSizes[] = {
  {729, 516, "04 01 00 00 00 00", "28 14"},
  {842, 595, "03 01 00 00 00 00", "3e 17"},
  {792, 612, "08 01 00 00 00 00", "e8 17"},
  {516, 729, "04 00 00 00 00 00", "7a 1c"},
  {612, 792, "08 00 00 00 00 00", "f0 1e"},
  {595, 842, "03 00 00 00 00 00", "e4 20"},
  {1000, 842, "03 00 00 00 00 00", "e4 20"},  // the width is not looked at
  {709, 1004, "0a 00 00 00 00 00", "38 27"},
  {729, 1032, "02 00 00 00 00 00", "50 28"},
  {842, 1191, "01 00 00 00 00 00", "86 2e"},
  {792, 1224, "2d 00 00 00 00 00", "d0 2f"},
  {1032, 1369, "20 00 00 00 00 00", "7a 35"},
  {612, 1000, "ff ff f4 0b 88 13", "10 27"},
  {595, 843, "ff ff 9f 0b 77 10", "ee 20"},
  {100, 200, "ff ff f4 01 e8 03", "d0 07"},
};
// clang-format on

TEST(PageStart, PaperSizeOfFamily5000)
{
  for (const SizeCase &c : kSizes) {
    std::string page = "fam=5000 size=" + std::to_string(c.width) + "x" + std::to_string(c.length);
    std::string bytes = Open("MS 00 00 " + c.ms + " | ") + kUnit720 + "ESC ( C " + c.rows +
                        " | ESC ( c 55 00 " + c.rows + " | ESC ( V 55 00 | ESC U 00 | " + kNuls +
                        "ESC ( i 01";
    CheckUnwoven({page.c_str(), REMOTE, bytes});
  }
}

// Dot size, mono/colour and raster unit by family, resolution, media and
// dot depth; with them the unit, print direction and microweave that the
// resolution and depth choose.
// clang-format off
const StartCase kDotSizes[] = {
  {"fam=2 res=720x360", EJL, kReset + kGraphics + "ESC ( U 0a | ESC ( C 72 10 | "
      "ESC ( c 2a 00 72 10 | ESC ( V 2a 00 | ESC U 00 | ESC ( i 01"},
  {"fam=2 res=360x720", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( e 00 01"},
  {"fam=3 res=360x720", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( e 00 01"},
  {"fam=4 res=360x720", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( e 00 02"},
  {"fam=4 res=360x720 media=Transparency", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( e 00 03"},
  {"fam=4 media=Plain", EJL, kOpen + kUnit5 + kA4 + "ESC U 01 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( e 00 01"},
  {"fam=4 media=Transparency", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( e 00 01"},
  {"fam=4 space=KCMY", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 02 | "
      "ESC ( e 00 02"},
  {"fam=5 res=360x720", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( e 00 02"},
  {"fam=5 res=360x720 media=Transparency", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( e 00 03"},
  {"fam=5 media=Plain", EJL, kOpen + kUnit5 + kA4 + "ESC U 01 | ESC ( i 01 | ESC ( e 00 01"},
  {"fam=7 res=360x720", EJL, kOpen + kUnit360 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 28 | ESC ( e 00 02"},
  {"fam=7 res=360x720 media=Transparency", EJL, kOpen + kUnit360 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 28 | ESC ( e 00 03"},
  {"fam=7 media=Plain", EJL, kOpen + kUnit720 + kA4 + "ESC U 01 | ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 01"},
  {"fam=7 media=Transparency", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 01"},
  {"fam=7 comp=1", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | "
      "ESC ( e 00 02"},
  {"fam=7 res=1440x720 media=Plain", EJL, kOpen + kUnit1440 + kA4 + "ESC U 01 | ESC ( i 03 | "
      "ESC ( D 40 38 14 0a | ESC ( e 00 04"},
  {"fam=7 res=1440x720", EJL, kOpen + kUnit1440 + kA4 + "ESC U 00 | ESC ( i 03 | "
      "ESC ( D 40 38 14 0a | ESC ( e 00 01"},
  {"fam=7 res=2880x720", EJL, kOpen + kUnit2880 + kA4 + "ESC U 00 | ESC ( i 03 | "
      "ESC ( D 40 38 14 05 | ESC ( e 00 12"},
  {"fam=7 media=PlainPaper", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=8 res=360x720", EJL, kOpen + kUnit360 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 04 | ESC ( e 00 12"},
  {"fam=8 media=Plain", EJL, kOpen + kUnit720 + kA4 + "ESC U 01 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 02 | ESC ( e 00 13"},
  {"fam=8 res=1440x720 media=Transparency", EJL, kOpen + kUnit1440 + kA4 + "ESC U 00 | "
      "ESC ( i 03 | ESC ( K 00 01 | ESC ( D a0 05 02 01 | ESC ( e 00 13"},
  {"fam=8 res=1440x720", EJL, kOpen + kUnit1440 + kA4 + "ESC U 00 | ESC ( i 03 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 01 | ESC ( e 00 11"},
  // At 2880 dpi a raster unit of 1/1440 inch would space the dots 0 apart:
  // families 8 to 11 count it in 1/2880 inch there.
  {"fam=8 res=2880x720", EJL, kOpen + kUnit2880 + kA4 + "ESC U 00 | ESC ( i 03 | ESC ( K 00 01 | "
      "ESC ( D 40 0b 04 01 | ESC ( e 00 10"},
  {"fam=9 res=360x720", EJL, kOpen + kUnit360 + kA4Fam9 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 04 | ESC ( e 00 13"},
  {"fam=9 res=1440x720 media=Plain", EJL, kOpen + kUnit1440 + kA4Fam9 + "ESC U 01 | ESC ( i 03 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 01 | ESC ( e 00 10"},
  {"fam=9 res=2880x720", EJL, kOpen + kUnit2880 + kA4Fam9 + "ESC U 00 | ESC ( i 03 | "
      "ESC ( K 00 01 | ESC ( D 40 0b 04 01 | ESC ( e 00 10"},
  {"fam=10 res=360x720", EJL, kOpen + kUnit360 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 04 | ESC ( e 00 12"},
  {"fam=10 res=1440x720", EJL, kOpen + kUnit1440 + kA4 + "ESC U 00 | ESC ( i 03 | ESC ( K 00 01 | "
      "ESC ( D a0 05 02 01 | ESC ( e 00 11"},
  {"fam=10 res=2880x720", EJL, kOpen + kUnit2880 + kA4 + "ESC U 00 | ESC ( i 03 | ESC ( K 00 01 | "
      "ESC ( D 40 0b 04 01 | ESC ( e 00 10"},
  {"fam=11 res=360x720", EJL, kOpen + kUnit360 + kA4Fam11 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 04 | ESC ( e 00 12"},
  {"fam=11 media=Plain", EJL, kOpen + kUnit720 + kA4Fam11 + "ESC U 01 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 02 | ESC ( e 00 14"},
  {"fam=11 media=Transparency", EJL, kOpen + kUnit720 + kA4Fam11 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 02 | ESC ( e 00 14"},
  {"fam=11 res=1440x720", EJL, kOpen + kUnit1440 + kA4Fam11 + "ESC U 00 | ESC ( i 03 | "
      "ESC ( K 00 01 | ESC ( D a0 05 02 01 | ESC ( e 00 11"},
  {"fam=11 res=2880x720", EJL, kOpen + kUnit2880 + kA4Fam11 + "ESC U 00 | ESC ( i 03 | "
      "ESC ( K 00 01 | ESC ( D 40 0b 04 01 | ESC ( e 00 10"},
  {"fam=5500 comp=2", REMOTE, kOpenMs + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14"},
  {"fam=9000 res=1440x720 media=Plain", REMOTE, kOpenAc + kUnit1440 + kA4 + "ESC U 01 | " +
      kNuls + "ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 04"},
  {"fam=9600 res=360x720 media=Transparency", REMOTE, kOpenAc + kUnit360 + kA4 + "ESC U 00 | " +
      kNuls + "ESC ( i 01 | ESC ( D 40 38 14 28 | ESC ( e 00 03"},
  {"fam=10000 res=2880x720", REMOTE, kOpenAc + kUnit2880 + kA4Dim +
      "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 03 | "
      "ESC ( D 40 38 14 05 | ESC ( e 00 12"},
  {"fam=10000 media=Plain", REMOTE, kOpenAc + kUnit720 + kA4Dim +
      "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 01"},
};
// clang-format on

TEST(PageStart, DotSizeUnitDirectionAndMicroweave)
{
  for (const StartCase &c : kDotSizes) CheckUnwoven(c);
}

// The remote-mode media settings: the nibbles of cupsMediaType, the paper
// source, the MS paper code and the cutter.
// clang-format off
const StartCase kMedia[] = {
  {"fam=4 pos=2", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | "
      "ESC ( e 00 02"},
  {"fam=4 mtype=0x10 pos=2", EJL, Open("SN 00 01 01 | EX 00 00 00 00 05 02 | ") + kUnit5 + kA4 +
      "ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0xf0", EJL, Open("SN 00 01 f0 | ") + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0x5f", EJL, Open("SN 00 00 0f | SN 00 01 05 | ") + kUnit5 + kA4 + "ESC U 00 | "
      "ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0x0f00", EJL, Open("SN 00 01 00 | MT 00 00 0f | ") + kUnit5 + kA4 + "ESC U 00 | "
      "ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0xf000", EJL, Open("SN 00 01 00 | PH 00 0f | ") + kUnit5 + kA4 + "ESC U 00 | "
      "ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0x10000", EJL, Open("SN 00 01 00 | ") + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=4 mtype=0x1 pos=0x123", EJL,
      Open("SN 00 00 01 | SN 00 01 00 | EX 00 00 00 00 05 23 | ") + kUnit5 + kA4 + "ESC U 00 | "
      "ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=7 mtype=0x23 pos=4", EJL, Open("SN 00 00 03 | SN 00 01 02 | EX 00 00 00 00 05 04 | ") +
      kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=12 mtype=0x10 pos=9", EJL, Open("SN 00 01 01 | EX 00 00 00 00 05 09 | ") + kUnit720 +
      kA4 + "ESC U 00 | ESC ( i 01"},
  {"fam=3 mtype=0x1203 pos=5", EJL, kReset + kGraphics + kUnit5 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( e 00 01"},
  {"fam=5000 mtype=0x1203 pos=0x21", REMOTE,
      Open("SN 00 00 03 | SN 00 01 00 | PC 00 00 | PP 00 02 01 | MT 00 00 02 | PH 00 01 | "
      "MS 00 00 03 00 00 00 00 00 | ") + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5000 mtype=0x10 pos=47", REMOTE,
      Open("SN 00 01 01 | PC 00 00 | PP 00 02 0f | MS 00 00 03 00 00 00 00 00 | ") + kUnit720 +
      kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5000 mtype=0x10 pos=48", REMOTE,
      Open("SN 00 01 01 | PC 00 00 | PP 00 03 00 | MS 00 01 03 00 00 00 00 00 | ") + kUnit720 +
      kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5000 pos=48", REMOTE, Open("MS 00 01 03 00 00 00 00 00 | ") + kUnit720 + kA4 +
      "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5000 cut=1", REMOTE, kOpenMs + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=5500 mtype=0x10", REMOTE,
      Open("SN 00 01 01 | SN 00 02 00 | SN 00 06 00 | MS 00 00 03 00 00 00 00 00 | ") +
      kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14"},
  {"fam=7000 mtype=0x10 pos=0x21", REMOTE, Open("SN 00 01 01 | PC 00 00 | PP 00 02 01 | ") +
      kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01"},
  {"fam=9000 mtype=0x10 pos=0x123", REMOTE,
      Open("SN 00 01 01 | PC 00 00 | PP 00 12 03 | AC 00 00 | ") + kUnit720 + kA4 + "ESC U 00 | "
      "" + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=9000 cut=1", REMOTE, Open("AC 00 01 | ") + kUnit720 + kA4 + "ESC U 00 | " + kNuls +
      "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=10000 cut=2", REMOTE, Open("AC 00 01 | ") + kUnit720 + kA4Dim +
      "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
};
// clang-format on

TEST(PageStart, RemoteModeMediaSettings)
{
  for (const StartCase &c : kMedia) CheckUnwoven(c);
}

// Paper dimension or page length, page format and top position, by the
// PPD's page sizes and the page's own length.
// clang-format off
const StartCase kPaper[] = {
  {"fam=10000 size=612x792", REMOTE, kOpenAc + kUnit720 + "ESC ( S e8 17 00 00 f0 1e 00 00 | "
      "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=low", EJL, kOpen + kUnit720 + kA4Dim + kA4Top + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=lowsecond", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=one", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 00 00 e4 20 | "
      "ESC ( V 00 00 | ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=onelow", EJL, kOpen + kUnit720 + kA4Dim + "ESC ( c 00 00 e4 20 | ESC ( V 00 00 | "
      "ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=none", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 00 00 e4 20 | "
      "ESC ( V 00 00 | ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=9 ppd=none", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 00 00 e4 20 | "
      "ESC ( V 00 00 | ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | ESC ( D a0 05 02 02 | "
      "ESC ( e 00 10"},
  {"fam=10000 ppd=none", REMOTE, kOpenAc + kUnit720 + kA4Dim + "ESC ( c 00 00 00 00 01 00 00 00 | "
      "ESC ( V 00 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 ppd=tall", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c b0 ff e4 20 | "
      "ESC ( V b0 ff | ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=9 ppd=tall", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 00 00 e4 20 | "
      "ESC ( V 00 00 | ESC U 00 | ESC ( i 01 | ESC ( K 00 01 | ESC ( D a0 05 02 02 | "
      "ESC ( e 00 10"},
  {"fam=7 ppd=three size=612x792", EJL, kOpen + kUnit720 + "ESC ( C f0 1e | ESC ( c b4 00 f0 1e | "
      "ESC ( V b4 00 | ESC U 00 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=10000 size=612x7000", REMOTE, kOpenAc + kUnit720 + "ESC ( S e8 17 00 00 70 11 01 00 | "
      "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=10000 h=5", REMOTE, kOpenAc + kUnit720 + kA4Dim + "ESC ( c 55 00 00 00 5a 00 00 00 | "
      "ESC ( V 55 00 | ESC U 02 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
};
// clang-format on

TEST(PageStart, PaperDimensionPageFormatAndTop)
{
  for (const StartCase &c : kPaper) CheckUnwoven(c);
}

// Contone pages dither with a lookup table built from the family's dot
// sizes and log it; 8 bits per colour also choose the print direction. They
// are also the pages that print 2-bit dots.
struct ContoneCase
{
  const char *page;
  Frame frame;
  int bit_planes, buffer_size;
  const char *dither;  // the first three dot sizes of the chosen row
  std::vector<harness::LutRun> lut;
  std::string bytes;
};
// clang-format off
const ContoneCase kContone[] = {
  {"fam=7 bits=8", EJL, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kOpen + kUnit720 +
      kA4 + "ESC U 01 | ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=7 bits=8 res=360x720", EJL, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}},
      kOpen + kUnit360 + kA4 + "ESC U 01 | ESC ( i 01 | ESC ( D 40 38 14 28 | ESC ( e 00 02"},
  {"fam=7 bits=8 res=1440x720", EJL, 1, 2, "0 383 0", {{0, 126, 0, 0}, {127, 255, 1, 383}},
      kOpen + kUnit1440 + kA4 + "ESC U 00 | ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 01"},
  {"fam=6 bits=8", EJL, 2, 4, "0 115 173",
      {{0, 57, 0, 0}, {58, 144, 1, 115}, {145, 214, 2, 173}, {215, 255, 3, 255}}, kOpen +
      kUnit720 + kA4Dim + kA4Top + "ESC U 01 | ESC ( i 02 | ESC ( D 40 38 14 14 | ESC ( e 00 10"},
  {"fam=6 bits=8 res=1440x720", EJL, 2, 4, "0 173 260",
      {{0, 86, 0, 0}, {87, 213, 1, 173}, {214, 255, 2, 260}}, kOpen + kUnit1440 + kA4Dim +
      kA4Top + "ESC U 00 | ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 10"},
  {"fam=6 bits=8 res=2880x720", EJL, 2, 4, "0 230 346",
      {{0, 115, 0, 0}, {116, 241, 1, 230}, {242, 255, 2, 346}}, kOpen + kUnit2880 + kA4Dim +
      kA4Top + "ESC U 00 | ESC ( i 03 | ESC ( D 40 38 14 05 | ESC ( e 00 12"},
  {"fam=7 bits=8 comp=2", EJL, 2, 4, "0 140 255",
      {{0, 70, 0, 0}, {71, 197, 1, 140}, {198, 255, 2, 255}}, kOpen + kUnit720 + kA4 +
      "ESC U 01 | ESC ( i 02 | ESC ( D 40 38 14 14 | ESC ( e 00 10"},
  {"fam=7 bits=8 comp=2 res=720x360", EJL, 2, 4, "0 140 255",
      {{0, 70, 0, 0}, {71, 197, 1, 140}, {198, 255, 2, 255}}, kOpen + "ESC ( U 04 04 02 a0 05 | "
      "ESC ( C 72 10 | ESC ( c 2a 00 72 10 | ESC ( V 2a 00 | ESC U 01 | ESC ( i 01 | "
      "ESC ( D 40 38 28 14 | ESC ( e 00 10"},
  {"fam=7 bits=8 comp=2 res=1440x720", EJL, 2, 4, "0 210 383",
      {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, kOpen + kUnit1440 + kA4 +
      "ESC U 00 | ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 10"},
  {"fam=8 bits=8 comp=2 res=360x720", EJL, 2, 4, "0 127 191",
      {{0, 63, 0, 0}, {64, 159, 1, 127}, {160, 223, 2, 191}, {224, 255, 3, 255}}, kOpen +
      kUnit360 + kA4 + "ESC U 01 | ESC ( i 01 | ESC ( K 00 01 | ESC ( D a0 05 02 04 | "
      "ESC ( e 00 12"},
  {"fam=8999 bits=8", REMOTE, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kOpen +
      kUnit720 + kA4 + "ESC U 01 | " + kNuls + "ESC ( i 01"},
  {"fam=9000 bits=8 media=Plain", REMOTE, 1, 2, "0 283 0", {{0, 126, 0, 0}, {127, 255, 1, 283}},
      kOpenAc + kUnit720 + kA4 + "ESC U 01 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | "
      "ESC ( e 00 01"},
  {"fam=9000 bits=8 media=Glossy", REMOTE, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}},
      kOpenAc + kUnit720 + kA4 + "ESC U 00 | " + kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | "
      "ESC ( e 00 02"},
  {"fam=10000 bits=8", REMOTE, 1, 2, "0 106 213", {{0, 53, 0, 0}, {54, 255, 1, 106}}, kOpenAc +
      kUnit720 + kA4Dim + "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " +
      kNuls + "ESC ( i 01 | ESC ( D 40 38 14 14 | ESC ( e 00 02"},
  {"fam=10000 bits=8 comp=2 res=360x720", REMOTE, 2, 4, "0 85 170",
      {{0, 42, 0, 0}, {43, 127, 1, 85}, {128, 212, 2, 170}, {213, 255, 3, 255}}, kOpenAc +
      kUnit360 + kA4Dim + "ESC ( c 55 00 00 00 56 00 00 00 | ESC ( V 55 00 | ESC U 02 | " +
      kNuls + "ESC ( i 01 | ESC ( D 40 38 14 28 | ESC ( e 00 10"},
  {"fam=5500 bits=8 mtype=0x10 res=1440x720", REMOTE, 2, 4, "0 210 383",
      {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, Open("SN 00 01 01 | SN 00 02 02 | "
      "SN 00 06 01 | MS 00 00 03 00 00 00 00 00 | ") + kUnit1440 + kA4 + "ESC U 00 | " + kNuls +
      "ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 10"},
  {"fam=5500 bits=8 res=1440x720", REMOTE, 2, 4, "0 210 383",
      {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, kOpenMs + kUnit1440 + kA4 +
      "ESC U 00 | " + kNuls + "ESC ( i 03 | ESC ( D 40 38 14 0a | ESC ( e 00 10"},
};
// clang-format on

TEST(PageStart, ContonePages)
{
  for (const ContoneCase &c : kContone) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(c.page);
    std::vector<std::string> set_up = {expect::BitPlanes(c.bit_planes),
                                       std::string("DEBUG: dither = PTR [") + c.dither + "]",
                                       "DEBUG: DitherLut ="};
    check::Append(set_up, harness::LutDump(c.lut));
    check::Append(set_up, expect::PoolHead({c.buffer_size, 1, 1, 1, 1, 1}, page.family));
    Trace trace = {set_up, {}, {}};
    CheckBlankPage(page, c.frame, c.bytes, &trace);
  }
}

// Pre-dithered 1-bit lines read as 2-bit dots would print squeezed and
// garbled: such pages are refused before any of their bytes is sent.
TEST(PageStart, BitmapPageOnTwoBitDotsIsRefused)
{
  struct Case
  {
    const char *page;
    const char *reason;
  };
  const Case kCases[] = {
      {"fam=6", "cupsCompression 0 at 720x720 dpi"},
      {"fam=7 comp=2", "cupsCompression 2 at 720x720 dpi"},
      {"fam=5500 res=1440x720", "cupsCompression 0 at 1440x720 dpi"},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(c.page);
    harness::Result got =
        harness::RunFilter({harness::WritePpd(page.family, page.sizes),
                            harness::WriteRaster({harness::BlankPage(page.header)})});
    bool large = page.family >= 5000;
    check::ExpectRun(got,
                     (large ? expect::kJobStartNone : expect::kJobStartEjl) + " " +
                         (large ? expect::kJobEndRemote : expect::kJobEndReset),
                     {std::string("ERROR: Page 1: pre-dithered 1-bit pages cannot be printed with "
                                  "2-bit dots (") +
                      c.reason + ")."},
                     1);
  }
}

// Woven pages: the microweave is off, and the raster unit carries the
// interleave; offset heads move the top.
// clang-format off
const StartCase kWoven[] = {
  {"fam=7 weave=8/7/4", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 00 | "
      "ESC ( D 40 38 50 14 | ESC ( e 00 02"},
  // Offset heads: family 9 raises the first band's top by two passes.
  {"fam=9 weave=8/7/4", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 45 00 e4 20 | "
      "ESC ( V 45 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 01 | ESC ( D a0 05 08 02 | "
      "ESC ( e 00 10"},
  {"fam=9 weave=12/12/4", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 35 00 e4 20 | "
      "ESC ( V 35 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 01 | ESC ( D a0 05 08 02 | "
      "ESC ( e 00 10"},
  {"fam=9 weave=96/96/8", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 00 00 e4 20 | "
      "ESC ( V 00 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 01 | ESC ( D a0 05 10 02 | "
      "ESC ( e 00 10"},
  {"fam=9 space=KCMY weave=48/48/8", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | "
      "ESC ( c 00 00 e4 20 | ESC ( V 00 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 02 | "
      "ESC ( D a0 05 10 02 | ESC ( e 00 10"},
  {"fam=11 weave=8/7/4", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | ESC ( c 45 00 e4 20 | "
      "ESC ( V 45 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 01 | ESC ( D a0 05 08 02 | "
      "ESC ( e 00 11"},
  {"fam=11 space=KCMY weave=8/7/4", EJL, kOpen + kUnit720 + "ESC ( C e4 20 | "
      "ESC ( c 45 00 e4 20 | ESC ( V 45 00 | ESC U 00 | ESC ( i 00 | ESC ( K 00 02 | "
      "ESC ( D a0 05 08 02 | ESC ( e 00 11"},
  // Family 10 prints grey with three times the rows at a third of the step,
  // and its raster unit follows the reduced step.
  {"fam=10 weave=48/48/6", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 00 | ESC ( K 00 01 | "
      "ESC ( D a0 05 04 02 | ESC ( e 00 11"},
  // Two columns: a pre-dithered line of 8 pixels is one byte, as is the row
  // of 4 pixels that each column's band takes (the bitmap goes to column 0).
  {"fam=4 w=8 weave=32/32/204", EJL, kOpen + kUnit5 + kA4 + "ESC U 00 | ESC ( i 00 | "
      "ESC ( K 00 01 | ESC ( e 00 02"},
  {"fam=7 w=8 res=1440x720 media=Plain weave=16/16/208", EJL, kOpen + kUnit1440 + kA4 +
      "ESC U 01 | ESC ( i 00 | ESC ( D 40 38 a0 14 | ESC ( e 00 04"},
  {"fam=7 space=KCMYcm weave=4/4/2", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 00 | "
      "ESC ( D 40 38 28 14 | ESC ( e 00 02"},
  // A vertical interleave given as 00 is taken as 1.
  {"fam=7 w=8 weave=8/8/200", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 00 | "
      "ESC ( D 40 38 14 28 | ESC ( e 00 02"},
  {"fam=7 weave=2/2/0", EJL, kOpen + kUnit720 + kA4 + "ESC U 00 | ESC ( i 00 | "
      "ESC ( D 40 38 14 14 | ESC ( e 00 02"},
};
// clang-format on

TEST(PageStart, WovenPagesLayOutTheirBands)
{
  for (const StartCase &c : kWoven) CheckUnwoven(c);
}

}  // namespace

namespace {

// Peak memory of a run that allocates next to nothing, to measure others by
// (fork copies the test process's pages into the count).
long BaselineKb()
{
  static long baseline = 0;
  if (!baseline) {
    harness::TestPage page = harness::DescribePage("fam=4 w=16 h=1");
    harness::Run run = {harness::WritePpd(4, page.sizes),
                        harness::WriteRaster({harness::BlankPage(page.header)})};
    run.bounded = true;
    baseline = harness::RunFilter(run).peak_kb;
  }
  return baseline;
}

// Pages that cannot be printed right are refused at their header, before
// any buffer is allocated or any of their bytes sent: one ERROR line
// naming the page and what is wrong, the job's start and end commands, no
// more memory than a one-line job. Limits are pinned on both sides: the
// last page that prints and the first that is refused.
TEST(PageStart, PagesThatCannotPrintRightAreRefused)
{
  struct Case
  {
    const char *page;   // DescribePage words
    std::string error;  // empty: the page prints
  };
  // clang-format off
  const Case kCases[] = {
      {"bits=2", "2 bits per colour are not supported (1 or 8)."},
      {"bits=16", "16 bits per colour are not supported (1 or 8)."},
      {"space=KCMY bits=8 order=0 bpp=32", "colour order 0 is not supported (banded only)."},
      {"space=CMY bits=8 order=2", "colour order 2 is not supported (banded only)."},
      {"space=KCMY bits=8 w=10 bpl=41", "41 bytes per line do not match 10 pixels of 4 inks."},
      {"space=KCMY bits=1 w=20 bpl=11",
       "11 bytes per line do not match 4 inks of 3 bytes of pre-dithered dots each."},
      {"res=0x720", "unsupported resolution 0x720 dpi."},
      {"res=720x0", "unsupported resolution 720x0 dpi."},
      {"res=720x11520", "unsupported resolution 720x11520 dpi."},
      {"w=0 bpl=2", "the page is 0 pixels wide."},
      // Head passes: DotColStep x DotRowStep slots of the band table.
      {"fam=7 weave=4000/0/1299",
          "an interleave of 12 columns by 99 rows needs more than 128 head passes."},
      {"fam=4 bits=8 weave=64/0/432", ""},  // 4 x 32 = 128
      {"fam=4 weave=64/0/343",
          "an interleave of 3 columns by 43 rows needs more than 128 head passes."},
      // Rows of a band: ESC . carries them in one byte.
      {"fam=4 weave=510/0/2", ""},
      {"fam=4 weave=512/0/2", "bands of 256 rows of 16 dots are too large for the printer."},
      // 14400 / 360 x 8 = 320 does not fit the raster unit's byte; 240 does.
      {"fam=7 res=360x360 weave=16/0/8",
       "an interleave of 1 columns by 8 rows at 360x360 dpi does not fit the printer's raster "
       "unit."},
      {"fam=7 res=360x360 weave=12/0/6", ""},
      // Sizes no buffer should be made for.
      {"fam=7 bits=1 h=1 w=4000000000 bpl=500000000",
       "bands of 1 rows of 500000000 bytes are too large for the printer."},
      {"fam=7 space=KCMY bits=8 h=1 w=500000000 bpl=2000000000",
       "bands of 1 rows of 62500000 bytes are too large for the printer."},
      // Beyond 2 GB a line is more than the raster library reads.
      {"fam=7 space=KCMY bits=8 h=1 w=1000000000 bpl=4000000000",
       "the page header is damaged, cut short or describes no lines; the job was stopped there."},
      {"fam=4 bits=8 h=1 w=1000000000 bpl=1000000000",
       "bands of 1 rows of 1000000000 dots are too large for the printer."},
      {"fam=7 bits=1 h=8 w=16 weave=3000000000/0/4",
       "bands of 536870911 rows of 2 bytes are too large for the printer."},
      {"fam=9 bits=8 h=8 w=16 weave=4000000000/0/4",
       "bands of 1610612736 rows of 2 bytes are too large for the printer."},
      {"fam=11 bits=8 h=8 w=16 weave=4000000000/0/1",
       "bands of 2147483647 rows of 2 bytes are too large for the printer."},
      // 4 bands of 40000 rows of 65535 bytes: 10 GB, every count fitting its command.
      {"fam=7 bits=1 h=8 weave=40000/0/1 w=524280 bpl=65535",
       "the page would need 9999 MB of memory (524280 pixels wide, 40000 rows per pass)."},
      // Set-up values beyond the fields of the page commands.
      {"fam=7 size=612x7000", "a page of 612 x 7000 points at 720 dpi is more than the printer's "
       "page commands carry (65535 rows)."},
      {"fam=9000 res=360x360 size=612x14400", "a page of 612 x 14400 points at 360 dpi is more "
       "than the printer's page commands carry (65535 rows)."},
      {"fam=10000 size=612x4000000000", "a page of 612 x 4000000000 points at 720 dpi is more "
       "than the printer's page commands carry (4294967295 rows)."},
      {"ppd=deep", "a top margin of 999992165 rows at 720 dpi (from the PPD's page sizes) is more "
       "than the printer's commands carry (65535)."},
      {"fam=5000 size=14000x200", "a custom page of 14000 x 200 points is more than the printer's "
       "paper size command carries (13107 points)."},
      {"fam=8 res=5760x720", "5760x720 dpi in 1 interleave columns cannot be expressed in the "
       "printer's units of 1/1440 inch."},
      {"fam=7 res=1440x2880", "1440x2880 dpi in 1 interleave columns cannot be expressed in the "
       "printer's units of 1/1440 inch."},
      {"fam=7 res=300x720", "300x720 dpi in 1 interleave columns cannot be expressed in the "
       "printer's units of 1/1440 inch."},
      {"fam=4 res=1440x720", "1440x720 dpi in 1 interleave columns cannot be expressed in the "
       "printer's units of 1/3600 inch."},
      {"fam=5000 res=1440x720 weave=8/0/1", "1440x720 dpi in 1 interleave columns cannot be "
       "expressed in the printer's units of 1/3600 inch."},
      {"fam=5 space=KCMY bits=8 comp=2",
       "family 5 prints 1-bit dots only; 2-bit dots (cupsCompression 2) cannot be sent to it."},
      {"fam=9 space=KCMYcm bits=8 weave=96/0/8",
       "family 9 printers have no light inks; six-ink pages cannot be printed on them."},
  };
  // clang-format on
  long baseline = BaselineKb();
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(std::string("h=2 ") + c.page);
    // Absurd lines go as a header alone: the filter must not ask for data.
    uint64_t bytes = (uint64_t)page.header.cupsBytesPerLine * page.header.cupsHeight;
    harness::Page ink =
        bytes < (1u << 20)
            ? harness::MakePage(page.header, [](unsigned, unsigned) { return (unsigned char)0x55; })
            : harness::Page{page.header, {}};
    harness::Run run = {harness::WritePpd(page.family, page.sizes), harness::WriteRaster({ink})};
    run.bounded = true;
    harness::Result got = harness::RunFilter(run);
    if (c.error.empty()) {
      EXPECT_EQ(0, got.status) << got.err.back();
      EXPECT_EQ(0, check::Count(got.err, "ERROR: "));
      continue;
    }
    EXPECT_EQ(1, got.status);
    EXPECT_EQ(std::vector<std::string>{"ERROR: Page 1: " + c.error}, got.err);
    bool large = page.family >= 5000;
    std::string frame = (large ? expect::kJobStartNone : expect::kJobStartEjl) +
                        (large ? expect::kJobEndRemote : expect::kJobEndReset);
    std::string diff = harness::DiffStreams(harness::Hex(frame), got.out);
    EXPECT_TRUE(diff.empty()) << diff;
    EXPECT_LT(got.peak_kb, baseline + 8 * 1024) << "baseline " << baseline << " kB";
  }
}

}  // namespace
