// CRC-16/XMODEM of the original bytes (polynomial 0x1021, MSB first, init 0).
// The same table also feeds the model's context hashing.
#pragma once

#include <array>
#include <cstdint>

namespace velt {

constexpr std::array<uint16_t, 256> makeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned v = b << 8;
    for (int i = 0; i < 8; ++i) v = (v & 0x8000) ? ((v << 1) ^ 0x1021) : (v << 1);
    t[b] = static_cast<uint16_t>(v & 0xFFFF);
  }
  return t;
}

inline constexpr std::array<uint16_t, 256> kCrc16Table = makeCrc16Table();

struct Crc16 {
  uint16_t value = 0;
  void update(uint8_t b) {
    value = static_cast<uint16_t>((value << 8) ^ kCrc16Table[((value >> 8) ^ b) & 0xFF]);
  }
};

}  // namespace velt
