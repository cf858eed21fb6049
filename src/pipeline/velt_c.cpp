// The C interface over the public C++ API. Every entry point catches
// everything, so no C++ exception reaches a C caller; results are copied into
// malloc'd buffers the caller frees with velt_free().
#include "velt/velt_c.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "velt/velt.h"

namespace {

int codeOf(velt::ErrorKind kind) {
  switch (kind) {
    case velt::ErrorKind::BadParameter: return VELT_ERROR_BAD_PARAMETER;
    case velt::ErrorKind::NotCompressed: return VELT_ERROR_NOT_COMPRESSED;
    case velt::ErrorKind::BadHeader: return VELT_ERROR_BAD_HEADER;
    case velt::ErrorKind::Corrupt: return VELT_ERROR_CORRUPT;
    case velt::ErrorKind::CrcMismatch: return VELT_ERROR_CRC_MISMATCH;
    case velt::ErrorKind::InputTooLarge: return VELT_ERROR_INPUT_TOO_LARGE;
    case velt::ErrorKind::Unrepresentable: return VELT_ERROR_UNREPRESENTABLE;
    case velt::ErrorKind::Io: return VELT_ERROR_IO;
  }
  return VELT_ERROR_INTERNAL;
}

// C stage values are checked here: casting an unknown int to the enum would
// only be caught later, and with a message naming the C++ field.
bool toStage(int value, velt::Stage& stage) {
  switch (value) {
    case VELT_STAGE_OFF: stage = velt::Stage::Off; return true;
    case VELT_STAGE_SMART: stage = velt::Stage::Smart; return true;
    case VELT_STAGE_FORCED: stage = velt::Stage::Forced; return true;
  }
  return false;
}

bool toOptions(const velt_options& c, velt::Options& o) {
  if (c.analysis != 0 && c.analysis != 1) return false;
  o.order = c.order;
  o.memoryMb = c.memory_mb;
  o.analysis = c.analysis == 1;
  o.textMode = c.text_mode;
  o.runLength = c.run_length;
  return toStage(c.interleaved, o.interleaved) && toStage(c.e8, o.e8);
}

// Hands `data` over as a malloc'd block; never NULL on success, even when empty.
int handOver(const std::vector<uint8_t>& data, unsigned char** out, size_t* outSize) {
  auto* block = static_cast<unsigned char*>(std::malloc(data.empty() ? 1 : data.size()));
  if (!block) return VELT_ERROR_OUT_OF_MEMORY;
  if (!data.empty()) std::memcpy(block, data.data(), data.size());
  *out = block;
  *outSize = data.size();
  return VELT_OK;
}

template <typename Work>
int guarded(unsigned char** out, size_t* outSize, Work work) {
  if (!out || !outSize) return VELT_ERROR_BAD_PARAMETER;
  *out = nullptr;
  *outSize = 0;
  try {
    return work();
  } catch (const velt::Error& e) {
    return codeOf(e.kind());
  } catch (const std::bad_alloc&) {
    return VELT_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return VELT_ERROR_INTERNAL;
  }
}

}  // namespace

extern "C" {

velt_options velt_default_options(void) {
  const velt::Options d;
  velt_options c;
  c.order = d.order;
  c.memory_mb = d.memoryMb;
  c.analysis = d.analysis ? 1 : 0;
  c.text_mode = d.textMode;
  c.run_length = d.runLength;
  c.interleaved = static_cast<int>(d.interleaved);
  c.e8 = static_cast<int>(d.e8);
  return c;
}

int velt_compress(const void* src, size_t srcSize, const velt_options* options, unsigned char** out,
                  size_t* outSize) {
  return guarded(out, outSize, [&] {
    if (!src && srcSize != 0) return int{VELT_ERROR_BAD_PARAMETER};
    velt::Options o;
    if (options && !toOptions(*options, o)) return int{VELT_ERROR_BAD_PARAMETER};
    velt::validate(o);
    return handOver(velt::compress(static_cast<const uint8_t*>(src), srcSize, o), out, outSize);
  });
}

int velt_decompress(const void* src, size_t srcSize, unsigned char** out, size_t* outSize) {
  return guarded(out, outSize, [&] {
    if (!src && srcSize != 0) return int{VELT_ERROR_BAD_PARAMETER};
    return handOver(velt::decompress(static_cast<const uint8_t*>(src), srcSize), out, outSize);
  });
}

void velt_free(void* buffer) { std::free(buffer); }

const char* velt_error_name(int code) {
  switch (code) {
    case VELT_OK: return "ok";
    case VELT_ERROR_BAD_PARAMETER: return velt::errorName(velt::ErrorKind::BadParameter);
    case VELT_ERROR_NOT_COMPRESSED: return velt::errorName(velt::ErrorKind::NotCompressed);
    case VELT_ERROR_BAD_HEADER: return velt::errorName(velt::ErrorKind::BadHeader);
    case VELT_ERROR_CORRUPT: return velt::errorName(velt::ErrorKind::Corrupt);
    case VELT_ERROR_CRC_MISMATCH: return velt::errorName(velt::ErrorKind::CrcMismatch);
    case VELT_ERROR_INPUT_TOO_LARGE: return velt::errorName(velt::ErrorKind::InputTooLarge);
    case VELT_ERROR_UNREPRESENTABLE: return velt::errorName(velt::ErrorKind::Unrepresentable);
    case VELT_ERROR_IO: return velt::errorName(velt::ErrorKind::Io);
    case VELT_ERROR_OUT_OF_MEMORY: return "out of memory";
    case VELT_ERROR_INTERNAL: return "internal error";
  }
  return "unknown error";
}

const char* velt_version(void) { return velt::version(); }

}  // extern "C"
