// The dither's random weights on glibc come from the library's own copy of
// the C library's generator: it must hand out random()'s unseeded sequence,
// value for value, however the dither splits its draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef __GLIBC__
extern "C" void inkbands_random_raw(uint32_t *raw, size_t count);
extern "C" void inkbands_random_skip(size_t count);
#endif

namespace {

#ifdef __GLIBC__
// The generator writes its history into the 48 words before the values.
const size_t kHistory = 48;

// Draws kValues values from both generators, starting from their default
// states, the library's in pieces of many sizes (single values, pieces that
// end inside the three-way unrolled loop, pieces around the 31-word history,
// whole lines); exits 0 when all agree and 1 at the first that does not.
void DrawBothFromTheStart()
{
  const size_t kValues = 100000000;
  const size_t kPieces[] = {1, 2, 3, 4, 5, 7, 30, 31, 32, 33, 62, 1000, 11900, 71400, 1 << 20};
  std::vector<uint32_t> buffer(kHistory + (1 << 20));
  size_t done = 0;
  for (size_t turn = 0; done < kValues; turn++) {
    size_t n = std::min(kPieces[turn % (sizeof(kPieces) / sizeof(kPieces[0]))], kValues - done);
    inkbands_random_raw(buffer.data() + kHistory, n);
    for (size_t i = 0; i < n; i++) {
      uint32_t mine = buffer[kHistory + i] >> 1;
      uint32_t library = (uint32_t)random();
      if (mine != library) {
        fprintf(stderr, "value %zu: %u, random() gave %u\n", done + i, mine, library);
        exit(1);
      }
    }
    done += n;
  }
  exit(0);
}

// The threadsafe death-test style runs the body in a fresh process, where
// neither generator has been drawn from.
TEST(RandomTest, HandsOutTheLibrarySequence)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(DrawBothFromTheStart(), ::testing::ExitedWithCode(0), "");
}

// Skips the library's generator over counts around the point where it
// jumps instead of stepping, and over long jumps, random() stepping
// alongside; exits 0 when the values after every skip agree.
void SkipBothFromTheStart()
{
  const size_t kSkips[] = {0, 1, 9, 10, 4095, 4096, 4097, 11900, 71400, (1 << 20) + 7};
  std::vector<uint32_t> buffer(kHistory + 64);
  for (size_t skip : kSkips) {
    inkbands_random_skip(skip);
    for (size_t i = 0; i < skip; i++) random();
    inkbands_random_raw(buffer.data() + kHistory, 64);
    for (size_t i = 0; i < 64; i++)
      if (buffer[kHistory + i] >> 1 != (uint32_t)random()) {
        fprintf(stderr, "after a skip of %zu, value %zu differs\n", skip, i);
        exit(1);
      }
  }
  exit(0);
}

TEST(RandomTest, SkipsAsManyValuesAsRandomWouldHandOut)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SkipBothFromTheStart(), ::testing::ExitedWithCode(0), "");
}
#else
TEST(RandomTest, HandsOutTheLibrarySequence)
{
  GTEST_SKIP() << "the library's own generator exists on glibc only";
}
#endif

}  // namespace
