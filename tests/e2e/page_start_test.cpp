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

using expect::Band;
using expect::Geometry;

// The job frame a family gets: the packet-mode exit at start for the older
// families, the remote-mode defaults at end for the large-format ones.
enum Frame { EJL, REMOTE };

std::string JobStart(Frame f) { return f == EJL ? expect::kJobStartEjl : expect::kJobStartNone; }
std::string JobEnd(Frame f) { return f == EJL ? expect::kJobEndReset : expect::kJobEndRemote; }

// Pieces that recur in nearly every page start.
const std::string kReset = "1b 40 | ";
const std::string kRemote = "1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | ";
const std::string kLeave = "1b 00 00 00 | ";
const std::string kGraphics = "1b 28 47 01 00 01 | ";
const std::string kNuls = "1b 00*27 | ";
// Remote mode with nothing but ST in it, then graphics mode.
const std::string kOpen = kReset + kRemote + kLeave + kGraphics;
// A4 at 720 dpi with the default PPD: page length 8420 rows, top 85 rows.
const std::string kA4 = "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 55 00 e4 20 | 1b 28 56 02 00 55 00 | ";
// The same page sent as a paper dimension: 5950 x 8420 rows.
const std::string kA4Dim = "1b 28 53 08 00 3e 17 00 00 e4 20 00 00 | ";
const std::string kA4Top = "1b 28 63 04 00 55 00 e4 20 | 1b 28 56 02 00 55 00 | ";
// The page unit of the families from 6 on at 720 dpi vertical, by
// horizontal resolution.
const std::string kUnit360 = "1b 28 55 05 00 02 02 04 a0 05 | ";
const std::string kUnit720 = "1b 28 55 05 00 02 02 02 a0 05 | ";
const std::string kUnit1440 = "1b 28 55 05 00 02 02 01 a0 05 | ";
const std::string kUnit2880 = "1b 28 55 05 00 04 04 01 40 0b | ";
// The one-byte unit of the families up to 5, 720 dpi vertical.
const std::string kUnit5 = "1b 28 55 01 00 05 | ";

struct StartCase {
  const char *page;  // the page, in the words of harness::DescribePage
  Frame frame;
  int bit_planes;   // logged BitPlanes
  int buffer_size;  // logged DotBufferSize
  std::string bytes;
};

// Runs one blank page and checks the whole job.
void CheckBlankPage(const harness::TestPage &page, Frame frame, const std::string &bytes,
                    const std::vector<std::string> &set_up,
                    const std::vector<std::string> &page_end = {},
                    const std::vector<std::string> &during_page = {}) {
  std::string ppd = harness::WritePpd(page.family, page.sizes);
  std::string raster = harness::WriteRaster({harness::BlankPage(page.header)});
  harness::Result got = harness::RunFilter(ppd, raster);

  std::vector<std::string> err = expect::PageOpen(1, (int)page.header.NumCopies);
  check::Append(err, harness::HeaderDump(page.header));
  check::Append(err, set_up);
  err.push_back(expect::Progress(1, 0));
  check::Append(err, during_page);
  err.push_back(expect::PageDone(1));
  check::Append(err, page_end);
  check::ExpectRun(got, JobStart(frame) + " | " + bytes + " | 0c | " + JobEnd(frame), err, 0);
}

// Unwoven bitmap pages: the band set-up logs one row per plane.
void CheckUnwoven(const StartCase &c) {
  SCOPED_TRACE(c.page);
  harness::TestPage page = harness::DescribePage(c.page);
  std::vector<std::string> set_up = {expect::BitPlanes(c.bit_planes)};
  check::Append(set_up, expect::PoolHead({c.buffer_size, 1, 1, 1, 1, 1}, page.family));
  CheckBlankPage(page, c.frame, c.bytes, set_up);
}

// One row per printer family, 720 x 720 dpi unless named: which remote
// commands, unit form, paper command, page format, direction, NUL run and
// closing commands each family gets.
const StartCase kFamilies[] = {
  {"fam=1", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=2", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=3 res=360x360", EJL, 1, 2, kReset + kGraphics + "1b 28 55 01 00 0a | 1b 28 43 02 00 72 10 | 1b 28 63 04 00 2a 00 72 10 | 1b 28 56 02 00 2a 00 | 1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=4", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=5", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 02"},
  // Family 6 prints 2-bit dots from 720 dpi vertical on (see the contone
  // pages); at 360 dpi vertical it keeps 1-bit dots.
  {"fam=6 res=720x360", EJL, 1, 2, kOpen + "1b 28 55 05 00 04 04 02 a0 05 | 1b 28 53 08 00 9f 0b 00 00 72 10 00 00 | 1b 28 63 04 00 2a 00 72 10 | 1b 28 56 02 00 2a 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 28 14 | 1b 28 65 02 00 00 02"},
  {"fam=7", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=8", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 11"},
  {"fam=9", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 51 00 e4 20 | 1b 28 56 02 00 51 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 10"},
  {"fam=10", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 11"},
  {"fam=11", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 11"},
  {"fam=5000", REMOTE, 1, 2, kReset + kRemote + "4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5500", REMOTE, 1, 2, kReset + kRemote + "4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14"},
  {"fam=9000", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=9600", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  // Numbers no family uses fall into the ranges their value places them in.
  {"fam=0", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=12", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=4999", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=7000", REMOTE, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
};

TEST(PageStart, EachFamilyGetsItsCommands) {
  for (const StartCase &c : kFamilies) CheckUnwoven(c);
}

// Family 5000's MS command names the paper by its length alone; any other
// length goes as a custom size in 1/360 inch. The page length command
// follows the length too.
struct SizeCase {
  unsigned width, length;
  std::string ms;      // the six size bytes of MS
  std::string rows;    // the page length in rows, 16 bits
};
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

TEST(PageStart, PaperSizeOfFamily5000) {
  for (const SizeCase &c : kSizes) {
    std::string page = "fam=5000 size=" + std::to_string(c.width) + "x" + std::to_string(c.length);
    std::string bytes = kReset + kRemote + "4d 53 08 00 00 00 " + c.ms + " | " + kLeave + kGraphics +
                        kUnit720 + "1b 28 43 02 00 " + c.rows + " | 1b 28 63 04 00 55 00 " + c.rows +
                        " | 1b 28 56 02 00 55 00 | 1b 55 00 | " + kNuls + "1b 28 69 01 00 01";
    CheckUnwoven({page.c_str(), REMOTE, 1, 2, bytes});
  }
}

// Dot size, mono/colour and raster unit by family, resolution, media and
// dot depth; with them the unit, print direction and microweave that the
// resolution and depth choose.
const StartCase kDotSizes[] = {
  {"fam=2 res=720x360", EJL, 1, 2, kReset + kGraphics + "1b 28 55 01 00 0a | 1b 28 43 02 00 72 10 | 1b 28 63 04 00 2a 00 72 10 | 1b 28 56 02 00 2a 00 | 1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=2 res=360x720", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=3 res=360x720", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=4 res=360x720", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 res=360x720 media=Transparency", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 03"},
  {"fam=4 media=Plain", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=4 media=Transparency", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=4 space=KCMY", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 02 | 1b 28 65 02 00 00 02"},
  {"fam=5 res=360x720", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=5 res=360x720 media=Transparency", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 03"},
  {"fam=5 media=Plain", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=7 res=360x720", EJL, 1, 2, kOpen + kUnit360 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 02"},
  {"fam=7 res=360x720 media=Transparency", EJL, 1, 2, kOpen + kUnit360 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 03"},
  {"fam=7 media=Plain", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 01"},
  {"fam=7 media=Transparency", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 01"},
  {"fam=7 comp=1", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 res=1440x720 media=Plain", EJL, 1, 2, kOpen + kUnit1440 + kA4 + "1b 55 01 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 04"},
  {"fam=7 res=1440x720", EJL, 1, 2, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 01"},
  {"fam=7 res=2880x720", EJL, 1, 2, kOpen + kUnit2880 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 05 | 1b 28 65 02 00 00 12"},
  {"fam=7 media=PlainPaper", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=8 res=360x720", EJL, 1, 2, kOpen + kUnit360 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 04 | 1b 28 65 02 00 00 12"},
  {"fam=8 media=Plain", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 13"},
  {"fam=8 res=1440x720 media=Transparency", EJL, 1, 2, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 01 | 1b 28 65 02 00 00 13"},
  {"fam=8 res=1440x720", EJL, 1, 2, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 01 | 1b 28 65 02 00 00 11"},
  // At 2880 dpi a raster unit of 1/1440 inch would space the dots 0 apart:
  // families 8 to 11 count it in 1/2880 inch there.
  {"fam=8 res=2880x720", EJL, 1, 2, kOpen + kUnit2880 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 40 0b 04 01 | 1b 28 65 02 00 00 10"},
  {"fam=9 res=360x720", EJL, 1, 2, kOpen + kUnit360 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 51 00 e4 20 | 1b 28 56 02 00 51 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 04 | 1b 28 65 02 00 00 13"},
  {"fam=9 res=1440x720 media=Plain", EJL, 1, 2, kOpen + kUnit1440 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 51 00 e4 20 | 1b 28 56 02 00 51 00 | 1b 55 01 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 01 | 1b 28 65 02 00 00 10"},
  {"fam=9 res=2880x720", EJL, 1, 2, kOpen + kUnit2880 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 51 00 e4 20 | 1b 28 56 02 00 51 00 | 1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 40 0b 04 01 | 1b 28 65 02 00 00 10"},
  {"fam=10 res=360x720", EJL, 1, 2, kOpen + kUnit360 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 04 | 1b 28 65 02 00 00 12"},
  {"fam=10 res=1440x720", EJL, 1, 2, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 01 | 1b 28 65 02 00 00 11"},
  {"fam=10 res=2880x720", EJL, 1, 2, kOpen + kUnit2880 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 40 0b 04 01 | 1b 28 65 02 00 00 10"},
  {"fam=11 res=360x720", EJL, 1, 2, kOpen + kUnit360 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 04 | 1b 28 65 02 00 00 12"},
  {"fam=11 media=Plain", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 01 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 14"},
  {"fam=11 media=Transparency", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 14"},
  {"fam=11 res=1440x720", EJL, 1, 2, kOpen + kUnit1440 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 01 | 1b 28 65 02 00 00 11"},
  {"fam=11 res=2880x720", EJL, 1, 2, kOpen + kUnit2880 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 53 00 e4 20 | 1b 28 56 02 00 53 00 | 1b 55 00 | 1b 28 69 01 00 03 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 40 0b 04 01 | 1b 28 65 02 00 00 10"},
  {"fam=5500 comp=2", REMOTE, 1, 2, kReset + kRemote + "4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14"},
  {"fam=9000 res=1440x720 media=Plain", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit1440 + kA4 + "1b 55 01 | " + kNuls + "1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 04"},
  {"fam=9600 res=360x720 media=Transparency", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit360 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 03"},
  {"fam=10000 res=2880x720", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit2880 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 05 | 1b 28 65 02 00 00 12"},
  {"fam=10000 media=Plain", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 01"},
};

TEST(PageStart, DotSizeUnitDirectionAndMicroweave) {
  for (const StartCase &c : kDotSizes) CheckUnwoven(c);
}

// The remote-mode media settings: the nibbles of cupsMediaType, the paper
// source, the MS paper code and the cutter.
const StartCase kMedia[] = {
  {"fam=4 pos=2", EJL, 1, 2, kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0x10 pos=2", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 45 58 06 00 00 00 00 00 05 02 | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0xf0", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 f0 | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0x5f", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 00 0f | 53 4e 03 00 00 01 05 | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0x0f00", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 00 | 4d 54 03 00 00 00 0f | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0xf000", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 00 | 50 48 02 00 00 0f | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0x10000", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 00 | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=4 mtype=0x1 pos=0x123", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 00 01 | 53 4e 03 00 00 01 00 | 45 58 06 00 00 00 00 00 05 23 | " + kLeave + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=7 mtype=0x23 pos=4", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 00 03 | 53 4e 03 00 00 01 02 | 45 58 06 00 00 00 00 00 05 04 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=12 mtype=0x10 pos=9", EJL, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 45 58 06 00 00 00 00 00 05 09 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01"},
  {"fam=3 mtype=0x1203 pos=5", EJL, 1, 2, kReset + kGraphics + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 65 02 00 00 01"},
  {"fam=5000 mtype=0x1203 pos=0x21", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 00 03 | 53 4e 03 00 00 01 00 | 50 43 02 00 00 00 | 50 50 03 00 00 02 01 | 4d 54 03 00 00 00 02 | 50 48 02 00 00 01 | 4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5000 mtype=0x10 pos=47", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 50 43 02 00 00 00 | 50 50 03 00 00 02 0f | 4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5000 mtype=0x10 pos=48", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 50 43 02 00 00 00 | 50 50 03 00 00 03 00 | 4d 53 08 00 00 01 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5000 pos=48", REMOTE, 1, 2, kReset + kRemote + "4d 53 08 00 00 01 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5000 cut=1", REMOTE, 1, 2, kReset + kRemote + "4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=5500 mtype=0x10", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 53 4e 03 00 00 02 00 | 53 4e 03 00 00 06 00 | 4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14"},
  {"fam=7000 mtype=0x10 pos=0x21", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 50 43 02 00 00 00 | 50 50 03 00 00 02 01 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=9000 mtype=0x10 pos=0x123", REMOTE, 1, 2, kReset + kRemote + "53 4e 03 00 00 01 01 | 50 43 02 00 00 00 | 50 50 03 00 00 12 03 | 41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=9000 cut=1", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 01 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000 cut=2", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 01 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
};

TEST(PageStart, RemoteModeMediaSettings) {
  for (const StartCase &c : kMedia) CheckUnwoven(c);
}

// Paper dimension or page length, page format and top position, by the
// PPD's page sizes and the page's own length.
const StartCase kPaper[] = {
  {"fam=10000 size=612x792", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + "1b 28 53 08 00 e8 17 00 00 f0 1e 00 00 | 1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=low", EJL, 1, 2, kOpen + kUnit720 + kA4Dim + kA4Top + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=lowsecond", EJL, 1, 2, kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=one", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=onelow", EJL, 1, 2, kOpen + kUnit720 + kA4Dim + "1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=none", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=9 ppd=none", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 10"},
  {"fam=10000 ppd=none", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 00 00 00 00 01 00 00 00 | 1b 28 56 02 00 00 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 ppd=tall", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 b0 ff e4 20 | 1b 28 56 02 00 b0 ff | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=9 ppd=tall", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 02 | 1b 28 65 02 00 00 10"},
  {"fam=7 ppd=three size=612x792", EJL, 1, 2, kOpen + kUnit720 + "1b 28 43 02 00 f0 1e | 1b 28 63 04 00 b4 00 f0 1e | 1b 28 56 02 00 b4 00 | 1b 55 00 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000 size=612x7000", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + "1b 28 53 08 00 e8 17 00 00 70 11 01 00 | 1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000 h=5", REMOTE, 1, 2, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 55 00 00 00 5a 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
};

TEST(PageStart, PaperDimensionPageFormatAndTop) {
  for (const StartCase &c : kPaper) CheckUnwoven(c);
}

// Contone pages dither with a lookup table built from the family's dot
// sizes and log it; 8 bits per colour also choose the print direction. They
// are also the pages that print 2-bit dots.
struct ContoneCase {
  const char *page;
  Frame frame;
  int bit_planes, buffer_size;
  const char *dither;  // the first three dot sizes of the chosen row
  std::vector<harness::LutRun> lut;
  std::string bytes;
};
const ContoneCase kContone[] = {
  {"fam=7 bits=8", EJL, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kOpen + kUnit720 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=7 bits=8 res=360x720", EJL, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kOpen + kUnit360 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 02"},
  {"fam=7 bits=8 res=1440x720", EJL, 1, 2, "0 383 0", {{0, 126, 0, 0}, {127, 255, 1, 383}}, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 01"},
  {"fam=6 bits=8", EJL, 2, 4, "0 115 173", {{0, 57, 0, 0}, {58, 144, 1, 115}, {145, 214, 2, 173}, {215, 255, 3, 255}}, kOpen + kUnit720 + kA4Dim + kA4Top + "1b 55 01 | 1b 28 69 01 00 02 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 10"},
  {"fam=6 bits=8 res=1440x720", EJL, 2, 4, "0 173 260", {{0, 86, 0, 0}, {87, 213, 1, 173}, {214, 255, 2, 260}}, kOpen + kUnit1440 + kA4Dim + kA4Top + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 10"},
  {"fam=6 bits=8 res=2880x720", EJL, 2, 4, "0 230 346", {{0, 115, 0, 0}, {116, 241, 1, 230}, {242, 255, 2, 346}}, kOpen + kUnit2880 + kA4Dim + kA4Top + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 05 | 1b 28 65 02 00 00 12"},
  {"fam=7 bits=8 comp=2", EJL, 2, 4, "0 140 255", {{0, 70, 0, 0}, {71, 197, 1, 140}, {198, 255, 2, 255}}, kOpen + kUnit720 + kA4 + "1b 55 01 | 1b 28 69 01 00 02 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 10"},
  {"fam=7 bits=8 comp=2 res=720x360", EJL, 2, 4, "0 140 255", {{0, 70, 0, 0}, {71, 197, 1, 140}, {198, 255, 2, 255}}, kOpen + "1b 28 55 05 00 04 04 02 a0 05 | 1b 28 43 02 00 72 10 | 1b 28 63 04 00 2a 00 72 10 | 1b 28 56 02 00 2a 00 | 1b 55 01 | 1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 28 14 | 1b 28 65 02 00 00 10"},
  {"fam=7 bits=8 comp=2 res=1440x720", EJL, 2, 4, "0 210 383", {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, kOpen + kUnit1440 + kA4 + "1b 55 00 | 1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 10"},
  {"fam=8 bits=8 comp=2 res=360x720", EJL, 2, 4, "0 127 191", {{0, 63, 0, 0}, {64, 159, 1, 127}, {160, 223, 2, 191}, {224, 255, 3, 255}}, kOpen + kUnit360 + kA4 + "1b 55 01 | 1b 28 69 01 00 01 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 02 04 | 1b 28 65 02 00 00 12"},
  {"fam=8999 bits=8", REMOTE, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kOpen + kUnit720 + kA4 + "1b 55 01 | " + kNuls + "1b 28 69 01 00 01"},
  {"fam=9000 bits=8 media=Plain", REMOTE, 1, 2, "0 283 0", {{0, 126, 0, 0}, {127, 255, 1, 283}}, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 01 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 01"},
  {"fam=9000 bits=8 media=Glossy", REMOTE, 1, 2, "0 255 0", {{0, 127, 0, 0}, {128, 255, 1, 255}}, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000 bits=8", REMOTE, 1, 2, "0 106 213", {{0, 53, 0, 0}, {54, 255, 1, 106}}, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit720 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
  {"fam=10000 bits=8 comp=2 res=360x720", REMOTE, 2, 4, "0 85 170", {{0, 42, 0, 0}, {43, 127, 1, 85}, {128, 212, 2, 170}, {213, 255, 3, 255}}, kReset + kRemote + "41 43 02 00 00 00 | " + kLeave + kGraphics + kUnit360 + kA4Dim + "1b 28 63 08 00 55 00 00 00 56 00 00 00 | 1b 28 56 02 00 55 00 | 1b 55 02 | " + kNuls + "1b 28 69 01 00 01 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 10"},
  {"fam=5500 bits=8 mtype=0x10 res=1440x720", REMOTE, 2, 4, "0 210 383", {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, kReset + kRemote + "53 4e 03 00 00 01 01 | 53 4e 03 00 00 02 02 | 53 4e 03 00 00 06 01 | 4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit1440 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 10"},
  {"fam=5500 bits=8 res=1440x720", REMOTE, 2, 4, "0 210 383", {{0, 105, 0, 0}, {106, 231, 1, 210}, {232, 255, 2, 383}}, kReset + kRemote + "4d 53 08 00 00 00 03 00 00 00 00 00 | " + kLeave + kGraphics + kUnit1440 + kA4 + "1b 55 00 | " + kNuls + "1b 28 69 01 00 03 | 1b 28 44 04 00 40 38 14 0a | 1b 28 65 02 00 00 10"},
};

TEST(PageStart, ContonePages) {
  for (const ContoneCase &c : kContone) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(c.page);
    std::vector<std::string> set_up = {expect::BitPlanes(c.bit_planes),
                                       std::string("DEBUG: dither = PTR [") + c.dither + "]",
                                       "DEBUG: DitherLut ="};
    check::Append(set_up, harness::LutDump(c.lut));
    check::Append(set_up, expect::PoolHead({c.buffer_size, 1, 1, 1, 1, 1}, page.family));
    CheckBlankPage(page, c.frame, c.bytes, set_up);
  }
}

// Pre-dithered 1-bit lines read as 2-bit dots would print squeezed and
// garbled: such pages are refused before any of their bytes is sent.
TEST(PageStart, BitmapPageOnTwoBitDotsIsRefused) {
  struct Case { const char *page; const char *reason; };
  const Case kCases[] = {
    {"fam=6", "cupsCompression 0 at 720x720 dpi"},
    {"fam=7 comp=2", "cupsCompression 2 at 720x720 dpi"},
    {"fam=5500 res=1440x720", "cupsCompression 0 at 1440x720 dpi"},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(c.page);
    harness::Result got = harness::RunFilter(harness::WritePpd(page.family, page.sizes),
                                             harness::WriteRaster({harness::BlankPage(page.header)}));
    bool large = page.family >= 5000;
    check::ExpectRun(got, (large ? expect::kJobStartNone : expect::kJobStartEjl) + " " +
                              (large ? expect::kJobEndRemote : expect::kJobEndReset),
                     {std::string("ERROR: Page 1: pre-dithered 1-bit pages cannot be printed with "
                                  "2-bit dots (") + c.reason + ")."},
                     1);
  }
}

// Woven pages: the band pool that the page start lays out is logged, the
// microweave is off, and the raster unit carries the interleave.
struct WovenCase {
  const char *page;
  Frame frame;
  Geometry geometry;
  std::vector<std::string> offset_head;  // offset-head messages, if any
  std::vector<int> offsets;              // DotRowOffset per plane
  int pool;                              // band records created
  std::vector<Band> placed;              // in placement order
  std::vector<Band> blank;               // bands advanced by the one line
  std::string bytes;
};

const std::vector<std::string> kNoHead;
const std::vector<std::string> kGrayHead6 = {expect::kOffsetHead, expect::GrayRowCount(6)};

const WovenCase kWoven[] = {
  {"fam=7 weave=8/7/4", EJL, {2, 1, 8, 4, 7, 2}, kNoHead, {0}, 16,
   {{3, 0, 0, 3, 2}, {0, 0, 0, 0, 2}, {1, 0, 0, 1, 2}, {2, 0, 0, 2, 1}}, {},
   kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 44 04 00 40 38 50 14 | 1b 28 65 02 00 00 02"},
  // Offset heads: family 9 raises the first band's top by two passes.
  {"fam=9 weave=8/7/4", EJL, {2, 1, 8, 4, 7, 2}, kGrayHead6, {0}, 16,
   {{3, 0, 0, 3, 6}, {0, 0, 0, 0, 6}, {1, 0, 0, 1, 6}, {2, 0, 0, 2, 5}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 45 00 e4 20 | 1b 28 56 02 00 45 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 08 02 | 1b 28 65 02 00 00 10"},
  {"fam=9 weave=12/12/4", EJL, {2, 1, 12, 4, 12, 3}, {expect::kOffsetHead, expect::GrayRowCount(12)}, {0}, 16,
   {{3, 0, 0, 3, 12}, {2, 0, 0, 2, 11}, {1, 0, 0, 1, 10}, {0, 0, 0, 0, 9}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 35 00 e4 20 | 1b 28 56 02 00 35 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 08 02 | 1b 28 65 02 00 00 10"},
  {"fam=9 weave=96/96/8", EJL, {2, 1, 96, 8, 96, 12}, {expect::kOffsetHead, expect::GrayRowCount(36)}, {0}, 32,
   {{7, 0, 0, 7, 35}, {2, 0, 0, 2, 34}, {5, 0, 0, 5, 32}, {0, 0, 0, 0, 31}, {3, 0, 0, 3, 30}, {6, 0, 0, 6, 28}, {1, 0, 0, 1, 27}, {4, 0, 0, 4, 25}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 10 02 | 1b 28 65 02 00 00 10"},
  {"fam=9 space=KCMY weave=48/48/8", EJL, {2, 1, 48, 8, 48, 6}, {expect::kOffsetHead}, {48, 96, 48, 0}, 128,
   {{7, 0, 0, 55, 6}, {7, 1, 0, 103, 6}, {7, 2, 0, 55, 6}, {7, 3, 0, 7, 6},
    {4, 0, 0, 52, 5}, {4, 1, 0, 100, 5}, {4, 2, 0, 52, 5}, {4, 3, 0, 4, 5},
    {1, 0, 0, 49, 5}, {1, 1, 0, 97, 5}, {1, 2, 0, 49, 5}, {1, 3, 0, 1, 5},
    {6, 0, 0, 54, 4}, {6, 1, 0, 102, 4}, {6, 2, 0, 54, 4}, {6, 3, 0, 6, 4},
    {3, 0, 0, 51, 3}, {3, 1, 0, 99, 3}, {3, 2, 0, 51, 3}, {3, 3, 0, 3, 3},
    {0, 0, 0, 48, 3}, {0, 1, 0, 96, 3}, {0, 2, 0, 48, 3}, {0, 3, 0, 0, 3},
    {5, 0, 0, 53, 2}, {5, 1, 0, 101, 2}, {5, 2, 0, 53, 2}, {5, 3, 0, 5, 2},
    {2, 0, 0, 50, 1}, {2, 1, 0, 98, 1}, {2, 2, 0, 50, 1}, {2, 3, 0, 2, 1}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 02 | 1b 28 44 04 00 a0 05 10 02 | 1b 28 65 02 00 00 10"},
  {"fam=11 weave=8/7/4", EJL, {2, 1, 8, 4, 7, 2}, kGrayHead6, {0}, 16,
   {{3, 0, 0, 3, 6}, {0, 0, 0, 0, 6}, {1, 0, 0, 1, 6}, {2, 0, 0, 2, 5}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 45 00 e4 20 | 1b 28 56 02 00 45 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 08 02 | 1b 28 65 02 00 00 11"},
  {"fam=11 space=KCMY weave=8/7/4", EJL, {2, 1, 8, 4, 7, 2}, {expect::kOffsetHead}, {0, 0, 8, 16}, 64,
   {{3, 0, 0, 3, 2}, {3, 1, 0, 3, 2}, {3, 2, 0, 11, 2}, {3, 3, 0, 19, 2},
    {0, 0, 0, 0, 2}, {0, 1, 0, 0, 2}, {0, 2, 0, 8, 2}, {0, 3, 0, 16, 2},
    {1, 0, 0, 1, 2}, {1, 1, 0, 1, 2}, {1, 2, 0, 9, 2}, {1, 3, 0, 17, 2},
    {2, 0, 0, 2, 1}, {2, 1, 0, 2, 1}, {2, 2, 0, 10, 1}, {2, 3, 0, 18, 1}}, {},
   kOpen + kUnit720 + "1b 28 43 02 00 e4 20 | 1b 28 63 04 00 45 00 e4 20 | 1b 28 56 02 00 45 00 | 1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 02 | 1b 28 44 04 00 a0 05 08 02 | 1b 28 65 02 00 00 11"},
  // Family 10 prints grey with three times the rows at a third of the step,
  // and its raster unit follows the reduced step.
  {"fam=10 weave=48/48/6", EJL, {2, 1, 48, 6, 48, 8}, kNoHead, {0}, 24,
   {{1, 0, 0, 1, 13}, {0, 0, 0, 0, 1}}, {{0, 0, 0, 0, 1}},
   kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 44 04 00 a0 05 04 02 | 1b 28 65 02 00 00 11"},
  // Two columns: a pre-dithered line of 8 pixels is one byte, as is the row
  // of 4 pixels that each column's band takes (the bitmap goes to column 0).
  {"fam=4 w=8 weave=32/32/204", EJL, {1, 2, 32, 4, 32, 8}, kNoHead, {0}, 32,
   {{7, 0, 1, 3, 8}, {2, 0, 0, 2, 7}, {5, 0, 1, 1, 6}, {0, 0, 0, 0, 5}, {3, 0, 0, 3, 5}, {6, 0, 1, 2, 4}, {1, 0, 0, 1, 3}, {4, 0, 1, 0, 2}}, {},
   kOpen + kUnit5 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02"},
  {"fam=7 w=8 res=1440x720 media=Plain weave=16/16/208", EJL, {1, 2, 16, 8, 16, 2}, kNoHead, {0}, 64,
   {{15, 0, 1, 7, 2}, {0, 0, 0, 0, 2}, {1, 0, 0, 1, 2}, {2, 0, 0, 2, 2}, {3, 0, 0, 3, 2}, {4, 0, 0, 4, 2}, {5, 0, 0, 5, 2}, {6, 0, 0, 6, 1},
    {7, 0, 0, 7, 1}, {8, 0, 1, 0, 1}, {9, 0, 1, 1, 1}, {10, 0, 1, 2, 1}, {11, 0, 1, 3, 1}, {12, 0, 1, 4, 1}, {13, 0, 1, 5, 1}, {14, 0, 1, 6, 1}}, {},
   kOpen + kUnit1440 + kA4 + "1b 55 01 | 1b 28 69 01 00 00 | 1b 28 44 04 00 40 38 a0 14 | 1b 28 65 02 00 00 04"},
  {"fam=7 space=KCMYcm weave=4/4/2", EJL, {2, 1, 4, 2, 4, 2}, kNoHead, {0, 0, 0, 0, 0, 0}, 48,
   {{1, 0, 0, 1, 2}, {1, 1, 0, 1, 2}, {1, 2, 0, 1, 2}, {1, 3, 0, 1, 2}, {1, 4, 0, 1, 2}, {1, 5, 0, 1, 2},
    {0, 0, 0, 0, 1}, {0, 1, 0, 0, 1}, {0, 2, 0, 0, 1}, {0, 3, 0, 0, 1}, {0, 4, 0, 0, 1}, {0, 5, 0, 0, 1}},
   {{0, 0, 0, 0, 1}, {0, 1, 0, 0, 1}, {0, 2, 0, 0, 1}, {0, 3, 0, 0, 1}, {0, 4, 0, 0, 1}, {0, 5, 0, 0, 1}},
   kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 44 04 00 40 38 28 14 | 1b 28 65 02 00 00 02"},
  // A vertical interleave given as 00 is taken as 1.
  {"fam=7 w=8 weave=8/8/200", EJL, {1, 2, 8, 1, 8, 8}, kNoHead, {0}, 8,
   {{1, 0, 1, 0, 5}, {0, 0, 0, 0, 2}}, {},
   kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 44 04 00 40 38 14 28 | 1b 28 65 02 00 00 02"},
  {"fam=7 weave=2/2/0", EJL, {2, 1, 2, 1, 2, 2}, kNoHead, {0}, 4,
   {{0, 0, 0, 0, 1}}, {{0, 0, 0, 0, 1}},
   kOpen + kUnit720 + kA4 + "1b 55 00 | 1b 28 69 01 00 00 | 1b 28 44 04 00 40 38 14 14 | 1b 28 65 02 00 00 02"},
};

TEST(PageStart, WovenPagesLayOutTheirBands) {
  for (const WovenCase &c : kWoven) {
    SCOPED_TRACE(c.page);
    harness::TestPage page = harness::DescribePage(c.page);
    std::vector<std::string> set_up = {expect::BitPlanes(1)};
    check::Append(set_up, expect::PoolHead(c.geometry, page.family));
    check::Append(set_up, c.offset_head);
    for (size_t p = 0; p < c.offsets.size(); p++)
      set_up.push_back(expect::RowOffset((int)p, c.offsets[p]));
    check::Append(set_up, expect::PointerList("start", c.pool));
    for (const Band &b : c.placed) set_up.push_back(expect::PlacedBand(b));
    std::vector<std::string> during;
    for (const Band &b : c.blank) during.push_back(expect::BlankBand(b));
    std::vector<std::string> end = expect::PointerList("end", c.pool);
    check::Append(end, expect::FreeCleanPool(c.pool));
    CheckBlankPage(page, c.frame, c.bytes, set_up, end, during);
  }
}

}  // namespace
