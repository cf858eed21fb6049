// Decodes arbitrary bytes. Every input must end in a result or velt::Error
// (Corrupt or BadHeader); the sanitizers catch anything else. The output may
// never exceed what the header's codedLength allows.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "pipeline/session.h"
#include "velt/velt.h"

namespace {

int32_t headerCodedLength(const uint8_t* data, size_t size) {
  if (size < 8) return -1;
  uint32_t n;
  std::memcpy(&n, data + 4, 4);  // little-endian hosts only
  return static_cast<int32_t>(n);
}

// The text transform expands: a code stands for up to four characters, each
// of which may gain a carriage return and a doubled space.
int64_t outputBound(int32_t codedLength, bool text) {
  return text ? 16 * int64_t(codedLength) + 16 : int64_t(codedLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
  using namespace velt;
  // Valid memory indices 1..8 only resize the model, which these short
  // inputs never fill; decoding them as index 0 (10 MB) is several times
  // faster under ASan. Invalid indices (9..15) stay to reach the header check.
  std::vector<uint8_t> copy(raw, raw + size);
  if (size > 8 && (copy[8] & 15) <= 8) copy[8] &= 0xF0;
  const uint8_t* data = copy.data();
  const int32_t codedLength = headerCodedLength(data, size);
  try {
    DecodeDetails r;
    int64_t produced;
    if (codedLength >= 0 && codedLength <= (1 << 20)) {
      // Small claims go through the memory convenience the tests use.
      std::vector<uint8_t> out = decodeBuffer(data, size, &r);
      produced = static_cast<int64_t>(out.size());
      if (produced != r.extractedSize) fuzz::fail("decompress size differs from extractedSize");
    } else {
      MemorySource in(data, size);
      fuzz::CountingSink out;
      r = decodeSession(in, out);
      produced = r.extractedSize;
    }
    if (r.codedLength != codedLength) fuzz::fail("result codedLength differs from the header");
    if (produced > outputBound(r.codedLength, r.settings.textTransform))
      fuzz::fail("output larger than codedLength allows");
    if (!r.settings.textTransform && produced != r.codedLength)
      fuzz::fail("non-text stream ended with output size != codedLength");
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::Corrupt && e.kind() != ErrorKind::BadHeader &&
        e.kind() != ErrorKind::NotCompressed)
      fuzz::fail("decoder threw an error kind other than Corrupt, BadHeader or NotCompressed");
  }
  return 0;
}
