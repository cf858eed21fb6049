// Adaptive cumulative frequency table for the small alphabets outside the
// PPM model (run lengths, progression lengths, the text side information).
// C[0] = 0, C[N-1] is the total; symbol s owns [C[s], C[s+1]).
//
// Every coding here has one form for both sides: code(RangeEncoder&, s)
// writes s and returns it, code(RangeDecoder&, ignored) returns what it
// reads. Callers write each decision once over a Coder type parameter.
#pragma once

#include <algorithm>
#include <cstdint>

#include "entropy/range_coder.h"

namespace velt {

template <int N>
class CumulativeTable {
 public:
  static constexpr int kEntries = N;
  static constexpr int kSymbols = N - 1;

  CumulativeTable() { reset(); }

  void reset() {
    for (int k = 0; k < N; ++k) c_[k] = k;
  }

  int32_t total() const { return c_[N - 1]; }
  int32_t operator[](int k) const { return c_[k]; }

  void encodeSymbol(RangeEncoder& rc, int s) const {
    rc.encode(static_cast<uint32_t>(c_[s]), static_cast<uint32_t>(c_[s + 1] - c_[s]),
              static_cast<uint32_t>(c_[N - 1]));
  }

  int decodeSymbol(RangeDecoder& rc) const {
    const uint32_t v = rc.checkedTarget(static_cast<uint32_t>(c_[N - 1]));
    // The first k >= 1 with C[k] > v, as an upward scan finds it; C never
    // decreases, so bisection gives the same k (long run lengths sit high
    // in a table of 192).
    const int k = static_cast<int>(std::upper_bound(c_ + 1, c_ + N, static_cast<int32_t>(v)) - c_);
    const int s = k - 1;
    rc.decodeUpdate(static_cast<uint32_t>(c_[s]), static_cast<uint32_t>(c_[s + 1] - c_[s]));
    return s;
  }

  int code(RangeEncoder& rc, int s) const {
    encodeSymbol(rc, s);
    return s;
  }
  int code(RangeDecoder& rc, int) const { return decodeSymbol(rc); }

  void addToSymbol(int s, int32_t increment) {
    for (int k = s + 1; k < N; ++k) c_[k] += increment;
  }

  void halveTable() {
    int32_t e = 0, p = 0;
    for (int k = 1; k < N; ++k) {
      int32_t x = c_[k] + e;
      bool wasZero = (x == p);
      p = x;
      c_[k] = x >> 1;
      if (!wasZero && c_[k] <= c_[k - 1]) {
        c_[k] += 1;
        p += 2;
        e += 2;
      }
    }
  }

  // The common calling order: code, add the increment, halve above the limit.
  void update(int s, int32_t increment, int32_t limit) {
    addToSymbol(s, increment);
    if (c_[N - 1] > limit) halveTable();
  }

  // Test access.
  void set(int k, int32_t v) { c_[k] = v; }

 private:
  int32_t c_[N];
};

// A value in [0, total) with every value equally likely.
inline uint32_t codeUniform(RangeEncoder& rc, uint32_t v, uint32_t total) {
  rc.encode(v, 1, total);
  return v;
}
inline uint32_t codeUniform(RangeDecoder& rc, uint32_t, uint32_t total) {
  const uint32_t v = rc.checkedTarget(total);
  rc.decodeUpdate(v, 1);
  return v;
}

// A yes/no decision: yes owns [0, yes), no owns [yes, total).
inline bool codeChoice(RangeEncoder& rc, bool choice, uint32_t yes, uint32_t total) {
  if (choice) rc.encode(0, yes, total);
  else rc.encode(yes, total - yes, total);
  return choice;
}
inline bool codeChoice(RangeDecoder& rc, bool, uint32_t yes, uint32_t total) {
  const bool choice = rc.checkedTarget(total) < yes;
  if (choice) rc.decodeUpdate(0, yes);
  else rc.decodeUpdate(yes, total - yes);
  return choice;
}

}  // namespace velt
