// Byte tests 16 at a time for the text transform's plain runs, where nearly
// every byte is a lower-case letter (Latin or cp866), a digit or a space. Without
// SSE2 the callers keep their byte loops.
#pragma once

#include <array>
#include <cstdint>

namespace velt::text {

// Whether every byte lowerLettersAndDigits accepts is one of `plain`.
constexpr bool holdsLettersAndDigits(const std::array<uint8_t, 256>& plain) {
  for (int b = 0; b < 256; ++b) {
    const bool accepted = (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                          (b >= 0xA0 && b <= 0xAF) || (b >= 0xE0 && b <= 0xEF);
    if (accepted && !plain[b]) return false;
  }
  return true;
}

}  // namespace velt::text

#if defined(__SSE2__)
#include <emmintrin.h>

#include "text/char_classes.h"

namespace velt::text {

inline __m128i load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// 0xFF where first <= byte <= last.
inline __m128i inRange(__m128i v, uint8_t first, uint8_t last) {
  const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8(char(first)));
  return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(char(last - first))), offset);
}

inline __m128i spaces(__m128i v) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(char(kSpace))); }

// 0xFF where the byte is a lower-case letter or a digit.
inline __m128i lowerLettersAndDigits(__m128i v) {
  return _mm_or_si128(_mm_or_si128(inRange(v, 'a', 'z'), inRange(v, '0', '9')),
                      _mm_or_si128(inRange(v, 0xA0, 0xAF), inRange(v, 0xE0, 0xEF)));
}

// A bit per byte, from a vector of 0x00 / 0xFF bytes.
inline uint32_t byteMask(__m128i m) { return uint32_t(_mm_movemask_epi8(m)); }

// How many bytes of such a vector are 0xFF.
inline int countSet(__m128i m) {
  const __m128i sums = _mm_sad_epu8(_mm_and_si128(m, _mm_set1_epi8(1)), _mm_setzero_si128());
  return _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
}

// 0xFF at byte positions from `first` (0..16) on.
inline __m128i fromPosition(int first) {
  const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_cmpgt_epi8(index, _mm_set1_epi8(char(first - 1)));
}

}  // namespace velt::text

#endif
