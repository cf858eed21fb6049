// Interleaved coding: arithmetic progressions (five bytes a constant step
// apart) coded as one length, and bytes predicted to repeat at distance 2
// (16-bit data) or 4 (32-bit data) coded as one yes/no decision. Per byte
// lane, match counters decide when a prediction is made. Every constant and
// update here is part of the stream format; both sides code through the
// same members.
#pragma once

#include <cstdint>

#include "container/settings.h"
#include "entropy/cumulative_table.h"
#include "model/history.h"

namespace velt {

class InterleavedStage {
 public:
  static constexpr int kMaxProgression = 253;

  explicit InterleavedStage(const Settings& s)
      : active_(s.interleaved), forced_(s.interleavedForced) {}

  bool active() const { return active_; }

  // Smart mode gives up for good when runs dominate or predictions do not
  // pay; checked every 64 bytes. True when it has just given up.
  bool checkSwitchOff(int32_t symbolCounter) {
    if (!active_ || forced_) return false;
    if ((symbolCounter % 8192 == 0 && runBytes_ > symbolCounter / 2) ||
        (symbolCounter % 16384 == 0 && repeatMisses_ >= repeatHits_)) {
      active_ = false;
      return true;
    }
    return false;
  }

  // After a coded run of n >= 1 bytes.
  void afterRun(int n) {
    slots_[ringPos_].matchCount[0] = 0;
    slots_[ringPos_].matchCount[1] = 0;
    runBytes_ += n;
  }

  // The last five history bytes step by one delta.
  static bool progressionTriggered(const model::History& h, uint8_t* delta) {
    const uint8_t d = static_cast<uint8_t>(h[0] - h[1]);
    if (static_cast<uint8_t>(h[1] - h[2]) != d || static_cast<uint8_t>(h[2] - h[3]) != d ||
        static_cast<uint8_t>(h[3] - h[4]) != d)
      return false;
    *delta = d;
    return true;
  }

  template <class Coder>
  int codeProgression(Coder& rc, int n) {
    n = progressions_.code(rc, n);
    progressions_.update(n, kProgressionIncrement, kProgressionLimit);
    return n;
  }

  // Updates the lane counters with the history before the current byte and
  // returns the distance index (0: 2 bytes back, 1: 4 bytes back) of the
  // prediction for the current byte, or -1 when there is none.
  int step(const model::History& h) {
    const int i = ringPos_;
    for (int k = 0; k < 2; ++k) {
      const int s = distance(k);
      if (h[0] == h[s]) {
        const int j = (i - s) & 3;
        if (slots_[i].matchCount[k] < 4) {
          slots_[j].matchCount[k] = static_cast<uint8_t>(slots_[i].matchCount[k] + 1);
        } else {
          if (!slots_[j].predictMark) {
            slots_[j].predictMark = true;
            slots_[j].predictDistance = static_cast<uint8_t>(k);
          }
          slots_[j].matchCount[k] = 4;
        }
      } else {
        slots_[i].matchCount[k] = 0;
      }
    }
    ringPos_ = (ringPos_ - 1) & 3;
    const Slot& slot = slots_[ringPos_];
    return slot.predictMark ? slot.predictDistance : -1;
  }

  // The byte a prediction of distance index k names.
  static uint8_t predicted(const model::History& h, int k) { return h[k ? 3 : 1]; }

  // Codes whether the prediction of distance index k came true.
  template <class Coder>
  bool codeRepeat(Coder& rc, int k, bool hit) {
    Repeat& r = repeat_[k];
    r.rescale();
    hit = codeChoice(rc, hit, r.hits, r.total);
    const int i = ringPos_;
    r.total += kRepeatIncrement;
    if (hit) {
      r.hits += kRepeatIncrement;
      ++repeatHits_;
      const int j = (i - distance(k)) & 3;
      slots_[j].predictMark = true;
      slots_[j].predictDistance = static_cast<uint8_t>(k);
      ringPos_ = (i - 1) & 3;
    } else {
      ++repeatMisses_;
      slots_[i].predictMark = false;
    }
    return hit;
  }

 private:
  static constexpr int32_t kProgressionIncrement = 20;
  static constexpr int32_t kProgressionLimit = 768;
  static constexpr uint32_t kRepeatIncrement = 128;
  static constexpr uint32_t kRepeatLimit = 1280;

  static int distance(int k) { return k ? 4 : 2; }

  struct Repeat {
    uint32_t hits = 1;
    uint32_t total = 2;
    void rescale() {
      if (total <= kRepeatLimit) return;
      hits >>= 1;
      total >>= 1;
      if (hits == 0) hits = 1;
      if (hits >= total) total = hits + 1;
    }
  };

  struct Slot {
    uint8_t matchCount[2] = {0, 0};
    bool predictMark = false;
    uint8_t predictDistance = 0;
  };

  bool active_;
  bool forced_;
  int ringPos_ = 3;
  Slot slots_[4];
  Repeat repeat_[2];
  int32_t repeatHits_ = 0;
  int32_t repeatMisses_ = 0;
  int32_t runBytes_ = 0;
  CumulativeTable<kMaxProgression + 2> progressions_;
};

}  // namespace velt
