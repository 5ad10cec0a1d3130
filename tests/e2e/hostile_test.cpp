// Hostile and broken input on the real binary: headers whose sizes are
// absurd, jobs cut short, printers that go away, pages the filter cannot
// print right. Each must end in one "ERROR: " line and exit status 1 (or
// print properly), never in a crash, a hang, memory taken for nothing, or a
// wrong page sent as if it were right. Also replays every job a fuzzer once
// broke the filter with, and the fuzzers' seed jobs.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_job.h"
#include "check.h"
#include "expect.h"
#include "harness.h"

extern char **environ;

namespace {

using check::Append;

// --- running the filter as a printing system would -------------------------

// Where the printer data goes.
enum class Printer {
  kConnected,  // a pipe the test reads
  kFull,       // a device that takes no more data (/dev/full)
  kGone,       // a pipe whose reader has closed
};

struct Outcome {
  std::string out;
  std::vector<std::string> err;
  int status = -1;   // exit status, or 128 + signal
  long peak_kb = 0;  // largest resident set (includes what fork copied)
};

// Address space the filter may use. Its own needs are a few tens of MB; a
// page that would take gigabytes fails to get them. (AddressSanitizer
// reserves terabytes up front, so there each allocation is capped instead.)
const rlim_t kAddressSpace = 768ull << 20;
const char kSanitizerCap[] = "max_allocation_size_mb=128:allocator_may_return_null=1";

#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
#else
const bool kSanitized = false;
#endif

// Runs the filter with the given arguments (args[0] is argv[0]), PPD (unset
// when empty) and standard input (/dev/null when empty).
Outcome RunFilter(const std::vector<std::string> &args, const std::string &ppd,
            const std::string &stdin_path = "", Printer printer = Printer::kConnected) {
  Outcome result;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  std::string asan = kSanitizerCap;
  for (char **e = environ; *e; e++) {
    if (!strncmp(*e, "PPD=", 4)) continue;
    if (!strncmp(*e, "ASAN_OPTIONS=", 13)) {
      asan = std::string(*e + 13) + ":" + asan;
      continue;
    }
    env_text.push_back(*e);
  }
  env_text.push_back("ASAN_OPTIONS=" + asan);
  if (!ppd.empty()) env_text.push_back("PPD=" + ppd);
  std::vector<char *> envp;
  for (std::string &e : env_text) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  int out[2] = {-1, -1}, err[2];
  if (pipe(err) != 0 || (printer != Printer::kFull && pipe(out) != 0)) abort();
  if (printer == Printer::kGone) {
    close(out[0]);  // nobody will ever read the printer data
    out[0] = -1;
  }
  int in = open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
  if (in < 0) abort();

  pid_t pid = fork();
  if (pid < 0) abort();
  if (pid == 0) {
    int device = printer == Printer::kFull ? open("/dev/full", O_WRONLY) : out[1];
    dup2(in, 0);
    dup2(device, 1);
    dup2(err[1], 2);
    for (int fd = 3; fd < 64; fd++) close(fd);
    if (!kSanitized) {
      struct rlimit limit = {kAddressSpace, kAddressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    execve(INKBANDS_BINARY, argv.data(), envp.data());
    _exit(127);
  }
  close(in);
  close(err[1]);
  if (out[1] >= 0) close(out[1]);

  std::string error_text;
  struct pollfd fds[2] = {{err[0], POLLIN, 0}, {out[0], POLLIN, 0}};
  std::string *sinks[2] = {&error_text, &result.out};
  time_t deadline = time(nullptr) + 60;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (time(nullptr) >= deadline) {
      kill(pid, SIGKILL);  // hung: the status below says so
      break;
    }
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int k = 0; k < 2; k++) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t n = read(fds[k].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[k]->append(buffer, (size_t)n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
      }
    }
  }
  for (struct pollfd &f : fds)
    if (f.fd >= 0) close(f.fd);

  int status = 0;
  struct rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peak_kb = usage.ru_maxrss;
  std::istringstream lines(error_text);
  for (std::string line; std::getline(lines, line);) result.err.push_back(line);
  return result;
}

Outcome Print(const std::string &ppd, const std::string &raster,
              Printer printer = Printer::kConnected) {
  return RunFilter({"inkbands", "1", "tester", "hostile", "1", "", raster}, ppd, "", printer);
}

int CountErrors(const std::vector<std::string> &err) {
  return (int)std::count_if(err.begin(), err.end(),
                            [](const std::string &l) { return l.rfind("ERROR: ", 0) == 0; });
}

// What a sanitizer or a failed assertion in the filter leaves on stderr.
bool HasSanitizerReport(const std::vector<std::string> &err) {
  for (const std::string &l : err)
    if (l.find("Sanitizer") != std::string::npos || l.find("runtime error:") != std::string::npos)
      return true;
  return false;
}

// Peak memory of a run that allocates next to nothing, to measure others by
// (fork copies the test process's pages into the count).
long BaselineKb() {
  static long baseline = 0;
  if (!baseline) {
    harness::TestPage page = harness::DescribePage("fam=4 w=16 h=1");
    baseline = Print(harness::WritePpd(4, page.sizes),
                     harness::WriteRaster({harness::BlankPage(page.header)})).peak_kb;
  }
  return baseline;
}

std::string Ppd(int family) { return harness::WritePpd(family, harness::DefaultSizes()); }

// A header whose sizes are set by hand, not derived.
cups_page_header2_t Header(cups_cspace_t space, unsigned bits, unsigned width, unsigned height,
                           unsigned bytes_per_line) {
  cups_page_header2_t h = harness::MakeHeader(16, height, space, bits, 720, 720);
  h.cupsWidth = width;
  h.cupsBytesPerLine = bytes_per_line;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  return h;
}

// The raster commands of a printer stream (ESC i with their data).
struct RasterCommand {
  unsigned colour, compressed, bits, row_bytes, rows;
  std::string data;
};
std::vector<RasterCommand> RasterCommands(const std::string &stream) {
  std::vector<RasterCommand> found;
  for (auto [begin, end] : harness::SplitCommands(stream)) {
    if (end - begin < 9 || stream.compare(begin, 2, "\x1bi") != 0) continue;
    auto byte = [&](size_t at) { return (unsigned)(unsigned char)stream[begin + at]; };
    found.push_back({byte(2), byte(3), byte(4), byte(5) | byte(6) << 8, byte(7) | byte(8) << 8,
                     stream.substr(begin + 9, end - begin - 9)});
  }
  return found;
}

// --- absurd sizes -----------------------------------------------------------

// Headers whose buffers would be absurd are refused before anything of the
// page is allocated or sent: one ERROR line, the job's start and end
// commands only, and no more memory than a one-line job.
TEST(Hostile, AbsurdSizesAreRefusedBeforeAnythingIsAllocated) {
  struct Case {
    const char *what;
    int family;
    cups_page_header2_t header;
    std::string error;
  };
  auto woven = [](cups_page_header2_t h, unsigned rows, unsigned step) {
    h.cupsRowCount = rows;
    h.cupsRowStep = step;
    return h;
  };
  const Case kCases[] = {
      {"four billion pixels of 1-bit dots", 7,
       Header(CUPS_CSPACE_K, 1, 4000000000u, 1, 500000000u),
       "ERROR: Page 1: bands of 1 rows of 500000000 bytes are too large for the printer."},
      {"a 2 GB line of four 8-bit inks", 7, Header(CUPS_CSPACE_KCMY, 8, 500000000u, 1, 2000000000u),
       "ERROR: Page 1: bands of 1 rows of 62500000 bytes are too large for the printer."},
      // Beyond 2 GB a line is more than the raster library reads.
      {"a 4 GB line of four 8-bit inks", 7, Header(CUPS_CSPACE_KCMY, 8, 1000000000u, 1, 4000000000u),
       "ERROR: Page 1: the page header is damaged, cut short or describes no lines; the job was "
       "stopped there."},
      {"a billion pixels on an ESC . printer", 4, Header(CUPS_CSPACE_K, 8, 1000000000u, 1, 1000000000u),
       "ERROR: Page 1: bands of 1 rows of 1000000000 dots are too large for the printer."},
      {"three billion nozzle rows", 7, woven(Header(CUPS_CSPACE_K, 1, 16, 8, 2), 3000000000u, 4),
       "ERROR: Page 1: bands of 536870911 rows of 2 bytes are too large for the printer."},
      {"billions of rows on the offset heads of family 9", 9,
       woven(Header(CUPS_CSPACE_K, 8, 16, 8, 16), 4000000000u, 4),
       "ERROR: Page 1: bands of 1610612736 rows of 2 bytes are too large for the printer."},
      {"billions of rows on the grey heads of family 11", 11,
       woven(Header(CUPS_CSPACE_K, 8, 16, 8, 16), 4000000000u, 1),
       "ERROR: Page 1: bands of 2147483647 rows of 2 bytes are too large for the printer."},
      // 4 bands of 40000 rows of 65535 bytes: 10 GB, though every count
      // fits its command.
      {"bands the commands carry but no printer holds", 7,
       woven(Header(CUPS_CSPACE_K, 1, 524280, 8, 65535), 40000, 1),
       "ERROR: Page 1: the page would need 9999 MB of memory (524280 pixels wide, 40000 rows "
       "per pass)."},
  };
  long baseline = BaselineKb();
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    // Only the header: the filter must not ask for the data.
    std::string raster = harness::WriteRaster({{c.header, {}}});
    Outcome got = Print(Ppd(c.family), raster);
    EXPECT_EQ(1, got.status);
    EXPECT_EQ(std::vector<std::string>{c.error}, got.err);
    std::string frame = c.family < 5000 ? expect::kJobStartEjl + " | " + expect::kJobEndReset
                                        : expect::kJobEndRemote;
    EXPECT_EQ(harness::ToHex(harness::Hex(frame)), harness::ToHex(got.out));
    EXPECT_LT(got.peak_kb, baseline + 8 * 1024) << "baseline " << baseline << " kB";
  }
}

// The widest roll a printer takes, 44 inches at 2880 dpi (126720 dots), in
// four inks, prints woven and unwoven within the memory a real printer job
// needs; pre-dithered rows arrive at the printer exactly as they came.
TEST(Hostile, WidestRollPrintsInBoundedMemory) {
  const unsigned kWidth = 44 * 2880;
  long baseline = BaselineKb();
  for (const char *weave : {"weave=1/0/0", "weave=16/7/4", "weave=16/7/204"}) {
    SCOPED_TRACE(weave);
    harness::TestPage page = harness::DescribePage(std::string("fam=8 res=2880x720 space=KCMY bits=8 "
                                                               "comp=2 h=6 ") + weave);
    page.header.cupsWidth = kWidth;
    harness::FixLineSize(page.header);
    harness::Page ink = harness::MakePage(
        page.header, [](unsigned line, unsigned i) { return (unsigned char)((i + line) % 7 ? 200 : 0); });
    Outcome got = Print(harness::WritePpd(8, page.sizes), harness::WriteRaster({ink}));
    EXPECT_EQ(0, got.status);
    EXPECT_EQ(0, CountErrors(got.err));
    std::vector<RasterCommand> commands = RasterCommands(got.out);
    ASSERT_FALSE(commands.empty());
    // 2-bit dots: a whole line is 31680 bytes, one of two columns 15840.
    // Every row of the 6 lines goes out once: 4 inks, 1 or 2 columns.
    bool columns = std::string(weave) == "weave=16/7/204";
    unsigned rows = 0;
    for (const RasterCommand &c : commands) {
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
  harness::Page dots = harness::MakePage(
      page.header, [](unsigned line, unsigned i) { return (unsigned char)(i * 13 + line * 101 + 1); });
  Outcome got = Print(harness::WritePpd(8, page.sizes), harness::WriteRaster({dots}));
  ASSERT_EQ(0, got.status);
  std::vector<RasterCommand> commands = RasterCommands(got.out);
  ASSERT_EQ(3u, commands.size());
  for (unsigned y = 0; y < 3; y++) {
    EXPECT_EQ(15840u, commands[y].row_bytes);
    EXPECT_TRUE(commands[y].data == std::string(dots.data.begin() + y * 15840,
                                                 dots.data.begin() + (y + 1) * 15840))
        << "row " << y;
  }
}

// --- pages the filter cannot print right -------------------------------------

// Pages refused at their header: one ERROR line naming the page and what is
// wrong, the job's start and end commands and nothing of the page. Pages the
// filter can print despite an odd PPD print.
TEST(Hostile, PagesThatCannotPrintRightAreRefused) {
  struct Case {
    const char *what;
    std::string page;  // DescribePage words, family 4 unless named
    void (*change)(cups_page_header2_t &);
    std::string error;
  };
  const Case kCases[] = {
      {"2 bits per colour", "bits=8", [](cups_page_header2_t &h) { h.cupsBitsPerColor = 2; harness::FixLineSize(h); },
       "ERROR: Page 1: 2 bits per colour are not supported (1 or 8)."},
      {"16 bits per colour", "bits=8", [](cups_page_header2_t &h) { h.cupsBitsPerColor = 16; harness::FixLineSize(h); },
       "ERROR: Page 1: 16 bits per colour are not supported (1 or 8)."},
      {"chunked colour order", "space=KCMY bits=8",
       [](cups_page_header2_t &h) { h.cupsColorOrder = CUPS_ORDER_CHUNKED; h.cupsBitsPerPixel = 32; },
       "ERROR: Page 1: colour order 0 is not supported (banded only)."},
      {"planar colour order", "space=CMY bits=8",
       [](cups_page_header2_t &h) { h.cupsColorOrder = CUPS_ORDER_PLANAR; },
       "ERROR: Page 1: colour order 2 is not supported (banded only)."},
      {"a contone line one byte long", "space=KCMY bits=8 w=10",
       [](cups_page_header2_t &h) { h.cupsBytesPerLine = 41; },
       "ERROR: Page 1: 41 bytes per line do not match 10 pixels of 4 inks."},
      {"a bitmap line one byte short", "space=KCMY bits=1 w=20",
       [](cups_page_header2_t &h) { h.cupsBytesPerLine = 11; },
       "ERROR: Page 1: 11 bytes per line do not match 4 inks of 3 bytes of pre-dithered dots each."},
      {"more head passes than bands", "fam=7 weave=4000/0/1299", nullptr,
       "ERROR: Page 1: an interleave of 12 columns by 99 rows needs more than 128 head passes."},
      {"no horizontal resolution", "res=0x720", nullptr,
       "ERROR: Page 1: unsupported resolution 0x720 dpi."},
      {"a resolution no head prints", "res=720x11520", nullptr,
       "ERROR: Page 1: unsupported resolution 720x11520 dpi."},
      {"no pixels", "w=0", [](cups_page_header2_t &h) { h.cupsBytesPerLine = 2; },
       "ERROR: Page 1: the page is 0 pixels wide."},
      // Set-up values beyond the fields of the page commands.
      {"a page longer than 65535 rows", "fam=7 size=612x7000", nullptr,
       "ERROR: Page 1: a page of 612 x 7000 points at 720 dpi is more than the printer's page "
       "commands carry (65535 rows)."},
      {"a 200-inch roll page at 360 dpi", "fam=9000 res=360x360 size=612x14400", nullptr,
       "ERROR: Page 1: a page of 612 x 14400 points at 360 dpi is more than the printer's page "
       "commands carry (65535 rows)."},
      {"a page beyond 32 bits of rows", "fam=10000 size=612x4000000000", nullptr,
       "ERROR: Page 1: a page of 612 x 4000000000 points at 720 dpi is more than the printer's "
       "page commands carry (4294967295 rows)."},
      {"a top margin beyond 65535 rows", "ppd=deep", nullptr,
       "ERROR: Page 1: a top margin of 999992165 rows at 720 dpi (from the PPD's page sizes) is "
       "more than the printer's commands carry (65535)."},
      {"a custom size beyond the MS command", "fam=5000 size=14000x200", nullptr,
       "ERROR: Page 1: a custom page of 14000 x 200 points is more than the printer's paper size "
       "command carries (13107 points)."},
      {"5760 dpi in 1/1440 inch", "fam=8 res=5760x720", nullptr,
       "ERROR: Page 1: 5760x720 dpi in 1 interleave columns cannot be expressed in the printer's "
       "units of 1/1440 inch."},
      {"2880 dpi rows in 1/1440 inch", "fam=7 res=1440x2880", nullptr,
       "ERROR: Page 1: 1440x2880 dpi in 1 interleave columns cannot be expressed in the printer's "
       "units of 1/1440 inch."},
      {"300 dpi in 1/1440 inch", "fam=7 res=300x720", nullptr,
       "ERROR: Page 1: 300x720 dpi in 1 interleave columns cannot be expressed in the printer's "
       "units of 1/1440 inch."},
      {"1440 dpi in one column on ESC .", "fam=4 res=1440x720", nullptr,
       "ERROR: Page 1: 1440x720 dpi in 1 interleave columns cannot be expressed in the printer's "
       "units of 1/3600 inch."},
      {"1440 dpi woven in one column on ESC .", "fam=5000 res=1440x720 weave=8/0/1", nullptr,
       "ERROR: Page 1: 1440x720 dpi in 1 interleave columns cannot be expressed in the printer's "
       "units of 1/3600 inch."},
      {"2-bit dots on ESC .", "fam=5 space=KCMY bits=8 comp=2", nullptr,
       "ERROR: Page 1: family 5 prints 1-bit dots only; 2-bit dots (cupsCompression 2) cannot be "
       "sent to it."},
      {"six inks on family 9", "fam=9 space=KCMYcm bits=8 weave=96/0/8", nullptr,
       "ERROR: Page 1: family 9 printers have no light inks; six-ink pages cannot be printed on "
       "them."},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    harness::TestPage page = harness::DescribePage(c.page + " h=2");
    if (c.change) c.change(page.header);
    harness::Page ink = harness::MakePage(page.header, [](unsigned, unsigned) { return (unsigned char)0x55; });
    Outcome got = Print(harness::WritePpd(page.family, page.sizes), harness::WriteRaster({ink}));
    EXPECT_EQ(1, got.status);
    EXPECT_EQ(std::vector<std::string>{c.error}, got.err);
    std::string frame = page.family < 5000 ? expect::kJobStartEjl + expect::kJobEndReset
                                           : expect::kJobEndRemote;
    EXPECT_EQ(harness::ToHex(harness::Hex(frame)), harness::ToHex(got.out));
  }

  // 1440 dpi on the ESC . printers prints in two interleave columns, each
  // 1/720 inch wide (units of 5/3600 inch), the second moved 1/1440 inch.
  for (int family : {4, 5, 5000}) {
    harness::TestPage page = harness::DescribePage(
        "fam=" + std::to_string(family) + " res=1440x720 space=K bits=8 h=8 weave=8/0/202");
    auto grey = [](unsigned, unsigned) { return (unsigned char)0x5a; };
    Outcome got = Print(harness::WritePpd(family, page.sizes),
                        harness::WriteRaster({harness::MakePage(page.header, grey)}));
    EXPECT_EQ(0, got.status) << family;
    EXPECT_NE(got.out.find(harness::Hex("1b 2e 00 0a 05")), std::string::npos) << family;
  }
}

TEST(Hostile, InputThatIsNotAPrintJob) {
  harness::TestPage page = harness::DescribePage("h=1");
  std::string good = harness::WriteRaster({harness::BlankPage(page.header)});
  // A PPD without sizes leaves the top margin at 0 and the page length to
  // ESC ( C: the page prints.
  std::string blank_page_top0 =
      "1b 40 | 1b 28 52 08 00 00 52 45 4d 4f 54 45 31 | 53 54 02 00 00 00 | 1b 00 00 00 | "
      "1b 28 47 01 00 01 | 1b 28 55 01 00 05 | 1b 28 43 02 00 e4 20 | "
      "1b 28 63 04 00 00 00 e4 20 | 1b 28 56 02 00 00 00 | 1b 55 00 | 1b 28 69 01 00 01 | "
      "1b 28 4b 02 00 00 01 | 1b 28 65 02 00 00 02 | 0c";
  Outcome got = Print(harness::WritePpd(4, {}), good);
  EXPECT_EQ(0, got.status);
  EXPECT_EQ(0, CountErrors(got.err));
  EXPECT_EQ(harness::ToHex(harness::Hex(expect::kJobStartEjl + " | " + blank_page_top0 + " | " +
                                        expect::kJobEndReset)),
            harness::ToHex(got.out));

  struct Case {
    const char *what;
    std::string ppd, raster;
    std::vector<std::string> err;
  };
  const Case kCases[] = {
      {"a PDF for raster", Ppd(4), harness::WriteFile("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "pdf"),
       {expect::kNotRaster}},
      {"random bytes", Ppd(4), harness::WriteFile(std::string(3000, '\xa5'), "bin"), {expect::kNotRaster}},
      {"a raster stream for the PPD", good, good, {}},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    Outcome bad = Print(c.ppd, c.raster);
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ("", harness::ToHex(bad.out));
    if (!c.err.empty()) {
      EXPECT_EQ(c.err, bad.err);
    }
    ASSERT_EQ(1u, bad.err.size());
    EXPECT_EQ(0u, bad.err[0].rfind("ERROR: ", 0)) << bad.err[0];
  }
}

// --- jobs cut short -------------------------------------------------------------

// Writes pages through the compressing writer (version 2 streams, as most
// rasterizers send them); a page's data may be short.
std::string WriteCompressedRaster(const std::vector<harness::Page> &pages) {
  std::string path = harness::TempPath("ras");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  for (const harness::Page &page : pages) {
    cups_page_header2_t header = page.header;
    cupsRasterWriteHeader2(raster, &header);
    std::vector<unsigned char> data = page.data;
    if (!data.empty()) cupsRasterWritePixels(raster, data.data(), (unsigned)data.size());
  }
  cupsRasterClose(raster);
  close(fd);
  return path;
}

std::string Cut(const std::string &path, long keep) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return harness::WriteFile(bytes.substr(0, keep < 0 ? bytes.size() + keep : keep), "ras");
}

// Line y of a pre-dithered test page: no two lines alike, every byte inked.
unsigned char LineByte(unsigned line, unsigned index) { return (unsigned char)(0x11 * (line + 1) + index) | 1; }

// A job cut inside a page's data is reported, and the printer gets exactly
// the lines that arrived whole: none of the cut line, nothing invented after.
TEST(Hostile, JobCutInsideAPageSendsOnlyTheLinesThatArrived) {
  // Family 7, black 1-bit dots, 8 lines of 10 bytes, not compressed: each
  // line that arrives is one ESC i row of its own bytes.
  harness::TestPage page = harness::DescribePage("fam=7 bits=1 w=80 h=8");
  harness::Page full = harness::MakePage(page.header, LineByte);
  harness::Page cut = full;
  cut.data.resize(3 * 10 + 5);  // three lines and half of the fourth
  std::string ppd = harness::WritePpd(7, page.sizes);
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed stream" : "plain stream");
    std::string raster = compressed ? WriteCompressedRaster({cut}) : harness::WriteRaster({cut});
    Outcome got = Print(ppd, raster);
    EXPECT_EQ(1, got.status);
    ASSERT_FALSE(got.err.empty());
    EXPECT_EQ("ERROR: The print data ended in the middle of page 1; the rest of the page was "
              "left blank.",
              got.err.back());
    EXPECT_EQ(1, CountErrors(got.err));
    std::vector<RasterCommand> rows = RasterCommands(got.out);
    ASSERT_EQ(3u, rows.size());
    for (unsigned y = 0; y < 3; y++)
      EXPECT_EQ(harness::ToHex(std::string(full.data.begin() + y * 10, full.data.begin() + y * 10 + 10)),
                harness::ToHex(rows[y].data));
    // The page is still ejected and the job closed.
    std::string tail = harness::Hex("0c " + expect::kJobEndReset);
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
    Outcome got = Print(harness::WritePpd(7, woven.sizes), harness::WriteRaster({part}));
    EXPECT_EQ(1, got.status);
    EXPECT_EQ(1, CountErrors(got.err));
    size_t sent = 0, arrived = 0;
    for (const RasterCommand &c : RasterCommands(got.out))
      for (char b : c.data) sent += __builtin_popcount((unsigned char)b);
    for (size_t i = 0; i < lines * 10; i++) arrived += __builtin_popcount(inked.data[i]);
    EXPECT_EQ(arrived, sent);
  }
}

// Cut between pages or in a header, or a header the raster library will not
// read: the pages before it print, and the job fails saying which page.
// A stream that ends cleanly after its last page is a finished job.
TEST(Hostile, JobCutBetweenPagesIsNotTakenForAShortJob) {
  harness::TestPage page = harness::DescribePage("fam=7 bits=1 w=80 h=4");
  harness::Page one = harness::MakePage(page.header, LineByte);
  cups_page_header2_t no_lines = page.header, too_deep = page.header;
  no_lines.cupsHeight = 0;
  too_deep.cupsBitsPerColor = 32;  // more than the raster library reads
  harness::FixLineSize(too_deep);
  std::string ppd = harness::WritePpd(7, page.sizes);
  const std::string kStopped =
      "ERROR: Page 2: the page header is damaged, cut short or describes no lines; the job was "
      "stopped there.";

  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed stream" : "plain stream");
    auto write = [&](const std::vector<harness::Page> &pages) {
      return compressed ? WriteCompressedRaster(pages) : harness::WriteRaster(pages);
    };
    struct Case {
      const char *what;
      std::string raster;
      int pages;
      std::string error;
    };
    std::string two = write({one, one});
    const Case kCases[] = {
        {"two whole pages", two, 2, ""},
        {"cut in the second header", Cut(two, -(4 * 10) - 900), 1, kStopped},
        {"a second page of no lines", write({one, {no_lines, {}}, one}), 1, kStopped},
        {"a second page of 32 bits per colour", write({one, {too_deep, {}}}), 1, kStopped},
    };
    for (const Case &c : kCases) {
      SCOPED_TRACE(c.what);
      Outcome got = Print(ppd, c.raster);
      int pages = (int)std::count_if(got.err.begin(), got.err.end(),
                                     [](const std::string &l) { return l.rfind("PAGE: ", 0) == 0; });
      EXPECT_EQ(c.pages, pages);
      EXPECT_EQ(c.error.empty() ? 0 : 1, got.status);
      EXPECT_EQ(c.error.empty() ? 0 : 1, CountErrors(got.err));
      if (!c.error.empty()) {
        ASSERT_FALSE(got.err.empty());
        EXPECT_EQ(c.error, got.err.back());
      }
      EXPECT_EQ(c.pages * 4, (int)RasterCommands(got.out).size());
    }
  }
}

// A compressed page whose line the raster library cannot get memory for
// is reported as such, not as a damaged header.
TEST(Hostile, LineBufferThatCannotBeHadIsReported) {
  harness::TestPage page = harness::DescribePage("fam=7 bits=8 h=2");
  page.header.cupsWidth = page.header.cupsBytesPerLine = 1500000000u;
  Outcome got = Print(harness::WritePpd(7, page.sizes), WriteCompressedRaster({{page.header, {}}}));
  EXPECT_EQ(1, got.status);
  EXPECT_EQ(1, CountErrors(got.err));  // AddressSanitizer may warn of the allocation
  ASSERT_FALSE(got.err.empty());
  EXPECT_EQ("ERROR: Unable to allocate memory for reading page 1.", got.err.back());
}

// A header that promises four billion lines and delivers two ends at once.
TEST(Hostile, EndlessPageEndsWithItsData) {
  harness::TestPage page = harness::DescribePage("fam=4 bits=1 w=80 h=2");
  harness::Page two = harness::MakePage(page.header, LineByte);
  two.header.cupsHeight = 4000000000u;
  time_t start = time(nullptr);
  Outcome got = Print(harness::WritePpd(4, page.sizes), harness::WriteRaster({two}));
  EXPECT_LE(time(nullptr) - start, 10);
  EXPECT_EQ(1, got.status);
  ASSERT_FALSE(got.err.empty());
  EXPECT_EQ("ERROR: The print data ended in the middle of page 1; the rest of the page was left "
            "blank.",
            got.err.back());
  EXPECT_EQ(1, CountErrors(got.err));
}

// --- the printer goes away ------------------------------------------------------

// Data that cannot be delivered is a failed job, whether the printer fails
// at the first byte or in the middle of a page, on a small page held in the
// output buffer until the end or on a large one.
TEST(Hostile, PrinterThatTakesNoDataFailsTheJob) {
  struct Case {
    Printer printer;
    const char *reason;
  };
  const Case kPrinters[] = {{Printer::kFull, "No space left on device"},
                            {Printer::kGone, "Broken pipe"}};
  for (const Case &p : kPrinters) {
    for (const char *words : {"h=1", "fam=7 space=KCMY bits=8 w=600 h=300 weave=16/7/4 comp=1"}) {
      SCOPED_TRACE(std::string(p.reason) + ", " + words);
      harness::TestPage page = harness::DescribePage(words);
      Outcome got = Print(harness::WritePpd(page.family, page.sizes),
                          harness::WriteRaster({harness::MakePage(page.header, LineByte)}), p.printer);
      EXPECT_EQ(1, got.status);
      EXPECT_EQ(1, CountErrors(got.err));
      ASSERT_FALSE(got.err.empty());
      EXPECT_EQ(std::string("ERROR: Unable to send print data to the printer - ") + p.reason,
                got.err.back());
    }
  }
}

// --- fuzz findings ----------------------------------------------------------------

std::vector<std::string> FilesIn(const std::string &dir) {
  std::vector<std::string> files;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The fuzz/ directory of the source tree, found from this file.
std::string FuzzDir() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind("/tests/e2e/")) + "/fuzz";
}

// Every job that once broke the filter under the fuzzer (and every seed the
// fuzzer starts from) is printed by the real binary and must end as the fuzz
// target demands: status 0 with no error and every page printed, or status
// 1 with one ERROR line; a job cut in a page's data, or one whose printer
// takes no data, never succeeds; no crash, hang or sanitizer report.
TEST(Hostile, FuzzFindingsStayFixed) {
  std::vector<std::string> jobs = FilesIn(FuzzDir() + "/regressions/filter");
  size_t findings = jobs.size();
  for (const std::string &seed : FilesIn(FuzzDir() + "/corpus/filter")) jobs.push_back(seed);
  ASSERT_GT(findings, 0u) << "no regressions found under " << FuzzDir();
  for (const std::string &path : jobs) {
    SCOPED_TRACE(path);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzzjob::JobSpec job = fuzzjob::Decode((const uint8_t *)bytes.data(), bytes.size());
    fuzzjob::Raster raster = fuzzjob::WriteRaster(job);
    std::string ppd = harness::WriteFile(fuzzjob::PpdText(job), "ppd");
    std::string stream = harness::WriteFile(raster.bytes, "ras");

    std::vector<std::string> args = {"inkbands", "1", "fuzz", "title", "1", ""};
    std::string stdin_path;
    if (job.flags & 4) stdin_path = stream;
    else args.push_back(stream);
    if (job.flags & 128) args.pop_back();
    Outcome got = RunFilter(args, ((job.flags >> 5) & 3) == 3 ? "" : ppd, stdin_path,
                      job.flags & 8 ? Printer::kFull : Printer::kConnected);

    EXPECT_FALSE(HasSanitizerReport(got.err));
    if (got.status != 0 && got.status != 1) {
      ADD_FAILURE() << "status " << got.status;  // crashed, killed or hung
      continue;
    }
    EXPECT_EQ(got.status, CountErrors(got.err));
    if (raster.cut_in_page || (job.flags & 8)) {
      EXPECT_EQ(1, got.status);
    }
    if (got.status == 0) {
      int whole = 0, pages = 0;
      for (const fuzzjob::PageExtent &e : raster.pages) whole += e.header_end <= raster.bytes.size();
      for (const std::string &l : got.err) pages += l.rfind("PAGE: ", 0) == 0;
      EXPECT_EQ(whole, pages);
    }
  }
}

}  // namespace
