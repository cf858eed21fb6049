// The byte history both the model and the pre-model stages read: the model
// takes its contexts from it, run-length and interleaved coding their
// triggers. It lives apart from the model so the stages need only this.
#pragma once

#include <cstdint>
#include <cstring>

namespace velt::model {

// The ten most recent bytes the model coded or interleaved coding predicted,
// newest first.
struct History {
  uint8_t h[10] = {1, 2, 4, 8, 16, 32, 64, 0, 0, 0};
  void push(uint8_t b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t low;  // h[0..7]: one shift instead of a library call
    std::memcpy(&low, h, 8);
    h[9] = h[8];
    h[8] = h[7];
    low = (low << 8) | b;
    std::memcpy(h, &low, 8);
#else
    std::memmove(h + 1, h, 9);
    h[0] = b;
#endif
  }
  uint8_t operator[](int i) const { return h[i]; }
};

}  // namespace velt::model
