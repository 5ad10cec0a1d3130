// Comparing one run of the filter with what the printer and the printing
// system should have received.
#ifndef INKBANDS_TESTS_CHECK_H
#define INKBANDS_TESTS_CHECK_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "preview.h"

namespace check {

// The lines the printing system acts on: page, progress and error
// messages, not the debug trace (nor the band pool's pointer lists).
inline std::vector<std::string> Messages(const std::vector<std::string> &lines)
{
  std::vector<std::string> kept;
  for (const std::string &line : lines)
    for (const char *prefix : {"PAGE: ", "INFO: ", "ERROR: ", "WARNING: ", "harness: "})
      if (line.rfind(prefix, 0) == 0) kept.push_back(line);
  return kept;
}

// The whole standard output byte for byte (want written as for
// harness::Hex), the page, progress and error messages line for line, and
// the exit status.
inline void ExpectRun(const harness::Result &got, const std::string &want_stream,
                      const std::vector<std::string> &want_err, int want_status)
{
  std::string stream = harness::DiffStreams(harness::Hex(want_stream), got.out);
  EXPECT_TRUE(stream.empty()) << stream;
  std::string lines = harness::DiffLines(Messages(want_err), Messages(got.err));
  EXPECT_TRUE(lines.empty()) << lines;
  EXPECT_EQ(want_status, got.status);
}

// As ExpectRun, with the debug trace too (pointers masked): for the tests
// whose subject is the trace.
inline void ExpectTrace(const harness::Result &got, const std::string &want_stream,
                        const std::vector<std::string> &want_err, int want_status)
{
  ExpectRun(got, want_stream, want_err, want_status);
  std::string lines = harness::DiffLines(want_err, harness::MaskPointers(got.err));
  EXPECT_TRUE(lines.empty()) << lines;
}

inline void Append(std::vector<std::string> &lines, const std::vector<std::string> &more)
{
  lines.insert(lines.end(), more.begin(), more.end());
}

// The raster commands (ESC i) of a printer stream with their header fields
// and data as sent.
struct RasterCommand
{
  unsigned colour, compressed, bits, row_bytes, rows;
  std::string data;
};
inline std::vector<RasterCommand> RasterCommands(const std::string &stream)
{
  std::vector<RasterCommand> found;
  for (const preview::Command &c : preview::ReadCommands(stream)) {
    if (c.length < 9 || stream.compare(c.offset, 2, "\x1bi") != 0) continue;
    auto byte = [&](size_t at) { return (unsigned)(unsigned char)stream[c.offset + at]; };
    found.push_back({byte(2), byte(3), byte(4), byte(5) | byte(6) << 8, byte(7) | byte(8) << 8,
                     stream.substr(c.offset + 9, c.length - 9)});
  }
  return found;
}

// The lines of standard error that begin with a prefix ("ERROR: ", "PAGE: ").
inline int Count(const std::vector<std::string> &err, const std::string &prefix)
{
  int n = 0;
  for (const std::string &line : err) n += line.rfind(prefix, 0) == 0;
  return n;
}

}  // namespace check

#endif
