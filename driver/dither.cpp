// Error-diffusion dither: contone ink amounts become dot levels line by
// line, serpentine, with random error weights, black generation and the
// light-cyan/light-magenta split.
#include "driver.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef INKBANDS_TEST_RANDOM
// The unit tests replace the weight source to drive the dither with known
// weights; the printing build calls random() directly.
extern "C" long (*inkbands_random)(void);
long (*inkbands_random)(void) = random;
#define dither_random() inkbands_random()
#else
#define dither_random() random()
#endif

// Error magnitudes 0..999 each have a spread of their own.
static const int kSpreadCells = 1000;

// Random spread of the error weights by error magnitude, filled on first use.
static int logtable[kSpreadCells];
static int loginit = 0;

// Black generation and light-ink split, kept from page to page.
static int use_lut = 0;
static unsigned char black_lut[256];
static unsigned char color_lut[256];
static unsigned char cyan_lut[256];
static unsigned char lcyan_lut[256];
static unsigned char magenta_lut[256];
static unsigned char lmagenta_lut[256];

// Fills a spread table: a bigger error may stray further from even weights.
static void fill_spread(int *table)
{
  for (int e = 0; e < kSpreadCells; e++)
  {
    int t = 0;
    for (int m = e; m > 0 && t < 7; m >>= 1)
      t++;
    table[e] = t;
  }
}

// Picks the random spread of the weights for an error of this magnitude.
static inline int spread_of(const int *table, unsigned magnitude)
{
  // A table whose errors exceed the covered range gets the widest spread
  // rather than a read past the end.
  return table[magnitude < (unsigned)kSpreadCells ? magnitude : kSpreadCells - 1];
}

// Magnitude of an error, safe for every int.
static inline unsigned magnitude_of(int err)
{
  return err < 0 ? 0u - (unsigned)err : (unsigned)err;
}

// Makes the error-diffusion record of a page: two zeroed error rows per ink.
dither_state_t *cupsDitherNew(int width, int planes)
{
  if (width <= 0 || planes <= 0)
    return nullptr;

  // Each row carries two guard cells at either end for the error that runs
  // off the edge of the paper.
  size_t row = (size_t)width + 4;
  size_t rows = 2 * (size_t)planes;
  size_t head = (sizeof(dither_state_t) + sizeof(int) - 1) / sizeof(int) * sizeof(int);
  if (rows > (SIZE_MAX - head) / sizeof(int) / row)
    return nullptr;

  dither_state_t *state = (dither_state_t *)calloc(1, head + rows * row * sizeof(int));
  if (state == nullptr)
    return nullptr;

  state->width = width;
  state->planes = planes;
  state->direction = 0;
  state->errors = (int *)((char *)state + head);
  return state;
}

// Releases the error-diffusion record at the end of the page.
void cupsDitherDelete(dither_state_t *state)
{
  free(state);
}

// Dithers one line of one ink plane in place from ink amounts to dot levels.
static void cups_dither(dither_state_t *state, const lut_entry_t *lut,
                        unsigned char *data, int plane)
{
  if (!loginit)
  {
    fill_spread(logtable);
    loginit = 1;
  }

  const int width = state->width;
  if (width <= 0 || plane < 0 || plane >= state->planes)
    return;

  // The two rows of a plane swap roles as the head changes direction:
  // one holds what the last line left for this one, the other collects
  // what this line leaves for the next.
  const size_t row = (size_t)width + 4;
  int *row_a = state->errors + (size_t)plane * row + 2;
  int *row_b = state->errors + (size_t)(state->planes + plane) * row + 2;
  const int *cur;
  int *next;
  ptrdiff_t x, end, dx;

  if (state->direction == 0)
  {
    cur = row_a;
    next = row_b;
    x = 0;
    end = width;
    dx = 1;
  }
  else
  {
    cur = row_b;
    next = row_a;
    x = width - 1;
    end = -1;
    dx = -1;
  }

  int carry = cur[x];
  int near = 0;
  int far = 0;

  for (; x != end; x += dx)
  {
    if (data[x] == 0)
    {
      // Paper that asks for no ink stays clean and swallows the error.
      next[x - dx] = near;
      near = far;
      far = 0;
      carry = cur[x + dx];
      continue;
    }

    int v = data[x] + carry / 128;
    if (v < 0)
      v = 0;
    else if (v > 255)
      v = 255;

    data[x] = (unsigned char)lut[v].pixel;
    int err = lut[v].error;

    int t = spread_of(logtable, magnitude_of(err));
    int w = 8 - t + (int)(dither_random() % (2 * t + 1));
    int a = w * err;
    int b = (16 - w) * err;

    next[x - dx] = 3 * b + near;
    near = 5 * b + far;
    far = a;
    carry = 7 * a + cur[x + dx];
  }
}

// Dithers one line of a black-only page.
void cupsDither1(dither_state_t *state, const lut_entry_t *lut,
                 unsigned char *black)
{
  cups_dither(state, lut, black, 0);
  state->direction = 1 - state->direction;
}

// Dithers one line of a cyan, magenta and yellow page.
void cupsDither3(dither_state_t *state, const lut_entry_t *lut,
                 unsigned char *cyan, unsigned char *magenta,
                 unsigned char *yellow)
{
  cups_dither(state, lut, cyan, 0);
  cups_dither(state, lut, magenta, 1);
  cups_dither(state, lut, yellow, 2);
  state->direction = 1 - state->direction;
}

// Moves the black of one pixel between composite colour and real black ink.
static inline void generate_black(unsigned char *cyan, unsigned char *magenta,
                                  unsigned char *yellow, unsigned char *black)
{
  int k = *black;
  int add = color_lut[k];
  int c = *cyan + add, m = *magenta + add, y = *yellow + add;

  *cyan = (unsigned char)(c > 255 ? 255 : c);
  *magenta = (unsigned char)(m > 255 ? 255 : m);
  *yellow = (unsigned char)(y > 255 ? 255 : y);
  *black = black_lut[k];
}

// Dithers one line of a four-ink page after black generation.
void cupsDither4(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan,
                 unsigned char *magenta, unsigned char *yellow,
                 unsigned char *black)
{
  if (use_lut)
  {
    for (int x = 0; x < state->width; x++)
      generate_black(cyan + x, magenta + x, yellow + x, black + x);
  }

  cups_dither(state, color_table, cyan, 0);
  cups_dither(state, color_table, magenta, 1);
  cups_dither(state, color_table, yellow, 2);
  cups_dither(state, black_table, black, 3);
  state->direction = 1 - state->direction;
}

// Dithers one line of a six-ink page after black generation and light-ink split.
void cupsDither6(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan,
                 unsigned char *magenta, unsigned char *yellow,
                 unsigned char *black, unsigned char *light_cyan,
                 unsigned char *light_magenta)
{
  if (use_lut)
  {
    for (int x = 0; x < state->width; x++)
    {
      generate_black(cyan + x, magenta + x, yellow + x, black + x);
      light_cyan[x] = lcyan_lut[cyan[x]];
      cyan[x] = cyan_lut[cyan[x]];
      light_magenta[x] = lmagenta_lut[magenta[x]];
      magenta[x] = magenta_lut[magenta[x]];
    }
  }

  cups_dither(state, color_table, cyan, 0);
  cups_dither(state, color_table, magenta, 1);
  cups_dither(state, color_table, yellow, 2);
  cups_dither(state, black_table, black, 3);
  cups_dither(state, color_table, light_cyan, 4);
  cups_dither(state, color_table, light_magenta, 5);
  state->direction = 1 - state->direction;
}

// Dithers one plane of a line of 16-bit samples into dot levels.
void cupsDitherN(dither_state_t *state, const lut_entry_t *lut,
                 const unsigned short *samples, int step,
                 unsigned char *out, int plane)
{
  // The direction stays: the caller flips it once all planes of the line
  // are done.
  // This entry keeps its own spread table, indexed by error / 16 since its
  // errors live on the 4096-step scale.
  static int logtable_n[kSpreadCells];
  static int loginit_n = 0;

  if (!loginit_n)
  {
    fill_spread(logtable_n);
    loginit_n = 1;
  }

  const int width = state->width;
  if (width <= 0 || plane < 0 || plane >= state->planes)
    return;

  const size_t row = (size_t)width + 4;
  int *row_a = state->errors + (size_t)plane * row + 2;
  int *row_b = state->errors + (size_t)(state->planes + plane) * row + 2;
  const int *cur;
  int *next;
  ptrdiff_t x, end, dx;

  if (state->direction == 0)
  {
    cur = row_a;
    next = row_b;
    x = 0;
    end = width;
    dx = 1;
  }
  else
  {
    cur = row_b;
    next = row_a;
    x = width - 1;
    end = -1;
    dx = -1;
  }

  int carry = cur[x];
  int near = 0;
  int far = 0;

  for (; x != end; x += dx)
  {
    unsigned sample = samples[x * step];

    if (sample == 0)
    {
      out[x] = 0;
      next[x - dx] = near;
      near = far;
      far = 0;
      carry = cur[x + dx];
      continue;
    }

    int v = (int)(sample >> 4) + carry / 128;
    if (v < 0)
      v = 0;
    else if (v > 4095)
      v = 4095;

    out[x] = (unsigned char)lut[v].pixel;
    int err = lut[v].error;

    int t = spread_of(logtable_n, magnitude_of(err) / 16);
    int w = 8 - t + (int)(dither_random() % (2 * t + 1));
    int a = w * err;
    int b = (16 - w) * err;

    next[x - dx] = 3 * b + near;
    near = 5 * b + far;
    far = a;
    carry = 7 * a + cur[x + dx];
  }
}

// Sets the curve that hands light greys to composite colour, dark greys to black.
void cupsDitherSetBlackGeneration(int start, int end)
{
  // Amounts beyond one byte mean nothing to an 8-bit page: hold them to it.
  start = start < 0 ? 0 : (start > 255 ? 255 : start);
  end = end < 0 ? 0 : (end > 255 ? 255 : end);

  if (start == 0 && end == 255)
  {
    use_lut = 0;
    return;
  }

  use_lut = 1;

  int i = 0;
  for (; i < start; i++)
  {
    black_lut[i] = 0;
    color_lut[i] = (unsigned char)i;
  }
  for (; i < end; i++)
  {
    black_lut[i] = (unsigned char)(end * (i - start) / (end - start));
    color_lut[i] = (unsigned char)(start - (i - start) * start / (end - start));
  }
  for (; i <= 255; i++)
  {
    black_lut[i] = (unsigned char)i;
    color_lut[i] = 0;
  }
}

// Fills one dark/light ink pair's split tables from the light ink's share.
static void set_light_split(unsigned char *dark, unsigned char *light,
                            float ratio)
{
  // The light ink takes ratio of the amount; the dark ink gives up only a
  // third of that, as a light dot carries about a third of the dye.
  // A share outside 0..1 has no meaning for an ink pair; NaN counts as none.
  double r = ratio;
  if (!(r > 0.0))
    r = 0.0;
  else if (r > 1.0)
    r = 1.0;

  for (int i = 0; i < 256; i++)
  {
    dark[i] = (unsigned char)std::floor(i * (1.0 - r / 3.0) + 0.5);
    light[i] = (unsigned char)std::floor(i * r + 0.5);
  }
}

// Sets the split of cyan between the dark and the light cyan ink.
void cupsDitherSetLightCyan(float ratio)
{
  set_light_split(cyan_lut, lcyan_lut, ratio);
}

// Sets the split of magenta between the dark and the light magenta ink.
void cupsDitherSetLightMagenta(float ratio)
{
  set_light_split(magenta_lut, lmagenta_lut, ratio);
}
