// Blank checks: tell whether a raster line or band row carries any ink
// without copying it.
#include "driver.h"

// Returns 1 when a run of bytes is all zero (no ink), 0 at the first ink.
int cupsCheckBytes(const unsigned char *bytes, int length)
{
  for (; length > 7; length -= 8, bytes += 8)
  {
    if (bytes[0])
      return 0;
    if (bytes[1])
      return 0;
    if (bytes[2])
      return 0;
    if (bytes[3])
      return 0;
    if (bytes[4])
      return 0;
    if (bytes[5])
      return 0;
    if (bytes[6])
      return 0;
    if (bytes[7])
      return 0;
  }

  for (; length > 0; length--, bytes++)
    if (*bytes)
      return 0;

  return 1;
}

// Returns 1 when no byte of a run equals value, 0 at the first that does.
int cupsCheckValue(const unsigned char *bytes, int length,
                   unsigned char value)
{
  for (; length > 7; length -= 8, bytes += 8)
  {
    if (bytes[0] == value)
      return 0;
    if (bytes[1] == value)
      return 0;
    if (bytes[2] == value)
      return 0;
    if (bytes[3] == value)
      return 0;
    if (bytes[4] == value)
      return 0;
    if (bytes[5] == value)
      return 0;
    if (bytes[6] == value)
      return 0;
    if (bytes[7] == value)
      return 0;
  }

  for (; length > 0; length--, bytes++)
    if (*bytes == value)
      return 0;

  return 1;
}
