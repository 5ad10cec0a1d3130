// Fuzz target for the image library: every public call with arguments from
// its stated domain, with buffers exactly as large as the call may touch
// (so AddressSanitizer sees a byte too far), and each result compared with
// a plain, slow model of the call kept here. The library's loops are tuned
// for speed; the model is what they must still compute.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver.h"

namespace {

[[noreturn]] void Finding(const char *call, const char *what, long index)
{
  fprintf(stderr, "fuzz_driver: %s: %s (at %ld)\n", call, what, index);
  abort();
}

// --- dot lookup tables ----------------------------------------------------

// Whether a level list is one the filter builds tables from: at least one
// level, ascending ink from 0 or more, each level at least two amounts above
// the one before, and only the last beyond the largest amount (then with
// room below it for two cells).
bool Ordinary(const int *values, int num_values, int max)
{
  if (num_values < 1 || values[0] < 0) return false;
  for (int i = 1; i < num_values; i++)
    if ((long long)values[i] - values[i - 1] < 2 || values[i - 1] > max) return false;
  return values[num_values - 1] <= max || num_values == 1 || values[num_values - 2] < max - 1;
}

// The table's rule, said per cell: an ink amount fires the dot level whose
// ink is nearest to it, the smaller dot on a tie, and keeps the difference
// as error (cell 0 none). A last level beyond the largest amount stands at
// one below it and wins its ties, so the top cells fire the big dot.
lut_entry_t NearestLevel(int j, const int *values, int num_values, int max)
{
  int best = 0;
  long long best_distance = -1;
  for (int i = 0; i < num_values; i++) {
    bool beyond = values[i] > max;
    long long at = beyond ? (long long)max - 1 : values[i];
    long long distance = at > j ? at - j : j - at;
    if (best_distance < 0 || distance < best_distance || (beyond && distance == best_distance)) {
      best = i;
      best_distance = distance;
    }
  }
  return {best, j == 0 ? 0 : (int)(uint32_t)((long long)j - values[best])};
}

// Every cell against the rule; for lists outside it, every cell still holds
// a level of the list and that level's error, or is the empty cell.
void CheckLut(const lut_entry_t *lut, const int *values, int num_values, int max)
{
  bool ordinary = Ordinary(values, num_values, max);
  for (int j = 0; j <= max; j++) {
    if (ordinary) {
      lut_entry_t want = NearestLevel(j, values, num_values, max);
      if (lut[j].pixel != want.pixel || lut[j].error != want.error)
        Finding("cupsLutNew", "cell is not the nearest level", j);
      continue;
    }
    int i = lut[j].pixel;
    bool empty = i == 0 && lut[j].error == 0;
    if (!empty && (i < 0 || i >= std::max(num_values, 1)))
      Finding("cupsLutNew", "cell names no level of the list", j);
    if (!empty && num_values > 0 && j > 0 &&
        lut[j].error != (int)(uint32_t)((long long)j - values[i]))
      Finding("cupsLutNew", "cell error is not its amount less the level's ink", j);
  }
}

// Level values: any int, or values near the ink scale.
std::vector<int> Values(FuzzedDataProvider &in, int count, int low, int high)
{
  std::vector<int> values;
  bool any = low == INT32_MIN;
  for (int i = 0; i < count; i++)
    values.push_back(any && in.ConsumeBool()
                         ? in.ConsumeIntegral<int>()
                         : in.ConsumeIntegralInRange<int>(any ? -300 : low, any ? 1200 : high));
  return values;
}

void FuzzLut(FuzzedDataProvider &in)
{
  int num_values = in.ConsumeIntegralInRange(-2, 6);
  int max = in.ConsumeBool() ? 255 : in.ConsumeIntegralInRange(0, 4095);
  bool null_values = in.ConsumeIntegralInRange(0, 15) == 0;
  std::vector<int> values = Values(in, std::max(num_values, 0), INT32_MIN, 0);
  // Level lists in ascending ink, as the filter makes them, half the time.
  if (in.ConsumeBool()) std::sort(values.begin(), values.end());
  // An exactly sized list: a read beyond num_values is caught.
  int *list = values.empty() ? nullptr : (int *)malloc(values.size() * sizeof(int));
  if (list) memcpy(list, values.data(), values.size() * sizeof(int));
  int dummy = 0;
  const int *arg = null_values ? nullptr : (list ? list : &dummy);

  lut_entry_t *lut = cupsLutNew(arg, num_values, max);
  if (!arg || num_values == 0) {
    if (lut) Finding("cupsLutNew", "a table without levels", num_values);
  } else {
    if (!lut) Finding("cupsLutNew", "no table", num_values);
    CheckLut(lut, arg, std::max(num_values, 0), max);
  }
  cupsLutDelete(lut);
  free(list);
}

// --- the dither -----------------------------------------------------------

// The process-wide ink settings as the model keeps them (the library's
// start the same: all zero, black generation off).
struct InkModel
{
  bool use_lut = false;
  unsigned char black[256] = {}, color[256] = {};
  unsigned char cyan[256] = {}, lcyan[256] = {}, magenta[256] = {}, lmagenta[256] = {};
} ink;

void ModelBlackGeneration(int start, int end)
{
  if (start == 0 && end == 255) {
    ink.use_lut = false;
    return;
  }
  ink.use_lut = true;
  int i = 0;
  for (; i < start; i++) ink.black[i] = 0, ink.color[i] = (unsigned char)i;
  for (; i < end; i++) {
    ink.black[i] = (unsigned char)(end * (i - start) / (end - start));
    ink.color[i] = (unsigned char)(start - (i - start) * start / (end - start));
  }
  for (; i <= 255; i++) ink.black[i] = (unsigned char)i, ink.color[i] = 0;
}

void ModelSplit(unsigned char *dark, unsigned char *light, float ratio)
{
  for (int i = 0; i < 256; i++) {
    dark[i] = (unsigned char)std::floor(i * (1.0 - (double)ratio / 3.0) + 0.5);
    light[i] = (unsigned char)std::floor(i * (double)ratio + 0.5);
  }
}

// The model's own copy of the C library's generator, started as an
// unseeded random() starts (seed 1). The library draws one weight per inked
// pixel from random() (or from an equivalent of it), and nothing else in
// this process draws from random(): model and library stay in step.
struct ModelRandom
{
  struct random_data data = {};
  char state[128] = {};
  ModelRandom()
  {
    initstate_r(1, state, sizeof(state), &data);
  }
  long Next()
  {
    int32_t value;
    random_r(&data, &value);
    return value;
  }
} model_random;

int Spread(unsigned e)
{
  if (e == 0) return 0;
  int t = 1;
  while (t < 7 && e >= (2u << (t - 1))) t++;
  return t;
}

// Error rows as the record lays them out: plane k owns rows k and
// planes + k, pixel x in cell x + 2.
struct DitherModel
{
  int width, planes, direction = 0;
  std::vector<int> errors;
  DitherModel(int w, int p) : width(w), planes(p), errors((size_t)2 * p * (w + 4), 0) {}
  int *Row(int r)
  {
    return errors.data() + (size_t)r * (width + 4) + 2;
  }

  // One line of one plane; sample(x) is the input, put(x, level) the output.
  template <typename In, typename Out>
  void Line(const lut_entry_t *lut, int plane, In sample, Out put, bool wide)
  {
    int *cur = direction == 0 ? Row(plane) : Row(planes + plane);
    int *next = direction == 0 ? Row(planes + plane) : Row(plane);
    int dx = direction == 0 ? 1 : -1;
    int x = direction == 0 ? 0 : width - 1, end = direction == 0 ? width : -1;
    int carry = cur[x], near = 0, far = 0;
    for (; x != end; x += dx) {
      unsigned d = sample(x);
      if (d == 0) {
        put(x, 0);
        next[x - dx] = near;
        near = far;
        far = 0;
        carry = cur[x + dx];
        continue;
      }
      int v = wide ? (int)(d >> 4) + carry / 128 : (int)d + carry / 128;
      v = std::max(0, std::min(v, wide ? 4095 : 255));
      put(x, (unsigned char)lut[v].pixel);
      int err = lut[v].error;
      unsigned magnitude = err < 0 ? 0u - (unsigned)err : (unsigned)err;
      int t = Spread(wide ? magnitude / 16 : magnitude);
      int w = 8 - t + (int)(model_random.Next() % (2 * t + 1));
      int a = w * err, b = (16 - w) * err;
      next[x - dx] = 3 * b + near;
      near = 5 * b + far;
      far = a;
      carry = 7 * a + cur[x + dx];
    }
  }
  void Line8(const lut_entry_t *lut, unsigned char *data, int plane)
  {
    Line(
        lut, plane, [&](int x) { return (unsigned)data[x]; },
        [&](int x, unsigned char level) { data[x] = level; }, false);
  }
};

void CompareState(const char *call, const dither_state_t *state, DitherModel &model)
{
  if (state->direction != model.direction) Finding(call, "direction differs", -1);
  for (int r = 0; r < 2 * model.planes; r++)
    for (int x = 0; x < model.width; x++)
      if (state->errors[(size_t)r * (model.width + 4) + 2 + x] != model.Row(r)[x])
        Finding(call, "error cell differs", (long)r * 100000 + x);
}

// Dithers lines through one entry point, and the same lines through the
// model, which draws the same random weights.
void FuzzDither(FuzzedDataProvider &in)
{
  static const int kPlanesOf[] = {1, 3, 4, 6};
  int entry = in.ConsumeIntegralInRange(0, 3);
  int planes = kPlanesOf[entry] + in.ConsumeIntegralInRange(0, 1);
  int width = in.ConsumeIntegralInRange(1, 300);
  int levels = in.ConsumeIntegralInRange(1, 4);
  // Errors stay below 1000 in magnitude: values within -699..999, cells up to 300.
  std::vector<int> values = Values(in, levels, -699, 999);
  if (in.ConsumeBool()) std::sort(values.begin(), values.end());
  int max = in.ConsumeIntegralInRange(255, 300);

  if (in.ConsumeBool()) {
    int start = in.ConsumeIntegralInRange(0, 255), end = in.ConsumeIntegralInRange(0, 255);
    cupsDitherSetBlackGeneration(start, end);
    ModelBlackGeneration(start, end);
  }
  if (in.ConsumeBool()) {
    float c = in.ConsumeFloatingPointInRange(0.0f, 1.0f);
    float m = in.ConsumeFloatingPointInRange(0.0f, 1.0f);
    cupsDitherSetLightCyan(c);
    cupsDitherSetLightMagenta(m);
    ModelSplit(ink.cyan, ink.lcyan, c);
    ModelSplit(ink.magenta, ink.lmagenta, m);
  }

  lut_entry_t *lut = cupsLutNew(values.data(), levels, max);
  lut_entry_t *black_lut = cupsLutNew(values.data(), std::max(1, levels - 1), max);
  dither_state_t *state = cupsDitherNew(width, planes);
  if (!lut || !black_lut || !state) Finding("cupsDitherNew", "no record or table", width);
  DitherModel model(width, planes);

  int lines = in.ConsumeIntegralInRange(1, 6);
  for (int line = 0; line < lines; line++) {
    // Exactly sized rows, with blank pixels and whole blank rows common.
    std::vector<unsigned char *> rows;
    std::vector<std::vector<unsigned char>> copies;
    for (int p = 0; p < kPlanesOf[entry]; p++) {
      unsigned char *row = (unsigned char *)malloc(width);
      int kind = in.ConsumeIntegralInRange(0, 3);
      for (int x = 0; x < width; x++)
        row[x] = kind == 0                         ? 0
                 : (kind == 1 && in.ConsumeBool()) ? 0
                                                   : in.ConsumeIntegral<uint8_t>();
      rows.push_back(row);
      copies.emplace_back(row, row + width);
    }
    const char *call = "";
    switch (entry) {
    case 0:
      call = "cupsDither1";
      cupsDither1(state, lut, rows[0]);
      break;
    case 1:
      call = "cupsDither3";
      cupsDither3(state, lut, rows[0], rows[1], rows[2]);
      break;
    case 2:
      call = "cupsDither4";
      cupsDither4(state, lut, black_lut, rows[0], rows[1], rows[2], rows[3]);
      break;
    case 3:
      call = "cupsDither6";
      cupsDither6(state, lut, black_lut, rows[0], rows[1], rows[2], rows[3], rows[4], rows[5]);
      break;
    }

    auto &c = copies;
    if (entry >= 2 && ink.use_lut) {
      for (int x = 0; x < width; x++) {
        int k = c[3][x], add = ink.color[k];
        for (int p = 0; p < 3; p++) c[p][x] = (unsigned char)std::min(255, c[p][x] + add);
        c[3][x] = ink.black[k];
        if (entry == 3) {
          c[4][x] = ink.lcyan[c[0][x]];
          c[0][x] = ink.cyan[c[0][x]];
          c[5][x] = ink.lmagenta[c[1][x]];
          c[1][x] = ink.magenta[c[1][x]];
        }
      }
    }
    for (int p = 0; p < kPlanesOf[entry]; p++)
      model.Line8(entry >= 2 && p == 3 ? black_lut : lut, c[p].data(), p);
    model.direction = 1 - model.direction;

    for (int p = 0; p < kPlanesOf[entry]; p++) {
      if (memcmp(rows[p], c[p].data(), width)) Finding(call, "dot levels differ from the model", p);
      free(rows[p]);
    }
    CompareState(call, state, model);
  }
  cupsDitherDelete(state);
  cupsLutDelete(lut);
  cupsLutDelete(black_lut);
}

// cupsDitherN: 16-bit samples, every step-th one, through a 4096-cell table.
void FuzzDitherN(FuzzedDataProvider &in)
{
  int width = in.ConsumeIntegralInRange(1, 300);
  int planes = in.ConsumeIntegralInRange(1, 4);
  int step = in.ConsumeIntegralInRange(1, 4);
  int levels = in.ConsumeIntegralInRange(1, 4);
  std::vector<int> values = Values(in, levels, -12000, 16000);
  lut_entry_t *lut = cupsLutNew(values.data(), levels, 4095);
  dither_state_t *state = cupsDitherNew(width, planes);
  if (!lut || !state) Finding("cupsDitherN", "no record or table", width);
  DitherModel model(width, planes);

  int lines = in.ConsumeIntegralInRange(1, 4);
  for (int line = 0; line < lines; line++) {
    int plane = in.ConsumeIntegralInRange(0, planes - 1);
    size_t count = (size_t)(width - 1) * step + 1;
    unsigned short *samples = (unsigned short *)malloc(count * sizeof(unsigned short));
    for (size_t i = 0; i < count; i++)
      samples[i] = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint16_t>();
    unsigned char *out = (unsigned char *)malloc(width);
    std::vector<unsigned char> want(width);
    cupsDitherN(state, lut, samples, step, out, plane);
    model.Line(
        lut, plane, [&](int x) { return (unsigned)samples[(size_t)x * step]; },
        [&](int x, unsigned char level) { want[x] = level; }, true);
    if (memcmp(out, want.data(), width)) Finding("cupsDitherN", "dot levels differ", plane);
    CompareState("cupsDitherN", state, model);
    if (in.ConsumeBool()) {
      // The caller flips the direction after the last plane of a line.
      state->direction = 1 - state->direction;
      model.direction = 1 - model.direction;
    }
    free(samples);
    free(out);
  }
  cupsDitherDelete(state);
  cupsLutDelete(lut);
}

// --- packing and blank checks ---------------------------------------------

void FuzzPack(FuzzedDataProvider &in)
{
  int kind = in.ConsumeIntegralInRange(0, 3);
  int width = in.ConsumeIntegralInRange(-3, 700);
  int step = in.ConsumeIntegralInRange(1, 9);
  unsigned char clear = in.ConsumeIntegral<uint8_t>();
  unsigned char bit = in.ConsumeIntegral<uint8_t>();
  size_t n = width > 0 ? (size_t)(kind == 0 || kind == 1 ? (width - 1) * step + 1 : width) : 0;
  std::vector<unsigned char> bytes = in.ConsumeBytes<unsigned char>(n);
  bytes.resize(n);
  unsigned char *pixels = (unsigned char *)malloc(n ? n : 1);
  if (n) memcpy(pixels, bytes.data(), n);

  size_t out_size = width <= 0  ? 0
                    : kind == 1 ? (size_t)(width + 3) / 4
                    : kind == 3 ? (size_t)(width - 1) * step + 1
                                : (size_t)(width + 7) / 8;
  std::vector<unsigned char> start = in.ConsumeBytes<unsigned char>(out_size);
  start.resize(out_size);
  unsigned char *out = (unsigned char *)malloc(out_size ? out_size : 1);
  if (out_size) memcpy(out, start.data(), out_size);
  std::vector<unsigned char> want = start;

  const char *call = "";
  switch (kind) {
  case 0:
    call = "cupsPackHorizontal";
    cupsPackHorizontal(pixels, out, width, clear, step);
    for (int i = 0; i < width; i++) {
      if (i % 8 == 0) want[i / 8] = clear;
      if (pixels[(size_t)i * step]) want[i / 8] ^= (unsigned char)(0x80 >> (i % 8));
    }
    break;
  case 1:
    call = "cupsPackHorizontal2";
    cupsPackHorizontal2(pixels, out, width, step);
    for (int g = 0; g * 4 < width; g++) {
      unsigned b = 0;
      for (int k = 0; k < 4; k++)
        b = (b << 2) | (g * 4 + k < width ? pixels[(size_t)(g * 4 + k) * step] : 0);
      want[g] = (unsigned char)b;
    }
    break;
  case 2:
    call = "cupsPackHorizontalBit";
    cupsPackHorizontalBit(pixels, out, width, clear, bit);
    for (int i = 0; i < width; i++) {
      if (i % 8 == 0) want[i / 8] = clear;
      if (pixels[i] & bit) want[i / 8] ^= (unsigned char)(0x80 >> (i % 8));
    }
    break;
  case 3:
    call = "cupsPackVertical";
    cupsPackVertical(pixels, out, width, bit, step);
    for (int i = 0; i < width; i++)
      if (pixels[i]) want[(size_t)i * step] ^= bit;
    break;
  }
  for (size_t i = 0; i < out_size; i++)
    if (out[i] != want[i]) Finding(call, "packed byte differs from the model", (long)i);
  free(pixels);
  free(out);
}

void FuzzCheck(FuzzedDataProvider &in)
{
  int length = in.ConsumeIntegralInRange(-3, 600);
  unsigned char value = in.ConsumeIntegral<uint8_t>();
  size_t n = length > 0 ? (size_t)length : 0;
  // Mostly zeros (or the value), with a few other bytes where the input says.
  std::vector<unsigned char> bytes(n, in.ConsumeBool() ? 0 : value);
  while (in.remaining_bytes() > 2 && in.ConsumeBool() && n)
    bytes[in.ConsumeIntegralInRange<size_t>(0, n - 1)] = in.ConsumeIntegral<uint8_t>();
  unsigned char *run = (unsigned char *)malloc(n ? n : 1);
  if (n) memcpy(run, bytes.data(), n);

  int zero = 1, absent = 1;
  for (size_t i = 0; i < n; i++) {
    if (run[i]) zero = 0;
    if (run[i] == value) absent = 0;
  }
  if (cupsCheckBytes(run, length) != zero) Finding("cupsCheckBytes", "wrong answer", length);
  if (cupsCheckValue(run, length, value) != absent)
    Finding("cupsCheckValue", "wrong answer", length);
  free(run);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange(0, 4)) {
  case 0: FuzzLut(in); break;
  case 1: FuzzDither(in); break;
  case 2: FuzzDitherN(in); break;
  case 3: FuzzPack(in); break;
  case 4: FuzzCheck(in); break;
  }
  return 0;
}
