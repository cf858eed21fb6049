// Run-length, interleaved and e8 stages: which coder takes which byte, seen
// through the drivers' observer on both sides.
#include <gtest/gtest.h>

#include <random>

#include "stages/e8.h"
#include "test_util.h"

namespace velt {
namespace {

struct Events : CodingObserver {
  std::string log;    // every event, space-separated: m<byte> r<run> p<progression> hit miss
  std::string coded;  // the same without the repeat decisions
  std::vector<int> models;
  int hits = 0, misses = 0;
  int32_t switchedOffAt = -1;
  void add(const std::string& e, bool decision = false) {
    log += (log.empty() ? "" : " ") + e;
    if (!decision) coded += (coded.empty() ? "" : " ") + e;
  }
  void modelByte(uint8_t b) override {
    add("m" + std::to_string(b));
    models.push_back(b);
  }
  void runLength(int n) override { add("r" + std::to_string(n)); }
  void progressionLength(int n) override { add("p" + std::to_string(n)); }
  void repeatDecision(bool hit) override {
    add(hit ? "hit" : "miss", true);
    (hit ? hits : misses) += 1;
  }
  void interleaveSwitchedOff(int32_t at) override { switchedOffAt = at; }
};

// Encodes with an observer, decodes with another, checks the round trip and
// that both sides saw the same events.
Events observe(const std::vector<uint8_t>& data, const char* switches) {
  Settings s = test::settingsFromSwitches(switches);
  Events enc, dec;
  MemorySource in(data.data(), data.size());
  MemorySink out;
  encodeSession(in, out, s, nullptr, &enc);
  MemorySource packed(out.data().data(), out.data().size());
  MemorySink restored;
  DecodeDetails r = decodeSession(packed, restored, nullptr, &dec);
  EXPECT_TRUE(r.crcOk());
  EXPECT_TRUE(restored.data() == data) << switches;
  EXPECT_EQ(enc.log, dec.log) << switches;
  EXPECT_EQ(enc.switchedOffAt, dec.switchedOffAt);
  return enc;
}

TEST(RunLength, ThresholdsDecideWhereTheRunStartsAndLongRunsChainAt190) {
  const struct {
    std::string data;
    const char* switches;
    const char* log;
  } cases[] = {
      {std::string(8, 'a'), "-da", "m97 m97 m97 m97 r4"},
      {std::string(10, ' '), "-da -icd", "m32 m32 m32 m32 r6"},
      {std::string(10, ' '), "-da -icd -rl3", "m32 m32 m32 r7"},
      {std::string(10, ' '), "-da -icd -rld", "m32 m32 m32 m32 m32 m32 m32 m32 m32 m32"},
      {std::string(204, 'x') + "y", "-da -icd", "m120 m120 m120 m120 r190 r10 m121"},
      {std::string(194, 'x'), "-da -icd", "m120 m120 m120 m120 r190"},
      {std::string(194, 'x') + "y", "-da -icd", "m120 m120 m120 m120 r190 r0 m121"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(observe(test::bytesOf(c.data), c.switches).log, c.log) << c.data.size() << c.switches;
  }
}

TEST(Interleaved, ProgressionRunsAreSwallowed) {
  EXPECT_EQ(observe({10, 20, 30, 40, 50, 60, 70, 80, 7}, "-da").coded, "m10 m20 m30 m40 m50 p3 m7");
  std::vector<uint8_t> longRun;
  for (int i = 0; i < 300; ++i) longRun.push_back(static_cast<uint8_t>(3 * i));
  const std::string coded = observe(longRun, "-da -rld").coded;
  EXPECT_EQ(coded.rfind("m0 m3 m6 m9 m12 p253 m" + std::to_string((3 * 258) & 0xFF) + " ", 0), 0u)
      << coded;
}

TEST(Interleaved, ConstantLaneOf16BitSamplesIsPredicted) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data;
  for (int i = 0; i < 4000; ++i) {
    data.push_back(static_cast<uint8_t>(rng()));
    data.push_back(0x80);
  }
  Events e = observe(data, "-da -rld");
  EXPECT_GT(e.hits, 1500);
  EXPECT_LT(e.misses, e.hits / 10);
  // A hit's byte never reaches the model; the other lane does.
  EXPECT_LT(e.models.size(), data.size() - 1500);
}

TEST(Interleaved, SmartModeGivesUpOnTextAtByte16384) {
  std::vector<uint8_t> text = test::readData("text/alice29.txt");
  text.resize(40000);
  EXPECT_EQ(observe(text, "-da").switchedOffAt, 16384);
  EXPECT_EQ(observe(text, "-da -icf").switchedOffAt, -1);
}

TEST(E8, MapsAddressesAroundThePosition) {
  EXPECT_EQ(e8Forward(256, 100, 10000), 356);
  EXPECT_EQ(e8Forward(9950, 100, 10000), -49);
  EXPECT_EQ(e8Inverse(-49, 100, 10000), 9950);
  EXPECT_EQ(e8Forward(-50, 100, 10000), 50);
  EXPECT_EQ(e8Forward(-100, 100, 10000), -100);
  EXPECT_EQ(e8Forward(10000, 100, 10000), 10000);
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) {
    int32_t size = 2 + int32_t(rng() % 100000);
    int32_t pos = 1 + int32_t(rng() % uint32_t(size - 1));
    int32_t v = (i % 2) ? int32_t(rng()) : int32_t(rng() % uint32_t(3 * size)) - size;
    ASSERT_EQ(e8Inverse(e8Forward(v, pos, size), pos, size), v);
  }
}

TEST(E8, GroupsAreRewrittenInTheStream) {
  std::vector<uint8_t> data(10000, 0x90);
  data[99] = 0xE8;
  data[100] = 0x00, data[101] = 0x01, data[102] = 0x00, data[103] = 0x00;
  Events e = observe(data, "-e8f -rld -icd");
  // 0xE8 at index 99 is followed by 356 = 64 01 00 00.
  ASSERT_GE(e.models.size(), 104u);
  EXPECT_EQ(std::vector<int>(e.models.begin() + 99, e.models.begin() + 104),
            (std::vector<int>{0xE8, 0x64, 0x01, 0x00, 0x00}));

  data[100] = 0xDE, data[101] = 0x26, data[102] = 0x00, data[103] = 0x00;  // 9950
  e = observe(data, "-e8f -rld -icd");
  EXPECT_EQ(std::vector<int>(e.models.begin() + 100, e.models.begin() + 104),
            (std::vector<int>{0xCF, 0xFF, 0xFF, 0xFF}));
}

TEST(E8, InputEndingInsideAnAddress) {
  EXPECT_EQ(observe({'a', 0xE8}, "-e8f").models, (std::vector<int>{'a', 0xE8}));
  // Two bytes after the opcode are coded in reverse.
  EXPECT_EQ(observe({'a', 0xE8, 'x', 'y'}, "-e8f").models, (std::vector<int>{'a', 0xE8, 'y', 'x'}));
  // An opcode inside an address does not open a group.
  EXPECT_EQ(observe({0xE8, 0xE8, 0, 0, 0, 0}, "-e8f -rld -icd").models.size(), 6u);
  observe({0xE8, 0xE8, 0, 0, 0, 0, 0xE8, 0xE8, 0xE8}, "-e8f");
}

TEST(Stages, HeaderRecordsTheSwitchesAndWhatWasUsed) {
  const std::vector<uint8_t> exe = {'M', 'Z', 1, 2, 3};
  const struct {
    std::vector<uint8_t> data;
    const char* switches;
    uint8_t settings, mode;
  } cases[] = {
      {{}, "-O9 -M:50", 0xE8, 0x28},
      {{}, "-o8 -m:10", 0xD0, 0x28},
      {{}, "-o4", 0x02, 0x28},
      {{}, "-rl3", 0x42, 0x48},
      {{}, "-rld -icd", 0x42, 0x00},
      {{}, "-icf", 0x42, 0x24},
      {{}, "-da -e8f", 0x42, 0x28},
      {exe, "", 0x42, 0x38},  // e8 found by the analysis
      {exe, "-rl3 -icf -e8d", 0x42, 0x44},
      {exe, "-rld -icd -o9 -m:50", 0xE8, 0x10},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> p =
        encodeBuffer(c.data.data(), c.data.size(), test::settingsFromSwitches(c.switches));
    ASSERT_GE(p.size(), 10u);
    EXPECT_EQ(p[8], c.settings) << c.switches;
    EXPECT_EQ(p[9], c.mode) << c.switches;
  }
}

}  // namespace
}  // namespace velt
