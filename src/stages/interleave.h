// State of interleaved coding: progression runs, and match counters per byte
// lane that predict repeats at distance 2 (16-bit data) or 4 (32-bit data).
#pragma once

#include <cstdint>

#include "entropy/cumulative_table.h"
#include "model/history.h"

namespace velt {

inline constexpr int kMaxRun = 190;
inline constexpr int kMaxProgression = 253;

using RunTable = CumulativeTable<192>;
using ProgressionTable = CumulativeTable<255>;

struct RepeatModel {
  uint32_t hits = 1;
  uint32_t total = 2;

  void rescale() {
    if (total <= 1280) return;
    hits >>= 1;
    total >>= 1;
    if (hits == 0) hits = 1;
    if (hits >= total) total = hits + 1;
  }
};

struct InterleaveSlot {
  uint8_t matchCount[2] = {0, 0};
  bool predictMark = false;
  uint8_t predictDistance = 0;
};

struct InterleaveState {
  int ringPos = 3;
  InterleaveSlot slots[4];
  RepeatModel repeat[2];
  int32_t repeatHits = 0;
  int32_t repeatMisses = 0;
  int32_t runBytes = 0;

  void clearSlotCounts() {
    slots[ringPos].matchCount[0] = 0;
    slots[ringPos].matchCount[1] = 0;
  }

  // Updates the lane counters with the history before the current byte.
  void repeatCounterStep(const model::History& h) {
    const int i = ringPos;
    for (int k = 0; k < 2; ++k) {
      const int s = k ? 4 : 2;
      if (h[0] == h[s]) {
        const int j = (i - s) & 3;
        if (slots[i].matchCount[k] < 4) {
          slots[j].matchCount[k] = static_cast<uint8_t>(slots[i].matchCount[k] + 1);
        } else {
          if (!slots[j].predictMark) {
            slots[j].predictMark = true;
            slots[j].predictDistance = static_cast<uint8_t>(k);
          }
          slots[j].matchCount[k] = 4;
        }
      } else {
        slots[i].matchCount[k] = 0;
      }
    }
    ringPos = (ringPos - 1) & 3;
  }

  // After a decision at slot i with distance index k.
  void recordHit(int k) {
    const int i = ringPos;
    repeat[k].hits += 128;
    repeat[k].total += 128;
    ++repeatHits;
    const int j = (i - (k ? 4 : 2)) & 3;
    slots[j].predictMark = true;
    slots[j].predictDistance = static_cast<uint8_t>(k);
    ringPos = (i - 1) & 3;
  }

  void recordMiss(int k) {
    repeat[k].total += 128;
    ++repeatMisses;
    slots[ringPos].predictMark = false;
  }

  // Smart mode gives up when runs dominate or predictions do not pay.
  bool shouldSwitchOff(int32_t symbolCounter) const {
    if (symbolCounter % 8192 == 0 && runBytes > symbolCounter / 2) return true;
    if (symbolCounter % 16384 == 0 && repeatMisses >= repeatHits) return true;
    return false;
  }
};

// Progression trigger: the last five history bytes step by one delta.
inline bool progressionTrigger(const model::History& h, uint8_t* delta) {
  const uint8_t d = static_cast<uint8_t>(h[0] - h[1]);
  if (static_cast<uint8_t>(h[1] - h[2]) != d || static_cast<uint8_t>(h[2] - h[3]) != d ||
      static_cast<uint8_t>(h[3] - h[4]) != d)
    return false;
  *delta = d;
  return true;
}

inline bool runTrigger(const model::History& h, int threshold) {
  return h[0] == h[1] && h[1] == h[2] && (threshold == 3 || h[3] == h[0]);
}

}  // namespace velt
