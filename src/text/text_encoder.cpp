// Placeholder until the text transform lands.
#include "text/text_encoder.h"

namespace velt {

struct TextEncoder::Impl {};

TextEncoder::TextEncoder(ByteSource& in, Crc16& crc, RangeEncoder& coder, const TextFlags& flags) {
  (void)in, (void)crc, (void)coder, (void)flags;
}
TextEncoder::~TextEncoder() = default;
bool TextEncoder::fillTextBuffer() { return true; }
const uint8_t* TextEncoder::textBuffer() const { return nullptr; }

}  // namespace velt
