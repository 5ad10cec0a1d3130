// Blank checks: ink in a run of bytes, without reading past the run.
#include "driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A run of bytes that ends where an unreadable page begins, so that any
// read past it faults.
class GuardedRun
{
public:
  GuardedRun()
  {
    page_ = (size_t)sysconf(_SC_PAGESIZE);
    base_ = (unsigned char *)mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    mprotect(base_ + page_, page_, PROT_NONE);
  }
  ~GuardedRun()
  {
    munmap(base_, 2 * page_);
  }
  // The last n readable bytes, all set to fill.
  unsigned char *Tail(size_t n, unsigned char fill)
  {
    memset(base_, fill, page_);
    return base_ + page_ - n;
  }

private:
  size_t page_;
  unsigned char *base_;
};

// Ink (or the value) at position at of a run of length bytes; at == -1
// means nowhere. length is what the call is told, readable what exists.
struct CheckCase
{
  int length, readable, at;
  int blank;
};
const CheckCase kChecks[] = {
    {0, 0, -1, 1},
    {-5, 0, -1, 1},
    {1, 1, -1, 1},
    {1, 1, 0, 0},
    {7, 7, 6, 0},
    {8, 8, -1, 1},
    {8, 8, 7, 0},
    {9, 9, 8, 0},
    {9, 9, -1, 1},
    {16, 16, 9, 0},
    {17, 17, 16, 0},
    {1000, 1000, -1, 1},
    {1000, 1000, 999, 0},
    {1000, 1000, 3, 0},
    // Early exit: the deciding byte is the last readable one.
    {16, 6, 5, 0},
    {1000, 13, 12, 0},
    {1000, 1, 0, 0},
};

TEST(CheckTest, ZeroBytes)
{
  GuardedRun run;
  for (const CheckCase &c : kChecks) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length << " ink at " << c.at);
    unsigned char *tail = run.Tail((size_t)c.readable, 0);
    if (c.at >= 0) tail[c.at] = 0x01;
    EXPECT_EQ(cupsCheckBytes(tail, c.length), c.blank);
  }
  EXPECT_EQ(cupsCheckBytes(nullptr, 0), 1);
}

TEST(CheckTest, Value)
{
  GuardedRun run;
  for (unsigned char value : {0x00, 0x42, 0xFF})
    for (const CheckCase &c : kChecks) {
      SCOPED_TRACE(::testing::Message()
                   << "value " << (int)value << " length " << c.length << " at " << c.at);
      unsigned char *tail = run.Tail((size_t)c.readable, (unsigned char)(value + 1));
      if (c.at >= 0) tail[c.at] = value;
      EXPECT_EQ(cupsCheckValue(tail, c.length, value), c.blank);
    }

  const unsigned char abc[] = {0x41, 0x42, 0x43};
  EXPECT_EQ(cupsCheckValue(abc, 3, 0x42), 0);
  EXPECT_EQ(cupsCheckValue(abc, 3, 0x44), 1);
  EXPECT_EQ(cupsCheckValue(abc, 0, 0x42), 1);
}

// Ink just past the end of a run is not the run's, whatever the run's
// length and its alignment in memory; ink on its last byte is.
TEST(CheckTest, RunEndsExactlyAtItsLength)
{
  unsigned char buffer[160];
  for (int offset = 0; offset < 8; offset++)
    for (int length = 1; length <= 96; length++) {
      SCOPED_TRACE(::testing::Message() << "offset " << offset << " length " << length);
      unsigned char *run = buffer + offset;
      memset(buffer, 0, sizeof(buffer));
      run[length] = 0x80;
      EXPECT_EQ(cupsCheckBytes(run, length), 1);
      run[length - 1] = 0x01;
      EXPECT_EQ(cupsCheckBytes(run, length), 0);
      memset(buffer, 0x42, sizeof(buffer));
      run[length] = 0x00;
      EXPECT_EQ(cupsCheckValue(run, length, 0x00), 1);
      run[length - 1] = 0x00;
      EXPECT_EQ(cupsCheckValue(run, length, 0x00), 0);
    }
}

}  // namespace
