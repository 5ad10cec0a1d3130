// Micro-benchmarks of the image library on one line of an A4 page at
// 1440 dpi (11900 pixels): the dither per plane, black generation and the
// ink split, packing, blank checks and the dot table.
#include "driver.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const int kWidth = 11900;

// A photo-like row of ink amounts: a slow gradient with noise, never 0.
std::vector<unsigned char> PhotoRow(int plane, int width = kWidth)
{
  std::vector<unsigned char> row(width);
  uint32_t h = 2463534242u + plane;
  for (int x = 0; x < width; x++) {
    h ^= h << 13;
    h ^= h >> 17;
    h ^= h << 5;
    int v = 40 + 30 * plane + (x * 150) / width + (int)(h & 31) - 16;
    row[x] = (unsigned char)(v < 1 ? 1 : v > 255 ? 255 : v);
  }
  return row;
}

// Dot levels as the dither leaves them: random levels below levels.
std::vector<unsigned char> DotLevels(int width, int levels)
{
  std::vector<unsigned char> row(width);
  uint32_t h = 88172645u;
  for (int x = 0; x < width; x++) {
    h ^= h << 13;
    h ^= h >> 17;
    h ^= h << 5;
    row[x] = (unsigned char)(h % levels);
  }
  return row;
}

// The page's dot table: family 7 at 1440 x 720 dpi on photo paper.
lut_entry_t *PageLut()
{
  static const int values[] = {0, 383};
  return cupsLutNew(values, 2, 255);
}

// Runs one colour entry point on fresh copies of photo rows each iteration.
void DitherLine(benchmark::State &state, int planes, bool black_generation)
{
  cupsDitherSetBlackGeneration(black_generation ? 32 : 0, 255);
  cupsDitherSetLightCyan(0.29f);
  cupsDitherSetLightMagenta(0.29f);
  lut_entry_t *lut = PageLut();
  dither_state_t *dither = cupsDitherNew(kWidth, planes);
  std::vector<std::vector<unsigned char>> input, work;
  for (int p = 0; p < planes; p++) {
    input.push_back(PhotoRow(p));
    work.push_back(input.back());
  }
  for (auto _ : state) {
    for (int p = 0; p < planes; p++) memcpy(work[p].data(), input[p].data(), kWidth);
    switch (planes) {
    case 1: cupsDither1(dither, lut, work[0].data()); break;
    case 3: cupsDither3(dither, lut, work[0].data(), work[1].data(), work[2].data()); break;
    case 4:
      cupsDither4(dither, lut, lut, work[1].data(), work[2].data(), work[3].data(), work[0].data());
      break;
    case 6:
      cupsDither6(dither, lut, lut, work[1].data(), work[2].data(), work[3].data(), work[0].data(),
                  work[4].data(), work[5].data());
      break;
    }
    benchmark::DoNotOptimize(work[0].data());
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kWidth * planes);
  state.SetLabel("items = pixel-planes");
  cupsDitherDelete(dither);
  cupsLutDelete(lut);
  cupsDitherSetBlackGeneration(0, 255);
}

// Dithers a six-ink line made ready ahead in groups of range(0) planes side
// by side, as the filter's threads take a group each (here one group after
// the other); making the line ready is not timed, drawing the weights (on
// the thread that dithers) is.
void BM_DitherPlanes(benchmark::State &state)
{
  const int group = (int)state.range(0);
  cupsDitherSetBlackGeneration(32, 255);
  lut_entry_t *lut = PageLut();
  dither_state_t *dither = cupsDitherNew(kWidth, 6);
  dither_line_t *line = cupsDitherLineNew(kWidth, 6);
  std::vector<std::vector<unsigned char>> input, work;
  unsigned char *rows[6];
  for (int p = 0; p < 6; p++) {
    input.push_back(PhotoRow(p));
    work.push_back(input.back());
    rows[p] = work[p].data();
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (int p = 0; p < 6; p++) memcpy(work[p].data(), input[p].data(), kWidth);
    cupsDitherPrepare(dither, line, lut, lut, rows, 6);
    state.ResumeTiming();
    for (int first = 0; first < 6; first += group)
      cupsDitherPlanes(dither, line, first, group < 6 - first ? group : 6 - first);
    benchmark::DoNotOptimize(work[0].data());
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)kWidth * 6);
  state.SetLabel("items = pixel-planes");
  cupsDitherLineDelete(line);
  cupsDitherDelete(dither);
  cupsLutDelete(lut);
  cupsDitherSetBlackGeneration(0, 255);
}

// One benchmark per ink set, with and without the black and light-ink curves.
BENCHMARK_CAPTURE(DitherLine, Dither1, 1, false);
BENCHMARK_CAPTURE(DitherLine, Dither3, 3, false);
BENCHMARK_CAPTURE(DitherLine, Dither4_NoBlackGeneration, 4, false);
BENCHMARK_CAPTURE(DitherLine, Dither4_BlackGeneration, 4, true);
BENCHMARK_CAPTURE(DitherLine, Dither6_NoSplit, 6, false);
BENCHMARK_CAPTURE(DitherLine, Dither6_BlackGenerationAndSplit, 6, true);
BENCHMARK(BM_DitherPlanes)->Arg(1)->Arg(2)->Arg(4)->Arg(6);

// Packs one plane of a line, whole (step 1) or one of two columns (step 2).
void BM_PackHorizontal(benchmark::State &state)
{
  int step = (int)state.range(0);
  std::vector<unsigned char> levels = DotLevels(kWidth, 2);
  std::vector<unsigned char> row(kWidth / 8 + 1);
  int width = kWidth / step;
  for (auto _ : state) {
    cupsPackHorizontal(levels.data(), row.data(), width, 0, step);
    benchmark::DoNotOptimize(row.data());
  }
  state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_PackHorizontal)->Arg(1)->Arg(2);

void BM_PackHorizontal2(benchmark::State &state)
{
  int step = (int)state.range(0);
  std::vector<unsigned char> levels = DotLevels(kWidth, 3);
  std::vector<unsigned char> row(kWidth / 4 + 1);
  int width = kWidth / step;
  for (auto _ : state) {
    cupsPackHorizontal2(levels.data(), row.data(), width, step);
    benchmark::DoNotOptimize(row.data());
  }
  state.SetItemsProcessed(state.iterations() * width);
}
BENCHMARK(BM_PackHorizontal2)->Arg(1)->Arg(2);

void BM_PackHorizontalBit(benchmark::State &state)
{
  std::vector<unsigned char> levels = DotLevels(kWidth, 4);
  std::vector<unsigned char> row(kWidth / 8 + 1);
  for (auto _ : state) {
    cupsPackHorizontalBit(levels.data(), row.data(), kWidth, 0, 2);
    benchmark::DoNotOptimize(row.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}
BENCHMARK(BM_PackHorizontalBit);

void BM_PackVertical(benchmark::State &state)
{
  std::vector<unsigned char> levels = DotLevels(kWidth, 2);
  std::vector<unsigned char> out(kWidth * 8);
  for (auto _ : state) {
    cupsPackVertical(levels.data(), out.data(), kWidth, 0x10, 8);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}
BENCHMARK(BM_PackVertical);

// Blank checks over a clean run (the whole run is read): a band row of
// 1488 bytes and a six-ink contone line of 71400 bytes.
void BM_CheckBytes(benchmark::State &state)
{
  std::vector<unsigned char> bytes((size_t)state.range(0), 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cupsCheckBytes(bytes.data(), (int)bytes.size()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CheckBytes)->Arg(1488)->Arg(71400);

void BM_CheckValue(benchmark::State &state)
{
  std::vector<unsigned char> bytes((size_t)state.range(0), 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cupsCheckValue(bytes.data(), (int)bytes.size(), 0));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CheckValue)->Arg(1488);

// The dot table, built once per page.
void BM_LutNew(benchmark::State &state)
{
  static const int values[] = {0, 270, 408, 600};
  for (auto _ : state) {
    lut_entry_t *lut = cupsLutNew(values, 4, 255);
    benchmark::DoNotOptimize(lut);
    cupsLutDelete(lut);
  }
}
BENCHMARK(BM_LutNew);

}  // namespace

BENCHMARK_MAIN();
