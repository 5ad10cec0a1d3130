// Error-diffusion dither: contone ink amounts become dot levels line by
// line, serpentine, with random error weights, black generation and the
// light-cyan/light-magenta split.
#include "driver.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// x86-64 processors with wider vectors get their own copy of the row
// passes, the generator and the ink split; each is picked when the
// processor has the instructions.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define X86_VECTORS 1
#include <immintrin.h>
#endif

#ifdef INKBANDS_TEST_RANDOM
// The unit tests replace the weight source to drive the dither with known
// weights; the printing build draws the C library's random() sequence.
extern "C" long (*inkbands_random)(void);
long (*inkbands_random)(void) = random;
#endif

#if defined(X86_VECTORS) && defined(__GLIBC__)
#define WIDE_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define WIDE_VECTORS
#endif

// Error magnitudes 0..999 each have a spread of their own.
static const int kSpreadCells = 1000;

// Random spread of the error weights by error magnitude, filled on first use.
static int logtable[kSpreadCells];
static int loginit = 0;

// Black generation and light-ink split, kept from page to page. The six
// tables lie in one block, so that a loop over a line reaches all of them
// from one register.
static int use_lut = 0;
static unsigned char ink_luts[6][256];
static unsigned char *const black_lut = ink_luts[0];
static unsigned char *const color_lut = ink_luts[1];
static unsigned char *const cyan_lut = ink_luts[2];
static unsigned char *const lcyan_lut = ink_luts[3];
static unsigned char *const magenta_lut = ink_luts[4];
static unsigned char *const lmagenta_lut = ink_luts[5];

// Fills a spread table: a bigger error may stray further from even weights.
static void fill_spread(int *table)
{
  for (int e = 0; e < kSpreadCells; e++) {
    int t = 0;
    for (int m = e; m > 0 && t < 7; m >>= 1) t++;
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

// ---------------------------------------------------------------------------
// Random weights

#ifdef __GLIBC__
// The C library's random() as glibc computes it, for a process that never
// seeds it: the additive feedback generator r[i] = r[i-3] + r[i-31] (mod
// 2^32) over the state that srandom(1) sets up; random() hands out r[i] >> 1.
// Drawing the dots' weights here instead of calling random() per dot saves
// the call and its lock; the sequence is the same value for value (see the
// unit test), and nothing else in the filter draws from random().
extern "C" void inkbands_random_raw(uint32_t *raw, size_t count);

// The last values of the feedback register, oldest first: the 31 the
// generator needs and more for the forms that draw many at a time.
static const int kFeedback = 48;
static uint32_t feedback[kFeedback];
static int feedback_ready = 0;

// Sets up the state of an unseeded generator: seed 1 spread by the
// multiplicative generator 16807 mod 2^31 - 1, then 310 values stepped over.
static void feedback_start()
{
  uint32_t r[344];
  r[0] = 1;
  for (int i = 1; i < 31; i++) r[i] = (uint32_t)((16807ull * r[i - 1]) % 2147483647ull);
  for (int i = 31; i < 34; i++) r[i] = r[i - 31];
  for (int i = 34; i < 344; i++) r[i] = r[i - 31] + r[i - 3];
  memcpy(feedback, r + 344 - kFeedback, sizeof(feedback));
  feedback_ready = 1;
}

#ifdef X86_VECTORS
typedef uint32_t sixteen __attribute__((vector_size(64)));
// Sixteen values from the s-th on of the 32 in a then b.
#define ALIGN16(a, b, s)                                                                           \
  __builtin_shuffle(a, b,                                                                          \
                    (sixteen){s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6, s + 7, s + 8, s + 9,    \
                              s + 10, s + 11, s + 12, s + 13, s + 14, s + 15})

// Sixteen values at a time by the recurrence applied sixteen times over,
// r[i] = r[i-18] + r[i-31] + r[i-34] + r[i-37] + r[i-40] + r[i-43] + r[i-46],
// the last 48 values held in three registers (v1 the newest sixteen), so
// that no value is read back from memory just after it was written.
// Writes r[i..) up to end in whole sixteens; returns where it stopped.
__attribute__((target("avx512f"))) static size_t feedback_run_wide(uint32_t *r, size_t i,
                                                                   size_t end)
{
  sixteen v3, v2, v1;
  memcpy(&v3, r + i - 48, 64);
  memcpy(&v2, r + i - 32, 64);
  memcpy(&v1, r + i - 16, 64);
  for (; i + 16 <= end; i += 16) {
    sixteen next = ALIGN16(v3, v2, 14) + ALIGN16(v3, v2, 11) + ALIGN16(v3, v2, 8) +
                   ALIGN16(v3, v2, 5) + ALIGN16(v3, v2, 2);
    next += ALIGN16(v2, v1, 14) + ALIGN16(v2, v1, 1);
    memcpy(r + i, &next, 64);
    v3 = v2;
    v2 = v1;
    v1 = next;
  }
  return i;
}
#undef ALIGN16
#endif

// Writes the next count values of a feedback register whose last kFeedback
// values are in state (oldest first) to raw[0..count), and leaves the
// register's new last values in state. The kFeedback words before raw must
// be writable: the register's history goes there.
static void feedback_run(uint32_t *state, uint32_t *raw, size_t count)
{
  uint32_t *r = raw - kFeedback;
  memcpy(r, state, kFeedback * sizeof(uint32_t));
  size_t i = kFeedback, end = kFeedback + count;
#ifdef X86_VECTORS
  static const bool wide = __builtin_cpu_supports("avx512f");
  if (wide) i = feedback_run_wide(r, i, end);
#endif
#if defined(__GNUC__)
  // Four values at a time by the recurrence applied four times over,
  // r[i] = r[i-12] + r[i-31] + r[i-34] + r[i-37] + r[i-40], whose nearest
  // term is exactly the four values written one step before.
  typedef uint32_t lanes __attribute__((vector_size(16)));
  for (; i + 4 <= end; i += 4) {
    lanes a, b, c, d, e;
    memcpy(&a, r + i - 12, 16);
    memcpy(&b, r + i - 31, 16);
    memcpy(&c, r + i - 34, 16);
    memcpy(&d, r + i - 37, 16);
    memcpy(&e, r + i - 40, 16);
    a += b + c + d + e;
    memcpy(r + i, &a, 16);
  }
#endif
  for (; i < end; i++) r[i] = r[i - 3] + r[i - 31];
  memcpy(state, r + count, kFeedback * sizeof(uint32_t));
}

// Writes the next count values of the process-wide register to
// raw[0..count); random() would return each of them shifted right by one.
// The 48 words before raw must be writable.
void inkbands_random_raw(uint32_t *raw, size_t count)
{
  if (!feedback_ready) feedback_start();
  feedback_run(feedback, raw, count);
}

// Jumps of the register: the 31 values the recurrence reads are a vector
// that one step maps linearly (mod 2^32), so 2^k steps are one matrix, and
// any count of steps is the product of the matrices of its bits. A jump
// costs a few matrix-vector products where stepping costs one addition per
// value: it pays for counts of thousands, a line's share of the weights.
// The matrices are held transposed, a row per value read: a jump then adds
// up whole rows, each scaled by one value, which vectors do without sums
// across lanes.
static const int kLag = 31;                    // values the recurrence reads
static const int kJumpBits = 32;               // counts below 2^32 can be jumped
static const size_t kJumpFrom = 4096;          // shorter skips are cheaper stepped
typedef uint32_t jump_matrix[kLag][kLag + 1];  // a column of padding keeps rows aligned
static jump_matrix *jumps;                     // jumps[k]: 2^k steps

// Fills jumps[] once: one step, then each matrix squared into the next (the
// square of a transpose is the transpose of the square).
static bool jumps_ready()
{
  if (jumps) return true;
  jump_matrix *m = (jump_matrix *)calloc(kJumpBits, sizeof(jump_matrix));
  if (m == nullptr) return false;
  // One step: value j + 1 moves to j; the new last value is r[i-3] + r[i-31].
  for (int j = 0; j + 1 < kLag; j++) m[0][j + 1][j] = 1;
  m[0][kLag - 3][kLag - 1] = 1;
  m[0][0][kLag - 1] = 1;
  for (int k = 1; k < kJumpBits; k++)
    for (int i = 0; i < kLag; i++)
      for (int l = 0; l < kLag; l++) {
        uint32_t f = m[k - 1][i][l];
        if (f == 0) continue;
        for (int j = 0; j < kLag; j++) m[k][i][j] += f * m[k - 1][l][j];
      }
  jumps = m;
  return true;
}

// v = m v for the 31 values of the register, m held transposed.
WIDE_VECTORS static void jump_by(const jump_matrix &m, uint32_t *v)
{
  uint32_t out[kLag + 1] = {};
  for (int j = 0; j < kLag; j++)
    for (int i = 0; i < kLag + 1; i++) out[i] += v[j] * m[j][i];
  memcpy(v, out, kLag * sizeof(uint32_t));
}

// Steps a register over count values without keeping them.
static void feedback_skip(uint32_t *state, size_t count)
{
  if (count >= kJumpFrom && ((uint64_t)count >> kJumpBits) == 0 && jumps_ready()) {
    // Jump to where the last kFeedback values start, then step over those
    // few one by one: the register then holds the same last values as if
    // every value had been drawn.
    size_t jump = count - (kFeedback - kLag);
    uint32_t *v = state + (kFeedback - kLag);
    for (int k = 0; jump != 0; k++, jump >>= 1)
      if (jump & 1) jump_by(jumps[k], v);
    uint32_t r[kLag + kFeedback - kLag];
    memcpy(r, v, kLag * sizeof(uint32_t));
    for (int i = kLag; i < kFeedback; i++) r[i] = r[i - 3] + r[i - 31];
    memcpy(state, r, sizeof(r));
    return;
  }
  uint32_t scratch[kFeedback + 1024];
  while (count > 0) {
    size_t n = count < 1024 ? count : 1024;
    feedback_run(state, scratch + kFeedback, n);
    count -= n;
  }
}

// Steps the process-wide register over count values, as count calls of
// random() would.
extern "C" void inkbands_random_skip(size_t count);
void inkbands_random_skip(size_t count)
{
  if (!feedback_ready) feedback_start();
  feedback_skip(feedback, count);
}
#endif

// Room the generator needs before the weights it writes.
static const size_t kWeightHistory = 48;  // the register's kept values

#if defined(__GLIBC__) && !defined(INKBANDS_TEST_RANDOM)
// A line dithered on several threads takes its weights where they are used:
// the line keeps the generator's state at the start of each plane's share,
// and the thread that dithers the plane draws the share from it.
#define LOCAL_WEIGHTS 1
#endif

// Draws the next count weights, in the order random() hands them out, as
// raw values: random()'s value times two (plus one bit the spread ignores).
// out must have kWeightHistory writable words before it.
static void draw_weights(uint32_t *out, size_t count)
{
#if defined(INKBANDS_TEST_RANDOM)
  for (size_t i = 0; i < count; i++) out[i] = (uint32_t)inkbands_random() << 1;
#elif defined(__GLIBC__)
  inkbands_random_raw(out, count);
#else
  for (size_t i = 0; i < count; i++) out[i] = (uint32_t)random() << 1;
#endif
}

// Draws one weight as random() returns it.
static uint32_t draw_weight()
{
  uint32_t raw[kWeightHistory + 1];
  draw_weights(raw + kWeightHistory, 1);
  return raw[kWeightHistory] >> 1;
}

// Weights of the planes being dithered, grown with the widest line seen;
// the generator's history goes in front of them.
static uint32_t *weight_block;
static uint32_t *weights;
static size_t weights_size;

// Makes room for count weights; false when memory is short.
static bool reserve_weights(size_t count)
{
  if (count <= weights_size) return true;
  if (count > SIZE_MAX / sizeof(uint32_t) - kWeightHistory) return false;
  uint32_t *grown = (uint32_t *)realloc(weight_block, (kWeightHistory + count) * sizeof(uint32_t));
  if (grown == nullptr) return false;
  weight_block = grown;
  weights = grown + kWeightHistory;
  weights_size = count;
  return true;
}

// Makes the error-diffusion record of a page: two zeroed error rows per ink.
dither_state_t *cupsDitherNew(int width, int planes)
{
  if (width <= 0 || planes <= 0) return nullptr;

  // Each row carries two guard cells at either end for the error that runs
  // off the edge of the paper.
  size_t row = (size_t)width + 4;
  size_t rows = 2 * (size_t)planes;
  size_t head = (sizeof(dither_state_t) + sizeof(int) - 1) / sizeof(int) * sizeof(int);
  if (rows > (SIZE_MAX - head) / sizeof(int) / row) return nullptr;

  dither_state_t *state = (dither_state_t *)calloc(1, head + rows * row * sizeof(int));
  if (state == nullptr) return nullptr;

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

// The two error rows of a plane for the current direction: the one the
// last line left for this one, and the one this line leaves for the next.
static void plane_rows(const dither_state_t *state, int plane, int direction, const int **cur,
                       int **next)
{
  const size_t row = (size_t)state->width + 4;
  int *row_a = state->errors + (size_t)plane * row + 2;
  int *row_b = state->errors + (size_t)(state->planes + plane) * row + 2;
  *cur = direction == 0 ? row_a : row_b;
  *next = direction == 0 ? row_b : row_a;
}

// Dithers one line of one ink plane from samples to dot levels, one pixel
// after the other: the core of the general 8-bit path and the 16-bit entry.
// A sample loses shift bits to become an ink amount of 0..top; the errors
// of a 16-bit page live on a 16 times finer scale, hence error_scale.
template <typename Sample, int shift, int top, unsigned error_scale>
static void dither_pixels(dither_state_t *state, const lut_entry_t *lut, const int *spread,
                          const Sample *samples, ptrdiff_t step, unsigned char *out, int plane)
{
  const int width = state->width;
  if (width <= 0 || plane < 0 || plane >= state->planes) return;

  const int *cur;
  int *next;
  plane_rows(state, plane, state->direction, &cur, &next);

  ptrdiff_t x, end, dx;
  if (state->direction == 0)
    x = 0, end = width, dx = 1;
  else
    x = width - 1, end = -1, dx = -1;

  // Sums wrap in 32 bits rather than overflow, whatever the table holds.
  uint32_t carry = (uint32_t)cur[x];
  uint32_t near = 0;
  uint32_t far = 0;

  for (; x != end; x += dx) {
    unsigned sample = samples[x * step];

    if (sample == 0) {
      // Paper that asks for no ink stays clean and swallows the error.
      out[x] = 0;
      next[x - dx] = (int)near;
      near = far;
      far = 0;
      carry = (uint32_t)cur[x + dx];
      continue;
    }

    int v = (int)(sample >> shift) + (int)carry / 128;
    if (v < 0)
      v = 0;
    else if (v > top)
      v = top;

    out[x] = (unsigned char)lut[v].pixel;
    int err = lut[v].error;

    int t = spread_of(spread, magnitude_of(err) / error_scale);
    uint32_t w = (uint32_t)(8 - t) + draw_weight() % (uint32_t)(2 * t + 1);
    uint32_t a = w * (uint32_t)err;
    uint32_t b = (16 - w) * (uint32_t)err;

    next[x - dx] = (int)(3 * b + near);
    near = 5 * b + far;
    far = a;
    carry = 7 * a + (uint32_t)cur[x + dx];
  }
}

// Dithers one line of one ink plane in place from ink amounts to dot levels.
// The general path, for rows that share memory, tables with absurd
// residuals, or a line too wide for the weight buffer.
static void cups_dither(dither_state_t *state, const lut_entry_t *lut, unsigned char *data,
                        int plane)
{
  dither_pixels<unsigned char, 0, 255, 1>(state, lut, logtable, data, 1, data, plane);
}

// ---------------------------------------------------------------------------
// The dither of whole lines
//
// The error chains of the planes are independent, but each runs through a
// table load, a weight pick and a multiply per pixel. Several planes run
// side by side in one loop so that their chains overlap in the processor.
// The weights are drawn before the line in the order the planes would take
// them one after another: a plane takes one per inked pixel, and which
// pixels are inked is known from the ink amounts before any is dithered.

// The cells cover ink amount plus carry from -kCellMargin to
// 255 + kCellMargin, the amounts beyond 0..255 repeating the end cells, so
// that the usual pixel needs no clamp; the rare one beyond is clamped.
static const int kCellMargin = 256;
static const int kCells = 256 + 2 * kCellMargin;

// One ink amount of the page's dot table as the fast path uses it.
struct dot_cell
{
  int32_t error;  // residual ink of the chosen level
  uint8_t level;  // dot level, the low byte of the table's pixel
  uint8_t base;   // lightest weight, 8 - t
  uint8_t span;   // number of weights, 2t + 1
  uint8_t unused;
  int32_t error7;       // 7 err: the pixel's share for the next pixel, per weight step
  int32_t base_error7;  // 7 (8 - t) err: that share at the lightest weight
};

// A dot table with its cells, kept while the page uses the same table.
struct cell_table
{
  dot_cell cells[kCells];
  // Per cell, 2^64 / (2 span) rounded up: the spread's reciprocal.
  uint64_t reciprocals[kCells];
  // Every residual below 2^20: no sum of the fast path can then leave 32
  // bits, so it gives what the one-pixel core gives.
  bool tame;
  lut_entry_t lut[256];
  bool ready;
};
static cell_table cell_tables[2];
static int cell_table_last;

// 2^64 / (2 (2t + 1)) rounded up, for t = 0..7.
static const uint64_t kReciprocal[8] = {
    UINT64_MAX / 2 + 1,  UINT64_MAX / 6 + 1,  UINT64_MAX / 10 + 1, UINT64_MAX / 14 + 1,
    UINT64_MAX / 18 + 1, UINT64_MAX / 22 + 1, UINT64_MAX / 26 + 1, UINT64_MAX / 30 + 1,
};

// A random weight's offset within the spread, random() mod span, from the
// raw value (twice random()'s, plus one bit): raw mod 2 span halved is
// random() mod span, and Lemire's multiply by the rounded-up reciprocal
// gives raw mod 2 span exactly for every 32-bit raw; taking the high word
// of the fraction times span instead of 2 span halves it on the way
// (checked for all 2^32 raw values and every span).
static inline uint64_t spread_pick(uint32_t raw, uint64_t reciprocal, unsigned span)
{
#ifdef __SIZEOF_INT128__
  uint64_t fraction = reciprocal * raw;
  return (uint64_t)(((unsigned __int128)fraction * span) >> 64);
#else
  (void)reciprocal;
  return (raw >> 1) % span;
#endif
}

// Copies a dot table into dither cells with each amount's spread.
static void fill_cells(cell_table *table, const lut_entry_t *lut)
{
  table->tame = true;
  for (int i = 0; i < kCells; i++) {
    int v = i - kCellMargin;
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    int err = lut[v].error;
    int t = spread_of(logtable, magnitude_of(err));
    table->cells[i].error = err;
    table->cells[i].level = (uint8_t)lut[v].pixel;
    table->cells[i].base = (uint8_t)(8 - t);
    table->cells[i].span = (uint8_t)(2 * t + 1);
    table->cells[i].unused = 0;
    table->cells[i].error7 = 7 * err;
    table->cells[i].base_error7 = 7 * (8 - t) * err;
    table->reciprocals[i] = kReciprocal[t];
    if (magnitude_of(err) >= (1u << 20)) table->tame = false;
  }
}

// The cells of a dot table: from the cache when the table's 256 cells are
// the ones seen before.
static const cell_table *cells_of(const lut_entry_t *lut)
{
  for (int i = 0; i < 2; i++) {
    cell_table &table = cell_tables[i];
    if (table.ready && memcmp(table.lut, lut, sizeof(table.lut)) == 0) {
      cell_table_last = i;
      return &table;
    }
  }
  // The other table of the line (colour or black) stays where it is.
  cell_table_last = 1 - cell_table_last;
  cell_table &table = cell_tables[cell_table_last];
  memcpy(table.lut, lut, sizeof(table.lut));
  fill_cells(&table, lut);
  table.ready = true;
  return &table;
}

// Pixels of a line handled as one chunk: the chunk's ink amounts and error
// cells are copied next to each other, so that the loop reaches every plane
// from one pointer and keeps its registers for the error chains.
static const int kChunk = 256;

// Planes that run side by side: all six inks of a line.
static const int kSideBySide = 6;

// The working copy of one chunk of up to kSideBySide planes.
struct chunk
{
  // Ink amounts in, dot levels out, for pixels x0 .. x0 + n - 1.
  unsigned char amount[kSideBySide][kChunk];
  // The error the last line left for pixels x0 - 1 .. x0 + n.
  int32_t cur[kSideBySide][kChunk + 2];
  // Each pixel's share for the line below, a = w err, and its error e (both
  // 0 on blank paper), for pixels x0 - 2 .. x0 + n + 1: the two cells at
  // either end hold the two pixels before the chunk in scan order.
  int32_t a[kSideBySide][kChunk + 4];
  int32_t e[kSideBySide][kChunk + 4];
#ifdef LOCAL_WEIGHTS
  // Each plane's next weights, drawn a chunk ahead from the plane's own copy
  // of the generator, after room for the generator's history.
  uint32_t window[kSideBySide][kWeightHistory + kChunk];
#endif
};
// Each thread that dithers has its own.
static thread_local chunk line_chunk;

// Runs the error chains of count planes over the n pixels of a chunk in
// scan order dx (1 or -1), all with the same cells; carry and the weight
// cursors go on from chunk to chunk.
template <int count, int dx> static void dither_chunk(chunk *c, int n, const cell_table *table,
                                                      int64_t *carry, const uint32_t **weight)
{
  const dot_cell *cells = table->cells + kCellMargin;
  const uint64_t *reciprocals = table->reciprocals + kCellMargin;
  int64_t carry_[count];
  const uint32_t *weight_[count];
  for (int p = 0; p < count; p++) {
    carry_[p] = carry[p];
    weight_[p] = weight[p];
  }

  for (int i = dx > 0 ? 0 : n - 1; i != (dx > 0 ? n : -1); i += dx) {
    for (int p = 0; p < count; p++) {
      unsigned amount = c->amount[p][i];
      if (amount == 0) {
        // Paper that asks for no ink stays clean and swallows the error.
        c->a[p][i + 2] = 0;
        c->e[p][i + 2] = 0;
        carry_[p] = c->cur[p][i + 1 + dx];
        continue;
      }

      int64_t v = (int64_t)amount + carry_[p] / 128;
      if ((uint64_t)(v + kCellMargin) >= (uint64_t)kCells) v = v < 0 ? 0 : 255;
      const dot_cell cell = cells[v];
      c->amount[p][i] = cell.level;

      int64_t pick = (int64_t)spread_pick(*weight_[p]++, reciprocals[v], cell.span);
      int64_t a = (cell.base + pick) * cell.error;
      c->a[p][i + 2] = (int32_t)a;
      c->e[p][i + 2] = cell.error;
      if (count > 4) {
        // Many chains side by side keep the processor busy: fewest steps.
        carry_[p] = 7 * a + c->cur[p][i + 1 + dx];
      } else {
        // Fewer chains leave it waiting on each: the shortest chain, 7 a
        // with the lightest weight's share added in ahead of the pick.
        carry_[p] = pick * cell.error7 + (cell.base_error7 + (int64_t)c->cur[p][i + 1 + dx]);
      }
    }
  }

  for (int p = 0; p < count; p++) {
    carry[p] = carry_[p];
    weight[p] = weight_[p];
  }
}

// Writes the cells of the line below that a chunk's pixels complete: the
// cell behind each pixel in scan order takes 3/16 of that pixel's error,
// 5/16 of the pixel before it and 1/16 of the one before that, with the
// random weights: 3 (16 e - a) + 5 (16 e' - a') + a''. a and e point at the
// chunk's first pixel, next at the cell of the line below for that pixel;
// dx is 1 when the line runs left to right, -1 when it runs right to left.
WIDE_VECTORS static void spread_chunk(const int32_t *__restrict a, const int32_t *__restrict e,
                                      int n, int *__restrict next, int dx)
{
  if (dx == 1) {
    for (int i = 0; i < n; i++) {
      uint32_t b0 = 16u * (uint32_t)e[i] - (uint32_t)a[i];
      uint32_t b1 = 16u * (uint32_t)e[i - 1] - (uint32_t)a[i - 1];
      next[i - 1] = (int)(3u * b0 + 5u * b1 + (uint32_t)a[i - 2]);
    }
  } else {
    for (int i = 0; i < n; i++) {
      uint32_t b0 = 16u * (uint32_t)e[i] - (uint32_t)a[i];
      uint32_t b1 = 16u * (uint32_t)e[i + 1] - (uint32_t)a[i + 1];
      next[i + 1] = (int)(3u * b0 + 5u * b1 + (uint32_t)a[i + 2]);
    }
  }
}

#ifdef LOCAL_WEIGHTS
// Makes sure n weights lie ahead of a plane's cursor in its window: the ones
// left move to the front and the plane's generator draws the rest.
static void top_up(uint32_t *window, uint32_t *generator, const uint32_t **cursor,
                   const uint32_t **end, int n)
{
  static_assert(kWeightHistory == (size_t)kFeedback, "the window holds the register's history");
  size_t left = (size_t)(*end - *cursor);
  if (left >= (size_t)n) return;
  uint32_t *values = window + kWeightHistory;
  memmove(values, *cursor, left * sizeof(uint32_t));
  // The history the generator writes before its values is the last values
  // it drew: the ones just moved, unchanged.
  feedback_run(generator, values + left, kChunk - left);
  *cursor = values;
  *end = values + kChunk;
}
#endif

// Dithers count planes of a line side by side with one table, chunk by
// chunk in scan order. The weights come drawn ahead (weight[p] at plane p's
// share) or, with generators (kWeightHistory words per plane, each at the
// start of its plane's share), are drawn a chunk at a time.
template <int count, int dx>
static void dither_planes(const dither_state_t *state, unsigned char *const *rows, int first,
                          const cell_table *table, const uint32_t **weight, uint32_t *generators)
{
  const int width = state->width;
  chunk *c = &line_chunk;
  const int *cur[count];
  int *next[count];
  int64_t carry[count];
  for (int p = 0; p < count; p++) {
    plane_rows(state, first + p, dx > 0 ? 0 : 1, &cur[p], &next[p]);
    carry[p] = cur[p][dx > 0 ? 0 : width - 1];
    // Nothing comes before the first pixel.
    for (int k = 0; k < kChunk + 4; k++) c->a[p][k] = c->e[p][k] = 0;
  }
#ifdef LOCAL_WEIGHTS
  const uint32_t *drawn_to[count];
  if (generators)
    for (int p = 0; p < count; p++) weight[p] = drawn_to[p] = c->window[p] + kWeightHistory;
#else
  (void)generators;
#endif

  for (int done = 0; done < width;) {
    int n = width - done < kChunk ? width - done : kChunk;
    int x0 = dx > 0 ? done : width - done - n;
    for (int p = 0; p < count; p++) {
      memcpy(c->amount[p], rows[p] + x0, (size_t)n);
      memcpy(c->cur[p], cur[p] + x0 - 1, (size_t)(n + 2) * sizeof(int32_t));
      if (dx < 0 && n != kChunk) {
        // The two pixels before a short last chunk sit right after it.
        c->a[p][n + 2] = c->a[p][kChunk + 2];
        c->a[p][n + 3] = c->a[p][kChunk + 3];
        c->e[p][n + 2] = c->e[p][kChunk + 2];
        c->e[p][n + 3] = c->e[p][kChunk + 3];
      }
    }

#ifdef LOCAL_WEIGHTS
    if (generators)
      for (int p = 0; p < count; p++)
        top_up(c->window[p], generators + p * kWeightHistory, &weight[p], &drawn_to[p], n);
#endif
    dither_chunk<count, dx>(c, n, table, carry, weight);

    for (int p = 0; p < count; p++) {
      memcpy(rows[p] + x0, c->amount[p], (size_t)n);
      spread_chunk(c->a[p] + 2, c->e[p] + 2, n, next[p] + x0, dx);
      // The chunk's last two pixels in scan order come before the next chunk.
      if (dx > 0) {
        c->a[p][0] = c->a[p][n];
        c->a[p][1] = c->a[p][n + 1];
        c->e[p][0] = c->e[p][n];
        c->e[p][1] = c->e[p][n + 1];
      } else {
        c->a[p][kChunk + 2] = c->a[p][2];
        c->a[p][kChunk + 3] = c->a[p][3];
        c->e[p][kChunk + 2] = c->e[p][2];
        c->e[p][kChunk + 3] = c->e[p][3];
      }
    }
    done += n;
  }
}

// Dithers count planes, first and on, with one table: dispatches on the
// number of planes and the direction.
template <int dx> static void dither_run(const dither_state_t *state, unsigned char *const *rows,
                                         int first, int count, const cell_table *table,
                                         const uint32_t **weight, uint32_t *generators)
{
  switch (count) {
  case 1: dither_planes<1, dx>(state, rows, first, table, weight, generators); break;
  case 2: dither_planes<2, dx>(state, rows, first, table, weight, generators); break;
  case 3: dither_planes<3, dx>(state, rows, first, table, weight, generators); break;
  case 4: dither_planes<4, dx>(state, rows, first, table, weight, generators); break;
  case 5: dither_planes<5, dx>(state, rows, first, table, weight, generators); break;
  default: dither_planes<6, dx>(state, rows, first, table, weight, generators); break;
  }
}

// Inked pixels of a row: the weights its plane will take.
WIDE_VECTORS static size_t count_inked(const unsigned char *row, int width)
{
  size_t blank = 0;
  int x = 0;
#if defined(__GNUC__)
  // Sixteen bytes at a time: each blank byte subtracts one from its lane.
  typedef unsigned char bytes __attribute__((vector_size(16)));
  while (width - x >= 16) {
    bytes lanes = {0};
    int stop = x + 16 * 255 < width - 15 ? x + 16 * 255 : width - 15;
    for (; x < stop; x += 16) {
      bytes v;
      memcpy(&v, row + x, 16);
      lanes -= (bytes)(v == 0);
    }
    for (int k = 0; k < 16; k++) blank += lanes[k];
  }
#endif
  for (; x < width; x++) blank += row[x] == 0;
  return (size_t)width - blank;
}

// True when two rows of width bytes share memory.
static bool rows_overlap(const unsigned char *a, const unsigned char *b, int width)
{
  uintptr_t pa = (uintptr_t)a, pb = (uintptr_t)b;
  return pa < pb + (uintptr_t)width && pb < pa + (uintptr_t)width;
}

// True when any two of the rows share memory.
static bool any_overlap(unsigned char *const *rows, int count, int width)
{
  for (int p = 0; p < count; p++)
    for (int q = p + 1; q < count; q++)
      if (rows_overlap(rows[p], rows[q], width)) return true;
  return false;
}

// Dithers the planes of one line, in their order, each with its table.
static void dither_line(dither_state_t *state, const lut_entry_t *const *luts,
                        unsigned char *const *rows, int planes)
{
  if (!loginit) {
    fill_spread(logtable);
    loginit = 1;
  }

  const int width = state->width;
  if (width <= 0) return;
  // Planes beyond the record's are left as they are, as the core leaves them.
  if (planes > state->planes) planes = state->planes;

  if (any_overlap(rows, planes, width) || !reserve_weights((size_t)kSideBySide * (size_t)width)) {
    for (int p = 0; p < planes; p++) cups_dither(state, luts[p], rows[p], p);
    return;
  }

  // Entry points use at most two tables, colour and black. Tables with
  // absurd residuals go the general way.
  const cell_table *tables[6];
  bool tame = true;
  for (int p = 0; p < planes; p++) {
    tables[p] = p > 0 && luts[p] == luts[p - 1] ? tables[p - 1] : cells_of(luts[p]);
    tame = tame && tables[p]->tame;
  }
  if (!tame) {
    for (int p = 0; p < planes; p++) cups_dither(state, luts[p], rows[p], p);
    return;
  }

  // Planes that follow each other with the same table run side by side.
  for (int first = 0, count; first < planes; first += count) {
    count = 1;
    while (first + count < planes && tables[first + count] == tables[first]) count++;

    const uint32_t *weight[kSideBySide];
    size_t drawn = 0;
    for (int i = 0; i < count; i++) {
      weight[i] = weights + drawn;
      drawn += count_inked(rows[first + i], width);
    }
    draw_weights(weights, drawn);

    if (state->direction == 0)
      dither_run<1>(state, rows + first, first, count, tables[first], weight, nullptr);
    else
      dither_run<-1>(state, rows + first, first, count, tables[first], weight, nullptr);
  }
}

// Dithers one line of a black-only page.
void cupsDither1(dither_state_t *state, const lut_entry_t *lut, unsigned char *black)
{
  const lut_entry_t *luts[] = {lut};
  unsigned char *rows[] = {black};
  dither_line(state, luts, rows, 1);
  state->direction = 1 - state->direction;
}

// Dithers one line of a cyan, magenta and yellow page.
void cupsDither3(dither_state_t *state, const lut_entry_t *lut, unsigned char *cyan,
                 unsigned char *magenta, unsigned char *yellow)
{
  const lut_entry_t *luts[] = {lut, lut, lut};
  unsigned char *rows[] = {cyan, magenta, yellow};
  dither_line(state, luts, rows, 3);
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

// Raises a row of ink amounts by a row of additions, holding them at 255.
static void add_held(unsigned char *__restrict row, const unsigned char *__restrict add, int n)
{
  int x = 0;
#if defined(__GNUC__)
  typedef unsigned char bytes __attribute__((vector_size(16)));
  for (; x + 16 <= n; x += 16) {
    bytes a, b;
    memcpy(&a, row + x, 16);
    memcpy(&b, add + x, 16);
    bytes sum = a + b;
    // A sum that wrapped is below its first term.
    sum |= (bytes)(sum < a);
    memcpy(row + x, &sum, 16);
  }
#endif
  for (; x < n; x++) {
    int v = row[x] + add[x];
    row[x] = (unsigned char)(v > 255 ? 255 : v);
  }
}

// Table lookups over a row stay one byte at a time: GCC's vectoriser would
// assemble each lookup from scalar loads and shifts, which costs more.
#if defined(__GNUC__) && !defined(__clang__)
#define SCALAR_LOOKUPS __attribute__((optimize("no-tree-vectorize")))
#else
#define SCALAR_LOOKUPS
#endif

#ifdef X86_VECTORS
// Processors with byte permutes look up 64 amounts at once, each table held
// in four registers as two 128-byte halves; the amount's top bit picks the
// half. Returns the amounts done.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) static int
split_row_wide(unsigned char *__restrict row, unsigned char *__restrict other, int n,
               const unsigned char *kept, const unsigned char *moved)
{
  __m512i kept_low = _mm512_loadu_si512(kept), kept_low2 = _mm512_loadu_si512(kept + 64);
  __m512i kept_high = _mm512_loadu_si512(kept + 128), kept_high2 = _mm512_loadu_si512(kept + 192);
  __m512i moved_low = _mm512_loadu_si512(moved), moved_low2 = _mm512_loadu_si512(moved + 64);
  __m512i moved_high = _mm512_loadu_si512(moved + 128);
  __m512i moved_high2 = _mm512_loadu_si512(moved + 192);
  int x = 0;
  for (; x + 64 <= n; x += 64) {
    __m512i v = _mm512_loadu_si512(row + x);
    __mmask64 high = _mm512_movepi8_mask(v);
    __m512i keep = _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(kept_low, v, kept_low2),
                                          _mm512_permutex2var_epi8(kept_high, v, kept_high2));
    __m512i move = _mm512_mask_blend_epi8(high, _mm512_permutex2var_epi8(moved_low, v, moved_low2),
                                          _mm512_permutex2var_epi8(moved_high, v, moved_high2));
    _mm512_storeu_si512(row + x, keep);
    _mm512_storeu_si512(other + x, move);
  }
  return x;
}
#endif

// Looks up every amount of a row in two tables: the first result replaces
// the amount, the second goes to its own row.
SCALAR_LOOKUPS static void split_row(unsigned char *__restrict row, unsigned char *__restrict other,
                                     int n, const unsigned char *kept, const unsigned char *moved)
{
  int x = 0;
#ifdef X86_VECTORS
  static const bool wide =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  if (wide) x = split_row_wide(row, other, n, kept, moved);
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight amounts are read as one word and both results written as one
  // word each: the processor then tracks two stores instead of sixteen.
  for (; x + 8 <= n; x += 8) {
    uint64_t amounts, keep = 0, move = 0;
    memcpy(&amounts, row + x, 8);
    for (int j = 0; j < 64; j += 8) {
      unsigned v = (unsigned)(amounts >> j) & 255;
      keep |= (uint64_t)kept[v] << j;
      move |= (uint64_t)moved[v] << j;
    }
    memcpy(row + x, &keep, 8);
    memcpy(other + x, &move, 8);
  }
#endif
  for (; x < n; x++) {
    unsigned v = row[x];
    other[x] = moved[v];
    row[x] = kept[v];
  }
}

// Black generation, and with light rows the light-ink split, over rows
// that share no memory. Each pixel's inks depend on that pixel alone, so
// the line goes table by table, a piece at a time.
static void split_inks(int width, unsigned char *__restrict cyan, unsigned char *__restrict magenta,
                       unsigned char *__restrict yellow, unsigned char *__restrict black,
                       unsigned char *__restrict light_cyan,
                       unsigned char *__restrict light_magenta)
{
  enum
  {
    kPiece = 512
  };
  unsigned char add[kPiece];
  for (int x0 = 0; x0 < width; x0 += kPiece) {
    int n = width - x0 < kPiece ? width - x0 : kPiece;
    split_row(black + x0, add, n, black_lut, color_lut);
    add_held(cyan + x0, add, n);
    add_held(magenta + x0, add, n);
    add_held(yellow + x0, add, n);
    if (light_cyan) {
      split_row(cyan + x0, light_cyan + x0, n, cyan_lut, lcyan_lut);
      split_row(magenta + x0, light_magenta + x0, n, magenta_lut, lmagenta_lut);
    }
  }
}

// Dithers one line of a four-ink page after black generation.
void cupsDither4(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan, unsigned char *magenta,
                 unsigned char *yellow, unsigned char *black)
{
  if (use_lut) {
    unsigned char *rows[] = {cyan, magenta, yellow, black};
    if (any_overlap(rows, 4, state->width)) {
      for (int x = 0; x < state->width; x++)
        generate_black(cyan + x, magenta + x, yellow + x, black + x);
    } else
      split_inks(state->width, cyan, magenta, yellow, black, nullptr, nullptr);
  }

  const lut_entry_t *luts[] = {color_table, color_table, color_table, black_table};
  unsigned char *rows[] = {cyan, magenta, yellow, black};
  dither_line(state, luts, rows, 4);
  state->direction = 1 - state->direction;
}

// Dithers one line of a six-ink page after black generation and light-ink split.
void cupsDither6(dither_state_t *state, const lut_entry_t *color_table,
                 const lut_entry_t *black_table, unsigned char *cyan, unsigned char *magenta,
                 unsigned char *yellow, unsigned char *black, unsigned char *light_cyan,
                 unsigned char *light_magenta)
{
  if (use_lut) {
    unsigned char *rows[] = {cyan, magenta, yellow, black, light_cyan, light_magenta};
    if (any_overlap(rows, 6, state->width)) {
      for (int x = 0; x < state->width; x++) {
        generate_black(cyan + x, magenta + x, yellow + x, black + x);
        light_cyan[x] = lcyan_lut[cyan[x]];
        cyan[x] = cyan_lut[cyan[x]];
        light_magenta[x] = lmagenta_lut[magenta[x]];
        magenta[x] = magenta_lut[magenta[x]];
      }
    } else
      split_inks(state->width, cyan, magenta, yellow, black, light_cyan, light_magenta);
  }

  const lut_entry_t *luts[] = {color_table, color_table, color_table,
                               black_table, color_table, color_table};
  unsigned char *rows[] = {cyan, magenta, yellow, black, light_cyan, light_magenta};
  dither_line(state, luts, rows, 6);
  state->direction = 1 - state->direction;
}

// ---------------------------------------------------------------------------
// Lines dithered plane by plane, on several threads
//
// A line is made ready in the order of the page: the ink split, the tables,
// and each plane's share of the one sequence of weights, in the order one
// ink after another would take them. Its planes can then be dithered apart,
// each plane's lines in page order, while the next lines are made ready.

// One line's inks ready to be dithered plane by plane.
struct dither_line_s
{
  int width;                         // pixels per line
  int capacity;                      // planes the record has room for
  int planes;                        // planes of the line made ready
  int direction;                     // scan direction of this line
  unsigned char *rows[kSideBySide];  // ink amounts in, dot levels out
  const cell_table *tables[kSideBySide];
  size_t inked[kSideBySide];  // each plane's share of the weights
#ifdef LOCAL_WEIGHTS
  uint32_t start[kSideBySide][kWeightHistory];  // the generator where each share starts
#else
  // Per plane, room for the generator's history, then the plane's weights:
  // threads dithering different planes write apart.
  uint32_t *block;
#endif
};

#ifndef LOCAL_WEIGHTS
// Where plane p's weights go in a line record.
static uint32_t *plane_weights(const dither_line_t *line, int p)
{
  return line->block + (size_t)p * ((size_t)line->width + kWeightHistory) + kWeightHistory;
}
#endif

// Makes the record of one line of up to planes inks, weights included.
dither_line_t *cupsDitherLineNew(int width, int planes)
{
  if (width <= 0 || planes <= 0 || planes > kSideBySide) return nullptr;
  dither_line_t *line = (dither_line_t *)calloc(1, sizeof(dither_line_t));
  if (line == nullptr) return nullptr;
#ifndef LOCAL_WEIGHTS
  size_t words = (size_t)planes * ((size_t)width + kWeightHistory);
  line->block = (uint32_t *)malloc(words * sizeof(uint32_t));
  if (line->block == nullptr) {
    free(line);
    return nullptr;
  }
#endif
  line->width = width;
  line->capacity = planes;
  return line;
}

// Releases a line record.
void cupsDitherLineDelete(dither_line_t *line)
{
  if (line == nullptr) return;
#ifndef LOCAL_WEIGHTS
  free(line->block);
#endif
  free(line);
}

// Makes one line ready: black generation and the light split as cupsDither4
// and cupsDither6 do them, the tables, and every plane's share of the
// weights.
int cupsDitherPrepare(dither_state_t *state, dither_line_t *line, const lut_entry_t *color_table,
                      const lut_entry_t *black_table, unsigned char *const *rows, int planes)
{
  if (state == nullptr || line == nullptr || rows == nullptr ||
      (planes != 1 && planes != 3 && planes != 4 && planes != 6) || planes > state->planes ||
      planes > line->capacity || state->width != line->width)
    return 0;

  if (!loginit) {
    fill_spread(logtable);
    loginit = 1;
  }

  // Rows that share memory, or tables with absurd residuals, take the
  // one-thread calls, which dither them one pixel after the other.
  const int width = state->width;
  if (any_overlap(rows, planes, width)) return 0;
  const lut_entry_t *luts[kSideBySide];
  for (int p = 0; p < planes; p++) luts[p] = planes == 1 || p == 3 ? black_table : color_table;
  for (int p = 0; p < planes; p++) {
    line->tables[p] = p > 0 && luts[p] == luts[p - 1] ? line->tables[p - 1] : cells_of(luts[p]);
    if (!line->tables[p]->tame) return 0;
  }

  if (use_lut && planes >= 4)
    split_inks(width, rows[0], rows[1], rows[2], rows[3], planes == 6 ? rows[4] : nullptr,
               planes == 6 ? rows[5] : nullptr);

#ifdef LOCAL_WEIGHTS
  if (!feedback_ready) feedback_start();
#endif
  for (int p = 0; p < planes; p++) {
    line->rows[p] = rows[p];
    line->inked[p] = count_inked(rows[p], width);
#ifdef LOCAL_WEIGHTS
    // The shares are only stepped over here: each is drawn on the thread
    // that uses it.
    memcpy(line->start[p], feedback, sizeof(feedback));
    feedback_skip(feedback, line->inked[p]);
#else
    draw_weights(plane_weights(line, p), line->inked[p]);
#endif
  }

  line->planes = planes;
  line->direction = state->direction;
  state->direction = 1 - state->direction;
  return 1;
}

// Dithers count planes of a ready line, first and on. Other threads may
// dither the line's other planes at the same time.
void cupsDitherPlanes(dither_state_t *state, const dither_line_t *line, int first, int count)
{
  if (state == nullptr || line == nullptr || first < 0 || count <= 0 ||
      first + count > line->planes || state->width != line->width)
    return;

  // Planes that follow each other with the same table run side by side.
  for (int end = first + count, n; first < end; first += n) {
    n = 1;
    while (first + n < end && line->tables[first + n] == line->tables[first]) n++;
    const uint32_t *weight[kSideBySide];
#ifdef LOCAL_WEIGHTS
    // Each plane draws its share from its own copy of the generator.
    uint32_t generators[kSideBySide * kWeightHistory];
    memcpy(generators, line->start[first], (size_t)n * sizeof(line->start[0]));
#else
    uint32_t *generators = nullptr;
    for (int i = 0; i < n; i++) weight[i] = plane_weights(line, first + i);
#endif
    if (line->direction == 0)
      dither_run<1>(state, line->rows + first, first, n, line->tables[first], weight, generators);
    else
      dither_run<-1>(state, line->rows + first, first, n, line->tables[first], weight, generators);
  }
}

// Dithers one plane of a line of 16-bit samples into dot levels.
void cupsDitherN(dither_state_t *state, const lut_entry_t *lut, const unsigned short *samples,
                 int step, unsigned char *out, int plane)
{
  // The direction stays: the caller flips it once all planes of the line
  // are done.
  // This entry keeps its own spread table, indexed by error / 16 since its
  // errors live on the 4096-step scale.
  static int logtable_n[kSpreadCells];
  static int loginit_n = 0;

  if (!loginit_n) {
    fill_spread(logtable_n);
    loginit_n = 1;
  }

  dither_pixels<unsigned short, 4, 4095, 16>(state, lut, logtable_n, samples, step, out, plane);
}

// Sets the curve that hands light greys to composite colour, dark greys to black.
void cupsDitherSetBlackGeneration(int start, int end)
{
  // Amounts beyond one byte mean nothing to an 8-bit page: hold them to it.
  start = start < 0 ? 0 : (start > 255 ? 255 : start);
  end = end < 0 ? 0 : (end > 255 ? 255 : end);

  if (start == 0 && end == 255) {
    use_lut = 0;
    return;
  }

  use_lut = 1;

  int i = 0;
  for (; i < start; i++) {
    black_lut[i] = 0;
    color_lut[i] = (unsigned char)i;
  }
  for (; i < end; i++) {
    black_lut[i] = (unsigned char)(end * (i - start) / (end - start));
    color_lut[i] = (unsigned char)(start - (i - start) * start / (end - start));
  }
  for (; i <= 255; i++) {
    black_lut[i] = (unsigned char)i;
    color_lut[i] = 0;
  }
}

// Fills one dark/light ink pair's split tables from the light ink's share.
static void set_light_split(unsigned char *dark, unsigned char *light, float ratio)
{
  // The light ink takes ratio of the amount; the dark ink gives up only a
  // third of that, as a light dot carries about a third of the dye.
  // A share outside 0..1 has no meaning for an ink pair; NaN counts as none.
  double r = ratio;
  if (!(r > 0.0))
    r = 0.0;
  else if (r > 1.0)
    r = 1.0;

  for (int i = 0; i < 256; i++) {
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
