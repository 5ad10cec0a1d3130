// Bit packing: dot levels, one byte a pixel, become the 1-bit and 2-bit
// rows that the raster commands carry, whole or one interleave column set.
#include "driver.h"

#include <cstddef>

// Packs every step-th pixel into a 1-bit row, first pixel in the high bit.
void cupsPackHorizontal(const unsigned char *ipixels, unsigned char *obytes,
                        int width, unsigned char clearto, int step)
{
  // A set pixel flips its bit of the clear value, so 0xFF gives an
  // inverted row.
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

  for (; width - i > 7; i += 8)
  {
    const unsigned char *p = ipixels + i * s;
    unsigned char b = clearto;

    if (p[0])
      b ^= 0x80;
    if (p[s])
      b ^= 0x40;
    if (p[2 * s])
      b ^= 0x20;
    if (p[3 * s])
      b ^= 0x10;
    if (p[4 * s])
      b ^= 0x08;
    if (p[5 * s])
      b ^= 0x04;
    if (p[6 * s])
      b ^= 0x02;
    if (p[7 * s])
      b ^= 0x01;
    *obytes++ = b;
  }

  if (i < width)
  {
    unsigned char b = clearto;

    for (unsigned char mask = 0x80; i < width; i++, mask >>= 1)
      if (ipixels[i * s])
        b ^= mask;
    *obytes = b;
  }
}

// Packs every step-th dot level into a 2-bit row for variable-size dots.
void cupsPackHorizontal2(const unsigned char *ipixels, unsigned char *obytes,
                         int width, int step)
{
  const ptrdiff_t s = step;
  ptrdiff_t i = 0;

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
  int i = 0;

  for (; width - i > 7; i += 8)
  {
    const unsigned char *p = ipixels + i;
    unsigned char b = clearto;

    if (p[0] & bit)
      b ^= 0x80;
    if (p[1] & bit)
      b ^= 0x40;
    if (p[2] & bit)
      b ^= 0x20;
    if (p[3] & bit)
      b ^= 0x10;
    if (p[4] & bit)
      b ^= 0x08;
    if (p[5] & bit)
      b ^= 0x04;
    if (p[6] & bit)
      b ^= 0x02;
    if (p[7] & bit)
      b ^= 0x01;
    *obytes++ = b;
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
