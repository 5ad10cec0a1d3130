// How jobs end when they do not end normally: cancelled by the printing
// system while a slow printer reads, or cut short anywhere in the stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>

#include "../../fuzz/fuzz_job.h"
#include "check.h"
#include "expect.h"
#include "harness.h"
#include "preview.h"

namespace {

// Why the preview cannot decode a stream; empty when the whole stream decodes.
std::string PreviewFailure(const std::string &stream)
{
  std::string error;
  preview::DecodeStream(stream, &error);
  return error;
}

// Starts of the commands of a stream, and its end.
std::vector<size_t> Boundaries(const std::string &stream)
{
  std::vector<size_t> starts;
  for (const preview::Command &c : preview::ReadCommands(stream)) starts.push_back(c.offset);
  starts.push_back(stream.size());
  return starts;
}

// Pre-dithered dots, different on every line, every byte inked.
unsigned char Dots(unsigned line, unsigned index)
{
  return (unsigned char)((line * 7 + index * 13) % 251 | 0x11);
}
// Contone ink amounts varying along and across the lines, with gaps.
unsigned char Ink(unsigned line, unsigned index)
{
  return (unsigned char)((line + index) % 9 ? 40 + (line * 3 + index) % 200 : 0);
}

// A cancel (SIGTERM from the printing system, SIGINT or SIGHUP by hand) at
// a random moment while a slow printer reads: the command being written
// goes out whole, nothing more of the page, then the form feed and the job
// end commands. The printer stream is the finished job's up to a command
// boundary, decodes completely, and a job sent after it decodes too.
TEST(Ending, CancelEndsThePageAndTheJobBetweenCommands)
{
  struct Case
  {
    const char *what;
    std::string page;  // DescribePage words
    bool contone;
    std::string job_end;
  };
  const Case kCases[] = {
      {"six inks woven, 2-bit dots, ESC i",
       "fam=7 res=1440x720 space=KCMYcm bits=8 comp=2 "
       "w=1200 h=100 weave=288/23/206",
       true, expect::kJobEndReset},
      {"black dots unwoven, ESC .", "fam=4 bits=1 w=5760 h=180", false, expect::kJobEndReset},
      {"six inks woven, ESC .", "fam=5 space=KCMYcm bits=8 comp=1 w=1600 h=160 weave=48/0/8", true,
       expect::kJobEndReset},
      {"four inks woven on a roll printer",
       "fam=9000 space=KCMY bits=8 comp=1 w=2000 h=180 "
       "weave=48/0/8",
       true, expect::kJobEndRemote},
  };
  const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
  std::mt19937 random(13);
  int run = 0;
  for (const Case &c : kCases) {
    harness::TestPage page = harness::DescribePage(c.page);
    harness::Page ink = harness::MakePage(page.header, c.contone ? Ink : Dots);
    std::string raster = harness::WriteRaster({ink, ink});
    std::string ppd = harness::WritePpd(page.family, page.sizes);
    harness::Result whole = harness::RunFilter({ppd, raster});
    ASSERT_EQ(0, whole.status) << c.what;
    std::vector<size_t> boundaries = Boundaries(whole.out);
    std::string tail = harness::Hex(expect::kFormFeed + c.job_end);
    // Well before the end: the filter is still writing when the signal
    // comes (the pipe and the output buffer hold less than 128 kB).
    ASSERT_GT(whole.out.size(), 200000u) << c.what;
    std::uniform_int_distribution<size_t> moment(1, whole.out.size() - 130000);
    for (int k = 0; k < 4; k++, run++) {
      harness::SlowPrinter printer = {8192, 300, moment(random), kSignals[run % 3]};
      SCOPED_TRACE(std::string(c.what) + ", signal " + std::to_string(printer.signal) + " after " +
                   std::to_string(printer.signal_after) + " bytes");
      harness::Result got = harness::RunFilter({ppd, raster, "", {}, INKBANDS_BINARY, &printer});
      EXPECT_EQ(0, got.status);
      ASSERT_FALSE(got.err.empty());
      EXPECT_EQ(0u, got.err.back().rfind("INFO: The job was cancelled on page ", 0))
          << got.err.back();
      ASSERT_GT(got.out.size(), tail.size());
      size_t sent = got.out.size() - tail.size();
      EXPECT_EQ(harness::ToHex(tail), harness::ToHex(got.out.substr(sent)));
      EXPECT_EQ(whole.out.substr(0, sent), got.out.substr(0, sent));
      EXPECT_TRUE(std::binary_search(boundaries.begin(), boundaries.end(), sent))
          << "the stream was cut at byte " << sent << ", inside a command";
      EXPECT_EQ("", PreviewFailure(got.out));
      EXPECT_EQ("", PreviewFailure(got.out + whole.out));
    }
  }
}

// The filter on a stream that comes through a pipe, as from a rasterizer.
harness::Result PrintFromPipe(const std::string &ppd, const std::string &bytes)
{
  std::string fifo = harness::TempPath("fifo");
  if (mkfifo(fifo.c_str(), 0600) != 0) abort();
  pid_t writer = fork();
  if (writer == 0) {
    signal(SIGPIPE, SIG_DFL);
    int fd = open(fifo.c_str(), O_WRONLY);
    for (size_t at = 0; fd >= 0 && at < bytes.size();) {
      ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += (size_t)n;
    }
    _exit(0);
  }
  harness::Result got = harness::RunFilter({ppd, "", fifo});
  waitpid(writer, nullptr, 0);
  return got;
}

// A stream cut short anywhere is reported as what it is, whatever the
// stream version (1 plain, 2 compressed, 3 plain) and whether it is read
// from a file or a pipe: only a cut exactly between two pages cannot be
// told from a shorter job. Inside a page header, where every cut ends
// alike, the first two, the middle and the last two offsets are taken
// (INKBANDS_EVERY_OFFSET=1 takes every one).
TEST(Ending, StreamCutAnywhereIsReported)
{
  harness::TestPage page = harness::DescribePage("fam=7 bits=1 w=8 h=2");
  harness::Page one = harness::MakePage(page.header, Dots);
  harness::Page two = harness::MakePage(page.header, [](unsigned line, unsigned index) {
    return (unsigned char)(Dots(line, index) ^ 0x5a);
  });
  std::string ppd = harness::WritePpd(7, page.sizes);
  const std::string kStopped =
      "ERROR: Page 2: the page header is damaged, cut short or describes no lines; the job was "
      "stopped there.";
  auto ended = [](int page) {
    return "ERROR: The print data ended in the middle of page " + std::to_string(page) +
           "; the rest of the page was left blank.";
  };
  bool every = getenv("INKBANDS_EVERY_OFFSET") != nullptr;

  // Version 1 streams carry the 420-byte header of CUPS 1.1; libcups only
  // writes versions 2 and 3.
  struct Version
  {
    const char *name;
    cups_mode_t mode;
    size_t header;  // bytes of a page header
  };
  const Version kVersions[] = {{"v1", CUPS_RASTER_WRITE, 420},
                               {"v2", CUPS_RASTER_WRITE_COMPRESSED, 1796},
                               {"v3", CUPS_RASTER_WRITE, 1796}};
  for (const Version &v : kVersions) {
    auto write = [&](const std::vector<harness::Page> &pages) {
      std::string bytes;
      if (v.header == 420) {
        bytes = "tSaR";
        for (const harness::Page &p : pages) {
          bytes.append((const char *)&p.header, 420);
          bytes.append(p.data.begin(), p.data.end());
        }
        return bytes;
      }
      std::string path = harness::TempPath("ras");
      int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      cups_raster_t *raster = cupsRasterOpen(fd, v.mode);
      for (harness::Page p : pages) {
        cupsRasterWriteHeader2(raster, &p.header);
        cupsRasterWritePixels(raster, p.data.data(), (unsigned)p.data.size());
      }
      cupsRasterClose(raster);
      close(fd);
      return harness::ReadFile(path);
    };
    std::string stream = write({one, two});
    size_t kHeader = 4 + v.header;  // the sync word, then the first header
    size_t first_end = write({one}).size(), second_header = first_end + v.header;
    ASSERT_LT(second_header, stream.size());
    int runs = 0;
    for (size_t keep = 0; keep <= stream.size(); keep++) {
      size_t into = keep < kHeader ? keep - 4 : keep - first_end;  // bytes into a header
      bool in_header = (keep > 4 && keep < kHeader) || (keep > first_end && keep < second_header);
      if (in_header && !every && into > 2 && into + 2 < v.header && into != v.header / 2) continue;
      std::string cut = stream.substr(0, keep);
      std::vector<std::string> errors;
      int pages = 0;
      if (keep < 4) {
        errors = {keep ? expect::kNotRaster : expect::kNoPages};
      } else if (keep == 4) {
        errors = {expect::kNoPages};  // the sync word alone: a job of no pages
      } else if (keep < kHeader) {
        errors = {"ERROR: Page 1: the page header is damaged, cut short or describes no lines; "
                  "the job was stopped there."};
      } else if (keep < first_end) {
        pages = 1, errors = {ended(1)};
      } else if (keep == first_end) {
        pages = 1;
      } else if (keep < second_header) {
        pages = 1, errors = {kStopped};
      } else if (keep < stream.size()) {
        pages = 2, errors = {ended(2)};
      } else {
        pages = 2;
      }
      for (bool pipe : {false, true}) {
        SCOPED_TRACE(std::string(v.name) + (pipe ? " from a pipe" : " from a file") + ", cut at " +
                     std::to_string(keep) + " of " + std::to_string(stream.size()));
        harness::Result got = pipe ? PrintFromPipe(ppd, cut)
                                   : harness::RunFilter({ppd, harness::WriteFile(cut, "ras")});
        runs++;
        std::vector<std::string> said;
        int started = 0;
        for (const std::string &line : got.err) {
          if (line.rfind("ERROR: ", 0) == 0) said.push_back(line);
          started += line.rfind("PAGE: ", 0) == 0;
        }
        EXPECT_EQ(errors, said);
        EXPECT_EQ(pages, started);
        EXPECT_EQ(errors.empty() ? 0 : 1, got.status);
        if (HasFailure()) return;  // one offset tells the story
      }
    }
    RecordProperty(std::string(v.name) + "_runs", runs);
  }
}

// Line y of a pre-dithered test page: no two lines alike, every byte inked.
unsigned char LineByte(unsigned line, unsigned index)
{
  return (unsigned char)(0x11 * (line + 1) + index) | 1;
}

// The page-start commands of a blank unwoven black page at 720 x 720 dpi on
// A4 with the default PPD sizes (page length 8420 rows, top 85 rows).
const std::string kFamily4Page =
    "ESC @ | ESC ( R 00 52 45 4d 4f 54 45 31 | ST 00 00 | ESC 00 00 00 | ESC ( G 01 | "
    "ESC ( U 05 | ESC ( C e4 20 | ESC ( c 55 00 e4 20 | ESC ( V 55 00 | ESC U 00 | "
    "ESC ( i 01 | ESC ( K 00 01 | ESC ( e 00 02 | FF";

// The messages of a blank page that printed, with its progress.
std::vector<std::string> Printed(int page, int copies = 1, std::vector<int> percents = {0})
{
  std::vector<std::string> lines = expect::PageOpen(page, copies);
  for (int percent : percents) lines.push_back(expect::Progress(page, percent));
  lines.push_back(expect::PageDone(page));
  return lines;
}

// How jobs are handed over and how the ones that cannot print say why: the
// system's reason for a PPD or raster input that cannot be read, the
// parser's for a file that is no PPD; the pages before a bad one print and
// the job ends properly. Error lines match by their start (the system's
// reason and the parser's line follow).
TEST(Ending, MessagesNameTheCause)
{
  harness::TestPage page = harness::DescribePage("h=1");
  std::string ppd = harness::WritePpd(4, page.sizes), ppd5000 = harness::WritePpd(5000, page.sizes);
  std::string dir = harness::TempPath("dir");
  mkdir(dir.c_str(), 0755);
  cups_page_header2_t copies = harness::DescribePage("copies=3").header, no_lines = page.header,
                      zero_x = page.header, deep = page.header, endless = page.header;
  no_lines.cupsHeight = 0;
  zero_x.HWResolution[0] = 0;
  deep.cupsBitsPerColor = 32;  // more than the raster library reads
  harness::FixLineSize(deep);
  endless.cupsHeight = 4000000000u;
  harness::Page blank = harness::BlankPage(page.header),
                two_lines = harness::MakePage(harness::DescribePage("h=2").header, LineByte);
  two_lines.header.cupsHeight = endless.cupsHeight;
  harness::TestPage huge = harness::DescribePage("fam=7 bits=8 h=2");
  huge.header.cupsWidth = huge.header.cupsBytesPerLine = 1500000000u;
  std::string raster = harness::WriteRaster({blank}), empty = harness::WriteFile("", "ras");
  const std::string kFrame = expect::kJobStartEjl + expect::kJobEndReset;
  const std::string kOnePage = expect::kJobStartEjl + kFamily4Page + expect::kJobEndReset;
  const std::string kStopped = "the page header is damaged, cut short or describes no lines; the "
                               "job was stopped there.";
  const std::vector<std::string> kArgs = {"inkbands", "1", "tester", "title", "1"};
  auto then = [](std::vector<std::string> lines, const std::string &line) {
    lines.push_back(line);
    return lines;
  };
  std::vector<std::string> two_copies = Printed(1, 3);
  check::Append(two_copies, Printed(2, 3));
  harness::Run bounded = {harness::WritePpd(7, huge.sizes),
                          harness::WriteRaster({{huge.header, {}}}, CUPS_RASTER_WRITE_COMPRESSED)};
  bounded.bounded = true;
  struct Case
  {
    const char *what;
    harness::Run run;
    std::string stream;            // "*": not compared
    std::vector<std::string> err;  // an ERROR line fails the job
  };
  // clang-format off
  const Case kCases[] = {
      {"a raster file", {ppd, raster}, kOnePage, Printed(1)},
      {"raster on standard input", {ppd, "", raster}, kOnePage, Printed(1)},
      {"a file wins over standard input", {ppd, raster, harness::WriteFile("not raster", "txt")},
       kOnePage, Printed(1)},
      {"pages and copies counted",
       {ppd, harness::WriteRaster({harness::BlankPage(copies), harness::BlankPage(copies)})},
       expect::kJobStartEjl + kFamily4Page + " | " + kFamily4Page + expect::kJobEndReset,
       two_copies},
      {"progress every 128 lines",
       {ppd, harness::WriteRaster({harness::BlankPage(harness::DescribePage("h=300").header)})},
       kOnePage, Printed(1, 1, {0, 42, 85})},
      {"no arguments", {ppd, "", "", {"inkbands"}}, "", {expect::kUsage}},
      {"five arguments", {ppd, "", "", kArgs}, "", {expect::kUsage}},
      {"arguments before the PPD", {"", "", "", kArgs}, "", {expect::kUsage}},
      {"seven arguments", {ppd, "", "", {"inkbands", "1", "u", "t", "1", "", raster, "x"}}, "",
       {expect::kUsage}},
      {"no PPD variable", {"", raster}, "", {expect::kNoPpd}},
      {"a PPD that is not there", {dir + "/none.ppd", raster}, "",
       {"ERROR: Unable to open PPD file \"" + dir + "/none.ppd\" - No such file or directory."}},
      {"a directory for the PPD", {dir, raster}, "",
       {"ERROR: Unable to open PPD file \"" + dir + "\" - Is a directory."}},
      {"an empty PPD", {harness::WriteFile("", "ppd"), raster}, "", {expect::kBadPpdPrefix}},
      {"a PPD of text", {harness::WriteFile("hello\n", "ppd"), raster}, "",
       {expect::kBadPpdPrefix}},
      {"raster for the PPD", {raster, raster}, "", {expect::kBadPpdPrefix}},
      {"a raster file that is not there", {ppd, harness::TempPath("ras")}, "",
       {expect::kRasterMissing}},
      {"a directory for the raster", {ppd, dir}, "",
       {"ERROR: Unable to read raster data - Is a directory"}},
      {"a closed standard input", {ppd, "", harness::kClosedInput}, "",
       {"ERROR: Unable to read raster data - Bad file descriptor"}},
      {"PostScript", {ppd, harness::WriteFile("%!PS-Adobe-3.0\nshowpage\n", "ps")}, "",
       {expect::kNotRaster}},
      {"a PDF", {ppd, harness::WriteFile("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "pdf")}, "",
       {expect::kNotRaster}},
      {"random bytes", {ppd, harness::WriteFile(std::string(3000, '\xa5'), "bin")}, "",
       {expect::kNotRaster}},
      {"cut in the sync word, on standard input",
       {ppd5000, "", harness::WriteFile("RaS", "ras")}, "",
       {expect::kNotRaster}},
      {"an empty file", {ppd, empty}, kFrame, {expect::kNoPages}},
      {"no pages, large format", {ppd5000, "", harness::WriteRaster({})}, expect::kJobEndRemote,
       {expect::kNoPages}},
      {"a first page of no lines", {ppd, harness::WriteRaster({{no_lines, {}}, blank})}, kFrame,
       {"ERROR: Page 1: " + kStopped}},
      {"a second page of no lines", {ppd, harness::WriteRaster({blank, {no_lines, {}}, blank})},
       kOnePage, then(Printed(1), "ERROR: Page 2: " + kStopped)},
      {"a second page of 32 bits per colour", {ppd, harness::WriteRaster({blank, {deep, {}}})},
       kOnePage, then(Printed(1), "ERROR: Page 2: " + kStopped)},
      {"a page without resolution after a good one",
       {ppd, harness::WriteRaster({blank, harness::BlankPage(zero_x), blank})}, kOnePage,
       then(Printed(1), expect::BadResolution(2, 0, 720))},
      {"four billion lines promised, two sent", {ppd, harness::WriteRaster({two_lines})}, "*",
       then(Printed(1), "ERROR: The print data ended in the middle of page 1; the rest of the "
                        "page was left blank.")},
      {"a line the raster library cannot get memory for", bounded, "*",
       {"ERROR: Unable to allocate memory for reading page 1."}},
  };
  // clang-format on
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    harness::Result got = harness::RunFilter(c.run);
    EXPECT_EQ(check::Count(c.err, "ERROR: ") ? 1 : 0, got.status);
    if (c.stream != "*") {
      std::string diff = harness::DiffStreams(harness::Hex(c.stream), got.out);
      EXPECT_TRUE(diff.empty()) << diff;
    }
    // AddressSanitizer may warn of a huge allocation: only the messages count.
    std::vector<std::string> said = check::Messages(got.err);
    said.erase(std::remove_if(said.begin(), said.end(),
                              [](const std::string &l) { return l.find("Sanitizer") != l.npos; }),
               said.end());
    ASSERT_EQ(c.err.size(), said.size()) << testing::PrintToString(said);
    for (size_t k = 0; k < said.size(); k++) EXPECT_EQ(0u, said[k].rfind(c.err[k], 0)) << said[k];
  }
  rmdir(dir.c_str());
}

// A job cut inside a page's data is reported, and the printer gets exactly
// the lines that arrived whole: none of the cut line, nothing invented after.
TEST(Ending, JobCutInsideAPageSendsOnlyTheLinesThatArrived)
{
  // Family 7, black 1-bit dots, 8 lines of 10 bytes, not compressed: each
  // line that arrives is one ESC i row of its own bytes.
  harness::TestPage page = harness::DescribePage("fam=7 bits=1 w=80 h=8");
  harness::Page full = harness::MakePage(page.header, LineByte);
  harness::Page cut = full;
  cut.data.resize(3 * 10 + 5);  // three lines and half of the fourth
  std::string ppd = harness::WritePpd(7, page.sizes);
  for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED}) {
    SCOPED_TRACE(mode);
    harness::Result got = harness::RunFilter({ppd, harness::WriteRaster({cut}, mode)});
    EXPECT_EQ(1, got.status);
    ASSERT_FALSE(got.err.empty());
    EXPECT_EQ("ERROR: The print data ended in the middle of page 1; the rest of the page was "
              "left blank.",
              got.err.back());
    EXPECT_EQ(1, check::Count(got.err, "ERROR: "));
    std::vector<check::RasterCommand> rows = check::RasterCommands(got.out);
    ASSERT_EQ(3u, rows.size());
    for (unsigned y = 0; y < 3; y++)
      EXPECT_EQ(
          harness::ToHex(std::string(full.data.begin() + y * 10, full.data.begin() + y * 10 + 10)),
          harness::ToHex(rows[y].data));
    // The page is still ejected and the job closed.
    std::string tail = harness::Hex(expect::kFormFeed + expect::kJobEndReset);
    EXPECT_EQ(tail, got.out.substr(got.out.size() - tail.size()));
  }

  // Woven: every dot that arrived is sent, none that did not. Family 7
  // bands of 4 rows, 4 apart, column 0 only (pre-dithered rows go as they
  // come), uncompressed.
  harness::TestPage woven = harness::DescribePage("fam=7 bits=1 w=80 h=40 weave=16/7/4");
  harness::Page inked = harness::MakePage(woven.header, LineByte);
  for (size_t lines : {0, 1, 13, 39}) {
    SCOPED_TRACE(lines);
    harness::Page part = inked;
    part.data.resize(lines * 10 + 3);
    harness::Result got =
        harness::RunFilter({harness::WritePpd(7, woven.sizes), harness::WriteRaster({part})});
    EXPECT_EQ(1, got.status);
    EXPECT_EQ(1, check::Count(got.err, "ERROR: "));
    size_t sent = 0, arrived = 0;
    for (const check::RasterCommand &c : check::RasterCommands(got.out))
      for (char b : c.data) sent += __builtin_popcount((unsigned char)b);
    for (size_t i = 0; i < lines * 10; i++) arrived += __builtin_popcount(inked.data[i]);
    EXPECT_EQ(arrived, sent);
  }
}

// Data that cannot be delivered is a failed job, whether the printer fails
// at the first byte or in the middle of a page, on a small page held in the
// output buffer until the end or on a large one.
TEST(Ending, PrinterThatTakesNoDataFailsTheJob)
{
  struct Case
  {
    harness::Device device;
    const char *reason;
  };
  const Case kPrinters[] = {{harness::Device::kFull, "No space left on device"},
                            {harness::Device::kGone, "Broken pipe"}};
  for (const Case &p : kPrinters) {
    for (const char *words : {"h=1", "fam=7 space=KCMY bits=8 w=600 h=300 weave=16/7/4 comp=1"}) {
      SCOPED_TRACE(std::string(p.reason) + ", " + words);
      harness::TestPage page = harness::DescribePage(words);
      harness::Run run = {harness::WritePpd(page.family, page.sizes),
                          harness::WriteRaster({harness::MakePage(page.header, LineByte)})};
      run.device = p.device;
      harness::Result got = harness::RunFilter(run);
      EXPECT_EQ(1, got.status);
      EXPECT_EQ(1, check::Count(got.err, "ERROR: "));
      ASSERT_FALSE(got.err.empty());
      EXPECT_EQ(std::string("ERROR: Unable to send print data to the printer - ") + p.reason,
                got.err.back());
    }
  }
}

// The files of a directory, sorted.
std::vector<std::string> FilesIn(const std::string &dir)
{
  std::vector<std::string> files;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every job that once broke the filter under the fuzzer (and every seed the
// fuzzer starts from) is printed by the real binary and must end as the fuzz
// target demands: status 0 with no error and every page printed, or status
// 1 with one ERROR line; a job cut in a page's data, or one whose printer
// takes no data, never succeeds; no crash, hang or sanitizer report.
TEST(Ending, FuzzFindingsStayFixed)
{
  std::string here = __FILE__;
  std::string fuzz = here.substr(0, here.rfind("/tests/e2e/")) + "/fuzz";
  std::vector<std::string> jobs = FilesIn(fuzz + "/regressions/filter");
  size_t findings = jobs.size();
  for (const std::string &seed : FilesIn(fuzz + "/corpus/filter")) jobs.push_back(seed);
  ASSERT_GT(findings, 0u) << "no regressions found under " << fuzz;
  for (const std::string &path : jobs) {
    SCOPED_TRACE(path);
    std::string bytes = harness::ReadFile(path);
    fuzzjob::JobSpec job = fuzzjob::Decode((const uint8_t *)bytes.data(), bytes.size());
    fuzzjob::Raster raster = fuzzjob::WriteRaster(job);
    std::string stream = harness::WriteFile(raster.bytes, "ras");
    harness::Run run;
    if (((job.flags >> 5) & 3) != 3) run.ppd = harness::WriteFile(fuzzjob::PpdText(job), "ppd");
    run.args = {"inkbands", "1", "fuzz", "title", "1", ""};
    if (job.flags & 4)
      run.input = stream;
    else
      run.args.push_back(stream);
    if (job.flags & 128) run.args.pop_back();
    if (job.flags & 8) run.device = harness::Device::kFull;
    run.bounded = true;
    harness::Result got = harness::RunFilter(run);

    for (const std::string &l : got.err)
      EXPECT_TRUE(l.find("Sanitizer") == l.npos && l.find("runtime error:") == l.npos) << l;
    if (got.status != 0 && got.status != 1) {
      ADD_FAILURE() << "status " << got.status;  // crashed, killed or hung
      continue;
    }
    EXPECT_EQ(got.status, check::Count(got.err, "ERROR: "));
    if (raster.cut_in_page || (job.flags & 8)) {
      EXPECT_EQ(1, got.status);
    }
    if (got.status == 0) {
      int whole = 0;
      for (const fuzzjob::PageExtent &e : raster.pages)
        whole += e.header_end <= raster.bytes.size();
      EXPECT_EQ(whole, check::Count(got.err, "PAGE: "));
    }
  }
}

}  // namespace
