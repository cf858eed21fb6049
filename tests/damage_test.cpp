// Damaged streams, decoded in-process: a sweep of truncations, a table of
// header fields, overclaimed lengths. Each must end in exactly one of three
// ways: the exact original with the CRC right, velt::Error (Corrupt or
// BadHeader), or a CRC mismatch; the output stays bounded whatever the header
// claims. Random damage is left to the fuzzers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "container/header.h"
#include "test_util.h"
#include "velt/velt.h"

namespace velt::test {
namespace {

// Keeps the output, but refuses to grow past a limit, so a runaway decode
// fails the test instead of eating the machine.
struct OutputLimitReached {};

class CappedSink final : public ByteSink {
 public:
  explicit CappedSink(size_t limit) : limit_(limit) { flushWindow(); }
  void patch(int64_t, const uint8_t*, size_t) override {}
  int64_t finish() override {
    data_.resize(used_ + static_cast<size_t>(cur_ - begin_));
    used_ = data_.size();
    begin_ = cur_ = end_ = nullptr;
    return static_cast<int64_t>(used_);
  }
  const std::vector<uint8_t>& data() const { return data_; }
  size_t produced() const { return used_ + static_cast<size_t>(cur_ - begin_); }

 protected:
  void flushWindow() override {
    used_ += static_cast<size_t>(cur_ - begin_);
    if (used_ >= limit_) throw OutputLimitReached{};
    data_.resize(used_ + kWindow);
    begin_ = cur_ = data_.data() + used_;
    end_ = begin_ + kWindow;
  }

 private:
  static constexpr size_t kWindow = 4096;
  size_t limit_;
  std::vector<uint8_t> data_;
  size_t used_ = 0;
};

// kWrong: undetected damage, a runaway output or an unexpected exception.
enum Ending { kExact, kCorrupt, kBadHeader, kNotCompressed, kCrcMismatch, kWrong, kEndings };
const char* const kEndingNames[kEndings] = {"exact",   "corrupt",      "bad-header",
                                            "foreign", "crc-mismatch", "wrong"};

// Anything past this is garbage no damage may produce.
constexpr size_t kOutputLimit = 64u << 20;

struct Decoded {
  Ending ending;
  size_t produced;  // bytes written, also when decoding stopped with an error
  std::string what;
  bool sameOutput = false;
};

Decoded decodeDamaged(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& original) {
  MemorySource in(stream.data(), stream.size());
  CappedSink out(kOutputLimit);
  try {
    const DecodeDetails r = decodeSession(in, out);
    const bool same = out.data() == original;
    if (r.crcOk() && same) return {kExact, out.produced(), ""};
    if (!r.crcOk()) return {kCrcMismatch, out.produced(), "", same};
    return {kWrong, out.produced(), "CRC right but output differs"};
  } catch (const Error& e) {
    if (e.kind() == ErrorKind::Corrupt) return {kCorrupt, out.produced(), e.what()};
    if (e.kind() == ErrorKind::BadHeader) return {kBadHeader, out.produced(), e.what()};
    if (e.kind() == ErrorKind::NotCompressed) return {kNotCompressed, out.produced(), e.what()};
    return {kWrong, out.produced(), std::string("velt::Error of another kind: ") + e.what()};
  } catch (const OutputLimitReached&) {
    return {kWrong, out.produced(), "output passed the test's limit"};
  } catch (const std::exception& e) {
    return {kWrong, out.produced(), std::string("std::exception: ") + e.what()};
  }
}

// A text decoder writes at most four characters per coded byte, each with
// a possible carriage return and doubled space.
size_t outputBound(const std::vector<uint8_t>& original, int32_t codedLength, bool text) {
  const size_t fromHeader = text ? 16 * size_t(codedLength) + 16 : size_t(codedLength);
  return std::max(original.size(), std::min(fromHeader, kOutputLimit));
}

struct Subject {
  std::string name;
  std::vector<uint8_t> original;
  std::vector<uint8_t> stream;
  int headerSize;
  bool text;
};

std::vector<uint8_t> slice(const std::vector<uint8_t>& data, size_t offset, size_t size) {
  return {data.begin() + offset, data.begin() + std::min(data.size(), offset + size)};
}

Subject makeSubject(const std::string& name, std::vector<uint8_t> original,
                    const std::string& switches) {
  Subject s;
  s.name = name;
  s.original = std::move(original);
  EncodeDetails er;
  s.stream =
      encodeBuffer(s.original.data(), s.original.size(), settingsFromSwitches(switches), &er);
  s.text = er.settings.textTransform;
  MemorySource in(s.stream.data(), s.stream.size());
  s.headerSize = readStreamHeader(in).size;
  return s;
}

// Slices of 24 KB: long enough to reach every stage and a few progress
// steps, short enough for hundreds of decodes under the sanitizers.
constexpr size_t kSlice = 24 * 1024;

const std::vector<Subject>& subjects() {
  static const std::vector<Subject> all = [] {
    std::vector<Subject> v;
    v.push_back(makeSubject("text", slice(readData("text/alice29.txt"), 0, kSlice), ""));
    v.push_back(makeSubject("binary", slice(readData("binary/kennedy-64k.xls"), 0, kSlice), ""));
    v.push_back(makeSubject("executable", slice(readData("binary/sum"), 0, kSlice), "-e8f"));
    return v;
  }();
  return all;
}

// Checks one damaged stream ends in one of the three ways, within bounds.
Decoded check(const Subject& s, const std::vector<uint8_t>& damaged, const std::string& label) {
  const Decoded d = decodeDamaged(damaged, s.original);
  // The bound follows the damaged header: a changed mode byte can turn the
  // text transform on or off.
  int32_t codedLength = 0;
  if (damaged.size() >= 8) std::memcpy(&codedLength, damaged.data() + 4, 4);
  const bool text = damaged.size() >= 10 ? (damaged[9] & 0x80) != 0 : s.text;
  EXPECT_LE(d.produced, outputBound(s.original, codedLength, text)) << s.name << " " << label;
  // A CRC-16 lets one damaged stream in 65536 through; none of these may.
  EXPECT_NE(d.ending, kWrong) << s.name << " " << label << ": " << kEndingNames[d.ending] << " "
                              << d.what;
  return d;
}

TEST(Damage, EveryTruncationEndsInOneOfThreeWays) {
  for (const Subject& s : subjects()) {
    const size_t n = s.stream.size();
    std::vector<size_t> lengths;
    for (size_t len = 0; len <= 40 && len < n; ++len) lengths.push_back(len);  // header, body start
    for (size_t i = 0; i < 240; ++i) lengths.push_back(n * i / 240);
    for (size_t back = 1; back <= 24 && back <= n; ++back) lengths.push_back(n - back);  // tail
    for (size_t len : lengths) {
      std::vector<uint8_t> cut(s.stream.begin(), s.stream.begin() + len);
      const std::string label = "truncated to " + std::to_string(len) + " of " + std::to_string(n);
      const Ending ending = check(s, cut, label).ending;
      if (len < size_t(s.headerSize)) {
        EXPECT_EQ(ending, len < 2 ? kNotCompressed : kBadHeader) << s.name << " " << label;
      }
      // Only the tail may be missing from a stream that still decodes: the
      // coder's flush, and in text mode the empty last block's side
      // information, which the decoder never needs.
      if (ending == kExact) {
        EXPECT_GE(len + 16, n) << s.name << " " << label;
      }
    }
  }
}

Decoded withByte(const Subject& s, int offset, uint8_t value) {
  std::vector<uint8_t> d = s.stream;
  d[size_t(offset)] = value;
  return decodeDamaged(d, s.original);
}

TEST(HeaderFields, EachFieldGivesItsOwnEnding) {
  const Subject& text = subjects()[0];
  const Subject& binary = subjects()[1];
  ASSERT_TRUE(text.text);
  const uint8_t settings = binary.stream[8], mode = binary.stream[9];
  struct Case {
    const Subject* s;
    int offset;
    uint8_t value;
    Ending ending;
    const char* what;
  };
  std::vector<Case> cases = {
      {&binary, 2, uint8_t(binary.stream[2] ^ 1), kCrcMismatch, "CRC"},
      {&binary, 3, uint8_t(binary.stream[3] ^ 1), kCrcMismatch, "CRC"},
      {&binary, 7, 0x80, kBadHeader, "negative coded length"},
      {&text, 7, 0xFF, kBadHeader, "negative coded length"},
      {&binary, 8, 0xF0, kBadHeader, "pseudo order 3"},
      {&binary, 8, uint8_t(0xF0 | (settings & 15)), kBadHeader, "pseudo order 3"},
      {&binary, 8, 0x10, kBadHeader, "pseudo order 1 at order 4"},
      {&binary, 8, 0xA2, kBadHeader, "pseudo order 2 at order 6"},
      {&binary, 9, uint8_t(mode | 0x60), kBadHeader, "run-length bits 11"},
      {&binary, 9, uint8_t(mode | 0x0C), kBadHeader, "interleaved-coding bits 11"},
      {&text, 9, uint8_t(text.stream[9] | 0x60), kBadHeader, "run-length bits 11"},
      {&text, 10, uint8_t(text.stream[10] & ~0x0C), kBadHeader, "text without a language"},
  };
  for (uint8_t v : {0x00, 0x55, 0xFF}) {
    cases.push_back({&binary, 0, v, kNotCompressed, "magic"});
    cases.push_back({&text, 1, v, kNotCompressed, "magic"});
  }
  for (int m = 9; m <= 15; ++m) {
    cases.push_back({&binary, 8, uint8_t((settings & 0xF0) | m), kBadHeader, "memory index"});
  }
  for (const Case& c : cases) {
    const Decoded d = withByte(*c.s, c.offset, c.value);
    EXPECT_EQ(d.ending, c.ending) << c.what << ": " << c.s->name << " byte " << c.offset << " = "
                                  << int(c.value) << " " << d.what;
    // A wrong CRC is found only after the whole output.
    if (c.ending == kCrcMismatch) {
      EXPECT_TRUE(d.sameOutput) << c.what;
    }
  }
}

TEST(HeaderFields, WrapWidthOutside21To99IsABadHeader) {
  // A hand-wrapped text makes the analysis ask for line unwrapping.
  std::string wrapped;
  const std::string line = "the quick brown fox jumps over the lazy dog and runs far away";
  for (int i = 0; i < 300; ++i) wrapped += line.substr(size_t(i % 7)) + "\n";
  const Subject s = makeSubject("wrapped", bytesOf(wrapped), "");
  ASSERT_TRUE(s.text);
  ASSERT_EQ(s.headerSize, 13) << "expected the analysis to ask for unwrapping";
  ASSERT_EQ(decodeDamaged(s.stream, s.original).ending, kExact);
  for (int w : {0, 1, 20, 100, 200, 255})
    EXPECT_EQ(withByte(s, 11, uint8_t(w)).ending, kBadHeader) << w;
  for (int d : {2, 128, 255}) EXPECT_EQ(withByte(s, 12, uint8_t(d)).ending, kBadHeader) << d;
  // In range but wrong: never a crash, one of the three endings.
  for (int w : {21, 40, 99}) {
    const Ending e = withByte(s, 11, uint8_t(w)).ending;
    EXPECT_TRUE(e == kExact || e == kCorrupt || e == kCrcMismatch) << w << " " << kEndingNames[e];
  }
}

// --- Runaway decoding is bounded. ---

// A header that claims far more than the body holds: decoding must stop
// soon after the body's end, not run on towards the claimed length.
void expectBoundedOverclaim(const Subject& s) {
  for (int32_t claim : {int32_t(s.original.size()) * 2, int32_t(64) << 20, INT32_MAX}) {
    std::vector<uint8_t> d = s.stream;
    std::memcpy(d.data() + 4, &claim, 4);
    const Decoded r = decodeDamaged(d, s.original);
    EXPECT_EQ(r.ending, kCorrupt) << s.name << " claim " << claim;
    EXPECT_LE(r.produced, s.original.size() + 64 * 1024) << s.name << " claim " << claim;
  }
}

TEST(RunawayDecoding, OverclaimedLengthStopsNearTheBodysEnd) {
  for (const Subject& s : subjects()) expectBoundedOverclaim(s);
  // Runs and progressions cost almost nothing to code, so they are where a
  // decoder could run furthest on the padding past the body.
  std::vector<uint8_t> runs(200000, 0);
  for (size_t i = 100000; i < runs.size(); ++i) runs[i] = uint8_t(i);
  expectBoundedOverclaim(makeSubject("runs", runs, "-da"));
  std::vector<uint8_t> spaces(200000, ' ');
  expectBoundedOverclaim(makeSubject("spaces", spaces, ""));
}

TEST(RunawayDecoding, TruncatedRunsNeverOutgrowTheOriginal) {
  std::vector<uint8_t> runs(1 << 20, 'a');
  const Subject s = makeSubject("runs", runs, "-da");
  int exact = 0;
  for (size_t len = size_t(s.headerSize); len < s.stream.size(); ++len) {
    std::vector<uint8_t> cut(s.stream.begin(), s.stream.begin() + len);
    const Decoded d = check(s, cut, "truncated to " + std::to_string(len));
    exact += d.ending == kExact;
    EXPECT_LE(d.produced, runs.size()) << len;
  }
  EXPECT_LE(exact, 4);
}

}  // namespace
}  // namespace velt::test
