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

#include "expect.h"
#include "harness.h"

namespace {

// Writes the stream to a file and decodes it with inkbands-preview --dump;
// returns its messages, empty when the whole stream decoded.
std::string PreviewFailure(const std::string &stream) {
  std::string path = harness::WriteFile(stream, "prn"), err = harness::TempPath("err");
  std::string command = std::string(INKBANDS_PREVIEW_BINARY) + " --dump --no-images " + path +
                        " >/dev/null 2>" + err;
  int status = std::system(command.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  std::ifstream in(err);
  return "preview status " + std::to_string(status) + ": " +
         std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Starts of the commands of a stream, and its end.
std::vector<size_t> Boundaries(const std::string &stream) {
  std::vector<size_t> starts;
  for (auto [begin, end] : harness::SplitCommands(stream)) starts.push_back(begin);
  starts.push_back(stream.size());
  return starts;
}

// Pre-dithered dots, different on every line, every byte inked.
unsigned char Dots(unsigned line, unsigned index) {
  return (unsigned char)((line * 7 + index * 13) % 251 | 0x11);
}
// Contone ink amounts varying along and across the lines, with gaps.
unsigned char Ink(unsigned line, unsigned index) {
  return (unsigned char)((line + index) % 9 ? 40 + (line * 3 + index) % 200 : 0);
}

// A cancel (SIGTERM from the printing system, SIGINT or SIGHUP by hand) at
// a random moment while a slow printer reads: the command being written
// goes out whole, nothing more of the page, then the form feed and the job
// end commands. The printer stream is the finished job's up to a command
// boundary, decodes completely, and a job sent after it decodes too.
TEST(Ending, CancelEndsThePageAndTheJobBetweenCommands) {
  struct Case {
    const char *what;
    std::string page;  // DescribePage words
    bool contone;
    std::string job_end;
  };
  const Case kCases[] = {
      {"six inks woven, 2-bit dots, ESC i", "fam=7 res=1440x720 space=KCMYcm bits=8 comp=2 "
       "w=1200 h=100 weave=288/23/206", true, expect::kJobEndReset},
      {"black dots unwoven, ESC .", "fam=4 bits=1 w=5760 h=180", false, expect::kJobEndReset},
      {"six inks woven, ESC .", "fam=5 space=KCMYcm bits=8 comp=1 w=1600 h=160 weave=48/0/8",
       true, expect::kJobEndReset},
      {"four inks woven on a roll printer", "fam=9000 space=KCMY bits=8 comp=1 w=2000 h=180 "
       "weave=48/0/8", true, expect::kJobEndRemote},
  };
  const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
  std::mt19937 random(13);
  int run = 0;
  for (const Case &c : kCases) {
    harness::TestPage page = harness::DescribePage(c.page);
    harness::Page ink = harness::MakePage(page.header, c.contone ? Ink : Dots);
    std::string raster = harness::WriteRaster({ink, ink});
    std::string ppd = harness::WritePpd(page.family, page.sizes);
    harness::Result whole = harness::RunFilter(ppd, raster);
    ASSERT_EQ(0, whole.status) << c.what;
    std::vector<size_t> boundaries = Boundaries(whole.out);
    std::string tail = harness::Hex(expect::kFormFeed + c.job_end);
    // Well before the end: the filter is still writing when the signal
    // comes (the pipe and the output buffer hold less than 128 kB).
    ASSERT_GT(whole.out.size(), 200000u) << c.what;
    std::uniform_int_distribution<size_t> moment(1, whole.out.size() - 130000);
    for (int k = 0; k < 4; k++, run++) {
      harness::SlowPrinter printer = {8192, 300, moment(random), kSignals[run % 3]};
      SCOPED_TRACE(std::string(c.what) + ", signal " + std::to_string(printer.signal) +
                   " after " + std::to_string(printer.signal_after) + " bytes");
      harness::Result got = harness::RunFilterArgs(
          {"inkbands", "1", "tester", "cancel", "1", "", raster}, ppd, "", &printer);
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
harness::Result PrintFromPipe(const std::string &ppd, const std::string &bytes) {
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
  harness::Result got = harness::RunFilter(ppd, "", fifo);
  waitpid(writer, nullptr, 0);
  return got;
}

// The whole contents of a file.
std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stream cut short anywhere is reported as what it is, whatever the
// stream version (1 plain, 2 compressed, 3 plain) and whether it is read
// from a file or a pipe: only a cut exactly between two pages cannot be
// told from a shorter job. Inside a page header, where every cut ends
// alike, the first two, the middle and the last two offsets are taken
// (INKBANDS_EVERY_OFFSET=1 takes every one).
TEST(Ending, StreamCutAnywhereIsReported) {
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
  struct Version {
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
      return ReadAll(path);
    };
    std::string stream = write({one, two});
    size_t kHeader = 4 + v.header;  // the sync word, then the first header
    size_t first_end = write({one}).size(), second_header = first_end + v.header;
    ASSERT_LT(second_header, stream.size());
    int runs = 0;
    for (size_t keep = 0; keep <= stream.size(); keep++) {
      size_t into = keep < kHeader ? keep - 4 : keep - first_end;  // bytes into a header
      bool in_header = (keep > 4 && keep < kHeader) || (keep > first_end && keep < second_header);
      if (in_header && !every && into > 2 && into + 2 < v.header && into != v.header / 2)
        continue;
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
                                   : harness::RunFilter(ppd, harness::WriteFile(cut, "ras"));
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

// Jobs that cannot start say why: the system's reason for a PPD or raster
// input that cannot be read, the parser's for a file that is no PPD (with
// its line where there is one).
TEST(Ending, MessagesNameTheCause) {
  harness::TestPage page = harness::DescribePage("h=1");
  std::string ppd = harness::WritePpd(4, page.sizes);
  std::string dir = harness::TempPath("dir");
  mkdir(dir.c_str(), 0755);
  struct Case {
    const char *what;
    std::string ppd, raster, stdin_path;
    std::string error;
  };
  const Case kCases[] = {
      {"a PPD that is not there", dir + "/none.ppd", "", "",
       "ERROR: Unable to open PPD file \"" + dir + "/none.ppd\" - No such file or directory."},
      {"a directory for the PPD", dir, "", "",
       "ERROR: Unable to open PPD file \"" + dir + "\" - Is a directory."},
      {"an empty PPD", harness::WriteFile("", "ppd"), "", "", "ERROR: Unable to open PPD file"},
      {"a PPD of text", harness::WriteFile("hello\n", "ppd"), "", "",
       "ERROR: Unable to open PPD file"},
      {"a directory for the raster", ppd, dir, "",
       "ERROR: Unable to read raster data - Is a directory"},
      {"a closed standard input", ppd, "", harness::kClosedInput,
       "ERROR: Unable to read raster data - Bad file descriptor"},
  };
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.what);
    harness::Result got = harness::RunFilter(c.ppd, c.raster, c.stdin_path);
    EXPECT_EQ(1, got.status);
    EXPECT_EQ("", harness::ToHex(got.out));
    ASSERT_EQ(1u, got.err.size());
    EXPECT_EQ(0u, got.err[0].rfind(c.error, 0)) << got.err[0];
    EXPECT_EQ(std::string::npos, got.err[0].find("line 0")) << got.err[0];
  }
  rmdir(dir.c_str());
}

}  // namespace
