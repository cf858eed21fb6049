// Fixed parameter tables of the PPM model: the level walk, hash sizes and pool
// capacities by order and memory size, and the small lookup tables of the
// escape estimation. All read-only; a session copies the rows it needs.
#pragma once

#include <array>
#include <cstdint>

#include "container/crc16.h"

namespace velt::model {

inline constexpr int kLevels = 8;
inline constexpr int kMemorySizes = 9;

struct OrderRow {
  uint8_t nextLevel[kLevels];  // the walk down from the top ends at 0
  uint32_t hashSize[kLevels];
};

// Indexed by order - 4.
inline constexpr OrderRow kOrderRows[4] = {
    {{0, 0, 1, 2, 3, 4, 4, 4}, {0, 256, 32768, 65536, 65536, 0, 0, 0}},
    {{0, 0, 1, 2, 3, 3, 5, 5}, {0, 256, 32768, 65536, 0, 262144, 0, 0}},
    {{0, 0, 1, 2, 3, 4, 4, 4}, {0, 256, 32768, 65536, 65536, 0, 262144, 0}},
    {{0, 0, 1, 2, 3, 3, 5, 5}, {0, 256, 32768, 65536, 0, 262144, 0, 131072}},
};

// Capacities of the levels above 2: [order - 4][memoryIndex][level].
struct CapacityRow {
  uint32_t nodes[kLevels];
  uint32_t contexts[kLevels];
};

constexpr std::array<std::array<CapacityRow, kMemorySizes>, 4> makeCapacities() {
  // clang-format off
  constexpr uint32_t o4n3[] = {65530, 118780, 149759, 167932, 229372, 253948, 282620, 319484, 339964};
  constexpr uint32_t o4n4[] = {163839, 255993, 319481, 376825, 471033, 544761, 643065, 716793, 819193};
  constexpr uint32_t o4c3[] = {55295, 74751, 102399, 139263, 180223, 208895, 237567, 286719, 311295};
  constexpr uint32_t o4c4[] = {159740, 251900, 356348, 458748, 528380, 630780, 720892, 798716, 897020};
  constexpr uint32_t o5n3[] = {49151, 86012, 114684, 131068, 163836, 196604, 217084, 233468, 249852};
  constexpr uint32_t o5n5[] = {122879, 259065, 307193, 372729, 434169, 516089, 593913, 663545, 720889};
  constexpr uint32_t o5c3[] = {53247, 65535, 98303, 131071, 163839, 200703, 221183, 241663, 262143};
  constexpr uint32_t o5c5[] = {155644, 245756, 356348, 454652, 557052, 643068, 753660, 868348, 987132};
  constexpr uint32_t o6n3[] = {40953, 43001, 71673, 73721, 90105, 94201, 98297, 106489, 110585};
  constexpr uint32_t o6n4[] = {49151, 69631, 126975, 180223, 200703, 208895, 221183, 233471, 253951};
  constexpr uint32_t o6n6[] = {49151, 165887, 202751, 233471, 262143, 290815, 335871, 360447, 393215};
  constexpr uint32_t o6c3[] = {53247, 55295, 65535, 69631, 77823, 81919, 90111, 98303, 106495};
  constexpr uint32_t o6c4[] = {53247, 65535, 78847, 86015, 98303, 110591, 135167, 155647, 172031};
  constexpr uint32_t o6c6[] = {104447, 204799, 303103, 434175, 552959, 684031, 798719, 917503, 1040383};
  constexpr uint32_t o7n3[] = {53242, 73722, 79865, 79865, 81913, 86009, 90105, 102393, 110585};
  constexpr uint32_t o7n5[] = {57343, 79871, 122879, 155647, 176127, 196607, 225279, 249855, 268287};
  constexpr uint32_t o7n7[] = {32767, 53247, 106495, 126975, 155647, 184319, 217087, 246783, 288767};
  constexpr uint32_t o7c3[] = {38911, 43007, 47103, 51199, 53247, 55295, 57343, 59391, 61439};
  constexpr uint32_t o7c5[] = {81919, 116735, 156671, 192511, 217087, 255999, 278527, 292863, 323583};
  constexpr uint32_t o7c7[] = {88063, 194047, 274431, 385023, 503807, 610303, 731135, 856063, 962559};
  // clang-format on
  std::array<std::array<CapacityRow, kMemorySizes>, 4> t{};
  for (int o = 0; o < 4; ++o) {
    for (int m = 0; m < kMemorySizes; ++m) {
      CapacityRow& r = t[o][m];
      r.nodes[1] = 8400;
      r.contexts[1] = 168;
      r.nodes[2] = 12544;
      r.contexts[2] = (m == 0 && o >= 1) ? 2816 : 2560;
    }
  }
  for (int m = 0; m < kMemorySizes; ++m) {
    t[0][m].nodes[3] = o4n3[m], t[0][m].nodes[4] = o4n4[m];
    t[0][m].contexts[3] = o4c3[m], t[0][m].contexts[4] = o4c4[m];
    t[1][m].nodes[3] = o5n3[m], t[1][m].nodes[5] = o5n5[m];
    t[1][m].contexts[3] = o5c3[m], t[1][m].contexts[5] = o5c5[m];
    t[2][m].nodes[3] = o6n3[m], t[2][m].nodes[4] = o6n4[m], t[2][m].nodes[6] = o6n6[m];
    t[2][m].contexts[3] = o6c3[m], t[2][m].contexts[4] = o6c4[m], t[2][m].contexts[6] = o6c6[m];
    t[3][m].nodes[3] = o7n3[m], t[3][m].nodes[5] = o7n5[m], t[3][m].nodes[7] = o7n7[m];
    t[3][m].contexts[3] = o7c3[m], t[3][m].contexts[5] = o7c5[m], t[3][m].contexts[7] = o7c7[m];
  }
  return t;
}

inline constexpr auto kCapacities = makeCapacities();

inline constexpr uint16_t kRescaleLimit[kLevels] = {1151, 8440, 8184, 8184, 6136, 6136, 6136, 6136};
inline constexpr uint8_t kActivityCap[kLevels] = {0, 100, 100, 100, 100, 150, 150, 150};
inline constexpr uint8_t kInitialActivity[kLevels] = {0, 1, 0, 0, 0, 0, 0, 0};

// Escape cells: 128 rows x 7 count buckets x 50 sum classes.
inline constexpr int kEscapeRows = 128;
inline constexpr int kEscapeBuckets = 7;
inline constexpr int kEscapeCells = 50;
inline constexpr int kSumClassLimit = 8744;  // from here on the last cell is used

constexpr std::array<uint8_t, kSumClassLimit> makeSumClass() {
  std::array<uint8_t, kSumClassLimit> t{};
  for (int v = 0; v < kSumClassLimit; ++v) {
    int c = 0;
    if (v < 56) c = v / 8;
    else if (v < 88) c = 7 + (v - 56) / 16;
    else if (v < 184) c = 9 + (v - 88) / 32;
    else if (v < 744) c = 12 + (v - 184) / 80;
    else c = 19 + (v - 744) / 400;
    t[v] = static_cast<uint8_t>(c);
  }
  return t;
}

inline constexpr auto kSumClass = makeSumClass();

inline int sumClassCell(uint32_t sumFreq) {
  return sumFreq < static_cast<uint32_t>(kSumClassLimit) ? kSumClass[sumFreq] : kEscapeCells - 1;
}

constexpr std::array<uint8_t, 257> makeCountBucket() {
  std::array<uint8_t, 257> t{};
  for (int n = 0; n <= 256; ++n) {
    int b = 0;
    if (n <= 1) b = 0;
    else if (n == 2) b = 1;
    else if (n == 3) b = 2;
    else if (n <= 5) b = 3;
    else if (n <= 8) b = 4;
    else if (n <= 14) b = 5;
    else b = 6;
    t[n] = static_cast<uint8_t>(b);
  }
  return t;
}

inline constexpr auto kCountBucket = makeCountBucket();

constexpr std::array<uint8_t, 101> makeShiftByMissRate() {
  std::array<uint8_t, 101> t{};
  for (int p = 0; p <= 100; ++p) {
    int s = 0;
    if (p <= 27) s = 0;
    else if (p <= 36) s = 1;
    else if (p <= 44) s = 2;
    else if (p <= 51) s = 3;
    else if (p <= 59) s = 4;
    else s = 5;
    t[p] = static_cast<uint8_t>(s);
  }
  return t;
}

inline constexpr auto kShiftByMissRate = makeShiftByMissRate();

inline constexpr uint32_t kNodeChunk = 16383;

// The low bit of x's terms in the bucket function below: none, T[x], or
// x ^ T[x].
using BucketLowBits = std::array<uint8_t, 256>;
constexpr BucketLowBits bucketLowBits(int terms) {
  BucketLowBits t{};
  for (size_t x = 0; x < 256; ++x) {
    const int crc = kCrc16Table[x] & 1;
    t[x] = static_cast<uint8_t>(terms == 0 ? 0 : terms == 1 ? crc : (int(x) ^ crc) & 1);
  }
  return t;
}
inline constexpr BucketLowBits kBucketLowNone = bucketLowBits(0);
inline constexpr BucketLowBits kBucketLowCrc = bucketLowBits(1);
inline constexpr BucketLowBits kBucketLowByteAndCrc = bucketLowBits(2);

// The low bit of the format's bucket function of a context (h[0] newest),
// the only bit of it we use: it decides which records a collection pass may
// free. Every shifted term of the function drops out of that bit, leaving one
// to three bytes per level: h[a], and the terms of h[c] folded into a table.
struct BucketBit {
  uint8_t a = 0, c = 0;
  const BucketLowBits* low = &kBucketLowNone;

  static constexpr BucketBit of(int level, int pseudoOrder) {
    switch (level) {
      case 2: return {1, 0, &kBucketLowCrc};  // h1 ^ T[h0]
      case 3:
      case 5: return {0, 2, &kBucketLowCrc};                         // h0 ^ T[h2]
      case 6: return {0, 5, &kBucketLowByteAndCrc};                  // h0 ^ h5 ^ T[h5]
      case 7: return {0, uint8_t(6 + pseudoOrder), &kBucketLowCrc};  // h0 ^ T[h6+p]
      default: return {0, 0, &kBucketLowNone};                       // levels 1, 4: h0
    }
  }
  uint32_t operator()(const uint8_t* h) const { return (h[a] ^ (*low)[h[c]]) & 1u; }
};

}  // namespace velt::model
