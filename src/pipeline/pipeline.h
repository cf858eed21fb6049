// The per-byte loop, written once for both directions. Each byte goes to
// run-length coding, interleaved coding or the model, in an order that is
// part of the stream format; encoder and decoder must take every decision
// from bytes both already have, so the loop below is the only place that
// order is written.
//
// A Side supplies what differs between the directions:
//   Coder                         RangeEncoder or RangeDecoder
//   bool begin(int& c)            the first byte (encoder) or coder start; false: nothing to code
//   int codeModelByte<observed>(int c)
//                                 code c through the model (telling the observer
//                                 when `observed`); returns the byte coded
//   void tookModelByte<e8>(int c) the decoder emits it here (through the e8 stage
//                                 unless `e8` is false: the stage is off)
//   int32_t counter()             bytes taken (encoder) or produced (decoder) so far
//   void checkpoint(int32_t n)    the counter is a multiple of 64 after a model byte
//   bool next<e8>(int& c)         the encoder takes the next byte; false at the end
//   bool e8Pending()              inside an e8 address: no run or interleaved coding
//   int takeRun(int b, int& c)    the encoder consumes a run of b; the decoder returns 0
//   int takeProgression(...)      likewise for a progression
//   void giveRun(b, n), giveProgression(v, delta, n), giveRepeat(q, c)
//                                 the decoder emits what was decoded; the encoder
//                                 takes its next byte in giveRepeat
//   bool finished(int c)          encoder: c is the end; decoder: codedLength reached
#pragma once

#include <cstdint>

#include "entropy/coding_observer.h"
#include "model/model.h"
#include "stages/interleave.h"
#include "stages/run_length.h"

namespace velt {

template <class Side>
class Pipeline {
 public:
  Pipeline(Side& side, typename Side::Coder& rc, model::Model& model, const Settings& s,
           CodingObserver* observer)
      : side_(side),
        rc_(rc),
        model_(model),
        runs_(s),
        interleaved_(s),
        observer_(observer),
        e8_(s.e8Enabled) {}

  void run() {
    if (observer_) {
      code<true, true>();
    } else if (e8_) {
      code<false, true>();
    } else {
      code<false, false>();
    }
  }

 private:
  // The loop is built without the tests' observer and without the e8 stage
  // (off for all but executables), so other runs test for neither at every
  // byte. The observed loop keeps every test.
  template <bool kObserved, bool kE8>
  void code() {
    model::History& h = model_.history;
    int c;
    if (!side_.begin(c)) return;
    c = side_.template codeModelByte<kObserved>(c);
    for (;;) {
      h.push(uint8_t(c));
      side_.template tookModelByte<kE8>(c);
      const int32_t counter = side_.counter();
      if (counter % 64 == 0) {
        side_.checkpoint(counter);
        model_.adaptBoostShift();
        if (interleaved_.checkSwitchOff(counter) && kObserved) {
          observer_->interleaveSwitchedOff(counter);
        }
      }
      if (!side_.template next<kE8>(c)) return;

      // The bytes of an e8 address go straight to the model.
      if (!(kE8 && side_.e8Pending())) {
        if (runs_.triggered(h) && !codeRuns(c)) return;

        if (interleaved_.active()) {
          uint8_t delta;
          if (InterleavedStage::progressionTriggered(h, &delta)) {
            const uint8_t from = h[0];
            int n = side_.takeProgression(from, delta, c);
            n = interleaved_.codeProgression(rc_, n);
            if (kObserved) observer_->progressionLength(n);
            if (n >= 1) model_.breakSuccessorChain();
            side_.giveProgression(from, delta, n);
            if (side_.finished(c)) return;
          }
          const int k = interleaved_.step(h);
          if (k >= 0) {
            const uint8_t q = InterleavedStage::predicted(h, k);
            const bool hit = interleaved_.codeRepeat(rc_, k, c == q);
            if (kObserved) observer_->repeatDecision(hit);
            if (hit) {
              h.push(q);
              side_.giveRepeat(q, c);
              model_.breakSuccessorChain();
              if (side_.finished(c)) return;
            }
          }
        }
      }

      c = side_.template codeModelByte<kObserved>(c);
    }
  }

  // Runs are rare: kept out of the loop, they leave it more registers.
  // False when the data has ended.
  [[gnu::noinline]] bool codeRuns(int& c) {
    const int b = model_.history[0];
    for (;;) {
      int n = side_.takeRun(b, c);
      n = runs_.codeLength(rc_, n);
      if (observer_) observer_->runLength(n);
      side_.giveRun(b, n);
      if (n >= 1) {
        interleaved_.afterRun(n);
        model_.breakSuccessorChain();
      }
      if (side_.finished(c)) return false;
      if (n != RunLengthStage::kMaxRun) return true;
    }
  }

  Side& side_;
  typename Side::Coder& rc_;
  model::Model& model_;
  RunLengthStage runs_;
  InterleavedStage interleaved_;
  CodingObserver* observer_;
  bool e8_;
};

}  // namespace velt
