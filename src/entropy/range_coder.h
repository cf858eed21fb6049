// Carryless range coder: 32-bit registers, Top 2^24, Bottom 2^15.
// Invariants: after every normalisation range >= Bottom, so any total in
// 1..32768 leaves range / total >= 1. Bytes go out most significant first and
// never need a carry; the decoder reads exactly the bytes the encoder wrote.
#pragma once

#include <cassert>
#include <cstdint>

#include "container/settings.h"
#include "entropy/coding_observer.h"

namespace velt {

inline constexpr uint32_t kRangeTop = 1u << 24;
inline constexpr uint32_t kRangeBottom = 1u << 15;
// A valid body never makes the decoder read past its end; allow a little
// slack before calling the stream corrupt so truncation cannot run away.
inline constexpr int kMaxOverrunBytes = 8;

// Whether the registers need no normalisation: most codings emit no byte, and
// testing that on the values in hand saves reloading the members, which any
// byte store (the model's, the sink's) could alias.
inline bool normalized(uint32_t low, uint32_t range) {
  return (low ^ (low + range)) >= kRangeTop && range >= kRangeBottom;
}

class RangeEncoder {
 public:
  RangeEncoder(ByteSink& out, CodingObserver* observer) : out_(out), observer_(observer) {}

  void encode(uint32_t cumLow, uint32_t freq, uint32_t total) {
    assert(freq >= 1 && cumLow + freq <= total);
    if (observer_) observer_->interval(cumLow, freq, total);
    uint32_t r = range_ / total;
    // A total above the range would leave nothing to code with and the
    // normalisation would never end; fail loudly rather than hang.
    if (r == 0) throwUnrepresentable();
    const uint32_t low = low_ + cumLow * r;
    const uint32_t range = freq * r;
    low_ = low;
    range_ = range;
    if (!normalized(low, range)) normalize();
  }

  // Emits settled top bytes; shrinks the range instead of carrying.
  void normalize() {
    while (true) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) break;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      out_.put(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
      range_ <<= 8;
    }
  }

  // Test access: puts the registers in a given state.
  void setState(uint32_t low, uint32_t range) {
    low_ = low;
    range_ = range;
  }

  void flush() {
    for (int i = 0; i < 4; ++i) {
      out_.put(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }

  uint32_t low() const { return low_; }

  [[noreturn]] static void throwUnrepresentable() {
    throw Error(ErrorKind::Unrepresentable,
                "Internal error: a model total exceeds the coder's range; input not compressed");
  }
  uint32_t range() const { return range_; }

 private:
  ByteSink& out_;
  CodingObserver* observer_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

class RangeDecoder {
 public:
  explicit RangeDecoder(ByteSource& in) : in_(in) {}

  // Reads the first four body bytes; later calls do nothing.
  void start() {
    if (started_) return;
    started_ = true;
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | nextByte();
  }

  // Target for `total`; the caller must check it against the total.
  uint32_t decodeTarget(uint32_t total) {
    divideRange(total);
    return (code_ - low_) / range_;
  }

  // decodeTarget that raises the corrupt-data error for a target >= total.
  uint32_t checkedTarget(uint32_t total) {
    uint32_t v = decodeTarget(total);
    if (v >= total) throwCorrupt();
    return v;
  }

  // The target without its division: the target is below x exactly when
  // the offset returned is below x * unit(), and x * unit() <= range for
  // any x <= total. Raises the corrupt-data error for a target >= total.
  uint32_t scaledTarget(uint32_t total) {
    divideRange(total);
    const uint32_t offset = code_ - low_;
    if (offset >= total * range_) throwCorrupt();
    return offset;
  }
  uint32_t unit() const { return range_; }

  void decodeUpdate(uint32_t cumLow, uint32_t freq) {
    const uint32_t low = low_ + cumLow * range_;
    const uint32_t range = freq * range_;
    low_ = low;
    range_ = range;
    if (normalized(low, range)) return;
    while (true) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) break;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      code_ = (code_ << 8) | nextByte();
      low_ <<= 8;
      range_ <<= 8;
    }
  }

  int overrun() const { return overrun_; }

 private:
  // The range becomes the width of one of `total` units; none left is corrupt data.
  void divideRange(uint32_t total) {
    if (total == 0) throwCorrupt();
    const uint32_t r = range_ / total;
    if (r == 0) throwCorrupt();
    range_ = r;
  }

  uint32_t nextByte() {
    int b = in_.get();
    if (b >= 0) return static_cast<uint32_t>(b);
    if (++overrun_ > kMaxOverrunBytes) throwCorrupt();
    return 0xFF;
  }

  ByteSource& in_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
  int overrun_ = 0;
  bool started_ = false;
};

}  // namespace velt
