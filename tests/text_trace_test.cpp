// The text transform against the interval traces of the known-answer
// vectors: the side information of the first and of the final (empty) block
// opens and closes each trace, and the block length equals the header's
// coded length.
#include <gtest/gtest.h>

#include <fstream>

#include "analysis/analysis.h"
#include "test_util.h"
#include "text_harness.h"

namespace velt::test {
namespace {

std::vector<uint32_t> readIntervals(const std::string& path) {
  std::ifstream f(path);
  std::vector<uint32_t> v;
  for (uint32_t x; f >> x;) v.push_back(x);
  return v;
}

class TextTrace : public testing::TestWithParam<const char*> {};

TEST_P(TextTrace, SideInformationMatches) {
  const std::string dir = sharedDir() + "/vectors/traces/" + GetParam();
  const std::vector<uint8_t> input = readFile(dir + "/input");
  const std::vector<uint8_t> header = readFile(dir + "/output.velt");
  const std::vector<uint32_t> trace = readIntervals(dir + "/intervals.txt");

  Settings s;
  s.textMode = header[10] >> 7;
  TextFlags flags;
  MemorySource in(input.data(), input.size());
  analyzeInput(in, s, flags, nullptr);
  ASSERT_TRUE(s.textTransform);
  ASSERT_EQ(flags.unwrapLines, 1);

  EncodedText e = encodeText(input, flags);
  const int32_t codedLength =
      header[4] | (header[5] << 8) | (header[6] << 16) | (header[7] << 24);
  EXPECT_EQ(static_cast<int32_t>(e.allBytes.size()), codedLength);
  ASSERT_EQ(e.blocks.size(), 2u);

  // Our record: side info, the block's bytes at total 256, the final side info.
  const size_t sideTriples = e.intervals.size() / 3 - e.allBytes.size();
  ASSERT_GT(sideTriples, 0u);
  // Split our side-info triples at the block's bytes.
  const size_t firstSide = 3 + e.blocks[0].lineEndCodes.size() + 1 +
                           (flags.doubleSpaces ? e.blocks[0].spaceRuns.size() + 1 : 0);
  const size_t lastSide = sideTriples - firstSide;
  ASSERT_GE(trace.size(), 3 * (firstSide + lastSide));
  for (size_t k = 0; k < 3 * firstSide; ++k) {
    ASSERT_EQ(trace[k], e.intervals[k]) << "first block side info, value " << k;
  }
  for (size_t k = 0; k < 3 * lastSide; ++k) {
    ASSERT_EQ(trace[trace.size() - 3 * lastSide + k], e.intervals[e.intervals.size() - 3 * lastSide + k])
        << "final block side info, value " << k;
  }
  EXPECT_EQ(e.blocks[1].codedLength, 0u);
}

INSTANTIATE_TEST_SUITE_P(Traces, TextTrace, testing::Values("text-alice-8k", "text-derzhavin-8k"));

}  // namespace
}  // namespace velt::test
