// Text encoder: rewrites English or cp866 Russian text block by block into
// textBuffer (double-space merging, line unwrapping, case folding with marker
// bytes, inserted spaces, letter-group codes). The side information of each
// block (line-end codes, space runs) goes straight into the range coder ahead
// of the block's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "container/crc16.h"
#include "container/settings.h"
#include "entropy/range_coder.h"

namespace velt {

class TextEncoder {
 public:
  TextEncoder(ByteSource& in, Crc16& crc, RangeEncoder& coder, const TextFlags& flags);
  ~TextEncoder();

  // Builds the next block; returns true when the input is exhausted (the
  // block is empty). Resets textBufferPos to 0.
  bool fillTextBuffer();

  // The driver reads textBuffer[textBufferPos++] while textBufferPos < textBufferLength,
  // or takes the whole buffer at once by setting textBufferPos to textBufferLength.
  // The pointer stays valid until the next fillTextBuffer.
  const uint8_t* textBuffer() const;
  int32_t textBufferPos = 0x20000;
  int32_t textBufferLength = 0x20000;

  // True when textBufferPos has reached the end of a block. Without
  // unwrapLines a very long block is handed out in several buffers; only the
  // last one ends the block, and only there may run-length and progression
  // coding be cut short.
  bool atBlockEnd() const;

  int64_t consumedChars = 0;
  int64_t producedBytes = 0;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velt
