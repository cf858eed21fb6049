// The model's documented numeric cases, seen through the intervals it hands
// to the range coder, plus its memory management under pressure.
#include "model/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <tuple>
#include <utility>

#include "entropy/range_coder.h"
#include "model/wide_slots.h"
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

// A presence bit missing for a live record would have its key created a
// second time: collection passes must recompute the presence of the slots they
// visit from the records they keep. Checked across many passes, at a level
// with a plain bucket bit and at level 7 with a pseudo order.
TEST(Model, PresenceBitsCoverEveryChainThroughCollections) {
  const std::vector<uint8_t> all = pressureInput();
  const std::vector<uint8_t> data(all.begin(), all.begin() + (3 << 20));
  for (const auto& [order, pseudo] : {std::pair{6, 0}, std::pair{7, 2}}) {
    model::Model m(order, pseudo, 0, false, {});
    MemorySink out;
    RangeEncoder rc(out, nullptr);
    for (size_t i = 0; i < data.size(); ++i) {
      m.encodeByte(rc, data[i]);
      m.history.push(data[i]);
      if (i % (1 << 19) == 0) {
        ASSERT_TRUE(m.presenceCoversChains()) << "order " << order << " byte " << i;
      }
    }
    EXPECT_GT(m.counters.garbageCollections, 2u) << "order " << order;
    EXPECT_TRUE(m.presenceCoversChains()) << "order " << order;
  }
}

// The 16-slot passes against the plain loops they stand for, on records of
// every group shape. The slots past a record's last hold its symbols' twins
// and the symbol searched for, which must count for nothing.
TEST(WideSlots, AgreeWithThePlainLoops) {
#if VELT_WIDE_SLOTS
  std::mt19937 rng(11);
  std::vector<model::Slot> slots(256 + 16);
  alignas(16) uint8_t keep[256];
  for (int rest : {16, 17, 31, 32, 47, 100, 240, 255}) {
    for (int trial = 0; trial < 200; ++trial) {
      std::vector<uint8_t> symbols(256);
      std::iota(symbols.begin(), symbols.end(), 0);
      std::shuffle(symbols.begin(), symbols.end(), rng);
      const bool present = trial % 4 != 0;
      const uint8_t want = present ? symbols[rng() % rest] : symbols[rest];
      for (int i = 0; i < int(slots.size()); ++i) {
        const uint8_t sym = i < rest ? symbols[i] : (i % 2 ? want : symbols[i % rest]);
        const int most = trial % 3 ? 2000 : 30000;
        slots[i] = model::Slot{sym, 0, uint16_t(1 + rng() % most)};
      }
      for (uint8_t& k : keep) k = rng() % 2 ? 0xFF : 0;
      keep[want] = 0xFF;  // an encoder's symbol is never excluded
      const uint32_t first = rng() % 50;

      int plainFound = -1;
      uint32_t plainBefore = 0, sum = 0, visible = first;
      std::vector<uint32_t> visibleThrough;  // visible counts up to each slot's end
      for (int i = 0; i < rest; ++i) {
        if (slots[i].symbol == want) plainFound = i, plainBefore = sum;
        sum += slots[i].freq;
        visible += slots[i].freq & (keep[slots[i].symbol] ? 0xFFFF : 0);
        visibleThrough.push_back(visible);
      }

      uint32_t before = 0;
      ASSERT_EQ(model::wide::findSlot(slots.data(), rest, want, before), plainFound);
      if (plainFound >= 0) {
        EXPECT_EQ(before, plainBefore);
      }

      for (int probe = 0; probe < 8; ++probe) {
        const uint32_t t = first + (probe ? rng() % sum : sum - 1);
        uint32_t cum = first, plainCum = first;
        int plainAt = 0;
        while (t >= plainCum + slots[plainAt].freq) plainCum += slots[plainAt++].freq;
        ASSERT_EQ(model::wide::locateSlot(slots.data(), rest, t, cum), plainAt) << "t " << t;
        EXPECT_EQ(cum, plainCum);
      }
      uint32_t cum = first;
      EXPECT_EQ(model::wide::locateSlot(slots.data(), rest, first + sum, cum), -1);

#if VELT_WIDE_MASKS
      for (int width : {16, 32}) {
        if (!(width == 16 ? __builtin_cpu_supports("ssse3") : __builtin_cpu_supports("avx2")))
          continue;
        model::wide::MaskedPass enc, dec;
        enc.visible = dec.visible = first;
        if (width == 16) {
          model::wide::maskedPass<true>(slots.data(), rest, keep, want, enc);
          model::wide::maskedPass<false>(slots.data(), rest, keep, 0, dec);
        } else {
          model::wide::maskedPassAvx2<true>(slots.data(), rest, keep, want, enc);
          model::wide::maskedPassAvx2<false>(slots.data(), rest, keep, 0, dec);
        }
        EXPECT_EQ(enc.visible, visible);
        EXPECT_EQ(dec.visible, visible);
        ASSERT_EQ(enc.found, plainFound) << width;
        if (plainFound >= 0) {
          EXPECT_EQ(enc.before, plainFound ? visibleThrough[plainFound - 1] : first);
        }
        for (int g = 0; g * 16 < rest; ++g) {
          EXPECT_EQ(dec.groupEnd[g], visibleThrough[std::min((g + 1) * 16, rest) - 1]);
        }
      }
#endif
    }
  }
#else
  GTEST_SKIP() << "no wide passes on this CPU";
#endif
}

// A few contexts, each followed by bytes from most of the alphabet: records
// of hundreds of symbols at every level, coded first and after escapes.
TEST(Model, WidePassesCodeAsThePlainLoops) {
  std::mt19937 rng(5);
  std::vector<uint8_t> data;
  const char* prefixes[] = {"abcd", "abce", "xbcd", "zzcd"};
  while (data.size() < 200000) {
    const char* p = prefixes[rng() % 4];
    data.insert(data.end(), p, p + 4);
    data.push_back(uint8_t(rng() % 2 ? rng() % 64 : rng()));
  }
  std::vector<uint8_t> streams[2];
  for (int plain = 0; plain < 2; ++plain) {
    model::Model m(5, 0, 0, false, {});
    if (plain) m.usePlainLoops();
    MemorySink out;
    RangeEncoder rc(out, nullptr);
    for (uint8_t b : data) {
      m.encodeByte(rc, b);
      m.history.push(b);
    }
    rc.flush();
    out.finish();
    streams[plain] = out.data();
  }
  ASSERT_TRUE(streams[0] == streams[1]);
  for (int plain = 0; plain < 2; ++plain) {  // each decodes the other's stream
    model::Model m(5, 0, 0, false, {});
    if (plain) m.usePlainLoops();
    MemorySource in(streams[1 - plain].data(), streams[1 - plain].size());
    RangeDecoder rc(in);
    rc.start();
    for (size_t i = 0; i < data.size(); ++i) {
      const uint8_t b = m.decodeByte(rc);
      ASSERT_EQ(b, data[i]) << "byte " << i;
      m.history.push(b);
    }
  }
}

}  // namespace
}  // namespace velt
