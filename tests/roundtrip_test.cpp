// Whole-pipeline round trips over the corpus and generated data. (Byte-exact
// output, and sessions that share no state, are pinned by the known-answer
// vectors, compressed one after another in one process.)
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "test_util.h"

namespace velt {
namespace {

// Every order, and the smallest and largest memory at a plain and a pseudo order.
TEST(RoundTrip, CorpusAtEveryOrderAndTheMemoryExtremes) {
  for (const char* sw : {"-o4", "-o5", "-o6", "-o7", "-o8", "-o9", "-o5 -m:10", "-o5 -m:50",
                         "-o8 -m:10", "-o8 -m:50"}) {
    for (const std::string& f : test::corpusFiles()) {
      SCOPED_TRACE(std::string(sw) + " " + f);
      test::roundTrip(test::readFile(test::corpusPath(f)), test::settingsFromSwitches(sw));
    }
  }
}

// Inputs for the stage sweep: the corpus, this build's own executable and
// two system executables (x86 code for the e8 stage). Files above 128 KB
// enter as their first 128 KB to keep the 54 combinations affordable; whole
// files go through every order above.
std::vector<std::pair<std::string, std::vector<uint8_t>>> stageInputs() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
  auto add = [&](const std::string& name, std::vector<uint8_t> data) {
    if (data.size() > (128u << 10)) data.resize(128u << 10);
    inputs.emplace_back(name, std::move(data));
  };
  for (const std::string& f : test::corpusFiles()) add(f, test::readFile(test::corpusPath(f)));
  add("velt", test::readFile(VELT_BINARY));
  int found = 0;
  for (const char* exe : {"/usr/bin/cmp", "/usr/bin/env", "/usr/bin/touch", "/usr/bin/tr"}) {
    if (found < 2 && std::filesystem::exists(exe)) {
      add(exe, test::readFile(exe));
      ++found;
    }
  }
  return inputs;
}

TEST(RoundTrip, EveryStageCombination) {
  const auto inputs = stageInputs();
  for (const char* order : {"-o5", "-o8"})
    for (const char* rl : {"-rl3", "-rl4", "-rld"})
      for (const char* ic : {"-ics", "-icf", "-icd"})
        for (const char* e8 : {"-e8s", "-e8f", "-e8d"}) {
          const std::string sw = std::string(order) + " " + rl + " " + ic + " " + e8;
          const Settings s = test::settingsFromSwitches(sw);
          for (const auto& [name, data] : inputs) {
            SCOPED_TRACE(sw + " " + name);
            test::roundTrip(data, s);
          }
        }
}

TEST(RoundTrip, GeneratedEdgeInputs) {
  std::mt19937 rng(99);
  std::vector<std::vector<uint8_t>> inputs = {{},
                                              {0},
                                              {0xE8},
                                              {0xFF, 0xFF},
                                              std::vector<uint8_t>(100000, 0),
                                              std::vector<uint8_t>(1000, 0xE8)};
  std::vector<uint8_t> random(300000), all;
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  inputs.push_back(random);
  for (int i = 0; i < 256 * 4; ++i) all.push_back(static_cast<uint8_t>(i));
  inputs.push_back(all);
  std::vector<uint8_t> words;
  for (int i = 0; i < 60000; ++i) words.push_back(static_cast<uint8_t>("ab  \n"[rng() % 5]));
  inputs.push_back(words);
  for (const char* sw : {"", "-da", "-o4 -rl3 -icf -e8f", "-o9 -m:10", "-o6 -mt1"}) {
    for (const auto& d : inputs) {
      SCOPED_TRACE(std::string(sw) + " size " + std::to_string(d.size()));
      test::roundTrip(d, test::settingsFromSwitches(sw));
    }
  }
}

}  // namespace
}  // namespace velt
