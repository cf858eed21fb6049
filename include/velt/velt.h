// Public interface of the Velt codec library.
//
// Threading: one call is one session. A session owns its model, coder, tables
// and buffers and the library holds no mutable global state, so any number of
// calls may run at once on different threads; one ByteSource, ByteSink or
// Reporter must not be shared between sessions running at the same time.
//
// The library never prints, never opens files by name and never exits: it
// reports structured events through a Reporter and fails by throwing
// velt::Error, whose kind() says what went wrong. Out of memory surfaces as
// std::bad_alloc; an exception thrown by a Reporter or a ByteSource/ByteSink
// leaves the session through the same call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "velt/export.h"
#include "velt/io.h"

namespace velt {

// The library's version, "major.minor.patch".
VELT_API const char* version();

enum class Stage : uint8_t { Off, Smart, Forced };

// How to compress. Every field is checked before any output is written; a
// value out of range fails with ErrorKind::BadParameter naming the field.
struct Options {
  int order = 5;                     // 4..7; 8 and 9 are pseudo orders: order 7 with a wider hash
  int memoryMb = 20;                 // model memory: 10..50 in steps of 5
  bool analysis = true;              // false: no text transform and no e8 transform
  int textMode = 0;                  // variant of the text transform: 0 or 1
  int runLength = 4;                 // run-length threshold: 3 or 4, or 0 for off
  Stage interleaved = Stage::Smart;  // progressions and 16/32-bit repeats
  Stage e8 = Stage::Smart;           // x86 call addresses; Smart: when the input looks executable
                                     // (Forced needs analysis: it would be ignored without)
};

enum class ErrorKind {
  BadParameter,     // an Options field out of range, or a null buffer (message names which)
  NotCompressed,    // the input does not start with Velt's magic bytes
  BadHeader,        // a header no encoder can have written
  Corrupt,          // an impossible value while decoding
  CrcMismatch,      // decoded data fails the stored CRC (decompress() only)
  InputTooLarge,    // 2^31 bytes or more
  Unrepresentable,  // a model total the coder cannot split (never seen in practice)
  Io,               // a ByteSource or ByteSink failed
};

// A short stable name for a kind, e.g. "corrupt data".
VELT_API const char* errorName(ErrorKind kind);

class VELT_API Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// What the analysis found before encoding.
enum class InputKind { Executable, NotText, EnglishText, RussianText };

// Structured events of a session, in the order they happen. The default
// implementation ignores them; a front end words them.
class VELT_API Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void analysed(InputKind kind) { (void)kind; }
  // The model is built with this many megabytes of memory; coding starts.
  virtual void modelReady(int megabytes) { (void)megabytes; }
  // Share of the work done, 0..100.
  virtual void progress(double percent) { (void)percent; }
};

struct EncodeResult {
  int64_t originalSize = 0;
  int64_t compressedSize = 0;  // header included
  uint16_t crc = 0;            // CRC-16 of the original bytes
};

struct DecodeResult {
  int64_t compressedSize = 0;
  int64_t extractedSize = 0;
  uint16_t storedCrc = 0;
  uint16_t crc = 0;
  bool crcOk() const { return storedCrc == crc; }
};

// Largest input the format can describe (its counters are signed 32-bit).
inline constexpr int64_t kMaxInputSize = INT32_MAX;

// Throws Error(BadParameter) naming the first field out of range.
VELT_API void validate(const Options& options);

// Compresses all of `in` into `out`: header, body, then the header's CRC and
// length patched in. `in` is read twice (analysis, then coding), so it must
// rewind. Throws Error.
VELT_API EncodeResult encodeStream(ByteSource& in, ByteSink& out, const Options& options,
                                   Reporter* reporter = nullptr);

// Restores `in` into `out`. The header is read and checked before the first
// byte goes to `out`. A CRC mismatch is not thrown here: check crcOk().
VELT_API DecodeResult decodeStream(ByteSource& in, ByteSink& out, Reporter* reporter = nullptr);

// Conveniences over memory buffers. decompress() throws Error(CrcMismatch)
// when the restored bytes fail the stored CRC. `data` may be null only when
// `size` is 0 (else Error(BadParameter)).
VELT_API std::vector<uint8_t> compress(const uint8_t* data, size_t size,
                                       const Options& options = {}, EncodeResult* result = nullptr);
VELT_API std::vector<uint8_t> decompress(const uint8_t* data, size_t size,
                                         DecodeResult* result = nullptr);

}  // namespace velt
