// Bit packing: dot levels into 1-bit and 2-bit printer rows.
#include "driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Output space is prefilled with 0x5A; every byte past the expected ones
// must keep it.
const unsigned char kUntouched = 0x5A;

enum Call
{
  kHorizontal,
  kHorizontal2,
  kHorizontalBit,
  kVertical
};

// Each call reads the arguments it takes: clear value, bit, step.
struct PackCase
{
  const char *name;
  Call call;
  Bytes in;
  int width, clear, bit, step;
  Bytes out;
};

const PackCase kPacks[] = {
    {"1-bit remainder", kHorizontal, {1, 0, 0, 0, 0, 0, 0, 2, 0, 7}, 10, 0x00, 0, 1, {0x81, 0x40}},
    {"1-bit inverted", kHorizontal, {1, 0, 0, 0, 0, 0, 0, 2, 0, 7}, 10, 0xFF, 0, 1, {0x7E, 0xBF}},
    {"1-bit step 2", kHorizontal, {1, 9, 0, 9, 1, 9, 1}, 4, 0x00, 0, 2, {0xB0}},
    {"1-bit step 3, two bytes",
     kHorizontal,
     {1, 9, 9, 0, 9, 9, 0, 9, 9, 1, 9, 9, 0, 9, 9, 0, 9, 9, 0, 9, 9, 255, 9, 9, 1},
     9,
     0x00,
     0,
     3,
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
    {"bit plane remainder",
     kHorizontalBit,
     {2, 3, 1, 0, 6, 0, 0, 0, 0, 2},
     10,
     0,
     0x02,
     1,
     {0xC8, 0x40}},
    {"bit plane inverted", kHorizontalBit, {2, 3, 1, 0, 6, 0, 0, 0}, 8, 0xFF, 0x02, 1, {0x37}},
    {"bit plane width 0", kHorizontalBit, {2}, 0, 0, 0x02, 1, {}},
    {"vertical",
     kVertical,
     {1, 0, 5},
     3,
     0,
     0x20,
     4,
     {0x7A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x7A}},
    {"vertical flips back", kVertical, {1, 1, 1}, 3, 0, 0x02, 0, {0x58}},
    {"vertical negative width", kVertical, {1}, -2, 0, 0x20, 1, {}},
};

TEST(PackTest, RowsAsThePrinterReadsThem)
{
  for (const PackCase &c : kPacks) {
    SCOPED_TRACE(c.name);
    Bytes out(16, kUntouched);
    unsigned char clear = (unsigned char)c.clear, bit = (unsigned char)c.bit;
    switch (c.call) {
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

// Whole printer rows, long enough for the word-at-a-time paths: a pattern
// of eight pixels (four for 2-bit dots) that packs into one known byte,
// taken every step-th byte from a row whose bytes in between are junk.
TEST(PackTest, WideRowsAtEveryStep)
{
  struct WideCase
  {
    const char *name;
    bool two_bit;
    std::vector<int> pattern;
    int width;
    unsigned char byte, last;
  };
  const WideCase kWide[] = {
      // 1, 0, 0, 0, 0, 0, 0, 2 packs to 81; 131 pixels leave 1, 0, 0 (80).
      {"1-bit", false, {1, 0, 0, 0, 0, 0, 0, 2}, 131, 0x81, 0x80},
      // Any non-zero amount is a dot: 9, 0, 255, 0, 0, 7, 0, 1 packs to A5.
      {"1-bit any value", false, {9, 0, 255, 0, 0, 7, 0, 1}, 200, 0xA5, 0xA5},
      // Levels 3, 0, 1, 2 pack to C6; 130 pixels leave 3, 0 (C0).
      {"2-bit", true, {3, 0, 1, 2}, 130, 0xC6, 0xC0},
      {"2-bit full", true, {1, 1, 2, 3}, 256, 0x5B, 0x5B},
  };
  for (const WideCase &c : kWide) {
    for (int step = 1; step <= 4; step++) {
      SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));
      Bytes in((size_t)c.width * step, 0xEE);
      for (int i = 0; i < c.width; i++)
        in[(size_t)i * step] = (unsigned char)c.pattern[i % c.pattern.size()];
      int per_byte = c.two_bit ? 4 : 8;
      int bytes = (c.width + per_byte - 1) / per_byte;
      Bytes out(bytes + 4, kUntouched);
      if (c.two_bit)
        cupsPackHorizontal2(in.data(), out.data(), c.width, step);
      else
        cupsPackHorizontal(in.data(), out.data(), c.width, 0, step);
      Bytes expected(bytes, c.byte);
      expected[bytes - 1] = c.last;
      expected.resize(bytes + 4, kUntouched);
      EXPECT_EQ(out, expected);
    }
  }
}

// All interleave columns of a row at once give each column the bytes it
// gets alone, for rows of random levels (some above 3 half the time), at
// widths around the 16-pixel blocks.
TEST(PackTest, ColumnsAtOnceAsOneByOne)
{
  std::mt19937 random(3);
  for (int step = 1; step <= 5; step++)
    for (int columns : {0, 5, 16, 17, 47, 64, 300}) {
      SCOPED_TRACE("step " + std::to_string(step) + ", " + std::to_string(columns) + " columns");
      Bytes in((size_t)columns * step);
      for (unsigned char &level : in) level = (unsigned char)(random() % (columns % 2 ? 5 : 4));
      int bytes = (columns + 3) / 4;
      std::vector<Bytes> alone(step, Bytes(bytes + 4, kUntouched)), together = alone;
      std::vector<unsigned char *> outs;
      for (int x = 0; x < step; x++) {
        cupsPackHorizontal2(in.data() + x, alone[x].data(), columns, step);
        outs.push_back(together[x].data());
      }
      cupsPackColumns2(in.data(), outs.data(), columns, step);
      EXPECT_EQ(together, alone);
    }
}

// Bytes made of runs: {count, byte} repeats byte count times; a count of
// -n gives the n bytes byte, byte + 1, ... (a literal stretch).
Bytes Runs(std::initializer_list<std::pair<int, int>> runs)
{
  Bytes bytes;
  for (auto [count, byte] : runs)
    for (int i = 0; i < (count < 0 ? -count : count); i++)
      bytes.push_back((unsigned char)(count < 0 ? byte + i : byte));
  return bytes;
}

// The printer's side of PackBits.
Bytes Unpack(const Bytes &in)
{
  Bytes out;
  for (size_t i = 0; i + 1 < in.size();) {
    int n = (signed char)in[i++];
    if (n >= 0)
      out.insert(out.end(), in.begin() + i, in.begin() + i + n + 1), i += n + 1;
    else
      out.insert(out.end(), 1 - n, in[i++]);
  }
  return out;
}

// PackBits as the raster commands carry it; an empty expectation means the
// band goes raw (the encoding is not shorter than the limit).
struct PackBitsCase
{
  const char *name;
  Bytes in;
  size_t limit;
  Bytes out;
};

const PackBitsCase kPackBits[] = {
    {"classic example",
     {0xAA, 0xAA, 0xAA, 0x80, 0x00, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x00,
      0x2A, 0x22, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA},
     24,
     {0xFE, 0xAA, 0x02, 0x80, 0x00, 0x2A, 0xFD, 0xAA, 0x03, 0x80, 0x00, 0x2A, 0x22, 0xF7, 0xAA}},
    // Two rows of four bytes: the repeat runs on from the first row.
    {"run across rows", {1, 2, 3, 7, 7, 7, 7, 7}, 8, {0x02, 1, 2, 3, 0xFC, 7}},
    {"127 repeats", Runs({{127, 0x55}}), 127, {0x82, 0x55}},
    {"128 repeats", Runs({{128, 0x55}}), 128, {0x82, 0x55, 0x00, 0x55}},
    {"129 repeats", Runs({{129, 0x55}}), 129, {0x82, 0x55, 0xFF, 0x55}},
    {"128 literals", Runs({{-128, 0}, {40, 0}}), 168,
     Runs({{1, 0x7E}, {-127, 0}, {1, 0x00}, {1, 127}, {1, 0xD9}, {1, 0}})},
    {"literal before the last byte", {4, 4, 4, 5}, 8, {0xFE, 4, 0x00, 5}},
    {"incompressible goes raw", {1, 2, 3, 4}, 4, {}},
    {"as long as raw goes raw", {1, 1, 1, 2}, 4, {}},
    {"one byte goes raw", {9}, 1, {}},
    {"one byte under a larger limit", {9}, 3, {0x00, 9}},
    {"nothing", {}, 0, {}},
};

TEST(PackTest, PackBitsAsThePrinterReadsIt)
{
  for (const PackBitsCase &c : kPackBits) {
    SCOPED_TRACE(c.name);
    Bytes out(c.limit + 16, kUntouched);
    size_t length = cupsPackBits(c.in.data(), c.in.size(), out.data(), c.limit);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + length), c.out);
    // Nothing is written past the limit, even for a band that goes raw.
    EXPECT_EQ(Bytes(out.begin() + c.limit, out.end()), Bytes(16, kUntouched));
  }
}

// PackBits one byte at a time: a repeat wherever two bytes are alike, at
// most 127 bytes a code, a literal never taking the band's last byte.
Bytes Pack(const Bytes &in)
{
  Bytes out;
  for (size_t i = 0, n; i < in.size(); i += n) {
    if (i + 1 < in.size() && in[i] == in[i + 1]) {
      size_t max = std::min<size_t>(127, in.size() - i);
      for (n = 2; n < max && in[i + n] == in[i]; n++) {}
      out.insert(out.end(), {(unsigned char)(1 - n), in[i]});
    } else {
      size_t max = std::min<size_t>(127, in.size() - 1 - i);
      for (n = 1; n < max && in[i + n] != in[i + n + 1]; n++) {}
      out.push_back((unsigned char)(n - 1));
      out.insert(out.end(), in.begin() + i, in.begin() + i + n);
    }
  }
  return out;
}

// Random bands of runs and noise (dithered rows: short runs of both kinds)
// pack as the byte-at-a-time rules say and come back whole through the
// printer's decoding, whatever the many-bytes-at-a-time scans found.
TEST(PackTest, PackBitsDecodesToItsInput)
{
  std::mt19937 random(7);
  for (int trial = 0; trial < 50; trial++) {
    Bytes in;
    size_t size = 1 + random() % 3000;
    unsigned noise = trial % 2 ? 256 : 4;
    while (in.size() < size) {
      int byte = (int)(random() % 4), count = 1 + (int)(random() % 300);
      in.insert(in.end(), count, (unsigned char)byte);
      for (int i = (int)(random() % 200); i > 0; i--)
        in.push_back((unsigned char)(random() % noise));
    }
    in.resize(size);
    Bytes out(2 * size + 2);
    size_t length = cupsPackBits(in.data(), size, out.data(), out.size());
    ASSERT_GT(length, 0u);
    out.resize(length);
    EXPECT_EQ(out, Pack(in)) << "trial " << trial;
    EXPECT_EQ(Unpack(out), in) << "trial " << trial;
  }
}

}  // namespace
