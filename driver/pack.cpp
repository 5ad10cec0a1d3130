// Bit packing: dot levels, one byte a pixel, become the 1-bit and 2-bit
// rows that the raster commands carry, whole or one interleave column set.
#include "driver.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Eight dots, one per byte of a word (0 or 1 in bit 0 of bytes 0..7), as
// one byte with byte 0's dot in the high bit: one multiply moves each dot
// into the top byte, dot i to bit 7 - i, and no two partial products meet.
static inline unsigned gather_dots(uint64_t dots)
{
  return (unsigned)((dots * 0x8040201008040201ull) >> 56);
}

// Packs every step-th pixel into a 1-bit row, first pixel in the high bit.
void cupsPackHorizontal(const unsigned char *ipixels, unsigned char *obytes,
                        int width, unsigned char clearto, int step)
{
  // A set pixel flips its bit of the clear value, so 0xFF gives an
  // inverted row.
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

  if (s == 1 && kLittleEndian)
  {
    // Eight neighbouring pixels are one word.
    for (; width - i > 7; i += 8)
    {
      uint64_t word;
      memcpy(&word, ipixels + i, 8);
      *obytes++ = (unsigned char)(clearto ^ gather_dots(inked_bytes(word) >> 7));
    }
  }
  else if (s == 2 && kLittleEndian)
  {
    // One interleave column of two: the pixels are the even bytes of
    // fifteen. Bytes 0..7 hold pixels 0..3 in their even bytes, bytes
    // 7..14 pixels 4..7 in their odd ones; nothing past pixel 7 is read.
    for (; width - i > 7; i += 8)
    {
      const unsigned char *p = ipixels + 2 * i;
      uint64_t low, high;
      memcpy(&low, p, 8);
      memcpy(&high, p + 7, 8);
      low = (inked_bytes(low) >> 7) & 0x0001000100010001ull;
      high = (inked_bytes(high) >> 7) & 0x0100010001000100ull;
      // Pixel j of low (bit 16 j) goes to bit 63 - j, pixel 4 + j of
      // high (bit 8 + 16 j) to bit 59 - j.
      unsigned bits = (unsigned)((low * 0x8000400020001000ull) >> 56) |
                      (unsigned)((high * 0x0008000400020001ull) >> 56);
      *obytes++ = (unsigned char)(clearto ^ bits);
    }
  }
  else
  {
    for (; width - i > 7; i += 8)
    {
      const unsigned char *p = ipixels + i * s;
      unsigned bits = 0;
      for (int k = 0; k < 8; k++)
        bits |= (unsigned)(p[k * s] != 0) << (7 - k);
      *obytes++ = (unsigned char)(clearto ^ bits);
    }
  }

  if (i < width)
  {
    unsigned bits = 0;
    for (unsigned mask = 0x80; i < width; i++, mask >>= 1)
      bits |= ipixels[i * s] != 0 ? mask : 0;
    *obytes = (unsigned char)(clearto ^ bits);
  }
}

// Packs every step-th dot level into a 2-bit row for variable-size dots.
void cupsPackHorizontal2(const unsigned char *ipixels, unsigned char *obytes,
                         int width, int step)
{
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

  if (s == 1 && kLittleEndian)
  {
    // Eight levels of 0..3 in one word, four to an output byte: one
    // multiply per four moves level k's two bits to bits 31 - 2k and
    // 30 - 2k. A word with a larger value leaves the rest of the row to the
    // long way below, where high bits spill into the fields before them.
    for (; width - i > 7; i += 8)
    {
      uint64_t word;
      memcpy(&word, ipixels + i, 8);
      if (word & 0xfcfcfcfcfcfcfcfcull)
        break;
      unsigned low = (unsigned)(((word & 0xffffffffu) * 0x40100401ull) >> 24) & 255;
      unsigned high = (unsigned)(((word >> 32) * 0x40100401ull) >> 24) & 255;
      *obytes++ = (unsigned char)low;
      *obytes++ = (unsigned char)high;
    }
  }

  for (; width - i > 3; i += 4)
  {
    const unsigned char *p = ipixels + i * s;
    unsigned b = p[0];

    b = (b << 2) | p[s];
    b = (b << 2) | p[2 * s];
    b = (b << 2) | p[3 * s];
    *obytes++ = (unsigned char)b;
  }

  if (i < width)
  {
    unsigned b = 0;
    int shift = 8;

    for (; i < width; i++, shift -= 2)
      b = (b << 2) | ipixels[i * s];
    *obytes = (unsigned char)(b << shift);
  }
}

// Packs one bit plane of multi-bit pixels into one bit per pixel.
void cupsPackHorizontalBit(const unsigned char *ipixels,
                           unsigned char *obytes, int width,
                           unsigned char clearto, unsigned char bit)
{
  const uint64_t bits = 0x0101010101010101ull * bit;
  int i = 0;

  for (; kLittleEndian && width - i > 7; i += 8)
  {
    uint64_t word;
    memcpy(&word, ipixels + i, 8);
    *obytes++ = (unsigned char)(clearto ^ gather_dots(inked_bytes(word & bits) >> 7));
  }

  if (i < width)
  {
    unsigned char b = clearto;

    for (unsigned char mask = 0x80; i < width; i++, mask >>= 1)
      if (ipixels[i] & bit)
        b ^= mask;
    *obytes = b;
  }
}

// Packs one raster row as one bit of column bytes lying step bytes apart.
void cupsPackVertical(const unsigned char *ipixels, unsigned char *obytes,
                      int width, unsigned char bit, int step)
{
  const ptrdiff_t s = step;

  for (ptrdiff_t i = 0; i < width; i++)
    if (ipixels[i])
      obytes[i * s] ^= bit;
}
