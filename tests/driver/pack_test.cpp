// Bit packing: dot levels into 1-bit and 2-bit printer rows.
#include "driver.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Output space is prefilled with 0x5A; every byte past the expected ones
// must keep it.
const unsigned char kUntouched = 0x5A;

enum Call { kHorizontal, kHorizontal2, kHorizontalBit, kVertical };

// Each call reads the arguments it takes: clear value, bit, step.
struct PackCase { const char *name; Call call; Bytes in; int width, clear, bit, step; Bytes out; };

const PackCase kPacks[] = {
  {"1-bit remainder", kHorizontal, {1, 0, 0, 0, 0, 0, 0, 2, 0, 7}, 10, 0x00, 0, 1, {0x81, 0x40}},
  {"1-bit inverted", kHorizontal, {1, 0, 0, 0, 0, 0, 0, 2, 0, 7}, 10, 0xFF, 0, 1, {0x7E, 0xBF}},
  {"1-bit step 2", kHorizontal, {1, 9, 0, 9, 1, 9, 1}, 4, 0x00, 0, 2, {0xB0}},
  {"1-bit step 3, two bytes", kHorizontal,
   {1, 9, 9, 0, 9, 9, 0, 9, 9, 1, 9, 9, 0, 9, 9, 0, 9, 9, 0, 9, 9, 255, 9, 9, 1}, 9, 0x00, 0, 3,
   {0x91, 0x80}},
  {"1-bit clear value kept", kHorizontal, {0, 1, 0}, 3, 0x0F, 0, 1, {0x4F}},
  {"1-bit width 0", kHorizontal, {1}, 0, 0x00, 0, 1, {}},
  {"1-bit negative width", kHorizontal, {1}, -3, 0xFF, 0, 1, {}},
  {"2-bit remainder", kHorizontal2, {3, 0, 1, 2, 2, 1}, 6, 0, 0, 1, {0xC6, 0x90}},
  {"2-bit three", kHorizontal2, {1, 2, 3}, 3, 0, 0, 1, {0x6C}},
  {"2-bit one", kHorizontal2, {3}, 1, 0, 0, 1, {0xC0}},
  {"2-bit step 2", kHorizontal2, {1, 9, 2, 9, 3, 9, 0, 9, 3}, 5, 0, 0, 2, {0x6C, 0xC0}},
  {"2-bit level above 3 spills", kHorizontal2, {0, 5, 0, 0}, 4, 0, 0, 1, {0x50}},
  {"2-bit width 0", kHorizontal2, {3}, 0, 0, 0, 1, {}},
  {"2-bit negative width", kHorizontal2, {3}, -1, 0, 0, 1, {}},
  {"bit plane", kHorizontalBit, {2, 3, 1, 0, 6, 0, 0, 0}, 8, 0, 0x02, 1, {0xC8}},
  {"bit plane remainder", kHorizontalBit, {2, 3, 1, 0, 6, 0, 0, 0, 0, 2}, 10, 0, 0x02, 1, {0xC8, 0x40}},
  {"bit plane inverted", kHorizontalBit, {2, 3, 1, 0, 6, 0, 0, 0}, 8, 0xFF, 0x02, 1, {0x37}},
  {"bit plane width 0", kHorizontalBit, {2}, 0, 0, 0x02, 1, {}},
  {"vertical", kVertical, {1, 0, 5}, 3, 0, 0x20, 4,
   {0x7A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x7A}},
  {"vertical flips back", kVertical, {1, 1, 1}, 3, 0, 0x02, 0, {0x58}},
  {"vertical negative width", kVertical, {1}, -2, 0, 0x20, 1, {}},
};

TEST(PackTest, RowsAsThePrinterReadsThem)
{
  for (const PackCase &c : kPacks)
  {
    SCOPED_TRACE(c.name);
    Bytes out(16, kUntouched);
    unsigned char clear = (unsigned char)c.clear, bit = (unsigned char)c.bit;
    switch (c.call)
    {
      case kHorizontal: cupsPackHorizontal(c.in.data(), out.data(), c.width, clear, c.step); break;
      case kHorizontal2: cupsPackHorizontal2(c.in.data(), out.data(), c.width, c.step); break;
      case kHorizontalBit: cupsPackHorizontalBit(c.in.data(), out.data(), c.width, clear, bit); break;
      case kVertical: cupsPackVertical(c.in.data(), out.data(), c.width, bit, c.step); break;
    }
    Bytes expected = c.out;
    expected.resize(16, kUntouched);
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
