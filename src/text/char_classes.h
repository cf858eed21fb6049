// Byte classes shared by the input analysis and the text transform: letters
// (Latin and cp866 Cyrillic), case mapping, the delimiter list and the marker
// bytes of the transformed stream. All read-only, built at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace velt::text {

inline constexpr int kLineFeed = 0x0A;
inline constexpr int kCarriageReturn = 0x0D;
inline constexpr int kSpace = 0x20;

// Marker bytes of the stage-1 stream and the stage-2 literal escape.
inline constexpr uint8_t kEscapeByte = 0xFC;
inline constexpr uint8_t kCapitalMarker = 0xFD;
inline constexpr uint8_t kAllCapsMarker = 0xFE;
inline constexpr uint8_t kCodeEscapeByte = 0x0B;

// Line feed, CR, tab, ' , . " ; : ! ? ( ) | space + = * / < > { } [ ] % -
inline constexpr uint8_t kDelimiterList[26] = {0x0A, 0x0D, 0x09, 0x27, 0x2C, 0x2E, 0x22, 0x3B, 0x3A,
                                               0x21, 0x3F, 0x28, 0x29, 0x20, 0x2B, 0x3D, 0x2A, 0x2F,
                                               0x3C, 0x3E, 0x7B, 0x7D, 0x5B, 0x5D, 0x25, 0x2D};
inline constexpr int kDelimiterCount = 26;
inline constexpr int kPunctuationCount = 13;  // the list's first entries

struct CharClasses {
  std::array<uint8_t, 256> isUpper{};
  std::array<uint8_t, 256> isLetter{};
  std::array<uint8_t, 256> toLower{};
  std::array<uint8_t, 256> toUpper{};
  std::array<uint8_t, 256> punctuation{};
  std::array<uint8_t, 256> delimiter{};
  std::array<uint8_t, 256> escaped{};  // bytes stage 1 writes behind kEscapeByte
};

constexpr CharClasses makeCharClasses() {
  CharClasses c{};
  for (int b = 0; b < 256; ++b) {
    bool upperLatin = b >= 0x41 && b <= 0x5A;
    bool upperCyrillic = b >= 0x80 && b <= 0x9F;
    bool lowerLatin = b >= 0x61 && b <= 0x7A;
    bool lowerCyrillicA = b >= 0xA0 && b <= 0xAF;
    bool lowerCyrillicR = b >= 0xE0 && b <= 0xEF;
    c.isUpper[b] = (upperLatin || upperCyrillic) ? 1 : 0;
    c.isLetter[b] = (c.isUpper[b] || lowerLatin || lowerCyrillicA || lowerCyrillicR) ? 1 : 0;
    if (upperLatin || (b >= 0x80 && b <= 0x8F)) c.toLower[b] = static_cast<uint8_t>(b + 0x20);
    if (b >= 0x90 && b <= 0x9F) c.toLower[b] = static_cast<uint8_t>(b + 0x50);
    if (lowerLatin || lowerCyrillicA) c.toUpper[b] = static_cast<uint8_t>(b - 0x20);
    if (lowerCyrillicR) c.toUpper[b] = static_cast<uint8_t>(b - 0x50);
  }
  for (int i = 0; i < kDelimiterCount; ++i) {
    c.delimiter[kDelimiterList[i]] = 1;
    if (i < kPunctuationCount) c.punctuation[kDelimiterList[i]] = 1;
  }
  c.escaped[kEscapeByte] = c.escaped[kCapitalMarker] = c.escaped[kAllCapsMarker] = 1;
  c.escaped[kCodeEscapeByte] = 1;
  return c;
}

inline constexpr CharClasses kClasses = makeCharClasses();

}  // namespace velt::text
