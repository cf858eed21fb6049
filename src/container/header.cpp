// Header writer and reader. The reader trusts nothing: every field is checked
// before the decoder builds a single table from it.
#include "container/header.h"

namespace velt {

namespace {

// Every bit field of the header, described once for the writer and the reader.
struct Field {
  uint8_t shift;
  uint8_t width;
  constexpr uint8_t get(uint8_t byte) const {
    return static_cast<uint8_t>((byte >> shift) & ((1u << width) - 1));
  }
  constexpr uint8_t put(unsigned value) const { return static_cast<uint8_t>(value << shift); }
};

// Settings byte.
constexpr Field kOrder{6, 2};  // order - 4
constexpr Field kPseudoOrder{4, 2};
constexpr Field kMemoryIndex{0, 4};
// Mode byte.
constexpr Field kTextTransform{7, 1};
constexpr Field kRunLength{5, 2};
constexpr Field kE8{4, 1};
constexpr Field kInterleaved{2, 2};
enum : uint8_t { kRunLengthOff = 0, kRunLength4 = 1, kRunLength3 = 2 };
enum : uint8_t { kInterleavedOff = 0, kInterleavedForced = 1, kInterleavedSmart = 2 };
// Text flags byte.
constexpr Field kTextMode{7, 1};
constexpr Field kSoftLineBreaks{6, 1};
constexpr Field kCrlfLineEnds{5, 1};
constexpr Field kSparsePunctuation{4, 1};
constexpr Field kEnglish{3, 1};
constexpr Field kRussian{2, 1};
constexpr Field kMostlyLowercase{1, 1};
constexpr Field kUnwrapLines{0, 1};

constexpr int kMaxPseudoOrder = 2;
constexpr int kMaxMemoryIndex = 8;
constexpr int kMinWrapWidth = 21;
constexpr int kMaxWrapWidth = 99;

[[noreturn]] void badHeader() { throw Error(ErrorKind::BadHeader, kBadHeaderMessage); }

int readHeaderByte(ByteSource& in) {
  int b = in.get();
  if (b < 0) badHeader();  // a file shorter than its header
  return b;
}

}  // namespace

uint8_t settingsByte(const Settings& s) {
  return kOrder.put(s.order - 4u) | kPseudoOrder.put(s.pseudoOrder) |
         kMemoryIndex.put(s.memoryIndex);
}

uint8_t modeByte(const Settings& s) {
  const uint8_t rle = !s.rleEnabled         ? kRunLengthOff
                      : s.rleThreshold == 3 ? kRunLength3
                                            : kRunLength4;
  const uint8_t ic = !s.interleaved        ? kInterleavedOff
                     : s.interleavedForced ? kInterleavedForced
                                           : kInterleavedSmart;
  return kTextTransform.put(s.textTransform) | kRunLength.put(rle) | kE8.put(s.e8Enabled) |
         kInterleaved.put(ic);
}

uint8_t textFlagsByte(const TextFlags& f) {
  return kTextMode.put(f.textMode) | kSoftLineBreaks.put(f.softLineBreaks) |
         kCrlfLineEnds.put(f.crlfLineEnds) | kSparsePunctuation.put(f.sparsePunctuation) |
         kEnglish.put(f.english) | kRussian.put(f.russian) |
         kMostlyLowercase.put(f.mostlyLowercase) | kUnwrapLines.put(f.unwrapLines);
}

int writeStreamHeader(ByteSink& out, const Settings& s, const TextFlags& f) {
  out.put(kMagic[0]);
  out.put(kMagic[1]);
  for (int i = 0; i < 6; ++i) out.put(0);  // CRC and codedLength, patched at the end
  out.put(settingsByte(s));
  out.put(modeByte(s));
  int size = kHeaderBaseSize;
  if (s.textTransform) {
    out.put(textFlagsByte(f));
    ++size;
    if (f.unwrapLines) {
      out.put(f.wrapWidth);
      out.put(f.doubleSpaces);
      size += 2;
    }
  }
  return size;
}

void patchStreamHeader(ByteSink& out, uint16_t crc, int32_t codedLength) {
  uint32_t n = static_cast<uint32_t>(codedLength);
  uint8_t bytes[6] = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8),
                      static_cast<uint8_t>(n),          static_cast<uint8_t>(n >> 8),
                      static_cast<uint8_t>(n >> 16),    static_cast<uint8_t>(n >> 24)};
  out.patch(kHeaderCrcOffset, bytes, sizeof bytes);
}

ParsedHeader readStreamHeader(ByteSource& in) {
  ParsedHeader h;
  uint8_t b[kHeaderBaseSize];
  // A foreign file is told apart from a damaged one by its first two bytes.
  for (int i = 0; i < 2; ++i) {
    const int c = in.get();
    if (c != kMagic[i]) throw Error(ErrorKind::NotCompressed, "Not a Velt compressed file");
    b[i] = static_cast<uint8_t>(c);
  }
  for (int i = 2; i < kHeaderBaseSize; ++i) b[i] = static_cast<uint8_t>(readHeaderByte(in));
  h.storedCrc = static_cast<uint16_t>(b[2] | (b[3] << 8));
  h.codedLength = static_cast<int32_t>(static_cast<uint32_t>(b[4]) | (uint32_t(b[5]) << 8) |
                                       (uint32_t(b[6]) << 16) | (uint32_t(b[7]) << 24));
  if (h.codedLength < 0) badHeader();

  Settings& s = h.settings;
  s.order = static_cast<uint8_t>(kOrder.get(b[8]) + 4);
  s.pseudoOrder = kPseudoOrder.get(b[8]);
  s.memoryIndex = kMemoryIndex.get(b[8]);
  if (s.pseudoOrder > kMaxPseudoOrder || s.memoryIndex > kMaxMemoryIndex) badHeader();
  if (s.pseudoOrder != 0 && s.order != 7) badHeader();

  const uint8_t mode = b[9];
  s.textTransform = kTextTransform.get(mode) != 0;
  switch (kRunLength.get(mode)) {
    case kRunLengthOff: s.rleEnabled = false; break;
    case kRunLength4: s.rleThreshold = 4; break;
    case kRunLength3: s.rleThreshold = 3; break;
    default: badHeader();
  }
  s.e8Enabled = kE8.get(mode) != 0;
  switch (kInterleaved.get(mode)) {
    case kInterleavedOff: s.interleaved = false; break;
    case kInterleavedForced: s.interleavedForced = true; break;
    case kInterleavedSmart: break;
    default: badHeader();
  }
  h.size = kHeaderBaseSize;

  if (s.textTransform) {
    s.e8Enabled = false;
    const uint8_t t = static_cast<uint8_t>(readHeaderByte(in));
    ++h.size;
    TextFlags& f = h.textFlags;
    f.textMode = kTextMode.get(t);
    f.softLineBreaks = kSoftLineBreaks.get(t);
    f.crlfLineEnds = kCrlfLineEnds.get(t);
    f.sparsePunctuation = kSparsePunctuation.get(t);
    f.english = kEnglish.get(t);
    f.russian = kRussian.get(t);
    f.mostlyLowercase = kMostlyLowercase.get(t);
    f.unwrapLines = kUnwrapLines.get(t);
    s.textMode = f.textMode;
    if (!f.english && !f.russian) badHeader();
    if (f.unwrapLines) {
      f.wrapWidth = static_cast<uint8_t>(readHeaderByte(in));
      f.doubleSpaces = static_cast<uint8_t>(readHeaderByte(in));
      h.size += 2;
      if (f.wrapWidth < kMinWrapWidth || f.wrapWidth > kMaxWrapWidth || f.doubleSpaces > 1) {
        badHeader();
      }
    }
  }
  return h;
}

}  // namespace velt
