// Text decoder: the mirror of the text encoder. It takes every byte the
// decoding driver produces, undoes the letter-group codes, the case markers
// and inserted spaces, restores line ends and doubled spaces, and writes the
// text (feeding the CRC) to the output.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "container/crc16.h"
#include "container/settings.h"
#include "entropy/range_coder.h"
#include "text/ngram.h"

namespace velt {

class TextDecoder {
 public:
  TextDecoder(ByteSink& out, Crc16& crc, RangeDecoder& coder, const TextFlags& flags,
              int32_t codedLength);
  ~TextDecoder();

  // Decoder set-up: with unwrapLines, starts the range decoder and reads the
  // first block's side information.
  void start();

  // Every decoded byte, in order; `passed` is the number of bytes the driver
  // has already counted (so b is the stream's last byte when passed == codedLength - 1).
  // Inline: it runs once a byte, in the driver's loop.
  void putDecodedByte(uint8_t b, int32_t passed) {
    // The buffer always has room for four more bytes: a checkpoint comes first.
    const text::CodeMap::Expansion& e = codeMap_(hot_.codeEscapePending, b);
    std::memcpy(hot_.data + hot_.fill, e.bytes, 4);
    hot_.fill += e.length;
    hot_.codeEscapePending = e.length == 0;
    if (--hot_.untilCheck == 0) checkpoint(passed);
  }

  // After the last byte: restores whatever is still staged.
  void finishTextOutput();

  // Bytes written to the output so far.
  int64_t bytesWritten() const;

 private:
  // What putDecodedByte touches: the stage-2 expansion of each byte goes to
  // data[fill..]; the rest of the decoder runs at checkpoints.
  struct Staging {
    uint8_t* data = nullptr;
    size_t fill = 0;
    bool codeEscapePending = false;
    int64_t untilCheck = 1;  // coded bytes to the next checkpoint
  };
  [[gnu::noinline]] void checkpoint(int32_t passed);

  struct Impl;
  Staging hot_;
  const text::CodeMap codeMap_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velt
