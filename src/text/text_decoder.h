// Text decoder: the mirror of the text encoder. It takes every byte the
// decoding driver produces, undoes the letter-group codes, the case markers
// and inserted spaces, restores line ends and doubled spaces, and writes the
// text (feeding the CRC) to the output.
#pragma once

#include <cstdint>
#include <memory>

#include "container/crc16.h"
#include "container/settings.h"
#include "entropy/range_coder.h"

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
  void putDecodedByte(uint8_t b, int32_t passed);

  // After the last byte: restores whatever is still staged.
  void finishTextOutput();

  // Bytes written to the output so far.
  int64_t bytesWritten() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velt
