// Known-answer vectors: the corpus compressed by an independent implementation
// of the format. Our encoder must write the same bytes, and our decoder must
// restore each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "test_util.h"

namespace velt {
namespace {

std::string readSwitches(const std::string& folder) {
  std::ifstream f(folder + "/SWITCHES");
  std::string s, w;
  while (f >> w) s += w + " ";
  return s;
}

class Vectors : public ::testing::TestWithParam<const char*> {};

TEST_P(Vectors, EncoderWritesThemAndDecoderRestoresThem) {
  const std::string folder = test::sharedDir() + "/vectors/" + GetParam();
  const Settings settings = test::settingsFromSwitches(readSwitches(folder));
  int checked = 0;
  for (const std::string& file : test::corpusFiles()) {
    std::string name = file;
    name.replace(name.find('/'), 1, "__");
    const std::string vectorPath = folder + "/" + name + ".velt";
    ASSERT_TRUE(std::filesystem::exists(vectorPath)) << vectorPath;
    const std::vector<uint8_t> original = test::readFile(test::corpusPath(file));
    const std::vector<uint8_t> expected = test::readFile(vectorPath);

    const std::vector<uint8_t> ours = encodeBuffer(original.data(), original.size(), settings);
    if (ours != expected) {
      size_t i = 0;
      while (i < ours.size() && i < expected.size() && ours[i] == expected[i]) ++i;
      ADD_FAILURE() << file << ": first difference at byte " << i << " (ours " << ours.size()
                    << " bytes, vector " << expected.size() << ")";
    }
    DecodeDetails r;
    const std::vector<uint8_t> restored = decodeBuffer(expected.data(), expected.size(), &r);
    EXPECT_TRUE(r.crcOk()) << file;
    EXPECT_TRUE(restored == original) << file << " does not decode";
    ++checked;
  }
  EXPECT_EQ(checked, 17);
}

INSTANTIATE_TEST_SUITE_P(AllFolders, Vectors,
                         ::testing::Values("m5", "m8", "s5", "s4", "t5", "t7"));

// Interval traces pin the very first coding where two implementations part.
TEST(Vectors, TracesMatchIntervalByInterval) {
  for (auto& entry : std::filesystem::directory_iterator(test::sharedDir() + "/vectors/traces")) {
    const std::string dir = entry.path().string();
    struct Log : CodingObserver {
      std::vector<uint32_t> values;
      void interval(uint32_t a, uint32_t b, uint32_t c) override {
        values.insert(values.end(), {a, b, c});
      }
    } log;
    const std::vector<uint8_t> input = test::readFile(dir + "/input");
    MemorySource in(input.data(), input.size());
    MemorySink out;
    encodeSession(in, out, test::settingsFromSwitches(readSwitches(dir)), nullptr, &log);
    std::ifstream traceFile(dir + "/intervals.txt");
    std::vector<uint32_t> expected;
    for (uint32_t x; traceFile >> x;) expected.push_back(x);
    const auto diff =
        std::mismatch(log.values.begin(), log.values.end(), expected.begin(), expected.end());
    EXPECT_TRUE(log.values == expected)
        << dir << ": intervals part at line " << (diff.first - log.values.begin()) / 3 + 1;
    EXPECT_TRUE(out.data() == test::readFile(dir + "/output.velt")) << dir;
  }
}

}  // namespace
}  // namespace velt
