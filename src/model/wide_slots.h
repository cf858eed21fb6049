// Passes over a record's slots 16 or 32 at a time, for the large records of
// binary data: there the plain loops pay a load, a compare or a branch per
// slot. Every routine gives exactly what the plain loop over the same slots
// gives.
//
// A group of 16 (32) slots is four 16-byte (32-byte) words; the last group of
// a record reads up to 15 (31) slots past its last one. Those bytes lie within
// the arena (a block is followed by other blocks or records, and the arena
// ends in padding) and count for nothing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "model/model.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define VELT_WIDE_SLOTS 1
#else
#define VELT_WIDE_SLOTS 0
#endif

// The masked pass also needs SSSE3's byte shuffle, and goes 32 slots at a
// time with AVX2: built for both, picked at run time.
#if VELT_WIDE_SLOTS && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VELT_WIDE_MASKS 1
#else
#define VELT_WIDE_MASKS 0
#endif

namespace velt::model::wide {

// Records with fewer slots keep the plain loops: setting up costs more than
// a wide pass saves.
constexpr int kMinSlots = 16;

#if VELT_WIDE_SLOTS
struct Group {
  __m128i word[4];
  explicit Group(const Slot* first) {
    const __m128i* at = reinterpret_cast<const __m128i*>(first);
    for (int w = 0; w < 4; ++w) word[w] = _mm_loadu_si128(at + w);
  }
  __m128i symbols() const {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i* v = word;
    return _mm_packus_epi16(
        _mm_packs_epi32(_mm_and_si128(v[0], lowByte), _mm_and_si128(v[1], lowByte)),
        _mm_packs_epi32(_mm_and_si128(v[2], lowByte), _mm_and_si128(v[3], lowByte)));
  }
  // Word w's four counts, those of slots from `end` of the group on as 0.
  __m128i counts(int w, int end) const {
    const __m128i lane = _mm_setr_epi32(4 * w, 4 * w + 1, 4 * w + 2, 4 * w + 3);
    return _mm_and_si128(_mm_srli_epi32(word[w], 16), _mm_cmpgt_epi32(_mm_set1_epi32(end), lane));
  }
  __m128i countsBefore(int end) const {
    return _mm_add_epi32(_mm_add_epi32(counts(0, end), counts(1, end)),
                         _mm_add_epi32(counts(2, end), counts(3, end)));
  }
};

// The keep bytes (0 for an excluded symbol) as a set, a bit a symbol set when
// it is not excluded, 64 symbols a word.
inline void keptSymbols(const uint8_t* keep, uint64_t words[4]) {
  for (int q = 0; q < 4; ++q) {
    uint64_t bits = 0;
    for (int j = 0; j < 4; ++j) {
      const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(keep + 64 * q + 16 * j));
      bits |= uint64_t(unsigned(_mm_movemask_epi8(k))) << (16 * j);
    }
    words[q] = bits;
  }
}

inline uint32_t laneSum(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return uint32_t(_mm_cvtsi128_si32(v));
}

// The slot of `rest` holding symbol, or -1; before gets the counts of the
// slots ahead of it.
inline int findSlot(const Slot* sl, int rest, uint8_t symbol, uint32_t& before) {
  const __m128i want = _mm_set1_epi8(char(symbol));
  __m128i sums = _mm_setzero_si128();
  for (int g = 0, left = rest; left > 0; ++g, left -= 16) {
    const Group group(sl + 16 * g);
    const unsigned inRecord = left >= 16 ? 0xFFFFu : (1u << left) - 1;
    const unsigned hit =
        unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(group.symbols(), want))) & inRecord;
    if (hit) {
      const int lane = __builtin_ctz(hit);
      before = laneSum(_mm_add_epi32(sums, group.countsBefore(lane)));
      return 16 * g + lane;
    }
    sums = _mm_add_epi32(sums, group.countsBefore(16));
  }
  return -1;
}

// The slot whose interval holds t, given cum, the counts ahead of slot 0;
// cum gets the counts ahead of the slot. -1 when t lies past the last
// slot's interval.
inline int locateSlot(const Slot* sl, int rest, uint32_t t, uint32_t& cum) {
  for (int g = 0, left = rest; left > 0; ++g, left -= 16) {
    const Group group(sl + 16 * g);
    const int n = std::min(left, 16);
    const uint32_t sum = laneSum(group.countsBefore(n));
    if (t >= cum + sum) {
      cum += sum;
      continue;
    }
    // In the group, without a branch a slot: the slot is the first whose
    // interval ends above t. Slots past the record's last end where it does,
    // above t, so some lane always answers.
    alignas(16) uint32_t ends[16];
    const __m128i target = _mm_set1_epi32(int32_t(t));  // counts stay far below 2^31
    __m128i carry = _mm_set1_epi32(int32_t(cum)), above[4];
    for (int w = 0; w < 4; ++w) {
      __m128i x = group.counts(w, n);
      x = _mm_add_epi32(x, _mm_slli_si128(x, 4));
      x = _mm_add_epi32(x, _mm_slli_si128(x, 8));
      x = _mm_add_epi32(x, carry);
      _mm_store_si128(reinterpret_cast<__m128i*>(ends + 4 * w), x);
      carry = _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 3, 3, 3));
      above[w] = _mm_cmpgt_epi32(x, target);
    }
    const unsigned bits = unsigned(_mm_movemask_epi8(
        _mm_packs_epi16(_mm_packs_epi32(above[0], above[1]), _mm_packs_epi32(above[2], above[3]))));
    const int lane = __builtin_ctz(bits);
    if (lane) cum = ends[lane - 1];
    return 16 * g + lane;
  }
  return -1;
}
#endif

// The masked pass: the visible (not excluded) counts of a record's slots.
struct MaskedPass {
  uint32_t visible;       // in: position 0's visible count; out: plus the slots'
  int found = -1;         // encoder: the slot holding the symbol, or -1
  uint32_t before = 0;    // encoder: the visible counts ahead of that slot
  uint32_t groupEnd[16];  // decoder: the visible counts up to each group's end
};

#if VELT_WIDE_MASKS
// The group's counts of the symbols whose byte is set in vis, lane by lane.
[[gnu::target("ssse3")]] inline __m128i visibleCounts(const Group& group, __m128i vis) {
  // A count is the high half of its slot's word: spread each symbol's byte
  // over that half.
  const __m128i spread[4] = {
      _mm_setr_epi8(-1, -1, 0, 0, -1, -1, 1, 1, -1, -1, 2, 2, -1, -1, 3, 3),
      _mm_setr_epi8(-1, -1, 4, 4, -1, -1, 5, 5, -1, -1, 6, 6, -1, -1, 7, 7),
      _mm_setr_epi8(-1, -1, 8, 8, -1, -1, 9, 9, -1, -1, 10, 10, -1, -1, 11, 11),
      _mm_setr_epi8(-1, -1, 12, 12, -1, -1, 13, 13, -1, -1, 14, 14, -1, -1, 15, 15)};
  __m128i sum = _mm_setzero_si128();
  for (int w = 0; w < 4; ++w) {
    const __m128i mask = _mm_shuffle_epi8(vis, spread[w]);
    sum = _mm_add_epi32(sum, _mm_srli_epi32(_mm_and_si128(group.word[w], mask), 16));
  }
  return sum;
}

// The keep bytes (0 for an excluded symbol) become a 256-bit set in two
// registers, and each group's 16 symbols are looked up in it with byte
// shuffles.
template <bool kFind>
[[gnu::target("ssse3")]] void maskedPass(const Slot* sl, int rest, const uint8_t* keep,
                                         uint8_t symbol, MaskedPass& out) {
  uint64_t setWords[4];  // symbols 0..127 in the first two
  keptSymbols(keep, setWords);
  const __m128i lo = _mm_set_epi64x(int64_t(setWords[1]), int64_t(setWords[0]));
  const __m128i hi = _mm_set_epi64x(int64_t(setWords[3]), int64_t(setWords[2]));
  const __m128i bitOf = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i want = _mm_set1_epi8(char(symbol));

  uint32_t visible = out.visible;
  __m128i sums = _mm_setzero_si128();
  for (int g = 0, left = rest; left > 0; ++g, left -= 16) {
    const Group group(sl + 16 * g);
    const __m128i sym = group.symbols();
    // Byte sym / 8 of the set: a shuffle index with its top bit set gives 0,
    // so each half answers only for its own symbols.
    const __m128i byteIndex = _mm_and_si128(_mm_srli_epi16(sym, 3), _mm_set1_epi8(0x1F));
    const __m128i setByte =
        _mm_or_si128(_mm_shuffle_epi8(lo, _mm_add_epi8(byteIndex, _mm_set1_epi8(0x70))),
                     _mm_shuffle_epi8(hi, _mm_sub_epi8(byteIndex, _mm_set1_epi8(16))));
    const __m128i bit = _mm_shuffle_epi8(bitOf, _mm_and_si128(sym, _mm_set1_epi8(7)));
    const __m128i inRecord = _mm_cmpgt_epi8(_mm_set1_epi8(char(std::min(left, 16))), lanes);
    const __m128i vis = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(setByte, bit), bit), inRecord);
    const __m128i groupCounts = visibleCounts(group, vis);
    if constexpr (kFind) {
      // The encoder's symbol was in no record escaped from: it is visible.
      const unsigned hit =
          unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(sym, want), vis)));
      if (hit) {
        const int lane = __builtin_ctz(hit);
        out.found = 16 * g + lane;
        const __m128i ahead = _mm_and_si128(vis, _mm_cmpgt_epi8(_mm_set1_epi8(char(lane)), lanes));
        out.before = visible + laneSum(_mm_add_epi32(sums, visibleCounts(group, ahead)));
      }
      sums = _mm_add_epi32(sums, groupCounts);
    } else {
      visible += laneSum(groupCounts);
      out.groupEnd[g] = visible;
    }
  }
  out.visible = kFind ? visible + laneSum(sums) : visible;
}

// The same, 32 slots a group. A byte shuffle stays within its 16-byte half,
// so the packed symbols come in the order kSlotOfByte gives; sums do not
// care, and a hit's slot is read off it.
constexpr int8_t kSlotOfByte[32] = {0, 1, 2, 3, 8,  9,  10, 11, 16, 17, 18, 19, 24, 25, 26, 27,
                                    4, 5, 6, 7, 12, 13, 14, 15, 20, 21, 22, 23, 28, 29, 30, 31};

// The counts of the first 16 slots (words 0 and 1) and of the last 16.
[[gnu::target("avx2")]] inline void visibleCounts(const __m256i word[4], __m256i vis,
                                                  __m256i& first, __m256i& last) {
  // Word w holds slots 8w..8w+3 in its low half, whose bytes are 4w..4w+3 of
  // vis's low half, and slots 8w+4..8w+7 in its high half, at the same bytes
  // of vis's high half.
  const __m256i spread[4] = {
      _mm256_setr_epi8(-1, -1, 0, 0, -1, -1, 1, 1, -1, -1, 2, 2, -1, -1, 3, 3, -1, -1, 0, 0, -1, -1,
                       1, 1, -1, -1, 2, 2, -1, -1, 3, 3),
      _mm256_setr_epi8(-1, -1, 4, 4, -1, -1, 5, 5, -1, -1, 6, 6, -1, -1, 7, 7, -1, -1, 4, 4, -1, -1,
                       5, 5, -1, -1, 6, 6, -1, -1, 7, 7),
      _mm256_setr_epi8(-1, -1, 8, 8, -1, -1, 9, 9, -1, -1, 10, 10, -1, -1, 11, 11, -1, -1, 8, 8, -1,
                       -1, 9, 9, -1, -1, 10, 10, -1, -1, 11, 11),
      _mm256_setr_epi8(-1, -1, 12, 12, -1, -1, 13, 13, -1, -1, 14, 14, -1, -1, 15, 15, -1, -1, 12,
                       12, -1, -1, 13, 13, -1, -1, 14, 14, -1, -1, 15, 15)};
  __m256i counts[4];
  for (int w = 0; w < 4; ++w) {
    const __m256i mask = _mm256_shuffle_epi8(vis, spread[w]);
    counts[w] = _mm256_srli_epi32(_mm256_and_si256(word[w], mask), 16);
  }
  first = _mm256_add_epi32(counts[0], counts[1]);
  last = _mm256_add_epi32(counts[2], counts[3]);
}

[[gnu::target("avx2")]] inline uint32_t laneSum(__m256i v) {
  return laneSum(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

template <bool kFind>
[[gnu::target("avx2")]] void maskedPassAvx2(const Slot* sl, int rest, const uint8_t* keep,
                                            uint8_t symbol, MaskedPass& out) {
  uint32_t setWords[8];  // symbols 0..127 in the first four; 32-byte movemasks, half the loads
  for (int q = 0; q < 8; ++q) {
    const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keep + 32 * q));
    setWords[q] = uint32_t(_mm256_movemask_epi8(k));
  }
  const __m256i lo =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(setWords)));
  const __m256i hi =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(setWords + 4)));
  const __m256i bitOf = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128));
  const __m256i slotOf = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kSlotOfByte));
  const __m256i lowByte = _mm256_set1_epi32(0xFF);
  const __m256i want = _mm256_set1_epi8(char(symbol));

  uint32_t visible = out.visible;
  __m256i sums = _mm256_setzero_si256();
  for (int g = 0, left = rest; left > 0; ++g, left -= 32) {
    const __m256i* at = reinterpret_cast<const __m256i*>(sl + 32 * g);
    const __m256i word[4] = {_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1),
                             _mm256_loadu_si256(at + 2), _mm256_loadu_si256(at + 3)};
    const __m256i sym = _mm256_packus_epi16(
        _mm256_packs_epi32(_mm256_and_si256(word[0], lowByte), _mm256_and_si256(word[1], lowByte)),
        _mm256_packs_epi32(_mm256_and_si256(word[2], lowByte), _mm256_and_si256(word[3], lowByte)));
    const __m256i byteIndex = _mm256_and_si256(_mm256_srli_epi16(sym, 3), _mm256_set1_epi8(0x1F));
    const __m256i setByte =
        _mm256_or_si256(_mm256_shuffle_epi8(lo, _mm256_add_epi8(byteIndex, _mm256_set1_epi8(0x70))),
                        _mm256_shuffle_epi8(hi, _mm256_sub_epi8(byteIndex, _mm256_set1_epi8(16))));
    const __m256i bit = _mm256_shuffle_epi8(bitOf, _mm256_and_si256(sym, _mm256_set1_epi8(7)));
    const __m256i inRecord = _mm256_cmpgt_epi8(_mm256_set1_epi8(char(std::min(left, 32))), slotOf);
    const __m256i vis =
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(setByte, bit), bit), inRecord);
    __m256i first, last;
    visibleCounts(word, vis, first, last);
    if constexpr (kFind) {
      const unsigned hit =
          unsigned(_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(sym, want), vis)));
      if (hit) {
        const int slot = kSlotOfByte[__builtin_ctz(hit)];
        out.found = 32 * g + slot;
        const __m256i ahead =
            _mm256_and_si256(vis, _mm256_cmpgt_epi8(_mm256_set1_epi8(char(slot)), slotOf));
        __m256i aheadFirst, aheadLast;
        visibleCounts(word, ahead, aheadFirst, aheadLast);
        out.before =
            visible + laneSum(_mm256_add_epi32(sums, _mm256_add_epi32(aheadFirst, aheadLast)));
      }
      sums = _mm256_add_epi32(sums, _mm256_add_epi32(first, last));
    } else {
      // Group ends every 16 slots, as the 16-slot pass gives them.
      visible += laneSum(first);
      out.groupEnd[2 * g] = visible;
      visible += laneSum(last);
      out.groupEnd[2 * g + 1] = visible;
    }
  }
  out.visible = kFind ? visible + laneSum(sums) : visible;
}
#endif

}  // namespace velt::model::wide
