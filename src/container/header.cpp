// Header writer and reader. The reader trusts nothing: every field is checked
// before the decoder builds a single table from it.
#include "container/header.h"

namespace velt {

namespace {

[[noreturn]] void badHeader() { throw Error(ErrorKind::BadHeader, kBadHeaderMessage); }

int readHeaderByte(ByteSource& in) {
  int b = in.get();
  if (b < 0) badHeader();  // a file shorter than its header
  return b;
}

}  // namespace

uint8_t settingsByte(const Settings& s) {
  return static_cast<uint8_t>(((s.order - 4) << 6) | (s.pseudoOrder << 4) | s.memoryIndex);
}

uint8_t modeByte(const Settings& s) {
  uint8_t m = s.textTransform ? 0x80 : 0;
  if (s.rleEnabled) m |= (s.rleThreshold == 3) ? 0x40 : 0x20;
  if (s.e8Enabled) m |= 0x10;
  if (s.interleaved) m |= s.interleavedForced ? 0x04 : 0x08;
  return m;
}

uint8_t textFlagsByte(const TextFlags& f) {
  return static_cast<uint8_t>(f.textMode * 128 + f.softLineBreaks * 64 + f.crlfLineEnds * 32 +
                              f.sparsePunctuation * 16 + f.english * 8 + f.russian * 4 +
                              f.mostlyLowercase * 2 + f.unwrapLines);
}

int writeStreamHeader(ByteSink& out, const Settings& s, const TextFlags& f) {
  out.put(kMagic[0]);
  out.put(kMagic[1]);
  for (int i = 0; i < 6; ++i) out.put(0);
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
                      static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                      static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
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
  s.order = static_cast<uint8_t>((b[8] >> 6) + 4);
  s.pseudoOrder = (b[8] >> 4) & 3;
  s.memoryIndex = b[8] & 15;
  if (s.pseudoOrder == 3 || s.memoryIndex > 8) badHeader();
  if (s.pseudoOrder != 0 && s.order != 7) badHeader();

  const uint8_t mode = b[9];
  s.textTransform = (mode & 0x80) != 0;
  s.rleThreshold = 3;
  switch ((mode >> 5) & 3) {
    case 0: s.rleEnabled = false; break;
    case 1: s.rleThreshold = 4; break;
    case 2: break;
    default: badHeader();
  }
  if (!(mode & 0x10)) s.e8Enabled = false;
  switch ((mode >> 2) & 3) {
    case 0: s.interleaved = false; break;
    case 1: s.interleavedForced = true; break;
    case 2: break;
    default: badHeader();
  }
  h.size = kHeaderBaseSize;

  if (s.textTransform) {
    s.e8Enabled = false;
    const uint8_t t = static_cast<uint8_t>(readHeaderByte(in));
    ++h.size;
    TextFlags& f = h.textFlags;
    f.textMode = (t >> 7) & 1;
    f.softLineBreaks = (t >> 6) & 1;
    f.crlfLineEnds = (t >> 5) & 1;
    f.sparsePunctuation = (t >> 4) & 1;
    f.english = (t >> 3) & 1;
    f.russian = (t >> 2) & 1;
    f.mostlyLowercase = (t >> 1) & 1;
    f.unwrapLines = t & 1;
    s.textMode = f.textMode;
    if (!f.english && !f.russian) badHeader();
    if (f.unwrapLines) {
      f.wrapWidth = static_cast<uint8_t>(readHeaderByte(in));
      f.doubleSpaces = static_cast<uint8_t>(readHeaderByte(in));
      h.size += 2;
      if (f.wrapWidth < 21 || f.wrapWidth > 99 || f.doubleSpaces > 1) badHeader();
    }
  }
  return h;
}

}  // namespace velt
