// Encoding driver: takes bytes from the input (or the text transform), routes
// each to the e8 stage, run-length coding, interleaved coding or the model,
// and frames the body with the header. The order of these steps is part of the
// stream format; the decoding driver mirrors it step for step.
#include <cstdio>
#include <memory>

#include "analysis/analysis.h"
#include "stages/e8.h"
#include "stages/interleave.h"
#include "entropy/range_coder.h"
#include "pipeline/session.h"
#include "container/crc16.h"
#include "container/header.h"
#include "model/model.h"
#include "text/text_encoder.h"
#include "velt/velt.h"

namespace velt {

namespace {

constexpr int kEnd = ByteSource::kEnd;

class EncoderSession {
 public:
  EncoderSession(ByteSource& in, ByteSink& out, const Settings& settings, Reporter* reporter,
                 CodingObserver* observer)
      : in_(in), out_(out), s_(settings), reporter_(reporter), observer_(observer),
        rc_(out, observer) {}

  EncodeDetails run();

 private:
  int fetchByte() {
    if (text_) {
      if (text_->textBufferPos == text_->textBufferLength) {
        if (text_->fillTextBuffer()) return kEnd;
        textBuffer_ = text_->textBuffer();
      }
      return textBuffer_[text_->textBufferPos++];
    }
    const int b = in_.get();
    if (b >= 0) crc_.update(static_cast<uint8_t>(b));
    return b;
  }

  // True when a run or progression must not reach into the next text block
  // (whose side information is coded when it is filled).
  bool atBlockEnd() const {
    return text_ && text_->textBufferPos == text_->textBufferLength && text_->atBlockEnd();
  }

  void count() {
    if (counter_ % 16384 == 0 && reporter_) {
      double produced = text_ ? double(text_->producedBytes) : 1.0;
      double consumed = text_ ? double(text_->consumedChars) : 1.0;
      if (produced <= 0) produced = 1;
      reporter_->progress(double(counter_ + 1) / produced * consumed / double(inputLength_ ? inputLength_ : 1) * 100.0);
    }
    ++counter_;
  }

  void codeLoop();

  ByteSource& in_;
  ByteSink& out_;
  Settings s_;
  TextFlags flags_;
  Reporter* reporter_;
  CodingObserver* observer_;
  Crc16 crc_;
  RangeEncoder rc_;
  std::unique_ptr<model::Model> model_;
  std::unique_ptr<TextEncoder> text_;
  const uint8_t* textBuffer_ = nullptr;
  RunTable runTable_;
  ProgressionTable progressionTable_;
  InterleaveState interleave_;
  E8Group e8_;
  int32_t counter_ = 0;
  int64_t inputLength_ = 0;
};

EncodeDetails EncoderSession::run() {
  inputLength_ = in_.size();
  if (inputLength_ > kMaxInputSize) {
    throw Error(ErrorKind::InputTooLarge, "Input file too large: 2 GB or more cannot be compressed");
  }
  flags_.textMode = s_.textMode;
  analyzeInput(in_, s_, flags_, reporter_);
  if (s_.textTransform) {
    flags_.textMode = s_.textMode;
    if (reporter_) {
      if (flags_.english) reporter_->analysed(InputKind::EnglishText);
      else if (flags_.russian) reporter_->analysed(InputKind::RussianText);
    }
    s_.e8Enabled = false;
  } else {
    flags_ = TextFlags{};
  }
  writeStreamHeader(out_, s_, flags_);

  model_ = setUpModel(s_, flags_, reporter_);
  if (s_.textTransform) text_ = std::make_unique<TextEncoder>(in_, crc_, rc_, flags_);

  codeLoop();

  EncodeDetails r;
  r.counters = model_->counters;
  model_.reset();
  if (counter_ != 0) rc_.flush();
  patchStreamHeader(out_, crc_.value, counter_);
  r.compressedSize = out_.finish();
  r.originalSize = inputLength_;
  r.codedLength = counter_;
  r.crc = crc_.value;
  r.settings = s_;
  r.textFlags = flags_;
  if (text_) {
    r.consumedChars = text_->consumedChars;
    r.producedBytes = text_->producedBytes;
  }
  return r;
}

void EncoderSession::codeLoop() {
  model::Model& model = *model_;
  model::History& h = model.history;
  const bool rleEnabled = s_.rleEnabled;
  const int threshold = s_.rleThreshold;
  bool interleaved = s_.interleaved;

  int c = fetchByte();
  if (c == kEnd) return;
  count();
  if (observer_) observer_->modelByte(uint8_t(c));
  model.encodeByte(rc_, uint8_t(c), counter_);

  for (;;) {
    h.push(uint8_t(c));
    if (counter_ % 64 == 0) {
      model.adaptBoostShift();
      if (interleaved && !s_.interleavedForced && interleave_.shouldSwitchOff(counter_)) {
        interleaved = false;
        if (observer_) observer_->interleaveSwitchedOff(counter_);
      }
    }

    // Next byte: from a pending e8 group, a new group, or the source.
    if (e8_.pending) {
      if (e8_.pending == 1) {
        e8_.pending = 0;
        c = fetchByte();
      } else {
        --e8_.pending;
        c = e8_.bytes[e8_.collected - e8_.pending];
      }
    } else if (s_.e8Enabled && c == 0xE8) {
      int n = 0;
      for (; n < 4; ++n) {
        const int b = fetchByte();
        if (b == kEnd) break;
        e8_.bytes[n] = uint8_t(b);
      }
      if (n == 0) return;
      if (n == 4) {
        const uint32_t v = uint32_t(e8_.bytes[0]) | (uint32_t(e8_.bytes[1]) << 8) |
                           (uint32_t(e8_.bytes[2]) << 16) | (uint32_t(e8_.bytes[3]) << 24);
        const uint32_t w = uint32_t(e8Forward(int32_t(v), counter_, int32_t(inputLength_)));
        for (int i = 0; i < 4; ++i) e8_.bytes[i] = uint8_t(w >> (8 * i));
      } else {
        for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(e8_.bytes[i], e8_.bytes[j]);
      }
      e8_.pending = e8_.collected = n;
      c = e8_.bytes[0];
    } else {
      c = fetchByte();
    }
    if (c == kEnd) return;
    count();

    // Run-length coding.
    if (rleEnabled && !e8_.pending && runTrigger(h, threshold)) {
      const int b = h[0];
      for (;;) {
        int n = 0;
        while (c == b && n < kMaxRun && !atBlockEnd()) {
          ++n;
          c = fetchByte();
          if (c != kEnd) count();
        }
        runTable_.encodeSymbol(rc_, n);
        runTable_.update(n, 120, 4096);
        if (observer_) observer_->runLength(n);
        if (n >= 1) {
          interleave_.clearSlotCounts();
          model.breakSuccessorChain();
          interleave_.runBytes += n;
        }
        if (c == kEnd) return;
        if (n != kMaxRun) break;
      }
    }

    // Interleaved coding.
    if (interleaved && !e8_.pending) {
      uint8_t delta;
      if (progressionTrigger(h, &delta)) {
        int n = 0;
        if (c == uint8_t(h[0] + delta)) {
          int p;
          do {
            if (n == kMaxProgression || atBlockEnd()) break;
            ++n;
            p = c;
            c = fetchByte();
            if (c != kEnd) count();
          } while (c == uint8_t(p + delta));
        }
        progressionTable_.encodeSymbol(rc_, n);
        progressionTable_.update(n, 20, 768);
        if (observer_) observer_->progressionLength(n);
        if (n >= 1) model.breakSuccessorChain();
        if (c == kEnd) return;
      }
      interleave_.repeatCounterStep(h);
      const InterleaveSlot& slot = interleave_.slots[interleave_.ringPos];
      if (slot.predictMark) {
        const int k = slot.predictDistance;
        const uint8_t q = h[k ? 3 : 1];
        RepeatModel& rm = interleave_.repeat[k];
        rm.rescale();
        const bool hit = (c == q);
        if (hit) rc_.encode(0, rm.hits, rm.total);
        else rc_.encode(rm.hits, rm.total - rm.hits, rm.total);
        if (observer_) observer_->repeatDecision(hit);
        if (hit) {
          interleave_.recordHit(k);
          h.push(q);
          c = fetchByte();
          if (c == kEnd) return;
          count();
          model.breakSuccessorChain();
        } else {
          interleave_.recordMiss(k);
        }
      }
    }

    if (observer_) observer_->modelByte(uint8_t(c));
    model.encodeByte(rc_, uint8_t(c), counter_);
  }
}

}  // namespace

EncodeDetails encodeSession(ByteSource& in, ByteSink& out, const Settings& settings,
                            Reporter* reporter, CodingObserver* observer) {
  EncoderSession session(in, out, settings, reporter, observer);
  return session.run();
}

}  // namespace velt
