// How jobs end when they do not end normally: cancelled by the printing
// system while a slow printer reads, or cut short anywhere in the stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check.h"
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

unsigned char Dots(unsigned line, unsigned index) {
  return (unsigned char)((line * 7 + index * 13) % 251 | 0x11);
}
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

}  // namespace
