// The public API as a user sees it (velt/velt.h only): option checks before
// any output, every valid option accepted, CRC verdicts, error names, events
// and the threading rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "velt/velt.h"

namespace velt {
namespace {

// Some text, then noise, then a run and a progression: every stage has work.
std::vector<uint8_t> sampleBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> v(size);
  const std::string words = "It was the best of times, it was the worst of times.\n";
  uint32_t state = seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    if (i < size / 2) v[i] = static_cast<uint8_t>(words[i % words.size()]);
    else if (i < size * 3 / 4) v[i] = static_cast<uint8_t>(state >> 24);
    else if (i < size * 7 / 8) v[i] = 0x41;
    else v[i] = static_cast<uint8_t>(i * 3);
  }
  return v;
}

// Records whether the codec ever touched it.
class WatchingSink final : public ByteSink {
 public:
  WatchingSink() : buffer_(256) {}
  bool touched() const { return touched_; }
  void patch(int64_t, const uint8_t*, size_t) override { touched_ = true; }
  int64_t finish() override {
    touched_ = true;
    return 0;
  }

 protected:
  void flushWindow() override {
    touched_ = true;
    begin_ = cur_ = buffer_.data();
    end_ = begin_ + buffer_.size();
  }

 private:
  std::vector<uint8_t> buffer_;
  bool touched_ = false;
};

struct BadOption {
  std::string what;
  const char* field;  // the message must name it
  std::function<void(Options&)> set;
};

std::vector<BadOption> badOptions() {
  std::vector<BadOption> v;
  auto add = [&](const char* field, std::vector<int> values, void (*set)(Options&, int)) {
    for (int x : values)
      v.push_back(
          {std::string(field) + " " + std::to_string(x), field, [=](Options& o) { set(o, x); }});
  };
  add("order", {3, 10, -1}, [](Options& o, int x) { o.order = x; });
  add("memoryMb", {5, 12, 55, 0}, [](Options& o, int x) { o.memoryMb = x; });
  add("textMode", {2, -1}, [](Options& o, int x) { o.textMode = x; });
  add("runLength", {1, 2, 5}, [](Options& o, int x) { o.runLength = x; });
  add("interleaved", {3, 255}, [](Options& o, int x) { o.interleaved = static_cast<Stage>(x); });
  add("e8", {3, 255}, [](Options& o, int x) { o.e8 = static_cast<Stage>(x); });
  v.push_back({"e8 Forced without analysis", "e8", [](Options& o) {
                 o.analysis = false;
                 o.e8 = Stage::Forced;
               }});
  return v;
}

// Runs `call`, expecting Error(BadParameter) whose message names `field`.
void expectBadParameter(const std::function<void()>& call, const BadOption& bad) {
  try {
    call();
    ADD_FAILURE() << bad.what << ": accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::BadParameter) << bad.what;
    EXPECT_NE(std::string(e.what()).find(bad.field), std::string::npos)
        << bad.what << ": message \"" << e.what() << "\" does not name " << bad.field;
  }
}

TEST(ApiOptions, EveryOutOfRangeValueIsRefusedBeforeAnyOutput) {
  const std::vector<uint8_t> data = sampleBytes(4000, 1);
  for (const BadOption& bad : badOptions()) {
    Options o;
    bad.set(o);
    expectBadParameter([&] { validate(o); }, bad);
    expectBadParameter([&] { compress(data.data(), data.size(), o); }, bad);

    MemorySource in(data.data(), data.size());
    WatchingSink out;
    expectBadParameter([&] { encodeStream(in, out, o); }, bad);
    EXPECT_FALSE(out.touched()) << bad.what << ": the sink was written to";
  }
}

TEST(ApiOptions, NullBufferWithASizeIsRefused) {
  for (auto call : {std::function<void()>([] { compress(nullptr, 10); }),
                    std::function<void()>([] { decompress(nullptr, 10); })}) {
    expectBadParameter(call, {"null data", "data", nullptr});
  }
  // An empty input is fine either way round.
  const std::vector<uint8_t> empty = compress(nullptr, 0);
  EXPECT_TRUE(decompress(empty.data(), empty.size()).empty());
}

// Byte 8 of the header: order - 4 (bits 7..6), pseudo order (5..4), memory index (3..0).
uint8_t settingsByte(const Options& o) {
  const int order = o.order > 7 ? 7 : o.order;
  const int pseudo = o.order > 7 ? o.order - 7 : 0;
  return static_cast<uint8_t>((order - 4) << 6 | pseudo << 4 | (o.memoryMb - 10) / 5);
}

TEST(ApiOptions, EveryValidValueRoundTrips) {
  std::vector<Options> cases;
  for (int order = 4; order <= 9; ++order) cases.emplace_back().order = order;
  for (int mb = 10; mb <= 50; mb += 5) cases.emplace_back().memoryMb = mb;
  for (int mode : {0, 1}) cases.emplace_back().textMode = mode;
  for (int rl : {0, 3, 4}) cases.emplace_back().runLength = rl;
  for (Stage il : {Stage::Off, Stage::Smart, Stage::Forced}) {
    for (Stage e8 : {Stage::Off, Stage::Smart, Stage::Forced}) {
      Options& o = cases.emplace_back();
      o.interleaved = il, o.e8 = e8;
    }
  }
  for (Stage e8 : {Stage::Off, Stage::Smart}) {
    Options& o = cases.emplace_back();
    o.analysis = false, o.e8 = e8;
  }

  const std::vector<uint8_t> data = sampleBytes(20000, 2);
  for (const Options& o : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "order " << o.order << ", " << o.memoryMb << " MB, text mode " << o.textMode
                 << ", run length " << o.runLength << ", stages " << int(o.interleaved) << "/"
                 << int(o.e8) << ", analysis " << o.analysis);
    EXPECT_NO_THROW(validate(o));
    EncodeResult er;
    const std::vector<uint8_t> packed = compress(data.data(), data.size(), o, &er);
    ASSERT_GE(packed.size(), 10u);
    EXPECT_EQ(er.originalSize, static_cast<int64_t>(data.size()));
    EXPECT_EQ(er.compressedSize, static_cast<int64_t>(packed.size()));
    EXPECT_EQ(packed[8], settingsByte(o));
    DecodeResult dr;
    EXPECT_EQ(decompress(packed.data(), packed.size(), &dr), data);
    EXPECT_TRUE(dr.crcOk());
    EXPECT_EQ(dr.storedCrc, er.crc);
  }
}

TEST(ApiCrc, DamagedCrcFieldThrowsFromDecompressAndIsReportedByDecodeStream) {
  const std::vector<uint8_t> data = sampleBytes(5000, 3);
  EncodeResult er;
  const std::vector<uint8_t> good = compress(data.data(), data.size(), {}, &er);
  for (int offset : {2, 3}) {
    SCOPED_TRACE(offset);
    std::vector<uint8_t> bad = good;
    bad[offset] ^= 0x10;

    DecodeResult dr;
    try {
      decompress(bad.data(), bad.size(), &dr);
      ADD_FAILURE() << "a damaged CRC went unnoticed";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::CrcMismatch);
    }
    EXPECT_FALSE(dr.crcOk());

    MemorySource in(bad.data(), bad.size());
    MemorySink out;
    DecodeResult streamed;
    ASSERT_NO_THROW(streamed = decodeStream(in, out));
    EXPECT_FALSE(streamed.crcOk());
    EXPECT_EQ(streamed.crc, er.crc);
    EXPECT_NE(streamed.storedCrc, er.crc);
    EXPECT_EQ(streamed.extractedSize, static_cast<int64_t>(data.size()));
    EXPECT_EQ(out.data(), data);  // the field is not used for decoding
  }
}

TEST(ApiErrors, EveryKindHasItsOwnName) {
  const ErrorKind kinds[] = {ErrorKind::BadParameter,    ErrorKind::NotCompressed,
                             ErrorKind::BadHeader,       ErrorKind::Corrupt,
                             ErrorKind::CrcMismatch,     ErrorKind::InputTooLarge,
                             ErrorKind::Unrepresentable, ErrorKind::Io};
  std::set<std::string> names;
  for (ErrorKind k : kinds) {
    const std::string name = errorName(k);
    EXPECT_FALSE(name.empty());
    EXPECT_NE(name, errorName(static_cast<ErrorKind>(99)));
    names.insert(name);
  }
  EXPECT_EQ(names.size(), std::size(kinds));

  try {
    const uint8_t foreign[] = "plain text, not a Velt stream";
    decompress(foreign, sizeof foreign);
    ADD_FAILURE() << "foreign data accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::NotCompressed);
  }
}

class EventLog : public Reporter {
 public:
  void analysed(InputKind) override { events.push_back("analysed"); }
  void modelReady(int mb) override { events.push_back("model " + std::to_string(mb)); }
  void progress(double percent) override {
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 100.0);
    last = percent;
    if (events.empty() || events.back() != "progress") events.push_back("progress");
  }
  std::vector<std::string> events;
  double last = 0;
};

TEST(ApiReporter, EventsComeInOrderOnBothSides) {
  const std::vector<uint8_t> data = sampleBytes(300000, 4);
  Options o;
  o.memoryMb = 15;
  MemorySource in(data.data(), data.size());
  MemorySink packed;
  EventLog encoding;
  encodeStream(in, packed, o, &encoding);
  ASSERT_FALSE(encoding.events.empty());
  const auto model = std::find(encoding.events.begin(), encoding.events.end(), "model 15");
  ASSERT_NE(model, encoding.events.end());
  EXPECT_EQ(encoding.events.back(), "progress");
  for (auto it = model + 1; it != encoding.events.end(); ++it) EXPECT_EQ(*it, "progress");

  MemorySource packedIn(packed.data().data(), packed.data().size());
  MemorySink restored;
  EventLog decoding;
  EXPECT_TRUE(decodeStream(packedIn, restored, &decoding).crcOk());
  EXPECT_EQ(restored.data(), data);
  ASSERT_FALSE(decoding.events.empty());
  EXPECT_EQ(decoding.events.front(), "model 15");
}

// Progress comes after the first byte and every 16384 bytes taken while
// encoding, and at every 16384 bytes produced while decoding, also when the
// count passes the mark inside a run or a progression.
TEST(ApiReporter, ProgressMarksFallInsideRunsToo) {
  struct Percentages : Reporter {
    void progress(double percent) override { seen.push_back(percent); }
    std::vector<double> seen;
  };
  std::vector<uint8_t> data;
  uint32_t state = 9;
  while (data.size() < 150000) {
    for (int i = 0; i < 40; ++i) data.push_back(uint8_t((state = state * 69069 + 1) >> 24));
    data.insert(data.end(), 700 + data.size() % 500, uint8_t(data.size()));
    for (int i = 0; i < 300; ++i) data.push_back(uint8_t(i * 3));
  }
  const double size = double(data.size());
  std::vector<double> encodeMarks, decodeMarks;
  for (size_t at = 0; at < data.size(); at += 16384)
    encodeMarks.push_back(double(at + 1) / size * 100.0);
  for (size_t at = 16384; at <= data.size(); at += 16384)
    decodeMarks.push_back(double(at) / size * 100.0);

  Options o;
  o.analysis = false;
  MemorySource in(data.data(), data.size());
  MemorySink packed;
  Percentages encoding;
  encodeStream(in, packed, o, &encoding);
  EXPECT_EQ(encoding.seen, encodeMarks);

  MemorySource packedIn(packed.data().data(), packed.data().size());
  MemorySink restored;
  Percentages decoding;
  EXPECT_TRUE(decodeStream(packedIn, restored, &decoding).crcOk());
  EXPECT_EQ(decoding.seen, decodeMarks);
  EXPECT_EQ(restored.data(), data);
}

// The threading rule: sessions share nothing, so concurrent ones give the
// bytes a lone one gives.
TEST(ApiThreads, ConcurrentSessionsGiveTheSameBytesAsOne) {
  const std::vector<uint8_t> a = sampleBytes(400000, 5);
  const std::vector<uint8_t> b = sampleBytes(300000, 6);
  Options oa;
  Options ob;
  ob.order = 8;
  ob.interleaved = Stage::Forced;
  const std::vector<uint8_t> aAlone = compress(a.data(), a.size(), oa);
  const std::vector<uint8_t> bAlone = compress(b.data(), b.size(), ob);

  for (int round = 0; round < 2; ++round) {
    std::vector<uint8_t> aShared, bShared, aRestored, bRestored;
    std::thread ta([&] {
      aShared = compress(a.data(), a.size(), oa);
      aRestored = decompress(aShared.data(), aShared.size());
    });
    std::thread tb([&] {
      bShared = compress(b.data(), b.size(), ob);
      bRestored = decompress(bShared.data(), bShared.size());
    });
    ta.join();
    tb.join();
    EXPECT_EQ(aShared, aAlone);
    EXPECT_EQ(bShared, bAlone);
    EXPECT_EQ(aRestored, a);
    EXPECT_EQ(bRestored, b);
  }
}

}  // namespace
}  // namespace velt
