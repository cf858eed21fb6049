// Encoding session: takes bytes from the input (or the text transform) through
// the e8 stage into the shared per-byte loop, and frames the body with the
// header.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

#include "analysis/analysis.h"
#include "container/crc16.h"
#include "container/header.h"
#include "entropy/range_coder.h"
#include "model/model.h"
#include "pipeline/pipeline.h"
#include "pipeline/session.h"
#include "stages/e8.h"
#include "text/text_encoder.h"
#include "velt/velt.h"

namespace velt {

namespace {

constexpr int kEnd = ByteSource::kEnd;
constexpr int kNoE8 = 0x100;  // no byte value

class EncoderSession {
 public:
  using Coder = RangeEncoder;

  EncoderSession(ByteSource& in, ByteSink& out, const Settings& settings, Reporter* reporter,
                 CodingObserver* observer)
      : in_(in),
        out_(out),
        s_(settings),
        reporter_(reporter),
        observer_(observer),
        rc_(out, observer) {}

  EncodeDetails run();

  // The pipeline's side (see pipeline.h).
  bool begin(int& c) {
    c = fetchByte();
    if (c == kEnd) return false;
    count();
    return true;
  }

  template <bool kObserved>
  int codeModelByte(int c) {
    if (kObserved) observer_->modelByte(uint8_t(c));
    model_->encodeByte(rc_, uint8_t(c));
    return c;
  }

  template <bool kE8>
  void tookModelByte(int) {}
  int32_t counter() const { return counter_; }
  void checkpoint(int32_t) {}
  bool e8Pending() const { return e8_.pending != 0; }
  bool finished(int c) const { return c == kEnd; }

  // The next byte: from a pending e8 group, a new group after an 0xE8, or the
  // source.
  template <bool kE8>
  bool next(int& c) {
    c = (kE8 && (e8_.pending != 0 || c == e8Opcode_)) ? e8Byte() : fetchByte();
    if (c == kEnd) return false;
    count();
    return true;
  }

  int takeRun(int b, int& c) {
    int n = 0;
    while (c == b && n < RunLengthStage::kMaxRun) {
      if (next_ == end_) {
        if (atBlockEnd()) break;
        ++n;
        take(c);
        continue;
      }
      // Within the window no block can end: take the run's bytes there at
      // once, up to the first other byte, which is taken too.
      const int room = int(std::min<ptrdiff_t>(end_ - next_, RunLengthStage::kMaxRun - n));
      int taken = 0;
      do c = next_[taken++];
      while (c == b && taken < room);
      next_ += taken;
      n += taken;
      countMany(taken);
    }
    return n;
  }

  int takeProgression(uint8_t from, uint8_t delta, int& c) {
    int n = 0;
    if (c != uint8_t(from + delta)) return 0;
    int p;
    do {
      if (n == InterleavedStage::kMaxProgression || atBlockEnd()) break;
      ++n;
      p = c;
      take(c);
    } while (c == uint8_t(p + delta));
    return n;
  }

  void giveRun(int, int) {}
  void giveProgression(uint8_t, uint8_t, int) {}
  void giveRepeat(uint8_t, int& c) { take(c); }

 private:
  void take(int& c) {
    c = fetchByte();
    if (c != kEnd) count();
  }

  // The next byte of the current e8 group, or of a new one after an 0xE8,
  // whose address is rewritten here; kEnd when the input has ended.
  [[gnu::noinline]] int e8Byte() {
    if (e8_.pending) {
      if (e8_.pending == 1) {
        e8_.pending = 0;
        return fetchByte();
      }
      --e8_.pending;
      return e8_.bytes[e8_.collected - e8_.pending];
    }
    int n = 0;
    for (; n < 4; ++n) {
      const int b = fetchByte();
      if (b == kEnd) break;
      e8_.bytes[n] = uint8_t(b);
    }
    if (n == 0) return kEnd;
    if (n == 4) {
      const uint32_t v = uint32_t(e8_.bytes[0]) | (uint32_t(e8_.bytes[1]) << 8) |
                         (uint32_t(e8_.bytes[2]) << 16) | (uint32_t(e8_.bytes[3]) << 24);
      const uint32_t w = uint32_t(e8Forward(int32_t(v), counter_, int32_t(inputLength_)));
      for (int i = 0; i < 4; ++i) e8_.bytes[i] = uint8_t(w >> (8 * i));
    } else {
      // An address cut short by the end of the input goes out reversed.
      for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(e8_.bytes[i], e8_.bytes[j]);
    }
    e8_.pending = e8_.collected = n;
    return e8_.bytes[0];
  }

  int fetchByte() {
    if (next_ == end_ && !takeBytes()) return kEnd;
    return *next_++;
  }

  // The loop reads through its own cursor over whole windows of the source
  // or whole blocks of the text encoder. The whole input is read in any case,
  // so each window goes into the CRC as it is taken.
  [[gnu::noinline]] bool takeBytes() {
    if (text_) {
      if (text_->fillTextBuffer()) return false;
      next_ = text_->textBuffer();
      end_ = next_ + text_->textBufferLength;
      text_->textBufferPos = text_->textBufferLength;
      return true;
    }
    const uint8_t* begin;
    const uint8_t* end;
    if (!in_.takeWindow(begin, end)) return false;
    crc_.update(begin, static_cast<size_t>(end - begin));
    next_ = begin;
    end_ = end;
    return true;
  }

  // True when a run or progression must not reach into the next text block
  // (whose side information is coded when it is filled).
  bool atBlockEnd() const { return next_ == end_ && text_ && text_->atBlockEnd(); }

  void count() {
    if (uint32_t(counter_) == nextReport_) reportProgress();
    ++counter_;
  }

  // As count() n times.
  void countMany(int32_t n) {
    while (uint32_t(counter_) + uint32_t(n) > nextReport_) {
      const int32_t upTo = int32_t(nextReport_ - uint32_t(counter_));
      counter_ += upTo;
      n -= upTo;
      reportProgress();
      ++counter_;
      --n;
    }
    counter_ += n;
  }

  [[gnu::noinline]] void reportProgress() {
    nextReport_ += kReportEvery;
    double produced = text_ ? double(text_->producedBytes) : 1.0;
    double consumed = text_ ? double(text_->consumedChars) : 1.0;
    if (produced <= 0) produced = 1;
    reporter_->progress(double(counter_ + 1) / produced * consumed /
                        double(inputLength_ ? inputLength_ : 1) * 100.0);
  }

  static constexpr uint32_t kReportEvery = 16384;

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
  const uint8_t* next_ = nullptr;  // the bytes taken but not yet fetched
  const uint8_t* end_ = nullptr;
  E8Group e8_;
  int e8Opcode_ = kNoE8;  // 0xE8 when the e8 stage is on: one compare per byte
  int32_t counter_ = 0;
  // The count at which progress is next reported; a count never reaches the
  // start value, so without a reporter this costs one compare per byte.
  uint32_t nextReport_ = UINT32_MAX;
  int64_t inputLength_ = 0;
};

EncodeDetails EncoderSession::run() {
  inputLength_ = in_.size();
  if (reporter_) nextReport_ = 0;
  if (inputLength_ > kMaxInputSize) {
    throw Error(ErrorKind::InputTooLarge,
                "Input file too large: 2 GB or more cannot be compressed");
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

  if (s_.e8Enabled) e8Opcode_ = 0xE8;
  Pipeline<EncoderSession>(*this, rc_, *model_, s_, observer_).run();

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

}  // namespace

EncodeDetails encodeSession(ByteSource& in, ByteSink& out, const Settings& settings,
                            Reporter* reporter, CodingObserver* observer) {
  EncoderSession session(in, out, settings, reporter, observer);
  return session.run();
}

}  // namespace velt
