// Compresses arbitrary bytes with switches taken from the first two input
// bytes and checks that decoding restores them exactly, with the CRC right,
// and that compressing twice gives the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "pipeline/session.h"
#include "velt/velt.h"

namespace {

// Byte 0: order (4..7, pseudo 8, pseudo 9), RLE (3, 4, off).
// Byte 1: interleaved (smart, forced, off), e8 (smart, forced, off),
//         analysis off (-da), text mode 0/1.
velt::Settings settingsFrom(uint8_t a, uint8_t b) {
  velt::Settings s;
  s.memoryIndex = 0;  // 10 MB keeps each run fast
  const int order = a % 6;
  if (order < 4) {
    s.order = static_cast<uint8_t>(4 + order);
  } else {
    s.order = 7;
    s.pseudoOrder = static_cast<uint8_t>(order - 3);
  }
  switch ((a / 6) % 3) {
    case 0: s.rleThreshold = 3; break;
    case 1: s.rleThreshold = 4; break;
    default: s.rleEnabled = false;
  }
  switch (b % 3) {
    case 0: break;
    case 1: s.interleavedForced = true; break;
    default: s.interleaved = false;
  }
  switch ((b / 3) % 3) {
    case 0: break;
    case 1: s.e8Forced = true; break;
    default: s.e8Enabled = false;
  }
  if ((b / 9) & 1) {
    s.textTransform = false;
    s.e8Enabled = false;
  }
  s.textMode = static_cast<uint8_t>((b / 18) & 1);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velt;
  if (size < 2) return 0;
  const Settings s = settingsFrom(data[0], data[1]);
  const uint8_t* body = data + 2;
  const size_t n = size - 2;

  EncodeDetails er;
  const std::vector<uint8_t> packed = encodeBuffer(body, n, s, &er);
  if (er.originalSize != static_cast<int64_t>(n)) fuzz::fail("originalSize differs from input");
  if (er.compressedSize != static_cast<int64_t>(packed.size()))
    fuzz::fail("compressedSize differs from output");
  if (encodeBuffer(body, n, s) != packed) fuzz::fail("compressing twice gave different bytes");

  DecodeDetails dr;
  std::vector<uint8_t> restored;
  try {
    restored = decodeBuffer(packed.data(), packed.size(), &dr);
  } catch (const Error&) {
    fuzz::fail("decoder rejected the encoder's own output");
  }
  if (restored.size() != n || (n && std::memcmp(restored.data(), body, n) != 0))
    fuzz::fail("round trip is not exact");
  if (!dr.crcOk()) fuzz::fail("CRC mismatch on the encoder's own output");
  return 0;
}
