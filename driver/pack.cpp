// Bit packing: dot levels, one byte a pixel, become the 1-bit and 2-bit
// rows that the raster commands carry, whole or one interleave column set;
// and the PackBits encoding those rows are sent in.
#include "driver.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
// x86-64 processors with AVX-512 get their own copy of the column packing
// and of PackBits, picked when the processor has the instructions.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define X86_VECTORS 1
#include <immintrin.h>
#endif

// The word-at-a-time paths read pixel 0 from the low byte of a word.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
static const bool kLittleEndian = true;
#else
static const bool kLittleEndian = false;
#endif

// The high bit of every byte of a word that is not 0.
static inline uint64_t inked_bytes(uint64_t word)
{
  const uint64_t low7 = 0x7f7f7f7f7f7f7f7full;
  return (((word & low7) + low7) | word) & 0x8080808080808080ull;
}

// Eight neighbouring pixels as one word, whatever the row's alignment.
static inline uint64_t eight_pixels(const unsigned char *p)
{
  uint64_t word;
  memcpy(&word, p, 8);
  return word;
}

// Eight dots, one per byte of a word (0 or 1 in bit 0 of bytes 0..7), as
// one byte with byte 0's dot in the high bit: one multiply moves each dot
// into the top byte, dot i to bit 7 - i, and no two partial products meet.
static inline unsigned gather_dots(uint64_t dots)
{
  return (unsigned)((dots * 0x8040201008040201ull) >> 56);
}

// Packs every step-th pixel into a 1-bit row, first pixel in the high bit.
void cupsPackHorizontal(const unsigned char *ipixels, unsigned char *obytes, int width,
                        unsigned char clearto, int step)
{
  // A set pixel flips its bit of the clear value, so 0xFF gives an
  // inverted row.
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

  if (s == 1 && kLittleEndian) {
    // Eight neighbouring pixels are one word.
    for (; width - i > 7; i += 8) {
      uint64_t word = eight_pixels(ipixels + i);
      *obytes++ = (unsigned char)(clearto ^ gather_dots(inked_bytes(word) >> 7));
    }
  } else if (s == 2 && kLittleEndian) {
    // One interleave column of two: the pixels are the even bytes of
    // fifteen. Bytes 0..7 hold pixels 0..3 in their even bytes, bytes
    // 7..14 pixels 4..7 in their odd ones; nothing past pixel 7 is read.
    for (; width - i > 7; i += 8) {
      const unsigned char *p = ipixels + 2 * i;
      uint64_t low = (inked_bytes(eight_pixels(p)) >> 7) & 0x0001000100010001ull;
      uint64_t high = (inked_bytes(eight_pixels(p + 7)) >> 7) & 0x0100010001000100ull;
      // Pixel j of low (bit 16 j) goes to bit 63 - j, pixel 4 + j of
      // high (bit 8 + 16 j) to bit 59 - j.
      unsigned bits = (unsigned)((low * 0x8000400020001000ull) >> 56) |
                      (unsigned)((high * 0x0008000400020001ull) >> 56);
      *obytes++ = (unsigned char)(clearto ^ bits);
    }
  } else {
    for (; width - i > 7; i += 8) {
      const unsigned char *p = ipixels + i * s;
      unsigned bits = 0;
      for (int k = 0; k < 8; k++) bits |= (unsigned)(p[k * s] != 0) << (7 - k);
      *obytes++ = (unsigned char)(clearto ^ bits);
    }
  }

  if (i < width) {
    unsigned bits = 0;
    for (unsigned mask = 0x80; i < width; i++, mask >>= 1) bits |= ipixels[i * s] != 0 ? mask : 0;
    *obytes = (unsigned char)(clearto ^ bits);
  }
}

// Packs every step-th dot level into a 2-bit row for variable-size dots.
void cupsPackHorizontal2(const unsigned char *ipixels, unsigned char *obytes, int width, int step)
{
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

  if (s == 1 && kLittleEndian) {
    // Eight levels of 0..3 in one word, four to an output byte: one
    // multiply per four moves level k's two bits to bits 31 - 2k and
    // 30 - 2k. A word with a larger value leaves the rest of the row to the
    // long way below, where high bits spill into the fields before them.
    for (; width - i > 7; i += 8) {
      uint64_t word = eight_pixels(ipixels + i);
      if (word & 0xfcfcfcfcfcfcfcfcull) break;
      unsigned low = (unsigned)(((word & 0xffffffffu) * 0x40100401ull) >> 24) & 255;
      unsigned high = (unsigned)(((word >> 32) * 0x40100401ull) >> 24) & 255;
      *obytes++ = (unsigned char)low;
      *obytes++ = (unsigned char)high;
    }
  } else if (s == 2 && kLittleEndian) {
    // One interleave column of two: four levels in the even bytes of a
    // word, one multiply moving level k (bit 16 k) to bits 63 - 2k and
    // 62 - 2k. The word ends before the row's last pixel, never past it.
    for (; width - i > 4; i += 4) {
      uint64_t word = eight_pixels(ipixels + 2 * i) & 0x00ff00ff00ff00ffull;
      if (word & 0x00fc00fc00fc00fcull) break;
      *obytes++ = (unsigned char)((word * 0x4000100004000100ull) >> 56);
    }
  } else if (s == 4 && kLittleEndian) {
    // One interleave column of four: levels 0 and 1 in bytes 0 and 4 of
    // one word, 2 and 3 of the next, moved to bits 0, 32, 8 and 40 of one
    // word; one multiply then moves them to bits 63-62, 61-60, 59-58 and
    // 57-56.
    const uint64_t levels = 0x000000ff000000ffull;
    for (; width - i > 4; i += 4) {
      uint64_t low = eight_pixels(ipixels + 4 * i) & levels;
      uint64_t high = eight_pixels(ipixels + 4 * i + 8) & levels;
      if ((low | high) & 0x000000fc000000fcull) break;
      uint64_t word = low | high << 8;
      *obytes++ = (unsigned char)((word * 0x4004000010010000ull) >> 56);
    }
  }

  for (; width - i > 3; i += 4) {
    const unsigned char *p = ipixels + i * s;
    unsigned b = p[0];

    b = (b << 2) | p[s];
    b = (b << 2) | p[2 * s];
    b = (b << 2) | p[3 * s];
    *obytes++ = (unsigned char)b;
  }

  if (i < width) {
    unsigned b = 0;
    int shift = 8;

    for (; i < width; i++, shift -= 2) b = (b << 2) | ipixels[i * s];
    *obytes = (unsigned char)(b << shift);
  }
}

#ifdef X86_VECTORS
// Four interleave columns, sixteen pixels of each per 64 bytes: one byte
// permute sorts the levels by column, two multiply-adds make each four
// levels a byte (64 a + 16 b + 4 c + d), one narrowing gives each column
// its four bytes. Returns the pixels per column done; levels above 3 leave
// the rest to the long way.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) static int
pack_four_columns(const unsigned char *ipixels, unsigned char *const *obytes, int columns)
{
  alignas(64) static const unsigned char kByColumn[64] = {
      0,  4,  8,  12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56, 60, 1,  5,  9,  13, 17, 21,
      25, 29, 33, 37, 41, 45, 49, 53, 57, 61, 2,  6,  10, 14, 18, 22, 26, 30, 34, 38, 42, 46,
      50, 54, 58, 62, 3,  7,  11, 15, 19, 23, 27, 31, 35, 39, 43, 47, 51, 55, 59, 63};
  const __m512i by_column = _mm512_load_si512(kByColumn);
  const __m512i pairs = _mm512_set1_epi16(0x0104);      // 4 a + b
  const __m512i quads = _mm512_set1_epi32(0x00010010);  // 16 (4 a + b) + (4 c + d)
  const __m512i too_big = _mm512_set1_epi8((char)0xfc);
  int i = 0;
  for (; columns - i >= 16; i += 16) {
    __m512i levels = _mm512_loadu_si512(ipixels + 4 * i);
    if (_mm512_test_epi8_mask(levels, too_big)) break;
    __m512i sorted = _mm512_maskz_permutexvar_epi8(~0ull, by_column, levels);
    __m512i bytes = _mm512_madd_epi16(_mm512_maddubs_epi16(sorted, pairs), quads);
    __m128i packed = _mm512_maskz_cvtepi32_epi8(0xffff, bytes);
    for (int x = 0; x < 4; x++) {
      uint32_t four = (uint32_t)_mm_extract_epi32(packed, 0);
      memcpy(obytes[x] + i / 4, &four, 4);
      packed = _mm_srli_si128(packed, 4);
    }
  }
  return i;
}
#endif

void cupsPackColumns2(const unsigned char *ipixels, unsigned char *const *obytes, int columns,
                      int step)
{
  int done = 0;
#ifdef X86_VECTORS
  static const bool wide =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  if (wide && step == 4 && kLittleEndian) done = pack_four_columns(ipixels, obytes, columns);
#endif
  for (int x = 0; x < step; x++)
    cupsPackHorizontal2(ipixels + x + (ptrdiff_t)done * step, obytes[x] + done / 4, columns - done,
                        step);
}

// Packs one bit plane of multi-bit pixels into one bit per pixel.
void cupsPackHorizontalBit(const unsigned char *ipixels, unsigned char *obytes, int width,
                           unsigned char clearto, unsigned char bit)
{
  const uint64_t bits = 0x0101010101010101ull * bit;
  int i = 0;

  for (; kLittleEndian && width - i > 7; i += 8) {
    uint64_t word = eight_pixels(ipixels + i);
    *obytes++ = (unsigned char)(clearto ^ gather_dots(inked_bytes(word & bits) >> 7));
  }

  if (i < width) {
    unsigned char b = clearto;

    for (unsigned char mask = 0x80; i < width; i++, mask >>= 1)
      if (ipixels[i] & bit) b ^= mask;
    *obytes = b;
  }
}

// Packs one raster row as one bit of column bytes lying step bytes apart.
void cupsPackVertical(const unsigned char *ipixels, unsigned char *obytes, int width,
                      unsigned char bit, int step)
{
  const ptrdiff_t s = step;

  for (ptrdiff_t i = 0; i < width; i++)
    if (ipixels[i]) obytes[i * s] ^= bit;
}

// Copies a literal run of 1 to 127 bytes with moves that may overlap each
// other but never leave the run.
static inline void copy_run(unsigned char *to, const unsigned char *from, long n)
{
  if (n >= 16) {
    for (long i = 0; i + 16 <= n; i += 16) memcpy(to + i, from + i, 16);
    memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    memcpy(to, from, 8);
    memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    memcpy(to, from, 4);
    memcpy(to + n - 4, from + n - 4, 4);
  } else
    for (long i = 0; i < n; i++) to[i] = from[i];
}

// Encodes the one run that starts at s, moving s past it and used past its
// code; false when the code would reach limit. Runs are measured many
// bytes at a time: the first byte that breaks a run is the lowest set flag
// of a comparison.
static bool pack_run(const unsigned char *&s, const unsigned char *end, unsigned char *out,
                     size_t &used, size_t limit)
{
  if (s == end - 1) {
    if (used + 2 >= limit) return false;
    out[used++] = 0;
    out[used++] = *s++;
  } else if (s[0] == s[1]) {
    // A repeat run ends at the first other byte, at 127 bytes or at the
    // end of the data.
    long max = end - s < 127 ? (long)(end - s) : 127;
    long n = 2;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t pattern = 0x0101010101010101ull * s[0];
    for (; n + 8 <= max; n += 8) {
      uint64_t w = eight_pixels(s + n);
      if (w != pattern) {
        n += __builtin_ctzll(w ^ pattern) / 8;
        break;
      }
    }
#endif
    while (n < max && s[n] == s[0]) n++;
    if (used + 2 >= limit) return false;
    out[used++] = (unsigned char)(1 - n);
    out[used++] = s[0];
    s += n;
  } else {
    // A literal run ends before the first byte that equals its
    // successor, at 127 bytes, or before the last byte of the data.
    long max = end - 1 - s < 127 ? (long)(end - 1 - s) : 127;
    long n = 1;
#if defined(__SSE2__) && defined(__GNUC__)
    typedef char bytes16 __attribute__((vector_size(16)));
    for (; n + 16 <= max; n += 16) {
      bytes16 here, next;
      memcpy(&here, s + n, 16);
      memcpy(&next, s + n + 1, 16);
      unsigned same = (unsigned)__builtin_ia32_pmovmskb128((bytes16)(here == next));
      if (same) {
        n += __builtin_ctz(same);
        break;
      }
    }
#elif defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    for (; n + 8 <= max; n += 8) {
      uint64_t here, next;
      memcpy(&here, s + n, 8);
      memcpy(&next, s + n + 1, 8);
      uint64_t diff = here ^ next;
      uint64_t same = (diff - ones) & ~diff & highs;
      if (same) {
        n += __builtin_ctzll(same) / 8;
        break;
      }
    }
#endif
    while (n < max && s[n] != s[n + 1]) n++;
    if (used + 1 + (size_t)n >= limit) return false;
    out[used++] = (unsigned char)(n - 1);
    copy_run(out + used, s, n);
    used += (size_t)n;
    s += n;
  }
  return true;
}

#ifdef X86_VECTORS
// With 64-byte comparisons one flag word tells every run that starts in a
// window: a repeat ends at the first byte unlike the next, a literal before
// the first byte like the next. Each run is then a few operations on the
// flags, and its code is written without asking which kind of run it is
// (dithered rows alternate short runs of both kinds, which the processor
// cannot guess). A run the window cannot settle starts the next window;
// the last 64 bytes, and runs no window settles, take pack_run.
__attribute__((target("avx512f,avx512bw,bmi,bmi2"))) static size_t
pack_bits_wide(const unsigned char *s, const unsigned char *end, unsigned char *out, size_t limit)
{
  size_t used = 0;
  while (s < end) {
    // A window reads s[0..64]; a run's code takes at most 63 bytes of out.
    if (end - s > 64 && used + 64 < limit) {
      const unsigned char *window = s;
      uint64_t same = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(s), _mm512_loadu_si512(s + 1));
      for (;;) {
        // Flags from s on; the last two the window has stop any run.
        unsigned left = 64 - (unsigned)(s - window);
        uint64_t flags = same >> (64 - left);
        uint64_t repeat = _tzcnt_u64(~flags | 1ull << (left - 1)) + 1;
        uint64_t literal = _tzcnt_u64(flags >> 1 | 1ull << (left - 2)) + 1;
        uint64_t repeats = 0 - (flags & 1);
        uint64_t n = literal ^ ((repeat ^ literal) & repeats);
        if (n + 1 >= left) break;
        uint64_t bytes = n ^ ((n ^ 1) & repeats);
        out[used] = (unsigned char)((n - 1) ^ (((n - 1) ^ (1 - n)) & repeats));
        __mmask64 kept = _bzhi_u64(~0ull, (unsigned)bytes);
        _mm512_mask_storeu_epi8(out + used + 1, kept, _mm512_maskz_loadu_epi8(kept, s));
        used += 1 + bytes;
        s += n;
        if (used + 64 >= limit) break;
      }
      if (s != window) continue;
    }
    if (!pack_run(s, end, out, used, limit)) return 0;
  }
  return used < limit ? used : 0;
}
#endif

// PackBits-encodes a band for the raster commands, when that makes it
// shorter than limit.
size_t cupsPackBits(const unsigned char *data, size_t length, unsigned char *out, size_t limit)
{
  const unsigned char *s = data, *end = data + length;
#ifdef X86_VECTORS
  // Every instruction set the path is built for: a virtual machine may hide
  // one that real processors always have alongside the others.
  static const bool wide = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi") &&
                           __builtin_cpu_supports("bmi2");
  if (wide) return pack_bits_wide(s, end, out, limit);
#endif
  size_t used = 0;
  while (s < end)
    if (!pack_run(s, end, out, used, limit)) return 0;
  return used < limit ? used : 0;
}
