// The inkbands-preview program run on small streams: pictures, dump, and
// its exit status on a stream it cannot decode.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"

namespace {

// A page of one line of eight dots, cyan then light cyan (ESC . printer).
const char kTwoInkPage[] =
    "1b 40 1b 28 55 01 00 05 0d 1b 72 02 1b 2e 00 05 05 01 08 00 f0 "
    "0d 1b 28 72 02 00 01 02 1b 2e 00 05 05 01 08 00 0f 0c";

// What one run of the preview gave back.
struct PreviewRun {
  int status = -1;
  std::string out, err;
};

// Whole contents of a file, empty when it cannot be read.
std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the stream to a file and runs the preview on it with the options.
PreviewRun RunPreview(const std::string &name, const std::string &stream, const std::string &options) {
  std::string dir = ::testing::TempDir();
  std::string input = dir + name + ".bin", out = dir + name + ".out", err = dir + name + ".err";
  std::ofstream(input, std::ios::binary) << stream;
  std::string command = std::string(INKBANDS_PREVIEW_BINARY) + " " + options + " -o " + dir + name +
                        " " + input + " >" + out + " 2>" + err;
  PreviewRun run;
  int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

TEST(PreviewTool, WritesOnePictureAPageAndOnePerInk) {
  PreviewRun run = RunPreview("two-ink", harness::Hex(kTwoInkPage), "--inks --dump");
  ASSERT_EQ(run.status, 0) << run.err;
  std::string dir = ::testing::TempDir();
  const std::string kPng = "\x89PNG\r\n\x1a\n";
  for (const char *file : {"two-ink-1.png", "two-ink-1-cyan.png", "two-ink-1-light-cyan.png"})
    EXPECT_EQ(ReadFile(dir + file).substr(0, 8), kPng) << file;
  EXPECT_EQ(ReadFile(dir + "two-ink-1-black.png"), "");  // no black on the page
  EXPECT_NE(run.out.find("ESC ( r colour light-cyan"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("FF end of page 1: 8 x 1 dots at 720 x 720 dpi"), std::string::npos) << run.out;
}

TEST(PreviewTool, FailsOnAStreamItCannotDecode) {
  struct Case { const char *name; const char *stream; const char *offset; };
  const Case kCases[] = {
      {"cut-data", "1b 40 0d 1b 2e 00 05 05 01 10 00 ff", "offset 3 "},
      {"cut-feed", "1b 40 1b 28 76 02 00", "offset 2 "},
      {"unknown", "1b 40 1b 7a", "offset 2 "},
  };
  for (const Case &c : kCases) {
    PreviewRun run = RunPreview(c.name, harness::Hex(c.stream), "--no-images");
    EXPECT_NE(run.status, 0) << c.name;
    EXPECT_NE(run.err.find(c.offset), std::string::npos) << c.name << ": " << run.err;
  }
}

}  // namespace
