// Writes the seed corpus of fuzz_filter: jobs like those the end-to-end
// tests print (every family, bitmap and contone, woven and not, six inks,
// 2880 dpi, compression, several pages, cut-off jobs, PPDs without sizes),
// encoded in the fuzz input format so that the fuzzer starts from pages the
// filter accepts and mutates them from there.
// Usage: fuzz_seeds DIRECTORY
#include <cstdio>
#include <string>

#include "fuzz_job.h"

namespace {

using fuzzjob::JobSpec;
using fuzzjob::PageSpec;

struct PageWords
{
  unsigned width, height;
  cups_cspace_t space;
  unsigned bits, xdpi, ydpi;
  unsigned rows, feed, step;  // cupsRowCount, cupsRowFeed, cupsRowStep
  unsigned compression;
  const char *media;
  fuzzjob::Content content;
};

PageSpec Page(const PageWords &w, uint32_t seed)
{
  PageSpec page = {};
  cups_page_header2_t &h = page.header;
  h.cupsWidth = w.width;
  h.cupsHeight = w.height;
  h.cupsColorSpace = w.space;
  h.cupsColorOrder = CUPS_ORDER_BANDED;
  h.cupsBitsPerColor = w.bits;
  h.cupsBitsPerPixel = w.bits;
  h.cupsNumColors = fuzzjob::FilterPlanes(w.space);
  h.HWResolution[0] = w.xdpi;
  h.HWResolution[1] = w.ydpi;
  h.cupsRowCount = w.rows;
  h.cupsRowFeed = w.feed;
  h.cupsRowStep = w.step;
  h.cupsCompression = w.compression;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.NumCopies = 1;
  snprintf(h.MediaType, sizeof(h.MediaType), "%s", w.media);
  page.content = w.content;
  page.seed = seed;
  // Pre-dithered pages carry the rows the filter prints: one interleave
  // column, one or two bits a dot.
  page.bpl_rule = w.bits == 8          ? fuzzjob::kBplCups
                  : w.compression >= 2 ? fuzzjob::kBplDots2
                                       : fuzzjob::kBplDots1;
  h.cupsBytesPerLine = fuzzjob::BytesPerLine(h, page.bpl_rule, 0);
  return page;
}

JobSpec Job(int family, std::vector<PageSpec> pages, unsigned flags = 0)
{
  JobSpec job;
  job.family = family;
  job.flags = flags;
  // A4 with a 36 pt bottom, then Letter with an 8.5 pt top margin.
  job.sizes = {{595, 842, 36, 72, 36, 81}, {612, 792, 36, 72, 36, 81}};
  job.pages = std::move(pages);
  return job;
}

int written = 0;
void Save(const std::string &dir, const std::string &name, const JobSpec &job)
{
  std::string path = dir + "/" + name;
  FILE *fp = fopen(path.c_str(), "wb");
  if (!fp) {
    perror(path.c_str());
    exit(1);
  }
  std::string bytes = fuzzjob::Encode(job);
  fwrite(bytes.data(), 1, bytes.size(), fp);
  fclose(fp);
  written++;
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_seeds DIRECTORY\n");
    return 1;
  }
  std::string dir = argv[1];
  using fuzzjob::kInk;
  using fuzzjob::kPattern;
  using fuzzjob::kZeros;

  // Every family: a woven contone KCMY page and an unwoven bitmap page.
  const int kFamilies[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 5000, 5500, 9000, 9600, 10000};
  for (int family : kFamilies) {
    Save(dir, "family" + std::to_string(family) + "-woven-kcmy",
         Job(family, {Page({96, 40, CUPS_CSPACE_KCMY, 8, 720, 720, 16, 7, 4, 1, "Plain", kPattern},
                           (uint32_t)family * 77 + 160)}));
    Save(dir, "family" + std::to_string(family) + "-bitmap-k",
         Job(family, {Page({64, 12, CUPS_CSPACE_K, 1, 360, 360, 1, 0, 0, 0, "Special", kPattern},
                           (uint32_t)family + 90)}));
  }

  // One-page jobs: resolutions, dot sizes and inks the families print with, then jobs
  // compressed, read from standard input and sent to a printer that goes away (flags).
  struct OnePage
  {
    const char *name;
    int family;
    uint32_t seed;
    unsigned flags;
    PageWords page;
  };
  // clang-format off
  const OnePage kOnePage[] = {
    {"six-inks-1440", 7, 200, 0,
     {80, 24, CUPS_CSPACE_KCMYcm, 8, 1440, 720, 32, 7, 8, 2, "Glossy", kPattern}},
    {"six-inks-720-two-columns", 10000, 230, 0,
     {90, 30, CUPS_CSPACE_KCMYcm, 8, 720, 720, 32, 7, 204, 1, "Plain", kPattern}},
    {"2880-dpi-family8", 8, 180, 0,
     {120, 20, CUPS_CSPACE_KCMY, 8, 2880, 720, 16, 5, 4, 2, "Matte", kPattern}},
    {"2880-dpi-family6", 6, 120, 0,
     {100, 10, CUPS_CSPACE_KCMY, 8, 2880, 720, 1, 0, 0, 2, "Plain", kPattern}},
    {"family9-offset-heads", 9, 250, 0,
     {64, 48, CUPS_CSPACE_KCMY, 8, 720, 720, 48, 5, 8, 1, "Plain", kPattern}},
    {"family11-grey", 11, 140, 0,
     {64, 40, CUPS_CSPACE_K, 8, 720, 720, 48, 5, 8, 1, "Archival", kPattern}},
    {"family10-grey", 10, 100, 0,
     {64, 40, CUPS_CSPACE_K, 8, 720, 720, 48, 5, 6, 0, "Plain", kPattern}},
    {"rgb-contone", 4, 0, 0,
     {50, 10, CUPS_CSPACE_RGB, 8, 720, 720, 0, 0, 0, 1, "Transparency", kInk}},
    {"bitmap-woven-2bit", 7, 210, 0,
     {128, 32, CUPS_CSPACE_KCMY, 1, 720, 720, 8, 7, 4, 2, "Plain", kPattern}},
    {"bitmap-woven-columns", 8, 170, 0,
     {128, 32, CUPS_CSPACE_K, 1, 1440, 720, 16, 7, 208, 0, "Plain", kPattern}},
    {"family5000-media", 5000, 90, 0,
     {64, 8, CUPS_CSPACE_KCMY, 8, 1440, 720, 1, 0, 0, 1, "Special", kPattern}},
    {"compressed-stream", 7, 190, 1,
     {96, 20, CUPS_CSPACE_KCMY, 8, 720, 720, 16, 7, 4, 1, "Plain", kPattern}},
    {"standard-input", 5, 0, 4, {64, 4, CUPS_CSPACE_K, 1, 720, 720, 1, 0, 0, 1, "Plain", kInk}},
    {"printer-gone", 7, 150, 8,
     {64, 20, CUPS_CSPACE_K, 8, 720, 720, 8, 7, 4, 1, "Plain", kPattern}},
  };
  // clang-format on
  for (const OnePage &j : kOnePage)
    Save(dir, j.name, Job(j.family, {Page(j.page, j.seed)}, j.flags));

  // Several pages, a blank one among them.
  Save(dir, "three-pages",
       Job(7, {Page({64, 16, CUPS_CSPACE_K, 8, 720, 720, 8, 7, 4, 1, "Plain", kPattern}, 100),
               Page({64, 16, CUPS_CSPACE_K, 8, 720, 720, 8, 7, 4, 1, "Plain", kZeros}, 0),
               Page({48, 9, CUPS_CSPACE_KCMY, 1, 360, 360, 1, 0, 0, 0, "Plain", kInk}, 0)}));

  // Cut-off jobs, other writers, failing printers, missing PPD sizes.
  JobSpec cut = Job(
      4, {Page({64, 30, CUPS_CSPACE_KCMY, 8, 720, 720, 16, 7, 4, 1, "Plain", kPattern}, 150)}, 16);
  cut.cut = 5000;
  Save(dir, "cut-in-page", cut);
  JobSpec sizeless =
      Job(6, {Page({64, 8, CUPS_CSPACE_K, 8, 720, 720, 1, 0, 0, 0, "Plain", kPattern}, 120)});
  sizeless.sizes.clear();
  Save(dir, "ppd-without-sizes", sizeless);
  JobSpec raw = Job(4, {});
  raw.flags = 3;
  raw.tail = "%!PS-Adobe-3.0\nshowpage\n";
  Save(dir, "not-raster", raw);
  Save(dir, "no-pages", Job(5000, {}));

  printf("fuzz_seeds: %d jobs written to %s\n", written, dir.c_str());
  return 0;
}
