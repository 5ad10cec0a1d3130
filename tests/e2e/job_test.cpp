// The job loop on the real binary: job start and end commands, page and
// progress messages, the ways a job is handed over (file or standard
// input), and how bad input is refused. Also checks the harness itself.
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "expect.h"
#include "harness.h"

namespace {

using check::Append;

// The page-start commands of a blank unwoven black page at 720 x 720 dpi on
// A4 with the default PPD sizes (page length 8420 rows, top 85 rows).
const std::string kFamily4Page =
    "1b 40 | 1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | 1b 00 00 00 | "
    "1b 28 47 01 00 01 | 1b 28 55 01 00 05 | 1b 28 43 02 00 e4 20 | "
    "1b 28 63 04 00 55 00 e4 20 | 1b 28 56 02 00 55 00 | 1b 55 00 | 1b 28 69 01 00 01 | "
    "1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02";
const std::string kFamily4999Page =
    "1b 40 | 1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | 1b 00 00 00 | "
    "1b 28 47 01 00 01 | 1b 28 55 05 00 02 02 02 a0 05 | 1b 28 43 02 00 e4 20 | "
    "1b 28 63 04 00 55 00 e4 20 | 1b 28 56 02 00 55 00 | 1b 55 00 | 1b 28 69 01 00 01";
const std::string kFamily5000Page =
    "1b 40 | 1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | "
    "4d 53 08 00 00 00 03 00 00 00 00 00 | 1b 00 00 00 | "
    "1b 28 47 01 00 01 | 1b 28 55 05 00 02 02 02 a0 05 | 1b 28 43 02 00 e4 20 | "
    "1b 28 63 04 00 55 00 e4 20 | 1b 28 56 02 00 55 00 | 1b 55 00 | 1b 00*27 | 1b 28 69 01 00 01";

// Standard error of one blank unwoven black page of 16 pixels, 1 bit.
std::vector<std::string> BlankPageLog(int page, const cups_page_header2_t &header, int family,
                                      const std::vector<int> &percents = {0}) {
  std::vector<std::string> lines = expect::PageOpen(page, (int)header.NumCopies);
  Append(lines, harness::HeaderDump(header));
  lines.push_back(expect::BitPlanes(1));
  Append(lines, expect::PoolHead({2, 1, 1, 1, 1, 1}, family));
  for (int percent : percents) lines.push_back(expect::Progress(page, percent));
  lines.push_back(expect::PageDone(page));
  return lines;
}

cups_page_header2_t BlackHeader(unsigned height) {
  return harness::DescribePage("h=" + std::to_string(height)).header;
}

std::string Ppd(int family) { return harness::WritePpd(family, harness::DefaultSizes()); }

// --- the harness itself ---------------------------------------------------

unsigned char Pattern(unsigned line, unsigned index) {
  return (unsigned char)(line * 16 + index + 1);
}

TEST(Harness, RasterReadsBackAsWritten) {
  cups_page_header2_t first = harness::MakeHeader(20, 3, CUPS_CSPACE_KCMY, 1, 360, 720);
  cups_page_header2_t second = harness::MakeHeader(5, 2, CUPS_CSPACE_K, 8, 720, 720);
  strcpy(second.MediaType, "Plain");
  second.cupsRowCount = 8;
  second.cupsRowStep = 204;
  std::vector<harness::Page> pages = {harness::MakePage(first, Pattern),
                                      harness::MakePage(second, Pattern)};
  std::vector<harness::Page> back = harness::ReadRaster(harness::WriteRaster(pages));
  ASSERT_EQ(2u, back.size());
  EXPECT_EQ(12u, back[0].header.cupsBytesPerLine);  // four planes of 3 bytes
  EXPECT_EQ(4u, back[0].header.cupsNumColors);
  EXPECT_EQ(360u, back[0].header.HWResolution[0]);
  EXPECT_EQ(720u, back[0].header.HWResolution[1]);
  EXPECT_EQ(5u, back[1].header.cupsBytesPerLine);
  EXPECT_STREQ("Plain", back[1].header.MediaType);
  EXPECT_EQ(204u, back[1].header.cupsRowStep);
  EXPECT_EQ(pages[0].data, back[0].data);
  EXPECT_EQ(pages[1].data, back[1].data);
  EXPECT_EQ(0x01, back[0].data[0]);
  EXPECT_EQ(0x2c, back[0].data[2 * 12 + 11]);
}

// ppdOpenFile is deprecated in CUPS 2.4 but is what the filter uses.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(Harness, PpdFixtureOpensWithItsSizesInOrder) {
  std::string path = harness::WritePpd(9600, {{"Letter", 612, 792, 18, 35.5f, 594, 783.5f},
                                              {"A4", 595, 842, 18, 36, 577, 833.5f}});
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  ASSERT_NE(nullptr, ppd);
  EXPECT_EQ(9600, ppd->model_number);
  ASSERT_EQ(2, ppd->num_sizes);
  EXPECT_STREQ("Letter", ppd->sizes[0].name);
  EXPECT_FLOAT_EQ(35.5f, ppd->sizes[0].bottom);
  EXPECT_STREQ("A4", ppd->sizes[1].name);
  EXPECT_FLOAT_EQ(842, ppd->sizes[1].length);
  EXPECT_FLOAT_EQ(833.5f, ppd->sizes[1].top);
  ppdClose(ppd);

  ppd = ppdOpenFile(harness::WritePpd(3, {}).c_str());
  ASSERT_NE(nullptr, ppd);
  EXPECT_EQ(0, ppd->num_sizes);
  ppdClose(ppd);
}
#pragma GCC diagnostic pop

TEST(Harness, HexAndStreamDiff) {
  EXPECT_EQ(std::string("\x1b\x40\x00\x00\x00\x0c", 6), harness::Hex("1b 40 | 00*3 0C"));
  std::string want = harness::Hex("1b 40 | 1b 28 55 01 00 05 | 1b 55 00 | 0c");
  std::string got = harness::Hex("1b 40 | 1b 28 55 01 00 0a | 1b 55 00 | 0c");
  EXPECT_EQ("", harness::DiffStreams(want, want));
  std::string diff = harness::DiffStreams(want, got);
  EXPECT_NE(std::string::npos, diff.find("at byte 7")) << diff;
  EXPECT_NE(std::string::npos, diff.find("want command #1: 1b 28 55 01 00 05")) << diff;
  EXPECT_NE(std::string::npos, diff.find("got command #1:  1b 28 55 01 00 0a")) << diff;
  EXPECT_NE(std::string::npos, diff.find("after command: 1b 40")) << diff;

  // Remote-mode commands, the NUL run and a compressed raster command are
  // each one command.
  auto commands = harness::SplitCommands(harness::Hex(
      "1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | 1b 00 00 00 | 1b 00*27 | "
      "0d | 1b 69 00 01 01 02 00 02 00 | fd 41 | 0c"));
  std::vector<size_t> lengths;
  for (auto &c : commands) lengths.push_back(c.second - c.first);
  EXPECT_EQ((std::vector<size_t>{13, 6, 4, 28, 1, 11, 1}), lengths);
}

TEST(Harness, MasksPointersOnly) {
  EXPECT_EQ((std::vector<std::string>{"DEBUG: freeing avail band PTR, prev = (nil),  next = PTR",
                                      "PTR", "DEBUG: DotRowStep = 0",
                                      "ERROR: unsupported resolution 0x720 dpi."}),
            harness::MaskPointers({"DEBUG: freeing avail band 0x55d0c0a1b2c0, prev = (nil),  "
                                   "next = 0x55d0c0a1b300",
                                   "0x7ffd1234", "DEBUG: DotRowStep = 0",
                                   "ERROR: unsupported resolution 0x720 dpi."}));
}

// --- jobs -----------------------------------------------------------------

// The job start and end commands by family around one blank page.
struct FrameCase {
  int family;
  std::string stream;
};
const FrameCase kFrames[] = {
  {4, expect::kJobStartEjl + " | " + kFamily4Page + " | 0c | " + expect::kJobEndReset},
  {4999, expect::kJobStartEjl + " | " + kFamily4999Page + " | 0c | " + expect::kJobEndReset},
  {5000, kFamily5000Page + " | 0c | " + expect::kJobEndRemote},
};

TEST(Job, StartAndEndCommandsByFamily) {
  for (const FrameCase &c : kFrames) {
    SCOPED_TRACE(c.family);
    cups_page_header2_t header = BlackHeader(1);
    harness::Result got =
        harness::RunFilter(Ppd(c.family), harness::WriteRaster({harness::BlankPage(header)}));
    check::ExpectRun(got, c.stream, BlankPageLog(1, header, c.family), 0);
  }
}

TEST(Job, NoPagesStillFramesTheJobAndFails) {
  const FrameCase kEmpty[] = {
    {4, expect::kJobStartEjl + " | " + expect::kJobEndReset},
    {5000, expect::kJobEndRemote},
  };
  for (const FrameCase &c : kEmpty) {
    SCOPED_TRACE(c.family);
    harness::Result got = harness::RunFilter(Ppd(c.family), harness::WriteRaster({}));
    check::ExpectRun(got, c.stream, {expect::kNoPages}, 1);
  }
}

// The raster library does not deliver a page header of no lines, and the
// pages after it are lost with it: the job is reported as stopped there,
// never passed off as a job of no pages or as finished.
TEST(Job, PageWithoutLinesIsNotDelivered) {
  cups_page_header2_t empty = BlackHeader(0);
  harness::Result got = harness::RunFilter(
      Ppd(4), harness::WriteRaster({harness::BlankPage(empty), harness::BlankPage(BlackHeader(1))}));
  check::ExpectRun(got, expect::kJobStartEjl + " | " + expect::kJobEndReset,
                   {"ERROR: Page 1: the page header is damaged, cut short or describes no lines; "
                    "the job was stopped there."},
                   1);
}

TEST(Job, PagesAreCountedAndCopiesReported) {
  cups_page_header2_t header = harness::DescribePage("copies=3").header;
  std::string raster =
      harness::WriteRaster({harness::BlankPage(header), harness::BlankPage(header)});
  harness::Result got = harness::RunFilter(Ppd(4), raster);
  std::vector<std::string> err = BlankPageLog(1, header, 4);
  Append(err, BlankPageLog(2, header, 4));
  check::ExpectRun(got,
                   expect::kJobStartEjl + " | " + kFamily4Page + " | 0c | " + kFamily4Page +
                       " | 0c | " + expect::kJobEndReset,
                   err, 0);
  ASSERT_GE(got.err.size(), 2u);
  EXPECT_EQ("PAGE: 1 3", got.err[0]);
}

// Progress goes out every 128 lines, in whole per cent of the page height.
TEST(Job, ProgressEvery128Lines) {
  cups_page_header2_t header = BlackHeader(300);
  harness::Result got =
      harness::RunFilter(Ppd(4), harness::WriteRaster({harness::BlankPage(header)}));
  check::ExpectRun(got, expect::kJobStartEjl + " | " + kFamily4Page + " | 0c | " + expect::kJobEndReset,
                   BlankPageLog(1, header, 4, {0, 42, 85}), 0);
}

TEST(Job, RasterFromStandardInputOrFile) {
  cups_page_header2_t header = BlackHeader(2);
  std::string raster = harness::WriteRaster({harness::BlankPage(header)});
  std::string stream =
      expect::kJobStartEjl + " | " + kFamily4Page + " | 0c | " + expect::kJobEndReset;
  std::string ppd = Ppd(4);
  {
    SCOPED_TRACE("file argument");
    check::ExpectRun(harness::RunFilter(ppd, raster), stream, BlankPageLog(1, header, 4), 0);
  }
  {
    SCOPED_TRACE("standard input");
    check::ExpectRun(harness::RunFilter(ppd, "", raster), stream, BlankPageLog(1, header, 4), 0);
  }
  {
    // With a file argument, standard input is not read.
    SCOPED_TRACE("file argument wins");
    check::ExpectRun(harness::RunFilter(ppd, raster, harness::WriteFile("not raster", "txt")),
                     stream, BlankPageLog(1, header, 4), 0);
  }
}

TEST(Job, WrongArgumentCount) {
  std::string raster = harness::WriteRaster({harness::BlankPage(BlackHeader(1))});
  const std::vector<std::vector<std::string>> kArgs = {
      {"inkbands"},
      {"inkbands", "1", "tester", "title", "1"},
      {"inkbands", "1", "tester", "title", "1", "", raster, "extra"},
  };
  for (const auto &args : kArgs) {
    SCOPED_TRACE(args.size());
    check::ExpectRun(harness::RunFilterArgs(args, Ppd(4), ""), "", {expect::kUsage}, 1);
  }
  // The arguments are checked before the PPD.
  check::ExpectRun(harness::RunFilterArgs(kArgs[1], "", ""), "", {expect::kUsage}, 1);
}

// --- bad input --------------------------------------------------------------

TEST(BadInput, NoPpdVariable) {
  std::string raster = harness::WriteRaster({harness::BlankPage(BlackHeader(1))});
  check::ExpectRun(harness::RunFilter("", raster), "", {expect::kNoPpd}, 1);
}

TEST(BadInput, UnreadablePpd) {
  std::string raster = harness::WriteRaster({harness::BlankPage(BlackHeader(1))});
  const std::vector<std::string> kPpds = {
      harness::TempPath("ppd"),                                  // no such file
      harness::WriteFile("this is not a PPD file\n", "ppd"),     // not a PPD
      harness::WriteFile("", "ppd"),                             // empty
  };
  for (const std::string &ppd : kPpds) {
    SCOPED_TRACE(ppd);
    harness::Result got = harness::RunFilter(ppd, raster);
    EXPECT_EQ("", harness::ToHex(got.out));
    EXPECT_EQ(1, got.status);
    ASSERT_EQ(1u, got.err.size());
    EXPECT_EQ(0u, got.err[0].find(expect::kBadPpdPrefix + " \"" + ppd + "\" - ")) << got.err[0];
  }
}

TEST(BadInput, MissingRasterFile) {
  check::ExpectRun(harness::RunFilter(Ppd(4), harness::TempPath("ras")), "",
                   {expect::kRasterMissing}, 1);
}

TEST(BadInput, NotARasterStream) {
  const std::vector<std::string> kFiles = {
      harness::WriteFile("%!PS-Adobe-3.0\nshowpage\n", "ps"),
      harness::WriteFile("RaS", "ras"),  // cut short in the sync word
  };
  for (const std::string &file : kFiles) {
    SCOPED_TRACE(file);
    check::ExpectRun(harness::RunFilter(Ppd(4), file), "", {expect::kNotRaster}, 1);
    check::ExpectRun(harness::RunFilter(Ppd(5000), "", file), "", {expect::kNotRaster}, 1);
  }
}

// Empty input is a job without pages, not a broken stream.
TEST(BadInput, EmptyInputIsAJobWithoutPages) {
  std::string empty = harness::WriteFile("", "ras");
  check::ExpectRun(harness::RunFilter(Ppd(4), empty),
                   expect::kJobStartEjl + " | " + expect::kJobEndReset, {expect::kNoPages}, 1);
  check::ExpectRun(harness::RunFilter(Ppd(5000), "", empty), expect::kJobEndRemote,
                   {expect::kNoPages}, 1);
}

// A page without a resolution cannot be given units: the filter refuses
// it before sending any of its bytes, and ends the job properly.
TEST(BadInput, ZeroResolutionStopsTheJob) {
  struct ZeroCase {
    unsigned x, y;
  };
  for (ZeroCase c : {ZeroCase{0, 720}, ZeroCase{720, 0}, ZeroCase{0, 0}}) {
    SCOPED_TRACE(std::to_string(c.x) + "x" + std::to_string(c.y));
    cups_page_header2_t good = BlackHeader(1);
    cups_page_header2_t bad = good;
    bad.HWResolution[0] = c.x;
    bad.HWResolution[1] = c.y;

    // The refused page is not announced to the printing system.
    harness::Result got = harness::RunFilter(Ppd(4), harness::WriteRaster({harness::BlankPage(bad)}));
    std::vector<std::string> err = {expect::BadResolution(1, c.x, c.y)};
    check::ExpectRun(got, expect::kJobStartEjl + " | " + expect::kJobEndReset, err, 1);

    // After a good page the job stops at the bad one; later pages are not
    // printed.
    got = harness::RunFilter(Ppd(4), harness::WriteRaster({harness::BlankPage(good),
                                                           harness::BlankPage(bad),
                                                           harness::BlankPage(good)}));
    err = BlankPageLog(1, good, 4);
    err.push_back(expect::BadResolution(2, c.x, c.y));
    check::ExpectRun(got,
                     expect::kJobStartEjl + " | " + kFamily4Page + " | 0c | " + expect::kJobEndReset,
                     err, 1);
  }
}

}  // namespace
