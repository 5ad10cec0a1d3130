// Raster pages for the benchmark and the output comparison: photo-like
// contone pages and pre-dithered dot pages, written line by line through
// libcups so that an A4 page at 1440 x 720 dpi never sits in memory whole.
#ifndef INKBANDS_BENCH_PAGES_H
#define INKBANDS_BENCH_PAGES_H

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pages {

// What fills a page's lines.
enum class Content
{
  kPhoto,  // smooth gradients with noise, ink in every pixel of every plane
  kMixed,  // bands of photo, blank lines, flat, light, dark, sparse and random ink
  kDots,   // pre-dithered dots: random dots of varying density, runs, blank lines
};

// One page of a job: its header, what fills it and how many of its lines
// the stream really carries (fewer than cupsHeight makes a cut-off job).
struct PagePlan
{
  cups_page_header2_t header;
  Content content;
  uint32_t seed;
  unsigned lines;  // lines written; cupsHeight for a whole page
};

// Bits per printed dot the filter chooses for a family, resolution and
// cupsCompression.
unsigned DotBits(int family, unsigned xdpi, unsigned ydpi, unsigned compression);

// A header for a page of width x height pixels: colour space, bits per
// colour, resolution, weave (cupsRowCount, cupsRowFeed, cupsRowStep),
// compression and media type; cupsBytesPerLine is set to what the filter
// expects for the page's printer family (planes of packed rows on dot
// pages, planes of pixels on contone pages).
cups_page_header2_t Header(int family, unsigned width, unsigned height, cups_cspace_t space,
                           unsigned bits, unsigned xdpi, unsigned ydpi, unsigned row_count,
                           unsigned row_step, unsigned compression, const char *media);

// Writes the pages as one raster stream to path; false when it cannot.
bool WriteJob(const std::string &path, const std::vector<PagePlan> &pages);

// Writes the PPD of a printer family (the test fixture with the default
// page sizes) to path; false when it cannot.
bool WritePpdFile(int family, const std::string &path);

}  // namespace pages

#endif
