// Range coder and cumulative tables: hand-worked numeric cases, and
// randomized round trips that also check the decoder reads exactly what the
// encoder wrote.
#include <gtest/gtest.h>

#include <random>

#include "entropy/cumulative_table.h"
#include "entropy/range_coder.h"

namespace velt {
namespace {

TEST(RangeCoder, ShrinksRangeInsteadOfCarrying) {
  MemorySink sink;
  RangeEncoder rc(sink, nullptr);
  rc.setState(0x00FFFF00u, 0x200u);
  rc.normalize();
  EXPECT_EQ(rc.low(), 0xFFFF0000u);
  EXPECT_EQ(rc.range(), 0x10000u);
  sink.finish();
  ASSERT_EQ(sink.data().size(), 1u);
  EXPECT_EQ(sink.data()[0], 0x00);
}

TEST(RangeCoder, RandomSymbolsRoundTripAndDecoderReadsExactlyTheBody) {
  std::mt19937 rng(12345);
  struct Sym {
    uint32_t low, freq, total;
  };
  std::vector<Sym> syms;
  for (int i = 0; i < 50000; ++i) {
    uint32_t total = 1 + rng() % 32768;
    if (i % 7 == 0) total = 1 + rng() % 4;
    uint32_t low = rng() % total;
    uint32_t freq = 1 + rng() % (total - low);
    syms.push_back({low, freq, total});
  }
  MemorySink sink;
  RangeEncoder enc(sink, nullptr);
  for (const Sym& s : syms) enc.encode(s.low, s.freq, s.total);
  enc.flush();
  sink.finish();
  const std::vector<uint8_t>& body = sink.data();

  MemorySource src(body.data(), body.size());
  RangeDecoder dec(src);
  dec.start();
  for (size_t i = 0; i < syms.size(); ++i) {
    const Sym& s = syms[i];
    uint32_t v = dec.checkedTarget(s.total);
    ASSERT_GE(v, s.low) << i;
    ASSERT_LT(v, s.low + s.freq) << i;
    dec.decodeUpdate(s.low, s.freq);
  }
  EXPECT_EQ(dec.overrun(), 0);
  EXPECT_EQ(src.get(), ByteSource::kEnd);
}

TEST(RangeCoder, TruncatedOrImpossibleBodiesAreCorrupt) {
  MemorySink sink;
  RangeEncoder enc(sink, nullptr);
  for (int i = 0; i < 1000; ++i) enc.encode(i % 250, 1, 256);
  enc.flush();
  sink.finish();
  // A truncated body reads ones past its end, then fails.
  std::vector<uint8_t> body(sink.data().begin(), sink.data().begin() + sink.data().size() / 2);
  MemorySource src(body.data(), body.size());
  RangeDecoder dec(src);
  dec.start();
  EXPECT_THROW(for (int i = 0; i < 1000; ++i) dec.decodeUpdate(dec.checkedTarget(256), 1), Error);
  EXPECT_GT(dec.overrun(), kMaxOverrunBytes);
  // A body of all ones puts the target past any small total.
  const std::vector<uint8_t> ones(16, 0xFF);
  MemorySource onesSrc(ones.data(), ones.size());
  RangeDecoder onesDec(onesSrc);
  onesDec.start();
  try {
    onesDec.checkedTarget(2);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Corrupt);
    EXPECT_STREQ(e.what(), "Input data corrupt");
  }
}

// The model's first-record decoder compares against multiples of the unit
// instead of dividing: on any body, it must place the target exactly as the
// divided target does, and fail exactly where that one fails.
TEST(RangeCoder, ScaledTargetPlacesTheTargetAsTheDividedOne) {
  std::mt19937 rng(99);
  int failures = 0;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> body(64);
    for (uint8_t& b : body) b = trial % 10 == 0 ? 0xFF : uint8_t(rng());
    MemorySource a(body.data(), body.size()), b(body.data(), body.size());
    RangeDecoder divided(a), scaled(b);
    divided.start();
    scaled.start();
    for (int i = 0; i < 40; ++i) {
      const uint32_t total = 1 + rng() % (i % 3 ? 32768 : 16);
      uint32_t t = 0, offset = 0;
      bool dividedFailed = false, scaledFailed = false;
      try {
        t = divided.checkedTarget(total);
      } catch (const Error&) {
        dividedFailed = true;
      }
      try {
        offset = scaled.scaledTarget(total);
      } catch (const Error&) {
        scaledFailed = true;
      }
      ASSERT_EQ(dividedFailed, scaledFailed) << "trial " << trial << " step " << i;
      if (dividedFailed) {
        ++failures;
        break;
      }
      const uint32_t unit = scaled.unit();
      for (uint32_t x : {0u, t, t + 1, total, uint32_t(rng() % (total + 1))}) {
        ASSERT_EQ(offset < x * unit, t < x) << "x " << x;
      }
      const uint32_t low = t - rng() % (t + 1), freq = t + 1 - low + rng() % (total - t);
      divided.decodeUpdate(low, freq);
      scaled.decodeUpdate(low, freq);
    }
  }
  EXPECT_GT(failures, 0);  // bodies of ones put targets past small totals
}

TEST(RangeCoder, TotalAboveTheRangeFailsInsteadOfHanging) {
  MemorySink sink;
  RangeEncoder rc(sink, nullptr);
  rc.setState(0x12340000u, 0x9000u);  // a range just above the bottom threshold
  EXPECT_NO_THROW(rc.encode(0, 1, 0x9000u));
  rc.setState(0x12340000u, 0x9000u);
  try {
    rc.encode(0, 1, 0x9001u);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Unrepresentable);
  }
}

template <int N>
std::vector<int32_t> entries(const CumulativeTable<N>& t) {
  std::vector<int32_t> v;
  for (int k = 0; k < N; ++k) v.push_back(t[k]);
  return v;
}

TEST(CumulativeTable, HalvingKeepsEveryLiveSymbolAtLeastOne) {
  CumulativeTable<4> a;
  a.halveTable();
  EXPECT_EQ(entries(a), (std::vector<int32_t>{0, 1, 2, 3}));

  CumulativeTable<4> b;
  b.set(1, 10), b.set(2, 10), b.set(3, 30);
  b.halveTable();
  EXPECT_EQ(entries(b), (std::vector<int32_t>{0, 5, 5, 15}));

  CumulativeTable<3> c;
  c.set(1, 3), c.set(2, 4);
  c.halveTable();
  EXPECT_EQ(entries(c), (std::vector<int32_t>{0, 1, 2}));
}

TEST(CumulativeTable, DecodesBothEndsOfAnInterval) {
  CumulativeTable<10> t;
  t.update(3, 100, 16382);
  t.update(7, 50, 16382);
  for (int s = 0; s < 9; ++s) {
    for (int32_t v : {t[s], t[s + 1] - 1}) {
      MemorySink sink;
      RangeEncoder enc(sink, nullptr);
      enc.encode(static_cast<uint32_t>(v), 1, static_cast<uint32_t>(t.total()));
      enc.flush();
      sink.finish();
      MemorySource src(sink.data().data(), sink.data().size());
      RangeDecoder dec(src);
      dec.start();
      EXPECT_EQ(t.decodeSymbol(dec), s) << "v=" << v;
    }
  }
}

}  // namespace
}  // namespace velt
