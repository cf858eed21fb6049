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
    std::memmove(h + 1, h, 9);
    h[0] = b;
  }
  uint8_t operator[](int i) const { return h[i]; }
};

}  // namespace velt::model
