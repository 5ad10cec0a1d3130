// Dot lookup tables: every ink amount of a contone pixel mapped to the dot
// level the head should fire for it and the residual ink the dither spreads.
#include "driver.h"

#include <climits>
#include <cstddef>
#include <cstdlib>

// Clamps a bound of a dot level's interval onto the table's ink amounts.
static int clamp_amount(long long amount, int max)
{
  if (amount < 0) return 0;
  if (amount > max) return max;
  return (int)amount;
}

// Builds the table that turns ink amounts 0..max into nearest dot levels.
lut_entry_t *cupsLutNew(const int *values, int num_values, int max)
{
  if (values == nullptr || num_values == 0 || max < 0 || max == INT_MAX) return nullptr;

  lut_entry_t *lut = (lut_entry_t *)calloc((size_t)max + 1, sizeof(lut_entry_t));
  if (lut == nullptr) return nullptr;

  // Sums of level values are formed in 64 bits so that no dot value, however
  // large, can overflow; every bound is clamped onto the table afterwards.
  for (int i = 0; i < num_values; i++) {
    long long lo, hi;

    if (i == 0)
      lo = 0;
    else if (values[i] > max)
      lo = ((long long)max + values[i - 1]) / 2;
    else
      lo = ((long long)values[i - 1] + values[i]) / 2 + 1;

    if (i == num_values - 1)
      hi = max;
    else if (values[i + 1] > max)
      hi = ((long long)max + values[i]) / 2;
    else
      hi = ((long long)values[i] + values[i + 1]) / 2;

    int first = clamp_amount(lo, max);
    int last = clamp_amount(hi, max);

    // A level squeezed onto one cell (the big dots whose ink far exceeds the
    // largest amount) ends the table: that cell keeps the smaller dot.
    if (first == last) break;

    for (int j = first; j <= last; j++) {
      lut[j].pixel = i;
      lut[j].error = (int)((long long)j - values[i]);
    }
    if (first == 0) lut[0].error = 0;
  }

  return lut;
}

// Releases a dot lookup table at the end of the page.
void cupsLutDelete(lut_entry_t *lut)
{
  free(lut);
}
