// Decoding driver: the mirror of the encoding driver. Every decision is taken
// from bytes both sides already have, in the same order, until codedLength
// bytes are produced. Nothing a hostile body holds can push the output past
// codedLength: every run is checked against what is left.
#include <cstdio>
#include <memory>

#include "stages/e8.h"
#include "stages/interleave.h"
#include "entropy/range_coder.h"
#include "pipeline/session.h"
#include "container/crc16.h"
#include "container/header.h"
#include "model/model.h"
#include "text/text_decoder.h"
#include "velt/velt.h"

namespace velt {

namespace {

class DecoderSession {
 public:
  DecoderSession(ByteSource& in, ByteSink& out, Reporter* reporter, CodingObserver* observer)
      : in_(in), out_(out), reporter_(reporter), observer_(observer), rc_(in) {}

  DecodeDetails run();

 private:
  void emit(uint8_t b) {
    if (text_) {
      text_->putDecodedByte(b, counter_);
    } else {
      out_.put(b);
      crc_.update(b);
    }
  }

  // Counts one emitted byte outside the model path.
  void count() {
    ++counter_;
    if (counter_ % 16384 == 0) progress();
  }

  void progress() {
    if (reporter_) reporter_->progress(double(counter_) / double(codedLength_) * 100.0);
  }

  void reserve(int32_t n) {
    if (n > codedLength_ - counter_) throwCorrupt();
  }

  void codeLoop();

  ByteSource& in_;
  ByteSink& out_;
  Reporter* reporter_;
  CodingObserver* observer_;
  Settings s_;
  TextFlags flags_;
  Crc16 crc_;
  RangeDecoder rc_;
  std::unique_ptr<model::Model> model_;
  std::unique_ptr<TextDecoder> text_;
  RunTable runTable_;
  ProgressionTable progressionTable_;
  InterleaveState interleave_;
  E8Group e8_;
  int32_t counter_ = 0;
  int32_t codedLength_ = 0;
};

DecodeDetails DecoderSession::run() {
  DecodeDetails r;
  r.compressedSize = in_.size();
  const ParsedHeader header = readStreamHeader(in_);
  s_ = header.settings;
  flags_ = header.textFlags;
  codedLength_ = header.codedLength;

  if (s_.textTransform) {
    s_.e8Enabled = false;
    text_ = std::make_unique<TextDecoder>(out_, crc_, rc_, flags_, codedLength_);
    text_->start();
  }
  model_ = setUpModel(s_, flags_, reporter_);

  if (codedLength_ > 0) {
    codeLoop();
  } else if (in_.get() != ByteSource::kEnd) {
    throwCorrupt();  // an encoder writes no body for an empty input
  }

  // An address cut short by the end of the input was coded in reverse.
  if (e8_.pending) {
    for (int i = 4 - e8_.pending - 1; i >= 0; --i) emit(e8_.bytes[i]);
  }
  if (text_) text_->finishTextOutput();

  r.counters = model_->counters;
  model_.reset();
  const int64_t written = out_.finish();
  r.extractedSize = text_ ? text_->bytesWritten() : written;
  r.codedLength = codedLength_;
  r.storedCrc = header.storedCrc;
  r.crc = crc_.value;
  r.settings = s_;
  r.textFlags = flags_;
  return r;
}

void DecoderSession::codeLoop() {
  model::Model& model = *model_;
  model::History& h = model.history;
  const bool rleEnabled = s_.rleEnabled;
  const int threshold = s_.rleThreshold;
  bool interleaved = s_.interleaved;

  rc_.start();
  uint8_t c = model.decodeByte(rc_, counter_);
  for (;;) {
    if (observer_) observer_->modelByte(c);
    h.push(c);

    if (e8_.pending) {
      e8_.bytes[4 - e8_.pending] = c;
      if (--e8_.pending == 0) {
        const uint32_t w = uint32_t(e8_.bytes[0]) | (uint32_t(e8_.bytes[1]) << 8) |
                           (uint32_t(e8_.bytes[2]) << 16) | (uint32_t(e8_.bytes[3]) << 24);
        const uint32_t v = uint32_t(e8Inverse(int32_t(w), counter_ - 3, codedLength_));
        for (int i = 0; i < 4; ++i) emit(uint8_t(v >> (8 * i)));
      }
    } else {
      emit(c);
      if (s_.e8Enabled && c == 0xE8) e8_.pending = 4;
    }

    ++counter_;
    if (counter_ % 64 == 0) {
      if (counter_ % 16384 == 0) progress();
      model.adaptBoostShift();
      if (interleaved && !s_.interleavedForced && interleave_.shouldSwitchOff(counter_)) {
        interleaved = false;
        if (observer_) observer_->interleaveSwitchedOff(counter_);
      }
    }
    if (counter_ >= codedLength_) return;

    if (rleEnabled && !e8_.pending && runTrigger(h, threshold)) {
      const uint8_t b = h[0];
      for (;;) {
        const int n = runTable_.decodeSymbol(rc_);
        runTable_.update(n, 120, 4096);
        if (observer_) observer_->runLength(n);
        reserve(n);
        for (int i = 0; i < n; ++i) {
          emit(b);
          count();
        }
        if (n >= 1) {
          interleave_.clearSlotCounts();
          model.breakSuccessorChain();
          interleave_.runBytes += n;
        }
        if (counter_ >= codedLength_) return;
        if (n != kMaxRun) break;
      }
    }

    if (interleaved && !e8_.pending) {
      uint8_t delta;
      if (progressionTrigger(h, &delta)) {
        const int n = progressionTable_.decodeSymbol(rc_);
        progressionTable_.update(n, 20, 768);
        if (observer_) observer_->progressionLength(n);
        if (n >= 1) model.breakSuccessorChain();
        reserve(n);
        uint8_t v = h[0];
        for (int i = 0; i < n; ++i) {
          v = uint8_t(v + delta);
          emit(v);
          count();
        }
        if (counter_ >= codedLength_) return;
      }
      interleave_.repeatCounterStep(h);
      const InterleaveSlot& slot = interleave_.slots[interleave_.ringPos];
      if (slot.predictMark) {
        const int k = slot.predictDistance;
        const uint8_t q = h[k ? 3 : 1];
        RepeatModel& rm = interleave_.repeat[k];
        rm.rescale();
        const uint32_t t = rc_.checkedTarget(rm.total);
        const bool hit = t < rm.hits;
        if (hit) rc_.decodeUpdate(0, rm.hits);
        else rc_.decodeUpdate(rm.hits, rm.total - rm.hits);
        if (observer_) observer_->repeatDecision(hit);
        if (hit) {
          interleave_.recordHit(k);
          h.push(q);
          emit(q);
          count();
          model.breakSuccessorChain();
        } else {
          interleave_.recordMiss(k);
        }
        if (counter_ >= codedLength_) return;
      }
    }

    c = model.decodeByte(rc_, counter_);
  }
}

}  // namespace

DecodeDetails decodeSession(ByteSource& in, ByteSink& out, Reporter* reporter,
                            CodingObserver* observer) {
  DecoderSession session(in, out, reporter, observer);
  return session.run();
}

}  // namespace velt
