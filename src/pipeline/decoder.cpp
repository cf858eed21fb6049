// Decoding session: reads the header, runs the shared per-byte loop until
// codedLength bytes are produced, and sends them out through the e8 stage or
// the text decoder. Every run is checked against what is left, so a hostile
// body can never push the output past codedLength.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "container/crc16.h"
#include "container/header.h"
#include "entropy/range_coder.h"
#include "model/model.h"
#include "pipeline/pipeline.h"
#include "pipeline/session.h"
#include "stages/e8.h"
#include "text/text_decoder.h"
#include "velt/velt.h"

namespace velt {

namespace {

class DecoderSession {
 public:
  using Coder = RangeDecoder;

  DecoderSession(ByteSource& in, ByteSink& out, Reporter* reporter, CodingObserver* observer)
      : in_(in), out_(out), reporter_(reporter), observer_(observer), rc_(in) {}

  DecodeDetails run();

  // The pipeline's side (see pipeline.h).
  bool begin(int&) {
    rc_.start();
    return true;
  }

  template <bool kObserved>
  int codeModelByte(int) {
    const uint8_t c = model_->decodeByte(rc_);
    if (kObserved) observer_->modelByte(c);
    return c;
  }

  // The model's byte goes out through the e8 stage: the four bytes after an
  // 0xE8 are held back until the address can be restored.
  template <bool kE8>
  void tookModelByte(int c) {
    if (kE8 && e8_.pending) {
      collectE8(uint8_t(c));
    } else {
      emit(uint8_t(c));
      if (kE8 && c == e8Opcode_) e8_.pending = 4;
    }
    ++counter_;  // progress marks are multiples of 64: checkpoint() reports them
  }

  [[gnu::noinline]] void collectE8(uint8_t c) {
    e8_.bytes[4 - e8_.pending] = c;
    if (--e8_.pending == 0) {
      const uint32_t w = uint32_t(e8_.bytes[0]) | (uint32_t(e8_.bytes[1]) << 8) |
                         (uint32_t(e8_.bytes[2]) << 16) | (uint32_t(e8_.bytes[3]) << 24);
      const uint32_t v = uint32_t(e8Inverse(int32_t(w), counter_ - 3, codedLength_));
      for (int i = 0; i < 4; ++i) emit(uint8_t(v >> (8 * i)));
    }
  }

  int32_t counter() const { return counter_; }
  void checkpoint(int32_t counter) {
    if (uint32_t(counter) == nextReport_) reportProgress();
  }
  template <bool>
  bool next(int&) const {
    return counter_ < codedLength_;
  }
  bool e8Pending() const { return e8_.pending != 0; }
  bool finished(int) const { return counter_ >= codedLength_; }

  int takeRun(int, int&) const { return 0; }
  int takeProgression(uint8_t, uint8_t, int&) const { return 0; }

  // Nothing a hostile body holds can push the output past codedLength.
  void giveRun(int b, int n) {
    reserve(n);
    if (text_) {
      for (int i = 0; i < n; ++i) {
        emit(uint8_t(b));
        count();
      }
      return;
    }
    // Plain output takes the run as one fill.
    while (n > 0) {
      const int here = std::min(n, int(sizeof stage_ - staged_));
      std::memset(stage_ + staged_, b, size_t(here));
      staged_ += size_t(here);
      if (staged_ == sizeof stage_) flushStaged();
      countMany(here);
      n -= here;
    }
  }

  void giveProgression(uint8_t from, uint8_t delta, int n) {
    reserve(n);
    uint8_t v = from;
    for (int i = 0; i < n; ++i) {
      v = uint8_t(v + delta);
      emit(v);
      count();
    }
  }

  void giveRepeat(uint8_t q, int&) {
    emit(q);
    count();
  }

 private:
  // Plain output is staged and leaves, with its CRC, a block at a time.
  void emit(uint8_t b) {
    if (text_) {
      text_->putDecodedByte(b, counter_);
    } else {
      stage_[staged_++] = b;
      if (staged_ == sizeof stage_) flushStaged();
    }
  }

  [[gnu::noinline]] void flushStaged() {
    crc_.update(stage_, staged_);
    out_.write(stage_, staged_);
    staged_ = 0;
  }

  void count() {
    if (uint32_t(++counter_) == nextReport_) reportProgress();
  }

  // As count() n times.
  void countMany(int32_t n) {
    while (uint32_t(counter_) + uint32_t(n) >= nextReport_) {
      const int32_t upTo = int32_t(nextReport_) - counter_;
      counter_ += upTo;
      n -= upTo;
      reportProgress();
    }
    counter_ += n;
  }

  [[gnu::noinline]] void reportProgress() {
    nextReport_ += kReportEvery;
    reporter_->progress(double(counter_) / double(codedLength_) * 100.0);
  }

  void reserve(int32_t n) {
    if (n > codedLength_ - counter_) throwCorrupt();
  }

  static constexpr uint32_t kReportEvery = 16384;
  static_assert(kReportEvery % 64 == 0, "checkpoint() sees every mark");

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
  E8Group e8_;
  int e8Opcode_ = 0x100;  // 0xE8 when the e8 stage is on (else no byte value): one compare per byte
  int32_t counter_ = 0;
  int32_t codedLength_ = 0;
  // The count at which progress is next reported; a count never reaches the
  // start value, so without a reporter this costs one compare per byte.
  uint32_t nextReport_ = UINT32_MAX;
  uint8_t stage_[8192];
  size_t staged_ = 0;  // an index, not a pointer, so stores to it cannot alias the members
};

DecodeDetails DecoderSession::run() {
  DecodeDetails r;
  r.compressedSize = in_.size();
  const ParsedHeader header = readStreamHeader(in_);
  s_ = header.settings;
  flags_ = header.textFlags;
  codedLength_ = header.codedLength;
  if (reporter_) nextReport_ = kReportEvery;

  if (s_.textTransform) {
    s_.e8Enabled = false;
    text_ = std::make_unique<TextDecoder>(out_, crc_, rc_, flags_, codedLength_);
    text_->start();
  }
  model_ = setUpModel(s_, flags_, reporter_);

  if (s_.e8Enabled) e8Opcode_ = 0xE8;
  if (codedLength_ > 0) {
    Pipeline<DecoderSession>(*this, rc_, *model_, s_, observer_).run();
  } else if (in_.get() != ByteSource::kEnd) {
    throwCorrupt();  // an encoder writes no body for an empty input
  }

  // An address cut short by the end of the input was coded in reverse.
  if (e8_.pending) {
    for (int i = 4 - e8_.pending - 1; i >= 0; --i) emit(e8_.bytes[i]);
  }
  flushStaged();
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

}  // namespace

DecodeDetails decodeSession(ByteSource& in, ByteSink& out, Reporter* reporter,
                            CodingObserver* observer) {
  DecoderSession session(in, out, reporter, observer);
  return session.run();
}

}  // namespace velt
