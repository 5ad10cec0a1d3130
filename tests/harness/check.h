// Comparing one run of the filter with what the printer and the printing
// system should have received.
#ifndef INKBANDS_TESTS_CHECK_H
#define INKBANDS_TESTS_CHECK_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace check {

// The whole standard output byte for byte (want given as hex), standard
// error line for line with pointers masked, and the exit status.
inline void ExpectRun(const harness::Result &got, const std::string &want_hex,
                      const std::vector<std::string> &want_err, int want_status) {
  std::string stream = harness::DiffStreams(harness::Hex(want_hex), got.out);
  EXPECT_TRUE(stream.empty()) << stream;
  std::string lines = harness::DiffLines(want_err, harness::MaskPointers(got.err));
  EXPECT_TRUE(lines.empty()) << lines;
  EXPECT_EQ(want_status, got.status);
}

inline void Append(std::vector<std::string> &lines, const std::vector<std::string> &more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

}  // namespace check

#endif
