// The side information each text block carries ahead of its bytes: the
// block's length in three uniform bytes, its line-end codes and, when double
// spaces are kept apart, its space runs, each list closed by its end symbol.
// Tables, increments, limits and end symbols are part of the stream format,
// so both the text encoder and the text decoder code through this class.
#pragma once

#include <cstdint>

#include "entropy/cumulative_table.h"

namespace velt {

class SideInfoCoder {
 public:
  static constexpr int kLineEndEnd = 8;                  // closes the line-end codes (0..7)
  static constexpr int kSpaceRunEnd = 255;               // closes the space runs (0..254)
  static constexpr uint32_t kMaxBlockLength = 0xFFFFFF;  // three bytes

  template <class Coder>
  uint32_t codeBlockLength(Coder& rc, uint32_t n) {
    uint32_t v = codeUniform(rc, n >> 16, 256);
    v = (v << 8) | codeUniform(rc, (n >> 8) & 0xFF, 256);
    return (v << 8) | codeUniform(rc, n & 0xFF, 256);
  }

  template <class Coder>
  int codeLineEnd(Coder& rc, int code) {
    code = lineEnds_.code(rc, code);
    lineEnds_.update(code, kLineEndIncrement, kLimit);
    return code;
  }

  template <class Coder>
  int codeSpaceRun(Coder& rc, int run) {
    run = spaceRuns_.code(rc, run);
    spaceRuns_.update(run, kSpaceRunIncrement, kLimit);
    return run;
  }

 private:
  static constexpr int32_t kLineEndIncrement = 100;
  static constexpr int32_t kSpaceRunIncrement = 10;
  static constexpr int32_t kLimit = 16382;

  CumulativeTable<kLineEndEnd + 2> lineEnds_;
  CumulativeTable<kSpaceRunEnd + 2> spaceRuns_;
};

}  // namespace velt
