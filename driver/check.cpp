// Blank checks: tell whether a raster line or band row carries any ink
// without copying it.
#include "driver.h"

#include <cstdint>
#include <cstring>

// The scans read whole aligned words and blocks of four words, all inside
// the run, and stop after the one that decides. An aligned block never
// straddles a memory page, so a scan that stops at its deciding byte never
// touches memory beyond that byte's page, whatever length it was told.

// Bytes from p up to the next multiple of align, at most length.
static inline int head_of(const unsigned char *p, int length, uintptr_t align)
{
  int head = (int)((align - (uintptr_t)p % align) % align);
  return head < length ? head : length;
}

// Returns 1 when a run of bytes is all zero (no ink), 0 at the first ink.
int cupsCheckBytes(const unsigned char *bytes, int length)
{
  for (int n = head_of(bytes, length, 8); n > 0; n--, length--, bytes++)
    if (*bytes) return 0;
  for (; length >= 8 && (uintptr_t)bytes % 32 != 0; length -= 8, bytes += 8) {
    uint64_t w;
    memcpy(&w, bytes, sizeof(w));
    if (w) return 0;
  }
  for (; length >= 32; length -= 32, bytes += 32) {
    uint64_t w[4];
    memcpy(w, bytes, sizeof(w));
    if (w[0] | w[1] | w[2] | w[3]) return 0;
  }
  for (; length >= 8; length -= 8, bytes += 8) {
    uint64_t w;
    memcpy(&w, bytes, sizeof(w));
    if (w) return 0;
  }

  for (; length > 0; length--, bytes++)
    if (*bytes) return 0;

  return 1;
}

// Returns 1 when no byte of a run equals value, 0 at the first that does.
int cupsCheckValue(const unsigned char *bytes, int length, unsigned char value)
{
  for (int n = head_of(bytes, length, 8); n > 0; n--, length--, bytes++)
    if (*bytes == value) return 0;

  // A byte of the word equals value when the same byte of word ^ pattern
  // is zero; the borrow trick finds a zero byte in a word.
  const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
  const uint64_t pattern = ones * value;
  for (; length >= 8; length -= 8, bytes += 8) {
    uint64_t w;
    memcpy(&w, bytes, sizeof(w));
    w ^= pattern;
    if ((w - ones) & ~w & highs) return 0;
  }

  for (; length > 0; length--, bytes++)
    if (*bytes == value) return 0;

  return 1;
}
