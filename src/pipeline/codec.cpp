// Library-wide helpers and the memory conveniences over the two drivers.
#include "velt/velt.h"

namespace velt {

void throwCorrupt() { throw Error(ErrorKind::Corrupt, kCorruptMessage); }

std::vector<uint8_t> compress(const uint8_t* data, size_t size, const Settings& settings,
                              EncodeResult* result) {
  MemorySource in(data, size);
  MemorySink out;
  EncodeResult r = encodeStream(in, out, settings);
  if (result) *result = r;
  return std::move(out.data());
}

std::vector<uint8_t> decompress(const uint8_t* data, size_t size, DecodeResult* result) {
  MemorySource in(data, size);
  MemorySink out;
  DecodeResult r = decodeStream(in, out);
  if (result) *result = r;
  return std::move(out.data());
}

}  // namespace velt
