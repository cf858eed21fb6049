// CRC-16/XMODEM of the original bytes (polynomial 0x1021, MSB first, init 0).
// The same table also feeds the model's context hashing.
#pragma once

#include <array>
#include <cstddef>
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

// Entry k of a slice is the register after a byte followed by k zero bytes,
// so eight bytes fold into the register with eight independent lookups.
constexpr std::array<std::array<uint16_t, 256>, 8> makeCrc16Slices() {
  std::array<std::array<uint16_t, 256>, 8> t{};
  t[0] = makeCrc16Table();
  for (int k = 1; k < 8; ++k) {
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned v = t[k - 1][b];
      t[k][b] = static_cast<uint16_t>(((v << 8) & 0xFFFF) ^ t[0][v >> 8]);
    }
  }
  return t;
}

inline constexpr std::array<std::array<uint16_t, 256>, 8> kCrc16Slices = makeCrc16Slices();
// The byte-at-a-time table is the first slice.
inline constexpr const std::array<uint16_t, 256>& kCrc16Table = kCrc16Slices[0];

struct Crc16 {
  uint16_t value = 0;
  void update(uint8_t b) {
    value = static_cast<uint16_t>((value << 8) ^ kCrc16Table[((value >> 8) ^ b) & 0xFF]);
  }
  // The same as update() on each byte in turn.
  void update(const uint8_t* p, size_t n) {
    const auto& t = kCrc16Slices;
    unsigned r = value;
    for (; n >= 8; n -= 8, p += 8) {
      r = t[7][(r >> 8) ^ p[0]] ^ t[6][(r & 0xFF) ^ p[1]] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n != 0; --n, ++p) r = ((r << 8) & 0xFFFF) ^ t[0][(r >> 8) ^ *p];
    value = static_cast<uint16_t>(r);
  }
};

}  // namespace velt
