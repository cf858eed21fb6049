// The settings a stream is coded with, as the header carries them, and the
// library's internal error helpers. Public Options are turned into Settings
// once, after validation; everything below the pipeline reads only Settings.
#pragma once

#include <cstdint>

#include "velt/velt.h"

namespace velt {

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
};

inline int memoryMegabytes(const Settings& s) { return 10 + 5 * s.memoryIndex; }

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

inline constexpr const char* kCorruptMessage = "Input data corrupt";
inline constexpr const char* kBadHeaderMessage = "Unknown switch in the header";

[[noreturn]] void throwCorrupt();

}  // namespace velt
