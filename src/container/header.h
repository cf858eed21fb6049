// Stream header: magic "vT", CRC-16, codedLength, settings byte, mode byte,
// then, for text streams, the text flags byte and (when unwrapLines is set)
// wrapWidth and doubleSpaces. Multi-byte fields are little-endian.
#pragma once

#include <cstdint>

#include "container/settings.h"

namespace velt {

inline constexpr uint8_t kMagic[2] = {0x76, 0x54};  // "vT"
inline constexpr int kHeaderCrcOffset = 2;
inline constexpr int kHeaderBaseSize = 10;

uint8_t settingsByte(const Settings& s);
uint8_t modeByte(const Settings& s);
uint8_t textFlagsByte(const TextFlags& f);

// Writes the header with zero placeholders for CRC and codedLength.
// Returns the number of bytes written (10, 11 or 13).
int writeStreamHeader(ByteSink& out, const Settings& s, const TextFlags& f);

// Completes the header once the body is written.
void patchStreamHeader(ByteSink& out, uint16_t crc, int32_t codedLength);

struct ParsedHeader {
  uint16_t storedCrc = 0;
  int32_t codedLength = 0;
  Settings settings;
  TextFlags textFlags;
  int size = 0;
};

// Reads and validates a header from the start of `in`; throws
// Error(NotCompressed) when the magic is missing and Error(BadHeader) for
// anything else an encoder cannot have written.
ParsedHeader readStreamHeader(ByteSource& in);

}  // namespace velt
