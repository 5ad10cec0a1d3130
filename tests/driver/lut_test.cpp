// Dot lookup tables: which dot level and residual each ink amount gets.
#include "driver.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// Cells first..last hold level pixel with error = cell - value, or {0, 0}
// when value is kUnwritten. Cell 0 always holds error 0.
const int kUnwritten = INT_MIN;
struct LevelRun
{
  int first, last, pixel, value;
};
struct LutCase
{
  const char *name;
  std::vector<int> values;
  int count, max;
  std::vector<LevelRun> runs;
};

const LutCase kLuts[] = {
    {"two levels", {0, 255}, 2, 255, {{0, 127, 0, 0}, {128, 255, 1, 255}}},
    {"big dot above max", {0, 381}, 2, 255, {{0, 126, 0, 0}, {127, 255, 1, 381}}},
    {"third level above max",
     {0, 180, 272, 400},
     4,
     255,
     {{0, 90, 0, 0}, {91, 216, 1, 180}, {217, 255, 2, 272}}},
    {"four levels",
     {0, 127, 191, 255},
     4,
     255,
     {{0, 63, 0, 0}, {64, 159, 1, 127}, {160, 223, 2, 191}, {224, 255, 3, 255}}},
    {"big dots collapse on max", {0, 450, 451, 452}, 4, 255, {{0, 126, 0, 0}, {127, 255, 1, 450}}},
    {"level 0 with ink", {5, 255}, 2, 255, {{0, 130, 0, 5}, {131, 255, 1, 255}}},
    {"one level", {7}, 1, 20, {{0, 20, 0, 7}}},
    {"one level one cell", {7}, 1, 0, {{0, 0, 0, kUnwritten}}},
    {"one-cell level stops early",
     {0, 10, 11, 12},
     4,
     255,
     {{0, 5, 0, 0}, {6, 10, 1, 10}, {11, 255, 0, kUnwritten}}},
    {"not ascending", {0, 255, 0, 255}, 4, 255, {{0, 127, 0, 0}, {128, 255, 3, 255}}},
    {"not ascending above max",
     {0, 381, 0, 255},
     4,
     255,
     {{0, 126, 0, 0}, {127, 127, 1, 381}, {128, 255, 3, 255}}},
    {"negative count", {0, 255}, -2, 255, {{0, 255, 0, kUnwritten}}},
    {"4096 cells", {0, 4095}, 2, 4095, {{0, 2047, 0, 0}, {2048, 4095, 1, 4095}}},
};

TEST(LutTest, CellsFollowTheLevelIntervals)
{
  for (const LutCase &c : kLuts) {
    SCOPED_TRACE(c.name);
    lut_entry_t *lut = cupsLutNew(c.values.data(), c.count, c.max);
    ASSERT_NE(lut, nullptr);
    int next = 0;
    for (const LevelRun &r : c.runs) {
      ASSERT_EQ(r.first, next) << "runs must cover the table";
      for (int j = r.first; j <= r.last; j++) {
        int error = (r.value == kUnwritten || j == 0) ? 0 : j - r.value;
        ASSERT_EQ(lut[j].pixel, r.pixel) << "cell " << j;
        ASSERT_EQ(lut[j].error, error) << "cell " << j;
      }
      next = r.last + 1;
    }
    ASSERT_EQ(next, c.max + 1);
    cupsLutDelete(lut);
  }
}

TEST(LutTest, NoTableWithoutLevels)
{
  const int values[] = {0, 255};
  EXPECT_EQ(cupsLutNew(nullptr, 2, 255), nullptr);
  EXPECT_EQ(cupsLutNew(values, 0, 255), nullptr);
  EXPECT_EQ(cupsLutNew(values, 2, -1), nullptr);
  cupsLutDelete(nullptr);
}

}  // namespace
