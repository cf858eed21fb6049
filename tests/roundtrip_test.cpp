// Whole-pipeline round trips over the committed inputs and generated data,
// split by switch set so ctest spreads them over the cores.
#include <gtest/gtest.h>

#include <random>

#include "test_util.h"

namespace velt::test {
namespace {

using Inputs = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// x86-like code: call opcodes whose relative targets cluster on a few
// functions, which the e8 stage turns into repeated absolute addresses.
std::vector<uint8_t> callHeavyCode(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> code;
  const int32_t targets[] = {0x40, 0x1200, 0x3000, int32_t(size) - 16};
  while (code.size() + 5 < size) {
    if (rng() % 3 == 0) {
      const int32_t rel = targets[rng() % 4] - int32_t(code.size() + 5);
      code.push_back(0xE8);
      for (int k = 0; k < 4; ++k) code.push_back(uint8_t(uint32_t(rel) >> (8 * k)));
    } else {
      code.push_back(uint8_t("\x55\x89\xE5\x8B\x45\x08\x5D\xC3"[rng() % 8]));
    }
  }
  return code;
}

const Inputs& committedInputs() {
  static const Inputs all = [] {
    Inputs v;
    for (const std::string& f : corpusFiles()) v.emplace_back(f, readData(f));
    v.emplace_back("calls", callHeavyCode(60000, 5));
    return v;
  }();
  return all;
}

class Orders : public ::testing::TestWithParam<const char*> {};

// Every order, and the smallest and largest memory at a plain and a pseudo order.
TEST_P(Orders, CommittedInputsRoundTrip) {
  const Settings s = settingsFromSwitches(GetParam());
  for (const auto& [name, data] : committedInputs()) {
    SCOPED_TRACE(name);
    roundTrip(data, s);
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, Orders,
                         ::testing::Values("-o4", "-o5", "-o6", "-o7", "-o8", "-o9", "-o5 -m:10",
                                           "-o5 -m:50", "-o8 -m:10", "-o8 -m:50"));

class StageSets : public ::testing::TestWithParam<std::string> {};

std::vector<std::string> stageSets() {
  std::vector<std::string> sets;
  for (const char* order : {"-o5", "-o8"})
    for (const char* rl : {"-rl3", "-rl4", "-rld"})
      for (const char* ic : {"-ics", "-icf", "-icd"})
        for (const char* e8 : {"-e8s", "-e8f", "-e8d"})
          sets.push_back(std::string(order) + " " + rl + " " + ic + " " + e8);
  return sets;
}

// Every stage combination at a plain and a pseudo order, on the first 16 KB
// of each input: enough to reach every stage, cheap enough for 54 runs.
TEST_P(StageSets, EveryCombinationRoundTrips) {
  const Settings s = settingsFromSwitches(GetParam());
  for (const auto& [name, data] : committedInputs()) {
    SCOPED_TRACE(name);
    roundTrip({data.begin(), data.begin() + std::min<size_t>(data.size(), 16384)}, s);
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, StageSets, ::testing::ValuesIn(stageSets()));

TEST(RoundTrip, GeneratedEdgeInputs) {
  std::mt19937 rng(99);
  std::vector<std::vector<uint8_t>> inputs = {{},
                                              {0},
                                              {0xE8},
                                              {0xFF, 0xFF},
                                              std::vector<uint8_t>(100000, 0),
                                              std::vector<uint8_t>(1000, 0xE8)};
  std::vector<uint8_t> random(65536), all, words;
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  inputs.push_back(random);
  for (int i = 0; i < 256 * 4; ++i) all.push_back(static_cast<uint8_t>(i));
  inputs.push_back(all);
  for (int i = 0; i < 60000; ++i) words.push_back(static_cast<uint8_t>("ab  \n"[rng() % 5]));
  inputs.push_back(words);
  for (const char* sw : {"", "-da", "-o4 -rl3 -icf -e8f", "-o9 -m:10", "-o6 -mt1"}) {
    for (const auto& d : inputs) {
      SCOPED_TRACE(std::string(sw) + " size " + std::to_string(d.size()));
      roundTrip(d, settingsFromSwitches(sw));
    }
  }
}

}  // namespace
}  // namespace velt::test
