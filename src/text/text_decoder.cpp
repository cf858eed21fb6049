// Placeholder until the text transform lands.
#include "text/text_decoder.h"

namespace velt {

struct TextDecoder::Impl {};

TextDecoder::TextDecoder(ByteSink& out, Crc16& crc, RangeDecoder& coder, const TextFlags& flags,
                         int32_t codedLength) {
  (void)out, (void)crc, (void)coder, (void)flags, (void)codedLength;
}
TextDecoder::~TextDecoder() = default;
void TextDecoder::start() {}
void TextDecoder::putDecodedByte(uint8_t b, int32_t passed) { (void)b, (void)passed; }
void TextDecoder::finishTextOutput() {}
int64_t TextDecoder::bytesWritten() const { return 0; }

}  // namespace velt
