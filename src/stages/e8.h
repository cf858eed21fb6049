// E8 transform: the four bytes after an x86 call opcode become an absolute
// position, which the model predicts far better than the relative one.
// The two maps are inverse to each other whenever 1 <= pos < size.
#pragma once

#include <cstdint>

namespace velt {

inline int32_t e8Forward(int32_t v, int32_t pos, int32_t size) {
  if (-pos < v && v < size - pos) return v + pos;
  if (0 < v && v < size) return v + 1 - size;
  return v;
}

inline int32_t e8Inverse(int32_t w, int32_t pos, int32_t size) {
  if (0 < w && w < size) return w - pos;
  if (-pos < w && w <= 0) return w + size - 1;
  return w;
}

// A group of up to four bytes after an 0xE8, being taken (encoder) or
// collected (decoder).
struct E8Group {
  int pending = 0;
  int collected = 0;
  uint8_t bytes[4] = {};
};

}  // namespace velt
