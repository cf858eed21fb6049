// The bulk paths the drivers take through the byte windows and the CRC: each
// must give exactly what its per-byte form gives, wherever the windows end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "container/crc16.h"
#include "test_util.h"

namespace velt {
namespace {

uint16_t crcByteByByte(uint16_t start, const uint8_t* p, size_t n) {
  Crc16 c{start};
  for (size_t i = 0; i < n; ++i) c.update(p[i]);
  return c.value;
}

TEST(Crc16, BulkUpdateMatchesByteByByte) {
  const std::string digits = "123456789";
  Crc16 check;
  check.update(reinterpret_cast<const uint8_t*>(digits.data()), digits.size());
  EXPECT_EQ(check.value, 0x31C3);

  std::mt19937 rng(11);
  std::vector<uint8_t> data(64);
  for (int round = 0; round < 200; ++round) {
    for (uint8_t& b : data) b = uint8_t(rng());
    const uint16_t start = uint16_t(rng());
    for (size_t n = 0; n <= data.size(); ++n) {
      Crc16 bulk{start};
      bulk.update(data.data(), n);
      ASSERT_EQ(bulk.value, crcByteByByte(start, data.data(), n)) << n;
    }
  }
}

// Hands the data out in windows of 1 to 13 bytes.
class ChoppySource final : public ByteSource {
 public:
  explicit ChoppySource(const std::vector<uint8_t>& data) : data_(data) { rewind(); }
  int64_t size() override { return int64_t(data_.size()); }
  void rewind() override {
    pos_ = 0;
    step_ = 0;
    cur_ = end_ = data_.data();
  }

 protected:
  bool refill() override {
    if (pos_ == data_.size()) return false;
    const size_t n = std::min<size_t>(1 + (step_++ * 5) % 13, data_.size() - pos_);
    cur_ = data_.data() + pos_;
    end_ = cur_ + n;
    pos_ += n;
    return true;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
  size_t step_ = 0;
};

// Keeps everything written through windows of 5 bytes.
class ChoppySink final : public ByteSink {
 public:
  void patch(int64_t offset, const uint8_t* data, size_t size) override {
    flushWindow();
    std::copy(data, data + size, data_.begin() + offset);
  }
  int64_t finish() override {
    flushWindow();
    return int64_t(data_.size());
  }
  const std::vector<uint8_t>& data() const { return data_; }

 protected:
  void flushWindow() override {
    data_.insert(data_.end(), begin_, cur_);
    begin_ = cur_ = window_;
    end_ = window_ + sizeof window_;
  }

 private:
  uint8_t window_[5];
  std::vector<uint8_t> data_;
};

TEST(ByteWindows, BulkReadsAndWritesSeeEveryByteOnce) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
  ChoppySource in(data);
  std::vector<uint8_t> read;
  EXPECT_EQ(in.get(), data[0]);  // single gets and windows mix
  read.push_back(data[0]);
  const uint8_t* b;
  const uint8_t* e;
  while (in.takeWindow(b, e)) {
    ASSERT_LT(b, e);
    read.insert(read.end(), b, e);
  }
  EXPECT_EQ(read, data);
  EXPECT_EQ(in.get(), ByteSource::kEnd);

  in.rewind();
  std::vector<uint8_t> copied(data.size() + 10);
  size_t got = 0;
  for (size_t ask = 0; got < data.size(); ask = (ask * 3 + 7) % 40) {
    const size_t n = in.read(copied.data() + got, ask);
    ASSERT_EQ(n, std::min(ask, data.size() - got));  // short only at the end
    got += n;
  }
  EXPECT_EQ(in.read(copied.data() + got, 10), 0u);
  copied.resize(got);
  EXPECT_EQ(copied, data);

  ChoppySink out;
  out.put(data[0]);
  out.write(data.data() + 1, 0);
  out.write(data.data() + 1, 17);
  out.write(data.data() + 18, data.size() - 18);
  out.finish();
  EXPECT_EQ(out.data(), data);
}

// Windows that end anywhere (inside an e8 address, a run, a text block's
// input) change nothing in the stream, and the decoder's staged output
// reaches a sink of tiny windows whole, with the right CRC.
TEST(ByteWindows, SessionsAreIndependentOfWindowSizes) {
  struct Case {
    const char* file;
    const char* switches;
  };
  for (const Case& c : {Case{"binary/sum", "-e8f"}, Case{"binary/kennedy-64k.xls", ""},
                        Case{"text/alice29.txt", ""}, Case{"artificial/aaa.txt", "-da"}}) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> data = test::readData(c.file);
    const Settings s = test::settingsFromSwitches(c.switches);
    const std::vector<uint8_t> expected = encodeBuffer(data.data(), data.size(), s);

    ChoppySource in(data);
    MemorySink packed;
    const EncodeDetails er = encodeSession(in, packed, s);
    EXPECT_EQ(packed.data(), expected);

    MemorySource stream(expected.data(), expected.size());
    ChoppySink out;
    const DecodeDetails dr = decodeSession(stream, out);
    EXPECT_TRUE(dr.crcOk());
    EXPECT_EQ(dr.crc, er.crc);
    EXPECT_EQ(out.data(), data);
  }
}

}  // namespace
}  // namespace velt
