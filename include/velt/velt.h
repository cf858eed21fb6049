// Public interface of the Velt codec library.
// One encodeStream/decodeStream call is one session: it owns its model, coder,
// tables and buffers, so any number of sessions may run in one process.
// The library never prints, never opens files by name and never exits; it
// reports through a Reporter and fails by throwing velt::Error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "velt/io.h"

namespace velt {

// The run's settings; defaults are the command line's defaults.
struct Settings {
  uint8_t order = 5;        // 4..7, highest context level
  uint8_t pseudoOrder = 0;  // 0 plain, 1 pseudo order 8, 2 pseudo order 9 (order 7)
  uint8_t memoryIndex = 2;  // model memory is 10 + 5 * memoryIndex megabytes
  bool textTransform = true;
  uint8_t textMode = 0;  // 0 or 1
  bool e8Enabled = true;
  bool e8Forced = false;
  bool rleEnabled = true;
  uint8_t rleThreshold = 4;  // 3 or 4
  bool interleaved = true;
  bool interleavedForced = false;
  bool verbose = true;
};

// Results of the input analysis that steer the text transform; they travel
// in the header's text flags byte (and wrapWidth/doubleSpaces).
struct TextFlags {
  uint8_t textMode = 0;
  uint8_t softLineBreaks = 1;
  uint8_t crlfLineEnds = 0;
  uint8_t sparsePunctuation = 0;
  uint8_t english = 0;
  uint8_t russian = 0;
  uint8_t mostlyLowercase = 0;
  uint8_t unwrapLines = 0;
  uint8_t wrapWidth = 59;
  uint8_t doubleSpaces = 0;
};

enum class ErrorKind {
  Corrupt,      // "Input data corrupt": impossible value while decoding
  BadHeader,    // "Unknown switch in the header"
  InputTooLarge,
  Unrepresentable,  // a model total the coder cannot split (never seen in practice)
  Io,           // a read or write failed
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

inline constexpr const char* kCorruptMessage = "Input data corrupt";
inline constexpr const char* kBadHeaderMessage = "Unknown switch in the header";

[[noreturn]] void throwCorrupt();

// Console side of a session. The codec calls these in the order the user
// sees them; the default implementation discards everything.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // Informational text ("Using 20 Mb memory model\n\n", analysis lines, ...).
  virtual void info(const char* text) { (void)text; }
  // Progress percentage, 0..100.
  virtual void progress(double percent) { (void)percent; }
};

// Test-only view into the drivers: which coder handled which bytes, and
// every interval handed to the range coder.
class CodingObserver {
 public:
  virtual ~CodingObserver() = default;
  virtual void modelByte(uint8_t byte) { (void)byte; }
  virtual void runLength(int length) { (void)length; }
  virtual void progressionLength(int length) { (void)length; }
  virtual void repeatDecision(bool hit) { (void)hit; }
  virtual void interleaveSwitchedOff(int32_t atSymbol) { (void)atSymbol; }
  virtual void interval(uint32_t cumLow, uint32_t freq, uint32_t total) {
    (void)cumLow;
    (void)freq;
    (void)total;
  }
};

// Counters a session exposes so tests can see that rare paths really ran.
struct ModelCounters {
  uint64_t garbageCollections = 0;
  uint64_t poolExtensions = 0;
};

struct EncodeResult {
  int64_t originalSize = 0;
  int64_t compressedSize = 0;  // header included
  int32_t codedLength = 0;
  uint16_t crc = 0;
  Settings settings;  // as used (after the analysis)
  TextFlags textFlags;
  int64_t consumedChars = 1;
  int64_t producedBytes = 1;
  ModelCounters counters;
};

struct DecodeResult {
  int64_t compressedSize = 0;
  int64_t extractedSize = 0;
  int32_t codedLength = 0;
  uint16_t storedCrc = 0;
  uint16_t crc = 0;
  bool crcOk() const { return storedCrc == crc; }
  Settings settings;
  TextFlags textFlags;
  ModelCounters counters;
};

// Largest input the format can describe (its counters are signed 32-bit).
inline constexpr int64_t kMaxInputSize = INT32_MAX;

// Compresses all of `in` into `out` (header, body, then the header's CRC and
// length are patched in). Throws Error.
EncodeResult encodeStream(ByteSource& in, ByteSink& out, const Settings& settings,
                          Reporter* reporter = nullptr, CodingObserver* observer = nullptr);

// Restores `in` into `out`. A CRC mismatch is reported in the result, not thrown.
DecodeResult decodeStream(ByteSource& in, ByteSink& out, Reporter* reporter = nullptr,
                          CodingObserver* observer = nullptr);

// Conveniences over memory buffers.
std::vector<uint8_t> compress(const uint8_t* data, size_t size, const Settings& settings,
                              EncodeResult* result = nullptr);
std::vector<uint8_t> decompress(const uint8_t* data, size_t size, DecodeResult* result = nullptr);

}  // namespace velt
