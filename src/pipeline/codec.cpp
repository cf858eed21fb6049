// The public entry points over the two sessions: option checks, error names
// and the memory conveniences.
#include <string>

#include "pipeline/session.h"
#include "velt/velt.h"

#ifndef VELT_VERSION
#error "VELT_VERSION comes from the build (project version)"
#endif

namespace velt {

namespace {

[[noreturn]] void badParameter(const char* field, const std::string& allowed) {
  throw Error(ErrorKind::BadParameter,
              std::string("Bad parameter: ") + field + " must be " + allowed);
}

void checkBuffer(const uint8_t* data, size_t size) {
  if (!data && size != 0) badParameter("data", "non-null when size is not 0");
}

bool validStage(Stage s) { return s == Stage::Off || s == Stage::Smart || s == Stage::Forced; }

}  // namespace

const char* version() { return VELT_VERSION; }

void throwCorrupt() { throw Error(ErrorKind::Corrupt, kCorruptMessage); }

const char* errorName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::BadParameter: return "bad parameter";
    case ErrorKind::NotCompressed: return "not compressed data";
    case ErrorKind::BadHeader: return "bad header";
    case ErrorKind::Corrupt: return "corrupt data";
    case ErrorKind::CrcMismatch: return "CRC mismatch";
    case ErrorKind::InputTooLarge: return "input too large";
    case ErrorKind::Unrepresentable: return "unrepresentable total";
    case ErrorKind::Io: return "I/O error";
  }
  return "unknown error";
}

void validate(const Options& o) {
  if (o.order < 4 || o.order > 9) badParameter("order", "4..9");
  if (o.memoryMb < 10 || o.memoryMb > 50 || o.memoryMb % 5 != 0) {
    badParameter("memoryMb", "10..50 in steps of 5");
  }
  if (o.textMode != 0 && o.textMode != 1) badParameter("textMode", "0 or 1");
  if (o.runLength != 0 && o.runLength != 3 && o.runLength != 4) {
    badParameter("runLength", "3, 4 or 0 (off)");
  }
  if (!validStage(o.interleaved)) badParameter("interleaved", "Off, Smart or Forced");
  if (!validStage(o.e8)) badParameter("e8", "Off, Smart or Forced");
  // Without the analysis there is no e8 transform; forcing it would be ignored silently.
  if (!o.analysis && o.e8 == Stage::Forced) badParameter("e8", "Off or Smart when analysis is off");
}

Settings settingsFromOptions(const Options& o) {
  validate(o);
  Settings s;
  s.order = static_cast<uint8_t>(o.order > 7 ? 7 : o.order);
  s.pseudoOrder = static_cast<uint8_t>(o.order > 7 ? o.order - 7 : 0);
  s.memoryIndex = static_cast<uint8_t>((o.memoryMb - 10) / 5);
  s.textTransform = o.analysis;
  s.textMode = static_cast<uint8_t>(o.textMode);
  s.e8Enabled = o.analysis && o.e8 != Stage::Off;
  s.e8Forced = o.e8 == Stage::Forced;
  s.rleEnabled = o.runLength != 0;
  s.rleThreshold = static_cast<uint8_t>(o.runLength == 3 ? 3 : 4);
  s.interleaved = o.interleaved != Stage::Off;
  s.interleavedForced = o.interleaved == Stage::Forced;
  return s;
}

EncodeResult encodeStream(ByteSource& in, ByteSink& out, const Options& options,
                          Reporter* reporter) {
  return encodeSession(in, out, settingsFromOptions(options), reporter);
}

DecodeResult decodeStream(ByteSource& in, ByteSink& out, Reporter* reporter) {
  return decodeSession(in, out, reporter);
}

std::vector<uint8_t> compress(const uint8_t* data, size_t size, const Options& options,
                              EncodeResult* result) {
  const Settings settings = settingsFromOptions(options);
  checkBuffer(data, size);
  MemorySource in(data, size);
  MemorySink out;
  const EncodeResult r = encodeSession(in, out, settings);
  if (result) *result = r;
  return std::move(out.data());
}

std::vector<uint8_t> decompress(const uint8_t* data, size_t size, DecodeResult* result) {
  checkBuffer(data, size);
  MemorySource in(data, size);
  MemorySink out;
  const DecodeResult r = decodeSession(in, out);
  if (result) *result = r;
  if (!r.crcOk()) throw Error(ErrorKind::CrcMismatch, "CRC mismatch: the restored data is damaged");
  return std::move(out.data());
}

std::vector<uint8_t> encodeBuffer(const uint8_t* data, size_t size, const Settings& settings,
                                  EncodeDetails* details) {
  MemorySource in(data, size);
  MemorySink out;
  EncodeDetails r = encodeSession(in, out, settings);
  if (details) *details = r;
  return std::move(out.data());
}

std::vector<uint8_t> decodeBuffer(const uint8_t* data, size_t size, DecodeDetails* details) {
  MemorySource in(data, size);
  MemorySink out;
  DecodeDetails r = decodeSession(in, out);
  if (details) *details = r;
  return std::move(out.data());
}

}  // namespace velt
