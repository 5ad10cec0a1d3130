// A print job made from arbitrary bytes: a PPD for one printer family and a
// CUPS raster stream of a few pages whose headers may hold any values,
// possibly cut short. The fuzz target feeds such jobs to the filter in one
// process; the end-to-end tests replay saved ones on the real binary, so the
// decoding lives here, in one header, for both.
//
// Input layout (little-endian; bytes past the end read as 0):
//   u8  job flags      bits 0-1 raster writer: v3, v2 compressed, PWG,
//                               or the rest of the input as raw bytes
//                      bit 2    raster on standard input (five arguments)
//                      bit 3    the printer connection fails (/dev/full)
//                      bit 4    cut the stream at a position
//                      bits 5-6 PPD: good, good, not a PPD, no PPD variable
//                      bit 7    wrong number of arguments
//   u8  family         index into kFamilies, or >= its size: i32 follows
//   u8  sizes          0..3 page sizes, each: u16 width, u16 length (points),
//                      u8 left, u8 bottom, u8 right, u8 top margins (1/2 pt;
//                      top margin biased by -64 so it can lie above the sheet)
//   u32 cut            (when bit 4) the stream keeps cut % (length + 1) bytes
//   u8  pages          % 5
//   per page: see DecodePage.
#ifndef INKBANDS_FUZZ_JOB_H
#define INKBANDS_FUZZ_JOB_H

#include <cups/raster.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/harness/ppd_text.h"

namespace fuzzjob {

// Bytes one job may put into page data: keeps every run fast; a page that
// wants more is cut there, like a truncated upload.
constexpr size_t kMaxRasterData = 512 * 1024;

// The families the filter knows, then a few it does not.
constexpr int kFamilies[] = {1,    2,    3,    4,    5,     6, 7,  8,    9,    10, 11,
                             5000, 5500, 9000, 9600, 10000, 0, 12, 4999, 7000, -1};
constexpr unsigned kBits[] = {1, 8, 2, 4, 16, 0, 12};
constexpr unsigned kSpaces[] = {CUPS_CSPACE_K,   CUPS_CSPACE_KCMY, CUPS_CSPACE_KCMYcm,
                                CUPS_CSPACE_RGB, CUPS_CSPACE_CMY,  CUPS_CSPACE_CMYK,
                                CUPS_CSPACE_W,   CUPS_CSPACE_RGBA, CUPS_CSPACE_GOLD};
constexpr unsigned kOrders[] = {CUPS_ORDER_BANDED, CUPS_ORDER_CHUNKED, CUPS_ORDER_PLANAR};
constexpr unsigned kRowCounts[] = {0, 1, 2, 4, 8, 16, 24, 32, 48, 64, 96, 128, 180, 256};
constexpr unsigned kResolutions[] = {360, 720, 1440, 2880, 180, 300, 0, 5760, 5761};
constexpr const char *kMedia[] = {"Plain",           "PlainPaper", "Transparency", "Special",
                                  "CommercialProof", "PublProof",  "Archival",     "Watercolor",
                                  "Matte",           "",           "Glossy",       "Transparency2"};
template <typename T, size_t N> constexpr size_t Count(const T (&)[N])
{
  return N;
}

// Reads fields off the front of the input.
struct Reader
{
  const uint8_t *p;
  size_t n;
  uint8_t u8()
  {
    if (!n) return 0;
    n--;
    return *p++;
  }
  // Low byte first; the reads are sequenced, not left to the compiler.
  uint16_t u16()
  {
    unsigned low = u8();
    return (uint16_t)(low | u8() << 8);
  }
  uint32_t u32()
  {
    uint32_t low = u16();
    return low | (uint32_t)u16() << 16;
  }
};

// Writes fields in the order Reader takes them (for seeds and regressions).
struct Writer
{
  std::string bytes;
  void u8(unsigned v)
  {
    bytes.push_back((char)(v & 255));
  }
  void u16(unsigned v)
  {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v)
  {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
};

struct SizeSpec
{
  unsigned width, length;             // points
  unsigned left, bottom, right, top;  // margins in half points (top biased)
};

// How the bytes of each page line are made.
enum Content
{
  kZeros = 0,
  kInk = 1,
  kPattern = 2,
  kFromInput = 3
};

// How cupsBytesPerLine is set; kBplRaw and above take a value as it comes.
enum BplRule
{
  kBplCups = 0,      // planes x whole bytes of width x bits
  kBplDots2 = 1,     // planes x 2-bit dots of one interleave column
  kBplDots1 = 2,     // planes x 1-bit dots of one interleave column
  kBplFourInks = 3,  // four 8-bit inks (a six-ink page without light rows)
  kBplRaw = 4,       // u32 follows
  // 5..255: the CUPS value plus (rule - 128)
};

struct PageSpec
{
  cups_page_header2_t header;
  Content content;
  uint32_t seed;
  // Encoding choices kept so that Encode writes back what Decode read.
  bool raw_width, raw_height, raw_bpp, raw_media;
  unsigned bpl_rule;
};

struct JobSpec
{
  unsigned flags = 0;
  int family = 4;
  std::vector<SizeSpec> sizes;
  uint32_t cut = 0;
  std::vector<PageSpec> pages;
  std::string tail;  // input left after the pages (line data, raw stream)
};

// The value of an enumerated header field as the stream carries it: any
// 32-bit value, which C++ may not load as the enumeration itself.
template <typename E> inline unsigned Raw(const E &field)
{
  static_assert(sizeof(E) == sizeof(unsigned), "header fields are 32-bit");
  unsigned value;
  memcpy(&value, &field, sizeof(value));
  return value;
}

// Ink planes the filter makes of a colour space.
inline unsigned FilterPlanes(unsigned space)
{
  switch (space) {
  case CUPS_CSPACE_K: return 1;
  case CUPS_CSPACE_KCMY: return 4;
  case CUPS_CSPACE_KCMYcm: return 6;
  default: return 3;
  }
}

// Horizontal interleave a header asks for (1 when the page is not woven).
inline unsigned ColumnStep(const cups_page_header2_t &h)
{
  if (h.cupsRowCount <= 1) return 1;
  unsigned cols = h.cupsRowStep / 100;
  return cols ? cols : 1;
}

inline uint32_t BytesPerLine(const cups_page_header2_t &h, unsigned rule, uint32_t raw)
{
  uint64_t planes = FilterPlanes(Raw(h.cupsColorSpace)), width = h.cupsWidth;
  uint64_t bpl;
  switch (rule) {
  case kBplCups: bpl = planes * ((width * h.cupsBitsPerColor + 7) / 8); break;
  case kBplDots2: bpl = planes * ((width / ColumnStep(h) * 2 + 7) / 8); break;
  case kBplDots1: bpl = planes * ((width / ColumnStep(h) + 7) / 8); break;
  case kBplFourInks: bpl = 4 * width; break;
  case kBplRaw: return raw;
  default: bpl = planes * ((width * h.cupsBitsPerColor + 7) / 8) + (int64_t)rule - 128; break;
  }
  return (uint32_t)bpl;
}

inline unsigned Pick(Reader &r, const unsigned *table, size_t n)
{
  unsigned sel = r.u8();
  return sel < n ? table[sel] : r.u32();
}

// One page header and how its lines are made:
//   u8  page flags  bit 0 width as u32 (else u16 % 1025)
//                   bit 1 height as u32 (else u8 % 65)
//                   bit 4 cupsBitsPerPixel as u8 (else from bits and order)
//                   bit 5 MediaType as 64 raw bytes (else a u8 index)
//                   bits 6-7 line content (Content)
//   width, height
//   u8 bits, u8 colour space, u8 colour order (table index, else u32)
//   u8 bytes-per-line rule (BplRule; kBplRaw: u32)
//   u8 cupsCompression, u8 cupsRowCount (index, else u32), u8 cupsRowFeed,
//   u16 cupsRowStep, u8 x and u8 y resolution (index, else u32),
//   u16 PageSize[0], u16 PageSize[1], MediaType, u16 cupsMediaType,
//   u8 MediaPosition, u8 CutMedia, u8 NumCopies, [u8 bits per pixel],
//   u32 pattern seed
inline PageSpec DecodePage(Reader &r)
{
  PageSpec page;
  cups_page_header2_t &h = page.header;
  memset(&h, 0, sizeof(h));
  unsigned flags = r.u8();
  page.raw_width = flags & 1;
  page.raw_height = flags & 2;
  page.raw_bpp = flags & 16;
  page.raw_media = flags & 32;
  page.content = (Content)(flags >> 6);
  h.cupsWidth = page.raw_width ? r.u32() : r.u16() % 1025;
  h.cupsHeight = page.raw_height ? r.u32() : r.u8() % 65;
  h.cupsBitsPerColor = Pick(r, kBits, Count(kBits));
  unsigned space = Pick(r, kSpaces, Count(kSpaces));
  unsigned order = Pick(r, kOrders, Count(kOrders));
  memcpy(&h.cupsColorSpace, &space, sizeof(space));
  memcpy(&h.cupsColorOrder, &order, sizeof(order));
  page.bpl_rule = r.u8();
  uint32_t raw_bpl = page.bpl_rule == kBplRaw ? r.u32() : 0;
  h.cupsCompression = r.u8();
  h.cupsRowCount = Pick(r, kRowCounts, Count(kRowCounts));
  h.cupsRowFeed = r.u8();
  h.cupsRowStep = r.u16();
  h.HWResolution[0] = Pick(r, kResolutions, Count(kResolutions));
  h.HWResolution[1] = Pick(r, kResolutions, Count(kResolutions));
  h.PageSize[0] = r.u16();
  h.PageSize[1] = r.u16();
  if (page.raw_media) {
    for (size_t i = 0; i < sizeof(h.MediaType); i++) h.MediaType[i] = (char)r.u8();
    h.MediaType[sizeof(h.MediaType) - 1] = 0;
  } else {
    snprintf(h.MediaType, sizeof(h.MediaType), "%s", kMedia[r.u8() % Count(kMedia)]);
  }
  h.cupsMediaType = r.u16();
  h.MediaPosition = r.u8();
  unsigned cut = r.u8();
  memcpy(&h.CutMedia, &cut, sizeof(cut));
  h.NumCopies = r.u8();
  unsigned planes = FilterPlanes(space);
  h.cupsNumColors = planes;
  if (page.raw_bpp)
    h.cupsBitsPerPixel = r.u8();
  else
    h.cupsBitsPerPixel =
        order == CUPS_ORDER_CHUNKED ? h.cupsBitsPerColor * planes : h.cupsBitsPerColor;
  h.cupsBytesPerLine = BytesPerLine(h, page.bpl_rule, raw_bpl);
  page.seed = r.u32();
  return page;
}

inline JobSpec Decode(const uint8_t *data, size_t size)
{
  Reader r{data, size};
  JobSpec job;
  job.flags = r.u8();
  unsigned family = r.u8();
  job.family = family < Count(kFamilies) ? kFamilies[family] : (int)r.u32();
  unsigned sizes = r.u8() % 4;
  for (unsigned i = 0; i < sizes; i++) {
    SizeSpec s;
    s.width = r.u16();
    s.length = r.u16();
    s.left = r.u8();
    s.bottom = r.u8();
    s.right = r.u8();
    s.top = r.u8();
    job.sizes.push_back(s);
  }
  if (job.flags & 16) job.cut = r.u32();
  // The raw writer takes the rest of the input as the stream itself.
  if ((job.flags & 3) != 3) {
    unsigned pages = r.u8() % 5;
    for (unsigned i = 0; i < pages; i++) job.pages.push_back(DecodePage(r));
  }
  job.tail.assign((const char *)r.p, r.n);
  return job;
}

// Writes a job back as input bytes (the inverse of Decode for the values
// Decode can produce).
inline std::string Encode(const JobSpec &job)
{
  Writer w;
  w.u8(job.flags);
  size_t family = 0;
  while (family < Count(kFamilies) && kFamilies[family] != job.family) family++;
  w.u8((unsigned)family);
  if (family == Count(kFamilies)) w.u32((uint32_t)job.family);
  w.u8((unsigned)job.sizes.size());
  for (const SizeSpec &s : job.sizes) {
    w.u16(s.width);
    w.u16(s.length);
    w.u8(s.left);
    w.u8(s.bottom);
    w.u8(s.right);
    w.u8(s.top);
  }
  if (job.flags & 16) w.u32(job.cut);
  auto pick = [&](unsigned value, const unsigned *table, size_t n) {
    size_t i = 0;
    while (i < n && table[i] != value) i++;
    w.u8(i < n ? (unsigned)i : 255);
    if (i == n) w.u32(value);
  };
  if ((job.flags & 3) != 3) {
    w.u8((unsigned)job.pages.size());
    for (const PageSpec &page : job.pages) {
      const cups_page_header2_t &h = page.header;
      w.u8((page.raw_width ? 1 : 0) | (page.raw_height ? 2 : 0) | (page.raw_bpp ? 16 : 0) |
           (page.raw_media ? 32 : 0) | (unsigned)page.content << 6);
      if (page.raw_width)
        w.u32(h.cupsWidth);
      else
        w.u16(h.cupsWidth);
      if (page.raw_height)
        w.u32(h.cupsHeight);
      else
        w.u8(h.cupsHeight);
      pick(h.cupsBitsPerColor, kBits, Count(kBits));
      pick(Raw(h.cupsColorSpace), kSpaces, Count(kSpaces));
      pick(Raw(h.cupsColorOrder), kOrders, Count(kOrders));
      w.u8(page.bpl_rule);
      if (page.bpl_rule == kBplRaw) w.u32(h.cupsBytesPerLine);
      w.u8(h.cupsCompression);
      pick(h.cupsRowCount, kRowCounts, Count(kRowCounts));
      w.u8(h.cupsRowFeed);
      w.u16(h.cupsRowStep);
      pick(h.HWResolution[0], kResolutions, Count(kResolutions));
      pick(h.HWResolution[1], kResolutions, Count(kResolutions));
      w.u16(h.PageSize[0]);
      w.u16(h.PageSize[1]);
      if (page.raw_media) {
        for (size_t i = 0; i < sizeof(h.MediaType); i++) w.u8((unsigned char)h.MediaType[i]);
      } else {
        size_t m = 0;
        while (m < Count(kMedia) && strcmp(kMedia[m], h.MediaType)) m++;
        w.u8((unsigned)(m % Count(kMedia)));
      }
      w.u16(h.cupsMediaType);
      w.u8(h.MediaPosition);
      w.u8(Raw(h.CutMedia));
      w.u8(h.NumCopies);
      if (page.raw_bpp) w.u8(h.cupsBitsPerPixel);
      w.u32(page.seed);
    }
  }
  return w.bytes + job.tail;
}

// The PPD text of a job: its family and page sizes (S0, S1, ...), written
// as the tests write theirs.
inline std::string PpdText(const JobSpec &job)
{
  unsigned mode = (job.flags >> 5) & 3;
  if (mode == 2) return "*PPD-Adobe: \"4.3\"\n*OpenUI *Broken\n" + job.tail.substr(0, 64);
  std::vector<harness::PpdSize> sizes;
  for (const SizeSpec &s : job.sizes)
    sizes.push_back({"S" + std::to_string(sizes.size()), (float)s.width, (float)s.length,
                     s.left / 2.0f, s.bottom / 2.0f, s.width - s.right / 2.0f,
                     s.length - ((int)s.top - 64) / 2.0f});
  return harness::PpdText(job.family, sizes);
}

// Where each page of the written stream lies, to tell a cut inside a
// page's pixel data from one between pages.
struct PageExtent
{
  size_t header_end;  // stream bytes once the header was written
  size_t data_end;    // stream bytes once the last line was handed over
  bool complete;      // every line was written
};

struct Raster
{
  std::string bytes;
  std::vector<PageExtent> pages;
  // The page (from 1) whose pixel data the stream ends in, or 0.
  int cut_in_page = 0;
};

inline ssize_t AppendBytes(void *context, unsigned char *buffer, size_t length)
{
  ((std::string *)context)->append((const char *)buffer, length);
  return (ssize_t)length;
}

// One line of page data.
inline void FillLine(const PageSpec &page, unsigned y, const std::string &tail, size_t &tail_at,
                     std::vector<unsigned char> &line)
{
  switch (page.content) {
  case kZeros: std::fill(line.begin(), line.end(), 0); break;
  case kInk: std::fill(line.begin(), line.end(), 0xFF); break;
  case kPattern: {
    // Blank lines, blank stretches and ink, from the seed; the low byte
    // of the seed sets how much ink.
    uint32_t s = page.seed * 2654435761u + y * 40503u + 1;
    unsigned density = page.seed & 255;
    bool blank_line = ((s >> 7) & 3) == 0;
    for (size_t i = 0; i < line.size(); i++) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      line[i] = (!blank_line && (s & 255) < density) ? (unsigned char)(s >> 8) : 0;
    }
    break;
  }
  case kFromInput:
    for (size_t i = 0; i < line.size(); i++)
      line[i] = tail.empty() ? 0 : (unsigned char)tail[tail_at++ % tail.size()];
    break;
  }
}

// Whether the compressing writers of libcups can take a header: they size
// their line buffers from the width and depth, and read past them when the
// line size says otherwise.
inline bool Consistent(const cups_page_header2_t &h)
{
  unsigned bits = h.cupsBitsPerColor, colors = FilterPlanes(Raw(h.cupsColorSpace));
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return false;
  if (h.cupsWidth == 0 || h.cupsWidth > 65536) return false;
  bool chunked = Raw(h.cupsColorOrder) == CUPS_ORDER_CHUNKED;
  if (!chunked && Raw(h.cupsColorOrder) > CUPS_ORDER_PLANAR) return false;
  uint64_t bpp = chunked ? (uint64_t)bits * colors : bits;
  uint64_t bpl = chunked ? ((uint64_t)h.cupsWidth * bpp + 7) / 8
                         : colors * (((uint64_t)h.cupsWidth * bits + 7) / 8);
  return h.cupsBitsPerPixel == bpp && h.cupsBytesPerLine == bpl;
}

// Writes the job's pages through libcups into memory, then applies the cut.
inline Raster WriteRaster(const JobSpec &job)
{
  Raster out;
  unsigned mode = job.flags & 3;
  for (const PageSpec &page : job.pages)
    if (mode != 3 && !Consistent(page.header)) mode = 0;
  if (mode == 3) {
    out.bytes = job.tail;
  } else {
    static const cups_mode_t kModes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED,
                                         CUPS_RASTER_WRITE_PWG};
    cups_raster_t *raster = cupsRasterOpenIO(AppendBytes, &out.bytes, kModes[mode]);
    size_t budget = kMaxRasterData, tail_at = 0;
    std::vector<unsigned char> line;
    for (const PageSpec &page : job.pages) {
      cups_page_header2_t header = page.header;
      // The compressing writer keeps a line buffer of the header's size:
      // a line beyond the budget goes out as a bare header.
      bool fits = header.cupsBytesPerLine <= budget;
      if (!fits && mode != 0) break;
      if (!raster || !cupsRasterWriteHeader2(raster, &header)) break;
      PageExtent extent = {out.bytes.size(), out.bytes.size(), false};
      unsigned y = 0;
      if (fits && header.cupsBytesPerLine) {
        line.resize(header.cupsBytesPerLine);
        for (; y < header.cupsHeight && line.size() <= budget; y++) {
          FillLine(page, y, job.tail, tail_at, line);
          if (cupsRasterWritePixels(raster, line.data(), (unsigned)line.size()) != line.size())
            break;
          budget -= line.size();
        }
      }
      extent.data_end = out.bytes.size();
      extent.complete = y == header.cupsHeight;
      out.pages.push_back(extent);
      if (!extent.complete) break;
    }
    if (raster) cupsRasterClose(raster);
  }
  size_t keep = out.bytes.size();
  if (job.flags & 16) keep = job.cut % (out.bytes.size() + 1);
  for (size_t i = 0; i < out.pages.size(); i++) {
    const PageExtent &e = out.pages[i];
    bool short_data = !e.complete && e.header_end <= keep;
    bool cut_data = keep >= e.header_end && keep < e.data_end;
    if ((short_data || cut_data) && !out.cut_in_page) out.cut_in_page = (int)i + 1;
  }
  out.bytes.resize(keep);
  return out;
}

}  // namespace fuzzjob

#endif
