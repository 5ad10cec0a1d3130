// Error-diffusion dither: dot levels, error cells, random weights, black
// generation and the light-ink split.
#include "driver.h"
#include "test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Weights replayed from a script (0 once it runs out), with a call count.
std::vector<long> g_script;
size_t g_calls = 0;

long ScriptedRandom(void)
{
  long r = g_calls < g_script.size() ? g_script[g_calls] : 0;
  g_calls++;
  return r;
}

class DitherTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    g_script.clear();
    g_calls = 0;
    saved_ = inkbands_random;
    inkbands_random = ScriptedRandom;
  }
  void TearDown() override
  {
    inkbands_random = saved_;
  }

private:
  long (*saved_)(void) = nullptr;
};

using Line = std::vector<unsigned char>;

// Error cell of a record: row (0 .. 2 * planes - 1), cell (0 .. width + 3).
int &Cell(dither_state_t *s, int row, int cell)
{
  return s->errors[row * (s->width + 4) + cell];
}

// All width + 4 cells of one error row.
std::vector<int> Row(dither_state_t *s, int row)
{
  return std::vector<int>(&Cell(s, row, 0), &Cell(s, row, 0) + s->width + 4);
}

// A table whose every cell is its own level with no residual, so that the
// dither hands back the ink amounts it was given.
std::vector<lut_entry_t> IdentityLut()
{
  std::vector<lut_entry_t> lut(256);
  for (int j = 0; j < 256; j++) lut[j] = {j, 0};
  return lut;
}

lut_entry_t *MakeLut(std::vector<int> values, int max)
{
  return cupsLutNew(values.data(), (int)values.size(), max);
}

TEST(DitherStateTest, NewRecordIsClearAndRefusesBadSizes)
{
  dither_state_t *s = cupsDitherNew(5, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->width, 5);
  EXPECT_EQ(s->planes, 3);
  EXPECT_EQ(s->direction, 0);
  for (int i = 0; i < 2 * 3 * (5 + 4); i++) ASSERT_EQ(s->errors[i], 0) << i;
  cupsDitherDelete(s);
  cupsDitherDelete(nullptr);

  EXPECT_EQ(cupsDitherNew(0, 1), nullptr);
  EXPECT_EQ(cupsDitherNew(-4, 1), nullptr);
  EXPECT_EQ(cupsDitherNew(4, 0), nullptr);
  EXPECT_EQ(cupsDitherNew(4, -1), nullptr);
  EXPECT_EQ(cupsDitherNew(0x7fffffff, 0x7fffffff), nullptr);
}

// Worked by hand: one plane, width 3, table {0, 255}, generator 0. The
// line 100, 100, 100 left to right leaves 4500 in the guard cell and 12225,
// 12700 below pixels 0 and 1; the second line runs right to left on them.
struct SecondLineCase
{
  Line in, out;
  std::vector<int> row0;
  size_t calls;
};
const SecondLineCase kSecondLines[] = {
    // Pixel 1 hits the clamp (error 0); pixel 0's 12225 goes nowhere.
    {{0, 200, 0}, {0, 1, 0}, {0, 0, 0, 0, 0, 0, 0}, 4},
    // Pixel 2 starts clean; 12700 and 12225 ink pixels 1 and 0.
    {{100, 100, 100}, {1, 1, 0}, {0, 0, 0, -6440, 5358, 4500, 0}, 6},
};

TEST_F(DitherTest, SecondLineTakesTheFirstLinesError)
{
  lut_entry_t *lut = MakeLut({0, 255}, 255);
  for (const SecondLineCase &c : kSecondLines) {
    g_calls = 0;
    dither_state_t *s = cupsDitherNew(3, 1);
    Line line = {100, 100, 100};
    cupsDither1(s, lut, line.data());
    EXPECT_EQ(line, (Line{0, 0, 0}));
    EXPECT_EQ(s->direction, 1);
    EXPECT_EQ(Row(s, 1), (std::vector<int>{0, 4500, 12225, 12700, 0, 0, 0}));

    line = c.in;
    cupsDither1(s, lut, line.data());
    EXPECT_EQ(line, c.out);
    EXPECT_EQ(s->direction, 0);
    EXPECT_EQ(Row(s, 0), c.row0);
    EXPECT_EQ(g_calls, c.calls);
    cupsDitherDelete(s);
  }
  cupsLutDelete(lut);
}

// Per-pixel rules on one line from a fresh record whose next row is
// prefilled with fill, generator 0 unless scripted: levels out and the next
// row's cells (cells 0 .. width + 3).
struct LineCase
{
  const char *name;
  std::vector<int> lut_values;
  int direction;
  std::vector<long> script;
  Line in, out;
  int fill;
  std::vector<int> next;
};

// clang-format off
const LineCase kLines[] = {
    // Cells behind each pixel are cleared; the last pixel's and the outer
    // guards are never written.
    {"blank line",
     {0, 255}, 0, {}, {0, 0, 0, 0}, {0, 0, 0, 0}, 999, {999, 0, 0, 0, 0, 999, 999, 999}},
    {"blank swallows the carry",
     {0, 255}, 0, {}, {100, 0, 100}, {0, 0, 0}, 0, {0, 4500, 7500, 4600, 0, 0, 0}},
    {"input 128 inks, 127 does not",
     {0, 255}, 0, {}, {128, 0, 127, 0}, {1, 0, 0, 0}, 0, {0, -5715, -9525, 5588, 9525, 0, 0, 0}},
    {"carry below 0 looks up cell 0",
     {0, 255}, 0, {}, {128, 3}, {1, 0}, 0, {0, -5715, -9525, 0, 0, 0}},
    {"negative carry truncates toward 0",
     {0, 255}, 0, {}, {128, 100}, {1, 0}, 0, {0, -5715, -5295, 0, 0, 0}},
    {"full ink leaves no error",
     {0, 255}, 0, {}, {255, 255, 255}, {1, 1, 1}, 999, {999, 0, 0, 0, 999, 999, 999}},
    {"weights in scan order",
     {0}, 0, {0, 14}, {100, 100, 0}, {0, 0, 0}, 0, {0, 4500, 7815, 625, 0, 0, 0}},
    {"weights in scan order, right to left",
     {0}, 1, {0, 14}, {0, 100, 100}, {0, 0, 0}, 0, {0, 0, 0, 625, 7815, 4500, 0}},
    {"error -254 spreads 1..15", {0, 381}, 0, {14}, {127, 0}, {1, 0}, 0, {0, -762, -1270, 0, 0, 0}},
};
// clang-format on

TEST_F(DitherTest, LineRules)
{
  for (const LineCase &c : kLines) {
    SCOPED_TRACE(c.name);
    g_script = c.script;
    g_calls = 0;
    lut_entry_t *lut = MakeLut(c.lut_values, 255);
    int width = (int)c.in.size();
    dither_state_t *s = cupsDitherNew(width, 1);
    s->direction = c.direction;
    for (int cell = 0; cell < width + 4; cell++) Cell(s, c.direction == 0 ? 1 : 0, cell) = c.fill;

    Line line = c.in;
    cupsDither1(s, lut, line.data());
    EXPECT_EQ(line, c.out);
    EXPECT_EQ(Row(s, c.direction == 0 ? 1 : 0), c.next);
    size_t inked = 0;
    for (unsigned char d : c.in) inked += d != 0;
    EXPECT_EQ(g_calls, inked);

    cupsDitherDelete(s);
    cupsLutDelete(lut);
  }
}

// Spread by error magnitude, seen through the cell below pixel 0 of the
// line [input, 0]: with generator 0, w = 8 - t, the cell is 5 (8 + t) err.
struct SpreadCase
{
  int value, input, err, t;
};
const SpreadCase kSpreads[] = {
    {0, 1, 1, 1},       {0, 2, 2, 2},       {0, 3, 3, 2},        {0, 4, 4, 3},     {0, 7, 7, 3},
    {0, 8, 8, 4},       {0, 15, 15, 4},     {0, 16, 16, 5},      {0, 31, 31, 5},   {0, 32, 32, 6},
    {0, 63, 63, 6},     {0, 64, 64, 7},     {0, 127, 127, 7},    {0, 128, 128, 7}, {0, 255, 255, 7},
    {300, 237, -63, 6}, {300, 236, -64, 7}, {-744, 255, 999, 7}, {40, 40, 0, 0},
};

TEST_F(DitherTest, SpreadGrowsWithTheError)
{
  for (const SpreadCase &c : kSpreads) {
    SCOPED_TRACE(c.input);
    g_calls = 0;
    g_script = {};
    lut_entry_t *lut = MakeLut({c.value}, 255);
    dither_state_t *s = cupsDitherNew(2, 1);
    Line line = {(unsigned char)c.input, 0};
    cupsDither1(s, lut, line.data());
    EXPECT_EQ(Cell(s, 1, 2), 5 * (8 + c.t) * c.err);
    EXPECT_EQ(g_calls, 1u);
    cupsDitherDelete(s);
    cupsLutDelete(lut);
  }
}

// 16-bit samples: the lookup is on sample >> 4 and the spread on err / 16.
TEST_F(DitherTest, SixteenBitSamplesUseTheirOwnScale)
{
  lut_entry_t *lut = MakeLut({0}, 4095);
  struct
  {
    unsigned short sample;
    int err, t;
  } cases[] = {
      {15 << 4, 15, 0},     {16 << 4, 16, 1},  {1023 << 4, 1023, 6},
      {1024 << 4, 1024, 7}, {0xffff, 4095, 7},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.sample);
    g_calls = 0;
    dither_state_t *s = cupsDitherNew(2, 2);
    // Every third sample, plane 1: the other samples must not matter.
    unsigned short samples[] = {c.sample, 7, 7, 0, 7, 7};
    unsigned char out[2] = {9, 9};
    cupsDitherN(s, lut, samples, 3, out, 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(Cell(s, 3, 2), 5 * (8 + c.t) * c.err);
    EXPECT_EQ(s->direction, 0);
    EXPECT_EQ(g_calls, 1u);
    cupsDitherDelete(s);
  }
  cupsLutDelete(lut);

  // Right to left starts at the last sample; levels land in place.
  lut = MakeLut({0, 4095}, 4095);
  dither_state_t *s = cupsDitherNew(3, 1);
  s->direction = 1;
  unsigned short samples[] = {0x0100, 0xfff0, 0};
  unsigned char out[3] = {9, 9, 9};
  g_calls = 0;
  cupsDitherN(s, lut, samples, 1, out, 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(g_calls, 2u);
  cupsDitherDelete(s);
  cupsLutDelete(lut);
}

// Planes are dithered in the entry point's order with their own tables:
// each plane [100, 0] gets the next scripted weight (w = 1 + k), and the
// cell below its pixel 0 shows which. The black table {20} leaves error 80.
TEST_F(DitherTest, PlanesTakeWeightsInOrder)
{
  lut_entry_t *color = MakeLut({0}, 255);
  lut_entry_t *black = MakeLut({20}, 255);
  cupsDitherSetBlackGeneration(0, 255);
  struct
  {
    int planes;
    std::vector<int> cells;
  } cases[] = {
      {1, {7500}},
      {3, {7500, 7000, 6500}},
      {4, {7500, 7000, 6500, 4800}},
      {6, {7500, 7000, 6500, 4800, 5500, 5000}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.planes);
    g_script = {0, 1, 2, 3, 4, 5};
    g_calls = 0;
    dither_state_t *s = cupsDitherNew(2, c.planes);
    std::vector<Line> rows(6, Line{100, 0});
    unsigned char *r[6];
    for (int k = 0; k < 6; k++) r[k] = rows[k].data();
    switch (c.planes) {
    case 1: cupsDither1(s, color, r[0]); break;
    case 3: cupsDither3(s, color, r[0], r[1], r[2]); break;
    case 4: cupsDither4(s, color, black, r[0], r[1], r[2], r[3]); break;
    case 6: cupsDither6(s, color, black, r[0], r[1], r[2], r[3], r[4], r[5]); break;
    }
    EXPECT_EQ(s->direction, 1);
    EXPECT_EQ(g_calls, (size_t)c.planes);
    for (int k = 0; k < c.planes; k++)
      EXPECT_EQ(Cell(s, c.planes + k, 2), c.cells[k]) << "plane " << k;
    cupsDitherDelete(s);
  }
  cupsLutDelete(color);
  cupsLutDelete(black);
}

// A line made ready and then dithered plane by plane, in any grouping, on
// threads of its own, gives the dots, error rows and draws of the one-thread
// calls: each plane's share of the weights starts after the inked pixels of
// the planes before it. Some pixels, and one whole plane, are blank.
TEST_F(DitherTest, SplitLinesMatchTheOneThreadCalls)
{
  const int kWidth = 37, kLines = 4;
  lut_entry_t *color = MakeLut({0, 127, 191, 255}, 255);
  lut_entry_t *black = MakeLut({0, 160, 255}, 255);
  struct
  {
    int planes;
    std::vector<int> groups;
    bool split;
  } cases[] = {
      {1, {1}, false},    {3, {1, 2}, false}, {3, {1, 1, 1}, false}, {4, {2, 2}, true},
      {4, {3, 1}, false}, {6, {3, 3}, true},  {6, {1, 2, 3}, true},  {6, {6}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.planes << " planes in " << c.groups.size());
    cupsDitherSetBlackGeneration(c.split ? 60 : 0, c.split ? 200 : 255);
    cupsDitherSetLightCyan(c.split ? 0.3f : 0.0f);
    cupsDitherSetLightMagenta(c.split ? 0.3f : 0.0f);
    std::vector<Line> lines[2];
    std::vector<int> rows[2];
    size_t calls[2];
    for (int way = 0; way < 2; way++) {
      g_script.clear();
      for (unsigned i = 0, v = 7; i < 6u * kWidth * kLines; i++)
        g_script.push_back((v = v * 1103515245u + 12345u) >> 1);
      g_calls = 0;
      dither_state_t *s = cupsDitherNew(kWidth, c.planes);
      dither_line_t *line = cupsDitherLineNew(kWidth, c.planes);
      for (int y = 0; y < kLines; y++) {
        std::vector<Line> in(6, Line(kWidth));
        for (int p = 0; p < 6; p++)
          for (int x = 0; x < kWidth; x++) {
            bool blank = (x + y + p) % 4 == 0 || (y == 2 && p == 1);
            in[p][x] = blank ? 0 : (x * 37 + y * 91 + p * 53) % 256;
          }
        unsigned char *r[6];
        for (int p = 0; p < 6; p++) r[p] = in[p].data();
        if (way == 0) {
          switch (c.planes) {
          case 1: cupsDither1(s, black, r[0]); break;
          case 3: cupsDither3(s, color, r[0], r[1], r[2]); break;
          case 4: cupsDither4(s, color, black, r[0], r[1], r[2], r[3]); break;
          case 6: cupsDither6(s, color, black, r[0], r[1], r[2], r[3], r[4], r[5]); break;
          }
        } else {
          ASSERT_EQ(cupsDitherPrepare(s, line, color, black, r, c.planes), 1);
          std::vector<std::thread> threads;
          for (size_t g = 0, first = 0; g < c.groups.size(); first += c.groups[g++])
            threads.emplace_back(cupsDitherPlanes, s, line, (int)first, c.groups[g]);
          for (std::thread &t : threads) t.join();
        }
        lines[way].insert(lines[way].end(), in.begin(), in.begin() + c.planes);
      }
      for (int row = 0; row < 2 * c.planes; row++)
        for (int v : Row(s, row)) rows[way].push_back(v);
      calls[way] = g_calls;
      EXPECT_EQ(s->direction, 0);
      cupsDitherLineDelete(line);
      cupsDitherDelete(s);
    }
    EXPECT_EQ(lines[1], lines[0]);
    EXPECT_EQ(rows[1], rows[0]);
    EXPECT_EQ(calls[1], calls[0]);
    EXPECT_GT(calls[0], (size_t)kWidth);
  }
  cupsDitherSetBlackGeneration(0, 255);
  cupsLutDelete(color);
  cupsLutDelete(black);
}

// Lines the split cannot take are left to the one-thread calls untouched:
// rows that share memory, plane counts the entry points do not have.
TEST_F(DitherTest, PrepareRefusesWhatOnlyOneThreadCanDither)
{
  lut_entry_t *lut = MakeLut({0, 255}, 255);
  dither_state_t *s = cupsDitherNew(8, 6);
  dither_line_t *line = cupsDitherLineNew(8, 6);
  Line block(16, 100);
  unsigned char *shared[6] = {&block[0], &block[4], &block[8], &block[8], &block[8], &block[8]};
  unsigned char *apart[6] = {&block[0], &block[8], &block[0], &block[0], &block[0], &block[0]};
  EXPECT_EQ(cupsDitherPrepare(s, line, lut, lut, shared, 3), 0);
  EXPECT_EQ(cupsDitherPrepare(s, line, lut, lut, apart, 2), 0);
  EXPECT_EQ(cupsDitherPrepare(s, nullptr, lut, lut, apart, 1), 0);
  EXPECT_EQ(s->direction, 0);
  EXPECT_EQ(g_calls, 0u);
  EXPECT_EQ(block, Line(16, 100));
  cupsDitherLineDelete(line);
  cupsDitherDelete(s);
  cupsLutDelete(lut);
}

// Black generation seen through a table that hands amounts back unchanged:
// K moves to black_out and adds add to every colour (held at 255).
struct BlackCase
{
  int start, end, k, black_out, add;
};
const BlackCase kBlack[] = {
    {15, 127, 14, 0, 14},    {15, 127, 16, 1, 15},   {15, 127, 71, 63, 8},
    {15, 127, 126, 125, 1},  {15, 127, 127, 127, 0}, {15, 127, 200, 200, 0},
    {63, 255, 159, 127, 32}, {63, 255, 254, 253, 1}, {63, 255, 255, 255, 0},
    {64, 64, 63, 0, 63},     {64, 64, 64, 64, 0},    {0, 153, 100, 100, 0},
    {0, 254, 14, 14, 0},     {0, 255, 14, 14, 0},    {0, 255, 200, 200, 0},
    {100, 110, 105, 55, 50},
};

TEST_F(DitherTest, BlackGenerationMovesGreyBetweenInks)
{
  std::vector<lut_entry_t> same = IdentityLut();
  for (const BlackCase &c : kBlack) {
    SCOPED_TRACE(::testing::Message() << c.start << "," << c.end << " K=" << c.k);
    cupsDitherSetBlackGeneration(c.start, c.end);
    // Each colour meets 0, 100 and 250 on one of three pixels.
    dither_state_t *s = cupsDitherNew(3, 4);
    Line cyan = {0, 100, 250}, magenta = {250, 0, 100}, yellow = {100, 250, 0};
    Line black(3, (unsigned char)c.k);
    cupsDither4(s, same.data(), same.data(), cyan.data(), magenta.data(), yellow.data(),
                black.data());
    const Line raised = {(unsigned char)c.add, (unsigned char)(100 + c.add),
                         (unsigned char)std::min(255, 250 + c.add)};
    EXPECT_EQ(black, Line(3, (unsigned char)c.black_out));
    EXPECT_EQ(cyan, (Line{raised[0], raised[1], raised[2]}));
    EXPECT_EQ(magenta, (Line{raised[2], raised[0], raised[1]}));
    EXPECT_EQ(yellow, (Line{raised[1], raised[2], raised[0]}));
    cupsDitherDelete(s);
  }
}

// The split uses the amounts after black generation and replaces whatever
// the light rows held; it is off with black generation.
struct SplitCase
{
  int start, end;
  float cyan_ratio, magenta_ratio;
  int k, c, m;
  int c_out, lc_out, m_out, lm_out;
};
const SplitCase kSplits[] = {
    {15, 127, 0.42f, 0.0175f, 0, 128, 255, 110, 54, 254, 4},
    {15, 127, 0.42f, 0.42f, 0, 255, 1, 219, 107, 1, 0},
    {15, 127, 0.42f, 0.42f, 0, 25, 125, 22, 10, 108, 52},
    {15, 127, 0.42f, 0.0175f, 14, 100, 250, 98, 48, 254, 4},
    {0, 254, 0.42f, 0.42f, 0, 128, 128, 110, 54, 110, 54},
    {0, 255, 0.42f, 0.42f, 0, 128, 128, 128, 77, 128, 77},
};

TEST_F(DitherTest, LightInksSplitCyanAndMagenta)
{
  std::vector<lut_entry_t> same = IdentityLut();
  for (const SplitCase &c : kSplits) {
    SCOPED_TRACE(::testing::Message() << c.start << "," << c.end << " c=" << c.c << " m=" << c.m);
    cupsDitherSetLightCyan(c.cyan_ratio);
    cupsDitherSetLightMagenta(c.magenta_ratio);
    cupsDitherSetBlackGeneration(c.start, c.end);
    dither_state_t *s = cupsDitherNew(1, 6);
    unsigned char cyan = (unsigned char)c.c, magenta = (unsigned char)c.m, yellow = 0;
    unsigned char black = (unsigned char)c.k, lc = 77, lm = 77;
    cupsDither6(s, same.data(), same.data(), &cyan, &magenta, &yellow, &black, &lc, &lm);
    EXPECT_EQ(cyan, c.c_out);
    EXPECT_EQ(lc, c.lc_out);
    EXPECT_EQ(magenta, c.m_out);
    EXPECT_EQ(lm, c.lm_out);
    EXPECT_EQ(s->direction, 1);
    cupsDitherDelete(s);
  }
}

// Dithers one six-ink pixel with black generation on and exits 0 when
// cyan, magenta and both light inks came out empty.
void SplitWithoutRatios()
{
  std::vector<lut_entry_t> same = IdentityLut();
  cupsDitherSetBlackGeneration(15, 127);
  dither_state_t *s = cupsDitherNew(1, 6);
  unsigned char c = 200, m = 200, y = 200, k = 0, lc = 9, lm = 9;
  cupsDither6(s, same.data(), same.data(), &c, &m, &y, &k, &lc, &lm);
  cupsDitherDelete(s);
  std::exit(c == 0 && m == 0 && lc == 0 && lm == 0 && y == 200 ? 0 : 1);
}

// A fresh process (the threadsafe death-test style re-runs the binary) has
// no split yet: black generation alone empties cyan and magenta.
TEST(DitherDeathTest, SplitTablesStartEmpty)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SplitWithoutRatios(), ::testing::ExitedWithCode(0), "");
}

// Reads exactly n bytes from a pipe.
bool ReadAll(int fd, void *buf, size_t n)
{
  char *p = (char *)buf;
  while (n > 0) {
    ssize_t got = read(fd, p, n);
    if (got <= 0) return false;
    p += got;
    n -= (size_t)got;
  }
  return true;
}

// Runs body in a child that inherits this process's generator state and
// returns what it wrote to the pipe.
template <typename Body> std::vector<long> InChild(size_t count, Body body)
{
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::vector<long> v = body();
    ssize_t n = write(fds[1], v.data(), v.size() * sizeof(long));
    _exit(n == (ssize_t)(v.size() * sizeof(long)) ? 0 : 1);
  }
  close(fds[1]);
  std::vector<long> v(count);
  EXPECT_TRUE(ReadAll(fds[0], v.data(), count * sizeof(long)));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return v;
}

// With the generator the library starts with, the dither takes exactly one
// value of random() per inked pixel, in order, and never reseeds: two
// children from the same state, one dithering and one calling random()
// itself, must agree. One draw first, so that a reseed would show.
TEST(DitherGeneratorTest, LibraryGeneratorGivesOneValuePerInkedPixel)
{
  random();
  const Line in = {100, 0, 140, 90, 0, 0, 200, 60, 30, 0, 255, 17};
  const size_t inked = 8;
  lut_entry_t *lut = MakeLut({0, 127, 191, 255}, 255);

  // Two lines, so that both scan directions draw.
  auto two_lines = [&](dither_state_t *s) {
    std::vector<long> v;
    for (int pass = 0; pass < 2; pass++) {
      Line line = in;
      cupsDither1(s, lut, line.data());
      v.insert(v.end(), line.begin(), line.end());
    }
    return v;
  };

  std::vector<long> dithered = InChild(2 * in.size() + 1, [&] {
    std::vector<long> v = two_lines(cupsDitherNew((int)in.size(), 1));
    v.push_back(random());
    return v;
  });
  std::vector<long> drawn = InChild(2 * inked + 1, [&] {
    std::vector<long> v;
    for (size_t i = 0; i < 2 * inked + 1; i++) v.push_back(random());
    return v;
  });

  // The value after the dither is the one after 2 * inked draws.
  EXPECT_EQ(dithered.back(), drawn.back());

  // Replaying the same draws gives the same dots.
  g_script.assign(drawn.begin(), drawn.end() - 1);
  g_calls = 0;
  long (*saved)(void) = inkbands_random;
  inkbands_random = ScriptedRandom;
  dither_state_t *s = cupsDitherNew((int)in.size(), 1);
  EXPECT_EQ(two_lines(s), std::vector<long>(dithered.begin(), dithered.end() - 1));
  EXPECT_EQ(g_calls, 2 * inked);
  inkbands_random = saved;
  cupsDitherDelete(s);
  cupsLutDelete(lut);
}

}  // namespace
