// Raster pages for the benchmark and the output comparison, generated line
// by line from a seed so that every run writes the same bytes.
#include "pages.h"

#include "harness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace pages {
namespace {

// A well-mixed 32-bit hash of a pixel position, plane and seed.
uint32_t Hash(uint32_t x, uint32_t y, uint32_t p, uint32_t seed)
{
  uint32_t h = seed * 0x9E3779B1u ^ x * 0x85EBCA77u ^ y * 0xC2B2AE3Du ^ p * 0x27D4EB2Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Planes a raster line carries and bytes per plane, from the header alone.
unsigned LinePlanes(const cups_page_header2_t &h)
{
  return harness::PlanesOf(h.cupsColorSpace);
}

// Smooth ink profile of one plane along one axis: a few slow waves.
std::vector<int> Profile(unsigned n, uint32_t seed, int amplitude)
{
  std::vector<int> v(n);
  double f1 = 1.0 + Hash(1, 0, 0, seed) % 5, f2 = 3.0 + Hash(2, 0, 0, seed) % 7;
  double p1 = Hash(3, 0, 0, seed) % 628 / 100.0, p2 = Hash(4, 0, 0, seed) % 628 / 100.0;
  for (unsigned i = 0; i < n; i++) {
    double t = n > 1 ? (double)i / (n - 1) : 0.0;
    v[i] = (int)(amplitude *
                 (0.7 * std::sin(2 * M_PI * f1 * t + p1) + 0.3 * std::sin(2 * M_PI * f2 * t + p2)));
  }
  return v;
}

// Fills one page's lines; keeps the per-page tables.
class PageWriter
{
public:
  PageWriter(const PagePlan &plan) : plan_(plan), h_(plan.header)
  {
    planes_ = LinePlanes(h_);
    contone_ = h_.cupsBitsPerColor > 1;
    // A contone line may carry fewer planes than the colour space has
    // (six-ink pages with four planes a line).
    if (contone_ && h_.cupsWidth) planes_ = h_.cupsBytesPerLine / h_.cupsWidth;
    plane_bytes_ = planes_ ? h_.cupsBytesPerLine / planes_ : 0;
    for (unsigned p = 0; p < planes_; p++) {
      // Black sits low (light greys), the colours in the middle.
      int centre = (p == 0 && planes_ != 3) ? 60 : 110 + 20 * (int)(p % 3);
      centre_.push_back(centre);
      gx_.push_back(Profile(h_.cupsWidth, plan.seed * 7 + p, 55));
      gy_.push_back(Profile(h_.cupsHeight, plan.seed * 13 + p, 45));
    }
  }

  // Bytes of line y.
  void Line(unsigned y, unsigned char *out)
  {
    for (unsigned p = 0; p < planes_; p++) {
      unsigned char *row = out + (size_t)p * plane_bytes_;
      switch (plan_.content) {
      case Content::kMixed:
        if (contone_)
          MixedRow(y, p, row);
        else
          MixedDotRow(y, p, row);
        break;
      case Content::kPhoto:
      case Content::kDots:
        if (contone_)
          PhotoRow(y, p, row, 1);
        else
          DotRow(y, p, row);
        break;
      }
    }
  }

private:
  // Photo: smooth gradients with noise, never below floor.
  void PhotoRow(unsigned y, unsigned p, unsigned char *row, int floor)
  {
    const int *gx = gx_[p].data();
    int base = centre_[p] + gy_[p][y];
    for (unsigned x = 0; x < h_.cupsWidth; x++) {
      int v = base + gx[x] + (int)(Hash(x, y, p, plan_.seed) & 31) - 16;
      row[x] = (unsigned char)std::min(255, std::max(floor, v));
    }
  }

  // Dithered-looking dots: each dot set with the photo's ink as probability.
  void DotRow(unsigned y, unsigned p, unsigned char *row)
  {
    const int *gx = gx_[p].data();
    int base = centre_[p] + gy_[p][y];
    unsigned dots = plane_bytes_ * 8;
    memset(row, 0, plane_bytes_);
    for (unsigned x = 0; x < dots; x++) {
      int v = base + gx[x < h_.cupsWidth ? x : h_.cupsWidth - 1];
      if ((int)(Hash(x, y, p, plan_.seed) & 255) < v)
        row[x >> 3] |= (unsigned char)(0x80 >> (x & 7));
    }
  }

  // The kind of a block of lines, and its length, picked from the seed.
  unsigned Block(unsigned y, unsigned kinds)
  {
    // Blocks of 1 to 48 lines.
    unsigned start = 0, kind = 0, n = 0;
    while (true) {
      uint32_t h = Hash(n, 0, 99, plan_.seed);
      unsigned length = 1 + h % 48;
      kind = (h >> 8) % kinds;
      if (y < start + length) break;
      start += length;
      n++;
    }
    return kind;
  }

  // Contone bands of many kinds, each exercising another path of the dither.
  void MixedRow(unsigned y, unsigned p, unsigned char *row)
  {
    unsigned w = h_.cupsWidth;
    switch (Block(y, 9)) {
    case 0:  // blank line
      memset(row, 0, w);
      break;
    case 1:  // photo
      PhotoRow(y, p, row, 1);
      break;
    case 2:  // flat ink, some planes empty
    {
      uint32_t h = Hash(p, 0, 7, plan_.seed + y / 16);
      memset(row, (h & 3) == 0 ? 0 : (int)(h >> 8 & 255), w);
      break;
    }
    case 3:  // light ink, where the weights spread narrowly
      for (unsigned x = 0; x < w; x++) row[x] = (unsigned char)(Hash(x, y, p, plan_.seed) % 24);
      break;
    case 4:  // dark ink
      for (unsigned x = 0; x < w; x++)
        row[x] = (unsigned char)(200 + Hash(x, y, p, plan_.seed) % 56);
      break;
    case 5:  // sparse ink on white
      for (unsigned x = 0; x < w; x++) {
        uint32_t h = Hash(x, y, p, plan_.seed);
        row[x] = (h & 31) == 0 ? (unsigned char)(h >> 8) : 0;
      }
      break;
    case 6:  // random bytes
      for (unsigned x = 0; x < w; x++) row[x] = (unsigned char)Hash(x, y, p, plan_.seed);
      break;
    case 7:  // photo with white columns
      PhotoRow(y, p, row, 1);
      for (unsigned x = 0; x < w; x++)
        if ((x / 37) % 3 == 1) row[x] = 0;
      break;
    case 8:  // ink in one plane only
      if (p == y % planes_)
        PhotoRow(y, p, row, 0);
      else
        memset(row, 0, w);
      break;
    }
  }

  // Dot rows of many kinds, for the band engine and PackBits.
  void MixedDotRow(unsigned y, unsigned p, unsigned char *row)
  {
    unsigned n = plane_bytes_;
    switch (Block(y, 7)) {
    case 0:  // blank
      memset(row, 0, n);
      break;
    case 1:  // dithered photo
      DotRow(y, p, row);
      break;
    case 2:  // solid
      memset(row, 0xFF, n);
      break;
    case 3:  // runs of many lengths, some beyond one PackBits run
    {
      unsigned x = 0, k = 0;
      while (x < n) {
        uint32_t h = Hash(k++, y, p, plan_.seed);
        unsigned length = 1 + h % ((h >> 20) & 1 ? 300 : 6);
        unsigned char value = (unsigned char)(h >> 8);
        for (unsigned i = 0; i < length && x < n; i++) row[x++] = value;
      }
      break;
    }
    case 4:  // literals: no two neighbours equal
      for (unsigned x = 0; x < n; x++) row[x] = (unsigned char)(x * 7 + y + p);
      break;
    case 5:  // a few dots on white
      memset(row, 0, n);
      for (unsigned x = 0; x < n; x++)
        if ((Hash(x, y, p, plan_.seed) & 63) == 0) row[x] = (unsigned char)(1 + x % 255);
      break;
    case 6:  // ink in one plane only
      if (p == y % planes_)
        DotRow(y, p, row);
      else
        memset(row, 0, n);
      break;
    }
  }

  PagePlan plan_;
  cups_page_header2_t h_;
  unsigned planes_ = 0, plane_bytes_ = 0;
  bool contone_ = false;
  std::vector<int> centre_;
  std::vector<std::vector<int>> gx_, gy_;
};

}  // namespace

unsigned DotBits(int family, unsigned xdpi, unsigned ydpi, unsigned compression)
{
  if (family == 6 && ydpi >= 720) return 2;
  if (family == 5500 && xdpi == 1440) return 2;
  if (family != 5500 && compression >= 2) return 2;
  return 1;
}

cups_page_header2_t Header(int family, unsigned width, unsigned height, cups_cspace_t space,
                           unsigned bits, unsigned xdpi, unsigned ydpi, unsigned row_count,
                           unsigned row_step, unsigned compression, const char *media)
{
  cups_page_header2_t h = harness::MakeHeader(width, height, space, bits, xdpi, ydpi);
  h.cupsRowCount = row_count;
  h.cupsRowFeed = 0;
  h.cupsRowStep = row_step;
  h.cupsCompression = compression;
  snprintf(h.MediaType, sizeof(h.MediaType), "%s", media);
  if (bits == 1) {
    // Pre-dithered lines carry each plane's packed row, one interleave
    // column wide on woven pages, in the dot depth the printer uses.
    unsigned cols = 1;
    if (row_count > 1) {
      unsigned rows = row_step % 100 ? row_step % 100 : 1;
      cols = row_step / 100 ? row_step / 100 : 1;
      if (row_count / rows == 0) cols = 1;
    }
    unsigned dot_bits = DotBits(family, xdpi, ydpi, compression);
    h.cupsBytesPerLine = harness::PlanesOf(space) * ((width / cols * dot_bits + 7) / 8);
  }
  return h;
}

bool WriteJob(const std::string &path, const std::vector<PagePlan> &pages)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  bool ok = raster != nullptr;
  for (const PagePlan &plan : pages) {
    if (!ok) break;
    cups_page_header2_t header = plan.header;
    ok = cupsRasterWriteHeader2(raster, &header);
    PageWriter writer(plan);
    std::vector<unsigned char> line(plan.header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < plan.lines && !line.empty(); y++) {
      writer.Line(y, line.data());
      ok = cupsRasterWritePixels(raster, line.data(), (unsigned)line.size()) == line.size();
    }
  }
  if (raster) cupsRasterClose(raster);
  return close(fd) == 0 && ok;
}

bool WritePpdFile(int family, const std::string &path)
{
  std::ifstream in(harness::WritePpd(family, harness::DefaultSizes()));
  std::stringstream text;
  text << in.rdbuf();
  std::ofstream out(path);
  out << text.str();
  return (bool)out;
}

}  // namespace pages
