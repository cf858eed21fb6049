// Session entry points (temporary: the drivers land with the model).
#include "container/header.h"
#include "velt/velt.h"

namespace velt {

void throwCorrupt() { throw Error(ErrorKind::Corrupt, kCorruptMessage); }

EncodeResult encodeStream(ByteSource& in, ByteSink& out, const Settings& settings,
                          Reporter* reporter, CodingObserver* observer) {
  (void)reporter, (void)observer;
  EncodeResult r;
  r.settings = settings;
  r.settings.textTransform = false;
  r.settings.e8Enabled = false;
  r.originalSize = in.size();
  writeStreamHeader(out, r.settings, r.textFlags);
  patchStreamHeader(out, 0, 0);
  r.compressedSize = out.finish();
  return r;
}

DecodeResult decodeStream(ByteSource& in, ByteSink& out, Reporter* reporter,
                          CodingObserver* observer) {
  (void)reporter, (void)observer;
  DecodeResult r;
  r.compressedSize = in.size();
  ParsedHeader h = readStreamHeader(in);
  r.settings = h.settings;
  r.storedCrc = h.storedCrc;
  r.codedLength = h.codedLength;
  out.finish();
  return r;
}

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
