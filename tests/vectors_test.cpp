// Known answers. The golden files in tests/data/golden are small inputs
// compressed under the switch sets of the shared vector folders, so every
// clone pins the format byte for byte; the shared vectors, when they sit
// beside the repository, pin it on the whole corpus. Encoding them one after
// another in one process also shows that sessions share no state.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "test_util.h"

namespace velt::test {
namespace {

namespace fs = std::filesystem;

std::string readSwitches(const std::string& folder) {
  std::ifstream f(folder + "/SWITCHES");
  std::string s, w;
  while (f >> w) s += w + " ";
  return s;
}

// "text__xargs.1.velt" holds "text/xargs.1".
std::string inputOf(const std::string& vectorName) {
  std::string name = vectorName.substr(0, vectorName.size() - 5);
  name.replace(name.find("__"), 2, "/");
  return name;
}

struct Known {
  std::string folder, name;  // e.g. "t5", "text__xargs.1.velt"
  std::vector<uint8_t> input, packed;
  Settings settings;
};

// Checks our encoder writes `k.packed` and our decoder restores it.
void expectEncodesAndDecodes(const Known& k) {
  const std::vector<uint8_t> ours = encodeBuffer(k.input.data(), k.input.size(), k.settings);
  if (ours != k.packed) {
    const auto diff = std::mismatch(ours.begin(), ours.end(), k.packed.begin(), k.packed.end());
    ADD_FAILURE() << k.folder << "/" << k.name << ": first difference at byte "
                  << (diff.first - ours.begin()) << " (ours " << ours.size() << " bytes, known "
                  << k.packed.size() << ")";
  }
  DecodeDetails r;
  const std::vector<uint8_t> restored = decodeBuffer(k.packed.data(), k.packed.size(), &r);
  EXPECT_TRUE(r.crcOk()) << k.folder << "/" << k.name;
  EXPECT_TRUE(restored == k.input) << k.folder << "/" << k.name << " does not decode";
}

std::vector<Known> goldenFiles() {
  std::vector<Known> all;
  for (const auto& dir : fs::directory_iterator(dataPath("golden"))) {
    const Settings settings = settingsFromSwitches(readSwitches(dir.path().string()));
    for (const auto& file : fs::directory_iterator(dir.path())) {
      const std::string name = file.path().filename().string();
      if (file.path().extension() != ".velt") continue;
      all.push_back({dir.path().filename().string(), name, readData(inputOf(name)),
                     readFile(file.path().string()), settings});
    }
  }
  std::sort(all.begin(), all.end(),
            [](auto& a, auto& b) { return a.folder + a.name < b.folder + b.name; });
  return all;
}

TEST(Golden, EncoderWritesThePinnedBytesAndDecoderRestoresThem) {
  const std::vector<Known> golden = goldenFiles();
  EXPECT_GE(golden.size(), 15u);
  for (const Known& k : golden) expectEncodesAndDecodes(k);
}

TEST(Golden, SameBytesAsTheSharedVectors) {
  if (!haveShared()) GTEST_SKIP() << "no " << sharedDir();
  for (const Known& k : goldenFiles()) {
    EXPECT_TRUE(k.packed == readFile(sharedDir() + "/vectors/" + k.folder + "/" + k.name))
        << k.folder << "/" << k.name;
  }
}

class VectorsSlow : public ::testing::TestWithParam<const char*> {};

TEST_P(VectorsSlow, EncoderWritesThemAndDecoderRestoresThem) {
  if (!haveShared()) GTEST_SKIP() << "no " << sharedDir();
  const std::string folder = sharedDir() + "/vectors/" + GetParam();
  const Settings settings = settingsFromSwitches(readSwitches(folder));
  int checked = 0;
  for (const auto& file : fs::directory_iterator(folder)) {
    const std::string name = file.path().filename().string();
    if (file.path().extension() != ".velt") continue;
    const Known k{GetParam(), name, readFile(sharedDir() + "/corpus/" + inputOf(name)),
                  readFile(file.path().string()), settings};
    expectEncodesAndDecodes(k);
    ++checked;
  }
  EXPECT_EQ(checked, 17);
}

INSTANTIATE_TEST_SUITE_P(AllFolders, VectorsSlow,
                         ::testing::Values("m5", "m8", "s5", "s4", "t5", "t7"));

// Interval traces pin the very first coding where two implementations part.
TEST(Vectors, TracesMatchIntervalByInterval) {
  if (!haveShared()) GTEST_SKIP() << "no " << sharedDir();
  for (auto& entry : fs::directory_iterator(sharedDir() + "/vectors/traces")) {
    const std::string dir = entry.path().string();
    struct Log : CodingObserver {
      std::vector<uint32_t> values;
      void interval(uint32_t a, uint32_t b, uint32_t c) override {
        values.insert(values.end(), {a, b, c});
      }
    } log;
    const std::vector<uint8_t> input = readFile(dir + "/input");
    MemorySource in(input.data(), input.size());
    MemorySink out;
    encodeSession(in, out, settingsFromSwitches(readSwitches(dir)), nullptr, &log);
    std::ifstream traceFile(dir + "/intervals.txt");
    std::vector<uint32_t> expected;
    for (uint32_t x; traceFile >> x;) expected.push_back(x);
    const auto diff =
        std::mismatch(log.values.begin(), log.values.end(), expected.begin(), expected.end());
    EXPECT_TRUE(log.values == expected)
        << dir << ": intervals part at line " << (diff.first - log.values.begin()) / 3 + 1;
    EXPECT_TRUE(out.data() == readFile(dir + "/output.velt")) << dir;
  }
}

}  // namespace
}  // namespace velt::test
