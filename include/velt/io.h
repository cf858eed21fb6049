// Buffered byte windows for the codec's input and output.
// Per-byte access is an inlined pointer step; a virtual refill or flush runs
// once per buffer. Files are implemented by the front end; memory buffers here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "velt/export.h"

namespace velt {

class VELT_API ByteSource {
 public:
  static constexpr int kEnd = -1;

  virtual ~ByteSource() = default;

  // Next byte (0..255) or kEnd. Read errors are reported by the refill as end
  // of input or by throwing, at the implementation's choice.
  int get() {
    if (cur_ < end_) return *cur_++;
    return slowGet();
  }

  // Bulk reading: hands over the unread rest of the window, refilled first
  // when it is used up, as [begin, end); those bytes count as read and stay
  // valid until the next call on this source. False at the end of input.
  bool takeWindow(const uint8_t*& begin, const uint8_t*& end) {
    if (cur_ >= end_ && (!refill() || cur_ >= end_)) return false;
    begin = cur_;
    end = end_;
    cur_ = end_;
    return true;
  }

  // Copies up to `size` bytes to `data`; fewer only at the end of input.
  size_t read(uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      if (cur_ >= end_ && (!refill() || cur_ >= end_)) break;
      const size_t left = size - done;
      const size_t here = static_cast<size_t>(end_ - cur_);
      const size_t n = left < here ? left : here;
      std::memcpy(data + done, cur_, n);
      cur_ += n;
      done += n;
    }
    return done;
  }

  // Total length of the source in bytes.
  virtual int64_t size() = 0;
  // Back to the first byte.
  virtual void rewind() = 0;

 protected:
  // Makes [cur_, end_) the next window; returns false at the end.
  virtual bool refill() = 0;

  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;

 private:
  int slowGet() {
    if (!refill() || cur_ >= end_) return kEnd;
    return *cur_++;
  }
};

class VELT_API ByteSink {
 public:
  virtual ~ByteSink() = default;

  void put(uint8_t b) {
    if (cur_ == end_) flushWindow();
    *cur_++ = b;
  }

  // The same as put() on each byte in turn.
  void write(const uint8_t* data, size_t size) {
    while (size != 0) {
      if (cur_ == end_) flushWindow();
      const size_t room = static_cast<size_t>(end_ - cur_);
      const size_t n = size < room ? size : room;
      std::memcpy(cur_, data, n);
      cur_ += n;
      data += n;
      size -= n;
    }
  }

  // Overwrites bytes already written at `offset` (used to complete the header).
  virtual void patch(int64_t offset, const uint8_t* data, size_t size) = 0;
  // Pushes everything out; returns the total number of bytes written.
  virtual int64_t finish() = 0;

 protected:
  // Empties the window [begin_, cur_) and provides a fresh one.
  virtual void flushWindow() = 0;

  uint8_t* begin_ = nullptr;
  uint8_t* cur_ = nullptr;
  uint8_t* end_ = nullptr;
};

class VELT_API MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) { rewind(); }
  int64_t size() override { return static_cast<int64_t>(size_); }
  void rewind() override {
    cur_ = data_;
    end_ = data_ + size_;
  }

 protected:
  bool refill() override { return false; }

 private:
  const uint8_t* data_;
  size_t size_;
};

class VELT_API MemorySink final : public ByteSink {
 public:
  MemorySink() { flushWindow(); }
  void patch(int64_t offset, const uint8_t* data, size_t size) override;
  int64_t finish() override;
  // Valid after finish().
  std::vector<uint8_t>& data() { return data_; }

 protected:
  void flushWindow() override;

 private:
  std::vector<uint8_t> data_;
  size_t used_ = 0;  // bytes of data_ that hold output
};

}  // namespace velt
