// rastertoinkbands, the step between the rasterizer and the filter: which
// pages it marks six-ink, that it changes nothing else, and that the filter
// then prints a rendered KCMY photo page as it prints the same page in KCMYcm;
// and pdftoinkbands, the rasterizer before it, with the job's colour profile.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using harness::Page;
using harness::Result;

// Runs the step on a raster file with the job's options.
Result RunStep(const std::string &ppd, const std::string &options, const std::string &input)
{
  return harness::RunFilter({ppd,
                             "",
                             input,
                             {"rastertoinkbands", "1", "tester", "step test", "1", options},
                             INKBANDS_STEP_BINARY});
}

// A photo-like line: every byte differs from its neighbours.
unsigned char Ramp(unsigned line, unsigned index)
{
  return (unsigned char)(line * 7 + index * 13 + 1);
}

struct MarkCase
{
  const char *page;     // harness::DescribePage words
  const char *options;  // the job's options
  bool ppd;             // with the family 7 PPD (else no PPD at all)
  cups_cspace_t want;   // the colour space the filter gets
};

const MarkCase kMarks[] = {
    {"space=KCMY bits=8", "ColorModel=Photo", true, CUPS_CSPACE_KCMYcm},
    {"space=KCMY bits=8", "print-quality=5", true, CUPS_CSPACE_KCMYcm},
    {"space=KCMY bits=8", "ColorModel=Photo", false, CUPS_CSPACE_KCMYcm},
    {"space=KCMY bits=8", "ColorModel=CMYK", true, CUPS_CSPACE_KCMY},
    {"space=KCMY bits=8", "", true, CUPS_CSPACE_KCMY},
    // Pre-dithered KCMYcm would need six planes: a 1-bit KCMY page stays KCMY.
    {"space=KCMY bits=1", "ColorModel=Photo", true, CUPS_CSPACE_KCMY},
    {"space=K bits=8", "ColorModel=Photo", true, CUPS_CSPACE_K},
    {"space=KCMYcm bits=8", "ColorModel=Photo", true, CUPS_CSPACE_KCMYcm},
};

// Raster as Ghostscript and Poppler write it (passed on as it is), and
// compressed as other applications may send it (rewritten).
const cups_mode_t kModes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED};

TEST(RasterToInkbands, MarksOnlyEightBitKcmyPhotoPagesAndKeepsEveryPixel)
{
  for (cups_mode_t mode : kModes)
    for (const MarkCase &c : kMarks) {
      SCOPED_TRACE(std::string(c.page) + " / " + c.options + (c.ppd ? " / PPD" : " / no PPD") +
                   (mode == CUPS_RASTER_WRITE ? "" : " / compressed"));
      cups_page_header2_t header = harness::DescribePage(std::string(c.page) + " w=40 h=5").header;
      std::vector<Page> pages = {harness::MakePage(header, Ramp), harness::MakePage(header, Ramp)};
      Result result =
          RunStep(c.ppd ? INKBANDS_FAMILY7_PPD : "", c.options, harness::WriteRaster(pages, mode));
      ASSERT_EQ(result.status, 0);
      std::vector<Page> got = harness::ReadRaster(harness::WriteFile(result.out, ".ras"));
      ASSERT_EQ(got.size(), pages.size());
      for (size_t i = 0; i < got.size(); i++) {
        cups_page_header2_t want = pages[i].header;
        want.cupsColorSpace = c.want;
        EXPECT_EQ(got[i].header.cupsColorSpace, (unsigned)c.want);
        EXPECT_EQ(memcmp(&got[i].header, &want, sizeof(want)), 0) << "another field changed";
        EXPECT_EQ(got[i].data, pages[i].data);
      }
    }
}

TEST(RasterToInkbands, RenderedPhotoPagePrintsAsTheSixInkPage)
{
  std::string ppd = harness::WritePpd(7, harness::DefaultSizes());
  harness::TestPage kcmy =
      harness::DescribePage("fam=7 res=1440x720 space=KCMY bits=8 weave=8/7/204 w=64 h=40");
  // What pdftoraster renders for KCMYcm: the same four planes a line.
  harness::TestPage six = kcmy;
  six.header.cupsColorSpace = CUPS_CSPACE_KCMYcm;

  Result marked = RunStep(ppd, "ColorModel=Photo",
                          harness::WriteRaster({harness::MakePage(kcmy.header, Ramp)}));
  ASSERT_EQ(marked.status, 0);
  Result printed = harness::RunFilter({ppd, harness::WriteFile(marked.out, ".ras")});
  Result want =
      harness::RunFilter({ppd, harness::WriteRaster({harness::MakePage(six.header, Ramp)})});
  ASSERT_EQ(want.status, 0);
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(harness::DiffStreams(want.out, printed.out), "");
}

// What reaches the filter when the rasterizer's output is not a whole job:
// the filter sees the fault it would see without the step and reports it in
// the user's terms.
struct FaultCase
{
  const char *name;
  cups_mode_t mode;      // how the two-page stream is written
  int cut;               // bytes taken off its end (0: none)
  const char *appended;  // bytes added after it
  const char *message;   // the filter's last line (none: it printed every page)
};

const char kCutPage[] =
    "ERROR: The print data ended in the middle of page 2; the rest of the page was left blank.";
const FaultCase kFaults[] = {
    {"whole", CUPS_RASTER_WRITE, 0, "", nullptr},
    {"cut in a page", CUPS_RASTER_WRITE, 100, "", kCutPage},
    {"damaged third header", CUPS_RASTER_WRITE, 0, "RaS3 not a header",
     "ERROR: Page 3: the page header is damaged, cut short or describes no lines; the job was "
     "stopped there."},
    // The raster library reads compressed streams ahead: after their last
    // page the step cannot tell a damaged header from the end of the job.
    {"whole, compressed", CUPS_RASTER_WRITE_COMPRESSED, 0, "", nullptr},
    {"cut in a page, compressed", CUPS_RASTER_WRITE_COMPRESSED, 30, "", kCutPage},
};

TEST(RasterToInkbands, PassesFaultsOnToTheFilter)
{
  std::string ppd = harness::WritePpd(7, harness::DefaultSizes());
  harness::TestPage page = harness::DescribePage("fam=7 space=KCMY bits=8 w=16 h=4");
  for (const FaultCase &c : kFaults) {
    SCOPED_TRACE(c.name);
    std::string path = harness::WriteRaster(
        {harness::MakePage(page.header, Ramp), harness::MakePage(page.header, Ramp)}, c.mode);
    std::stringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    std::string stream = bytes.str();
    std::string input = stream.substr(0, stream.size() - (size_t)c.cut) + c.appended;
    std::string input_path = harness::WriteFile(input, ".ras");
    Result step = RunStep(ppd, "ColorModel=Photo", input_path);
    EXPECT_EQ(step.status, 0);
    Result printed = harness::RunFilter({ppd, harness::WriteFile(step.out, ".ras")});
    ASSERT_FALSE(printed.err.empty());
    if (c.message)
      EXPECT_EQ(printed.err.back(), c.message);
    else
      EXPECT_EQ(printed.status, 0) << printed.err.back();
  }

  // Input that is not raster reaches the filter as it came; none, as none.
  Result text = RunStep(ppd, "", harness::WriteFile("%!PS-Adobe-3.0\n", ".ps"));
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, "%!PS-Adobe-3.0\n");
  Result empty = RunStep(ppd, "", harness::WriteFile("", ".ras"));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
}

// pdftoinkbands, Ghostscript's rasterizer with the PPD's colour profile: a
// page of stripes, each colour as an application gives it, and the inks each
// stripe reaches the filter with (K C M Y, or K on grey pages).
struct InkCase
{
  const char *model;                   // the job's ColorModel
  std::vector<std::vector<int>> inks;  // per stripe, top down
};

const char kStripes[] =
    "%!PS\n<< /PageSize [288 432] >> setpagedevice\n"
    "0 0 0 setrgbcolor 0 360 288 72 rectfill\n"        // black text as most programs write it
    "0.5 0.5 0.5 setrgbcolor 0 288 288 72 rectfill\n"  // a mid grey in RGB
    "0 0 0 1 setcmykcolor 0 216 288 72 rectfill\n"     // black given as ink
    "1 0 0 0 setcmykcolor 0 144 288 72 rectfill\n"     // cyan given as ink
    "0 setgray 0 72 288 72 rectfill showpage\n";
const InkCase kInks[] = {
    {"CMYK", {{255, 0, 0, 0}, {127, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}}},
    {"Photo", {{255, 0, 0, 0}, {127, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}}},
    {"Gray", {{255}, {127}, {-1}, {-1}, {255}}},  // -1: the rasterizer's own grey
};

TEST(PdfToInkbands, NeutralsReachTheFilterInBlackAloneAndInksUnchanged)
{
  std::string step_dir = INKBANDS_STEP_BINARY;
  step_dir.erase(step_dir.rfind('/'));
  std::string pdf = harness::TempPath(".pdf");
  std::string gs = "gs -q -dSAFER -sDEVICE=pdfwrite -o " + pdf + " " +
                   harness::WriteFile(kStripes, ".ps") + " 2>/dev/null";
  if (access("/usr/lib/cups/filter/gstoraster", X_OK) != 0 || system(gs.c_str()) != 0)
    GTEST_SKIP() << "Ghostscript and cups-filters' gstoraster are needed";
  // CUPS's data directory, as the scheduler names it, with the built profile.
  std::string data = harness::TempPath(".data");
  std::string link = "mkdir -p " + data + "/profiles && ln -sf " + step_dir +
                     "/inkbands-kcmy.icc " + data + "/profiles/";
  ASSERT_EQ(system(link.c_str()), 0);
  setenv("CUPS_DATADIR", data.c_str(), 1);
  for (const InkCase &c : kInks) {
    SCOPED_TRACE(c.model);
    Result result = harness::RunFilter(
        {INKBANDS_FAMILY7_PPD,
         "",
         pdf,
         {"pdftoinkbands", "1", "tester", "ink test", "1",
          std::string("ColorModel=") + c.model + " Resolution=360dpi PageSize=4x6"},
         step_dir + "/pdftoinkbands"});
    ASSERT_EQ(result.status, 0);
    std::vector<Page> pages = harness::ReadRaster(harness::WriteFile(result.out, ".ras"));
    ASSERT_EQ(pages.size(), 1u);
    const cups_page_header2_t &h = pages[0].header;
    for (size_t i = 0; i < c.inks.size(); i++)
      for (size_t plane = 0; plane < c.inks[i].size(); plane++) {
        // The middle of stripe i, within the printable area (8.5 pt margins).
        size_t row = (size_t)((36 + 72 * i - 8.5) * h.HWResolution[1] / 72);
        size_t at = row * h.cupsBytesPerLine + plane * h.cupsWidth + h.cupsWidth / 2;
        if (c.inks[i][plane] != -1) {
          EXPECT_EQ((int)pages[0].data[at], c.inks[i][plane])
              << "stripe " << i << ", plane " << plane;
        }
      }
  }
  unsetenv("CUPS_DATADIR");
}

}  // namespace
