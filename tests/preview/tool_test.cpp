// The inkbands-preview program run on small streams: pictures, dump, and
// its exit status on a stream it cannot decode.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <cups/ppd.h>

#include <vector>

#include "harness.h"
#include "preview.h"

namespace {

// A page of one line of eight dots, cyan then light cyan (ESC . printer).
const char kTwoInkPage[] = "1b 40 1b 28 55 01 00 05 0d 1b 72 02 1b 2e 00 05 05 01 08 00 f0 "
                           "0d 1b 28 72 02 00 01 02 1b 2e 00 05 05 01 08 00 0f 0c";

// Runs the preview on the stream with the options, pictures to TempDir/name.
harness::Result RunPreview(const std::string &name, const std::string &stream,
                           std::vector<std::string> args)
{
  args.insert(args.begin(), "inkbands-preview");
  args.insert(args.end(), {"-o", ::testing::TempDir() + name, harness::WriteFile(stream, "prn")});
  return harness::RunFilter({"", "", "", args, INKBANDS_PREVIEW_BINARY});
}

TEST(PreviewTool, WritesOnePictureAPageAndOnePerInk)
{
  harness::Result run = RunPreview("two-ink", harness::Hex(kTwoInkPage), {"--inks", "--dump"});
  ASSERT_EQ(run.status, 0) << testing::PrintToString(run.err);
  std::string dir = ::testing::TempDir();
  const std::string kPng = "\x89PNG\r\n\x1a\n";
  for (const char *file : {"two-ink-1.png", "two-ink-1-cyan.png", "two-ink-1-light-cyan.png"})
    EXPECT_EQ(harness::ReadFile(dir + file).substr(0, 8), kPng) << file;
  EXPECT_EQ(harness::ReadFile(dir + "two-ink-1-black.png"), "");  // no black on the page
  EXPECT_NE(run.out.find("ESC ( r colour light-cyan"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("FF end of page 1: 8 x 1 dots at 720 x 720 dpi"), std::string::npos)
      << run.out;
}

TEST(PreviewTool, FailsOnAStreamItCannotDecode)
{
  struct Case
  {
    const char *name;
    const char *stream;
    const char *offset;
  };
  const Case kCases[] = {
      {"cut-data", "1b 40 0d 1b 2e 00 05 05 01 10 00 ff", "offset 3 "},
      {"cut-feed", "1b 40 1b 28 76 02 00", "offset 2 "},
      {"unknown", "1b 40 1b 7a", "offset 2 "},
  };
  for (const Case &c : kCases) {
    harness::Result run = RunPreview(c.name, harness::Hex(c.stream), {"--no-images"});
    EXPECT_NE(run.status, 0) << c.name;
    ASSERT_FALSE(run.err.empty()) << c.name;
    EXPECT_NE(run.err.back().find(c.offset), std::string::npos) << c.name << ": " << run.err.back();
  }
}

// --commands lists the commands as written, and the harness reads that
// notation back to the same bytes: each command of real jobs (job-language
// lines, remote mode, NUL runs, both raster commands packed and raw, feeds,
// moves), written out with its raster data, parses to the stream again.
TEST(PreviewTool, CommandWordsReadBackToTheStream)
{
  for (const char *words :
       {"fam=7 res=1440x720 space=KCMY bits=8 comp=2 w=40 h=24 weave=8/7/204",
        "fam=4 space=KCMYcm bits=8 comp=1 w=40 h=4", "fam=10000 bits=1 w=64 h=3"}) {
    SCOPED_TRACE(words);
    harness::TestPage page = harness::DescribePage(words);
    harness::Result got = harness::RunFilter(
        {harness::WritePpd(page.family, page.sizes),
         harness::WriteRaster({harness::MakePage(page.header, [](unsigned line, unsigned i) {
           return (unsigned char)(line * 37 + i * 11);
         })})});
    ASSERT_EQ(0, got.status);
    std::string text;
    for (const preview::Command &c : preview::ReadCommands(got.out)) {
      std::string w = c.words;
      size_t data = w.find(" <");
      if (data != std::string::npos) {
        size_t head = c.length - std::stoul(w.substr(data + 2));
        w = w.substr(0, data) + " " +
            harness::ToHex(got.out.substr(c.offset + head, c.length - head));
      }
      text += w + " | ";
    }
    std::string diff = harness::DiffStreams(got.out, harness::Hex(text));
    EXPECT_TRUE(diff.empty()) << diff;
  }
  harness::Result run = RunPreview("commands", harness::Hex(kTwoInkPage), {"--commands"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("ESC @\nESC ( U 05\nCR\nESC r 02\nESC . 00 05 05 01 0008 <1 bytes>\nCR\n"
            "ESC ( r 01 02\nESC . 00 05 05 01 0008 <1 bytes>\nFF\n",
            run.out);
}

// A failing comparison names the first command that differs, as words.
TEST(Harness, StreamDiffNamesTheCommand)
{
  std::string want = harness::Hex("ESC @ | ESC ( U 05 | ESC U 00 | FF");
  EXPECT_EQ("", harness::DiffStreams(want, want));
  std::string diff = harness::DiffStreams(want, harness::Hex("ESC @ | ESC ( U 0a | ESC U 00 | FF"));
  EXPECT_NE(std::string::npos, diff.find("at byte 7")) << diff;
  EXPECT_NE(std::string::npos, diff.find("want command #1: ESC ( U 05")) << diff;
  EXPECT_NE(std::string::npos, diff.find("got command #1:  ESC ( U 0a")) << diff;
  EXPECT_NE(std::string::npos, diff.find("after command: ESC @")) << diff;
  EXPECT_EQ(harness::Hex("1b 28 55 01 00 05 00 00 00 0c 1b 69 00 01 01 02 00 02 00"),
            harness::Hex("ESC ( U 05 | 00*3 FF ESC i 00 01 01 0002 0002"));
}

TEST(Harness, MasksPointersOnly)
{
  EXPECT_EQ((std::vector<std::string>{"DEBUG: freeing avail band PTR, prev = (nil),  next = PTR",
                                      "PTR", "ERROR: unsupported resolution 0x720 dpi."}),
            harness::MaskPointers({"DEBUG: freeing avail band 0x55d0c0a1b2c0, prev = (nil),  "
                                   "next = 0x55d0c0a1b300",
                                   "0x7ffd1234", "ERROR: unsupported resolution 0x720 dpi."}));
}

// ppdOpenFile is deprecated in CUPS 2.4 but is what the filter uses: the
// PPD that the tests and the fuzz targets write opens with its sizes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(Harness, PpdFixtureOpensWithItsSizesInOrder)
{
  std::string path = harness::WritePpd(
      9600, {{"Letter", 612, 792, 18, 35.5f, 594, 783.5f}, {"A4", 595, 842, 18, 36, 577, 833.5f}});
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

}  // namespace
