// The model's documented numeric cases, seen through the intervals it hands
// to the range coder, plus its memory management under pressure.
#include "model/model.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "test_util.h"

namespace velt {
namespace {

using Interval = std::tuple<uint32_t, uint32_t, uint32_t>;  // cumLow, freq, total

std::vector<Interval> encodeIntervals(const std::vector<uint8_t>& data, const char* switches) {
  struct Log : CodingObserver {
    std::vector<Interval> intervals;
    void interval(uint32_t low, uint32_t freq, uint32_t total) override {
      intervals.emplace_back(low, freq, total);
    }
  } log;
  MemorySource in(data.data(), data.size());
  MemorySink out;
  encodeSession(in, out, test::settingsFromSwitches(switches), nullptr, &log);
  return log.intervals;
}

TEST(Model, FirstByteGoesThroughTheUniformTable) {
  auto iv = encodeIntervals({'a', 'a'}, "-da -rld -icd");
  ASSERT_EQ(iv.size(), 2u);
  EXPECT_EQ(iv[0], (Interval{256 - 98, 1, 256}));
  // After one byte, slot 1 holds it with width 2 above an escape of 27.
  EXPECT_EQ(iv[1], (Interval{27, 2, 29}));
}

TEST(Model, SecondNewByteHasTotal255) {
  auto iv = encodeIntervals({'a', 'b'}, "-da -rld -icd");
  ASSERT_EQ(iv.size(), 3u);
  EXPECT_EQ(iv[1], (Interval{0, 27, 29}));  // order-0 escape
  EXPECT_EQ(std::get<2>(iv[2]), 255u);      // 'a' has left the table
  EXPECT_EQ(std::get<1>(iv[2]), 1u);
}

TEST(Model, NewContextGivesByteZeroFrequency19) {
  // The second 0 creates a level-1 context from the root record, whose first
  // symbol is byte 0: 128 / (6 + 1 + 4) + 8 = 19. The third 0 is coded there
  // with a fresh escape cell (8 for one symbol, +4 for the level step).
  auto iv = encodeIntervals({0, 0, 0}, "-da -rld -icd");
  ASSERT_EQ(iv.size(), 3u);
  EXPECT_EQ(iv[2], (Interval{0, 19, 31}));
}

TEST(Model, BoostShiftFollowsTheMissRate) {
  model::Model m(5, 0, 0, false, {});
  m.setMissHitCounts(20, 31);
  m.adaptBoostShift();
  EXPECT_EQ(m.boostShift(), 2);  // (2000 + 100) / 53 = 39
  m.setMissHitCounts(10, 40);
  m.adaptBoostShift();
  EXPECT_EQ(m.boostShift(), 4);  // 50 decisions or fewer
  m.setMissHitCounts(300, 100);
  m.adaptBoostShift();
  EXPECT_EQ(m.boostShift(), 5);
}

// The format's whole bucket function; the model keeps only its low bit, which
// decides what a collection pass frees, so a slip there changes the output.
uint32_t formatBucket(int level, int pseudoOrder, const uint8_t* h) {
  const auto& T = kCrc16Table;
  const uint32_t h0 = h[0], h1 = h[1], h2 = h[2], h3 = h[3], h4 = h[4], h5 = h[5];
  switch (level) {
    case 1: return h0;
    case 2: return ((((h0 << 4) ^ h0) << 3) ^ (T[h0] & 0x7FFFu)) ^ h1;
    case 3: return ((((h0 << 4) ^ h1) << 4) ^ T[h2]) ^ h0;
    case 4: return ((((((h1 ^ h0) << 2) ^ h2 ^ h3) << 3) ^ h1 ^ h3) << 3) ^ h0;
    case 5: return ((((((h3 ^ h0) << 3) ^ h1 ^ h2) << 5) ^ T[h4]) << 2) ^ T[h2] ^ h0;
    case 6: return ((((((h1 ^ h0) << 3) ^ h4 ^ h2) << 5) ^ T[h3]) << 2) ^ T[h5] ^ h5 ^ h0;
    default:
      return ((((((h1 ^ h0) << 3) ^ h4 ^ h2) << 5) ^ T[h5 ^ h3]) << 1) ^ T[h[6 + pseudoOrder]] ^ h0;
  }
}

TEST(Model, BucketBitIsTheFormatBucketsLowBit) {
  std::mt19937 rng(7);
  uint8_t h[10];
  for (int level = 1; level <= 7; ++level) {
    for (int pseudo = 0; pseudo <= 2; ++pseudo) {
      const model::BucketBit bit = model::BucketBit::of(level, pseudo);
      for (int i = 0; i < 4000; ++i) {
        for (uint8_t& b : h) b = uint8_t(rng());
        ASSERT_EQ(bit(h), formatBucket(level, pseudo, h) & 1u) << "level " << level;
      }
    }
  }
}

TEST(Model, ArenaMatchesTheChosenMemory) {
  for (int order = 4; order <= 7; ++order) {
    for (int mi = 0; mi <= 8; ++mi) {
      model::Model m(order, 0, mi, false, {});
      const double mb = double(m.arenaBytes()) / 1e6;
      const double chosen = 10 + 5 * mi;
      EXPECT_LT(mb, chosen * 1.1) << "order " << order << " memory " << chosen;
      EXPECT_GT(mb, chosen * 0.75) << "order " << order << " memory " << chosen;
    }
  }
}

// Varied data well beyond a 10 MB model: the corpus, and copies of it with
// bytes remapped so the contexts keep changing.
std::vector<uint8_t> pressureInput() {
  std::vector<uint8_t> all;
  for (const std::string& f : test::corpusFiles()) {
    auto d = test::readData(f);
    all.insert(all.end(), d.begin(), d.end());
  }
  std::vector<uint8_t> out = all;
  uint8_t key = 1;
  while (out.size() < (9u << 20)) {
    for (uint8_t b : all) out.push_back(static_cast<uint8_t>((b ^ key) + key));
    key = static_cast<uint8_t>(key * 5 + 3);
  }
  return out;
}

TEST(Model, GarbageCollectionRunsAndRoundTripsAtPseudoOrder8) {
  const std::vector<uint8_t> data = pressureInput();
  Settings s = test::settingsFromSwitches("-o8 -m:10");
  EncodeDetails er;
  std::vector<uint8_t> packed = encodeBuffer(data.data(), data.size(), s, &er);
  EXPECT_GT(er.counters.garbageCollections, 0u);
  EXPECT_GT(er.counters.poolExtensions, 0u);
  DecodeDetails dr;
  std::vector<uint8_t> restored = decodeBuffer(packed.data(), packed.size(), &dr);
  EXPECT_EQ(dr.counters.garbageCollections, er.counters.garbageCollections);
  EXPECT_TRUE(dr.crcOk());
  EXPECT_TRUE(restored == data);
}

}  // namespace
}  // namespace velt
