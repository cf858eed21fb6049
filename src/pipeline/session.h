// The library's inside view of a session: coding with already-checked
// Settings, with the details the tests and fuzzers inspect (settings as used,
// text flags, model counters) and an optional observer of every coding.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "container/settings.h"
#include "entropy/coding_observer.h"
#include "model/counters.h"
#include "model/model.h"
#include "velt/velt.h"

namespace velt {

struct EncodeDetails : EncodeResult {
  int32_t codedLength = 0;
  Settings settings;  // as used (after the analysis)
  TextFlags textFlags;
  int64_t consumedChars = 1;
  int64_t producedBytes = 1;
  ModelCounters counters;
};

struct DecodeDetails : DecodeResult {
  int32_t codedLength = 0;
  Settings settings;
  TextFlags textFlags;
  ModelCounters counters;
};

// Validates `o` (Error(BadParameter) naming the field) and maps it onto the
// header's settings.
Settings settingsFromOptions(const Options& o);

EncodeDetails encodeSession(ByteSource& in, ByteSink& out, const Settings& settings,
                            Reporter* reporter = nullptr, CodingObserver* observer = nullptr);
// A CRC mismatch is reported in the result, never thrown.
DecodeDetails decodeSession(ByteSource& in, ByteSink& out, Reporter* reporter = nullptr,
                            CodingObserver* observer = nullptr);

// Memory forms of the two sessions.
std::vector<uint8_t> encodeBuffer(const uint8_t* data, size_t size, const Settings& settings,
                                  EncodeDetails* details = nullptr);
std::vector<uint8_t> decodeBuffer(const uint8_t* data, size_t size,
                                  DecodeDetails* details = nullptr);

// Both sides build the same model from the same settings.
inline std::unique_ptr<model::Model> setUpModel(const Settings& s, const TextFlags& flags,
                                                Reporter* reporter) {
  model::ModelTextFlags text;
  if (s.textTransform) {
    text.sparsePunctuation = flags.sparsePunctuation;
    text.mostlyLowercase = flags.mostlyLowercase;
    text.crlfLineEnds = flags.crlfLineEnds;
  }
  auto model =
      std::make_unique<model::Model>(s.order, s.pseudoOrder, s.memoryIndex, s.textTransform, text);
  if (reporter) reporter->modelReady(memoryMegabytes(s));
  return model;
}

}  // namespace velt
