// Text decoder, the text encoder's mirror: stage 2 is undone byte by byte
// into `staged`, which is restored token by token (case markers, escapes,
// inserted spaces) through the line layer (line ends turned back from
// spaces) and the space layer (doubled spaces) to the output. Runs of plain
// bytes skip the token-by-token path (passPlainRun).
//
// Restoring is deferred while the buffer may end inside a token. A token is
// at most a few bytes, so a full buffer is restored up to its incomplete last
// token, and a block end or the stream end must fall between tokens. Lists in
// the side information are bounded by what a block of the announced length
// can carry: every code or run entry stands for at least one character, and
// one coded byte stands for at most four stage-1 bytes.
#include "text/text_decoder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "text/char_classes.h"
#include "text/letter_scan.h"
#include "text/ngram.h"
#include "text/side_info.h"
#include "text/text_options.h"

namespace velt {

using text::kClasses;

namespace {

constexpr int kLF = text::kLineFeed;
constexpr int kCR = text::kCarriageReturn;
constexpr int kSpace = text::kSpace;
constexpr uint8_t kEsc = text::kEscapeByte;

constexpr size_t kBufferSize = 0x70000;
constexpr size_t kFlushFill = 0x20000;
// Room for one more decoded byte (four stage-1 bytes) plus slack.
constexpr size_t kForcedFlushFill = kBufferSize - 64;
// Longest token: capital marker, escaped inserted space, escaped letter.
constexpr size_t kMaxToken = 5;
constexpr int32_t kNoMoreDoubles = INT32_MAX;

// Stage-1 bytes that are a token of their own and, outside all-caps text,
// stand for themselves: not an escape, a case marker or punctuation (line
// feeds included).
constexpr std::array<uint8_t, 256> makePlainBytes() {
  std::array<uint8_t, 256> plain{};
  for (int b = 0; b < 256; ++b) {
    plain[b] = b != kEsc && b != text::kCapitalMarker && b != text::kAllCapsMarker &&
               !kClasses.punctuation[b];
  }
  return plain;
}
constexpr std::array<uint8_t, 256> kPlainBytes = makePlainBytes();

// The scans below read up to 16 bytes past their end: the buffer keeps that
// much room behind its fill.
constexpr size_t kScanSlack = 16;
static_assert(kBufferSize - kForcedFlushFill >= kScanSlack);

// The end of the plain bytes at p[from..n).
inline size_t plainRunEnd(const uint8_t* p, size_t from, size_t n) {
  size_t end = from;
#if defined(__SSE2__)
  static_assert(text::holdsLettersAndDigits(kPlainBytes) && kPlainBytes[kSpace] != 0);
  // Lower-case letters, digits and spaces, nearly all of a plain run, are tested
  // 16 at a time.
  while (end + 16 <= n) {
    const __m128i v = text::load16(p + end);
    const uint32_t other =
        ~text::byteMask(_mm_or_si128(text::lowerLettersAndDigits(v), text::spaces(v))) & 0xFFFF;
    if (!other) {
      end += 16;
      continue;
    }
    end += size_t(__builtin_ctz(other));  // that byte may still be plain: a capital, a sign
    if (!kPlainBytes[p[end]]) return end;
    ++end;
  }
#endif
  while (end < n && kPlainBytes[p[end]]) ++end;
  return end;
}

// The first space at p[from..n), or n.
inline size_t nextSpace(const uint8_t* p, size_t from, size_t n) {
#if defined(__SSE2__)
  for (size_t k = from; k < n; k += 16) {
    const uint32_t spaces = text::byteMask(text::spaces(text::load16(p + k)));
    if (spaces) return std::min(n, k + size_t(__builtin_ctz(spaces)));
  }
  return n;
#else
  while (from < n && p[from] != kSpace) ++from;
  return from;
#endif
}

}  // namespace

struct TextDecoder::Impl : text::TextOptions {
  Impl(Staging& hot, ByteSink& out, Crc16& crc, RangeDecoder& coder, const TextFlags& f,
       int32_t codedLength)
      : TextOptions(f),
        hot(hot),
        out(out),
        crc(crc),
        coder(coder),
        codedLength(codedLength),
        staged(kBufferSize) {
    if (unwrapLines) lineEndCodes.reserve(65535);
    if (doubleSpaces) spaceRunList.reserve(32768);
    hot.data = staged.data();
    scheduleCheck(-1);
  }

  void checkpoint(int32_t passed);
  void scheduleCheck(int32_t passed);
  void readSideInfo(int64_t bytesPassed);
  void flushStaged();
  size_t tokenSize(size_t i, size_t n) const;
  void decodeStagedText(bool complete);
  size_t passPlainRun(size_t i, size_t n);
  void moveOverWord(const uint8_t* p, size_t n);
  bool passSpace();
  void writeSpan(const uint8_t* p, size_t n);
  void dispatch(int ch);
  void restoreLineEnd(int ch);
  void emitOutputChar(int ch);
  int32_t nextSpaceRun();
  void write(int ch) {
    const uint8_t b = static_cast<uint8_t>(ch);
    out.put(b);
    crc.update(b);
    ++written;
  }

  // staged[0..hot.fill) is filled by putDecodedByte; the buffer never moves.
  Staging& hot;
  ByteSink& out;
  Crc16& crc;
  RangeDecoder& coder;
  const int32_t codedLength;

  std::vector<uint8_t> staged;
  int64_t blockRemaining = 0;  // as of the last checkpoint
  int64_t checkSpan = 1;       // coded bytes from the last checkpoint to the next

  bool hasPending = false;
  int pendingChar = kLF;
  int charBeforePending = 0;
  bool capsActive = false;

  int column = 0;
  int wrapExcess = -1;
  int lastOutChar = -1;
  std::vector<uint8_t> lineEndCodes;
  size_t codeRead = 0;

  std::vector<uint8_t> spaceRunList;
  size_t runRead = 0;
  int32_t singleSpaceCount = 0;
  bool afterLineFeed = false;

  SideInfoCoder side;
  int64_t written = 0;
};

// The bytes up to the next checkpoint can neither end a block or the stream
// nor, at four stage-1 bytes each at most, fill the buffer to kFlushFill, so
// nothing but their expansion is due. `passed` counts up by one per byte.
void TextDecoder::Impl::scheduleCheck(int32_t passed) {
  const size_t fill = hot.fill;
  int64_t span = fill < kFlushFill ? static_cast<int64_t>(kFlushFill - fill) / 4 : 1;
  if (unwrapLines) {
    span = std::min({span, blockRemaining, static_cast<int64_t>(codedLength) - 1 - passed});
  }
  hot.untilCheck = checkSpan = std::max<int64_t>(span, 1);
}

void TextDecoder::Impl::checkpoint(int32_t passed) {
  if (unwrapLines) {
    blockRemaining -= checkSpan;
    const bool lastByte = passed >= codedLength - 1;
    if (blockRemaining == 0) {
      if (hot.codeEscapePending) throwCorrupt();
      decodeStagedText(true);
      // The block ends between tokens; what is still pending is a character
      // of this block and is written with this block's lists.
      if (hasPending) {
        restoreLineEnd(pendingChar);
        hasPending = false;
      }
      if (!lastByte) readSideInfo(static_cast<int64_t>(passed) + 1);
      scheduleCheck(passed);
      return;
    }
    if (lastByte) throwCorrupt();  // the stream ends inside a block
  }
  if (hot.fill >= kFlushFill) flushStaged();
  scheduleCheck(passed);
}

void TextDecoder::Impl::readSideInfo(int64_t bytesPassed) {
  coder.start();
  const uint32_t length = side.codeBlockLength(coder, 0);
  if (length == 0 || length > static_cast<int64_t>(codedLength) - bytesPassed) throwCorrupt();
  blockRemaining = length;
  const size_t maxEntries = 4 * static_cast<size_t>(length) + 1;

  if (codeRead == lineEndCodes.size()) {
    lineEndCodes.clear();
  } else {
    lineEndCodes.erase(lineEndCodes.begin(),
                       lineEndCodes.begin() + static_cast<std::ptrdiff_t>(codeRead));
  }
  codeRead = 0;
  const size_t maxCodes = lineEndCodes.size() + maxEntries;
  for (;;) {
    const int s = side.codeLineEnd(coder, 0);
    if (s == SideInfoCoder::kLineEndEnd) break;
    if (lineEndCodes.size() >= maxCodes) throwCorrupt();
    lineEndCodes.push_back(static_cast<uint8_t>(s));
  }

  if (doubleSpaces) {
    spaceRunList.clear();
    for (;;) {
      const int s = side.codeSpaceRun(coder, 0);
      if (s == SideInfoCoder::kSpaceRunEnd) break;
      if (spaceRunList.size() >= maxEntries) throwCorrupt();
      spaceRunList.push_back(static_cast<uint8_t>(s));
    }
    runRead = 0;
    singleSpaceCount = nextSpaceRun();
  }
}

int32_t TextDecoder::Impl::nextSpaceRun() {
  int64_t run = 0;
  while (runRead < spaceRunList.size()) {
    const uint8_t v = spaceRunList[runRead++];
    run += v;
    if (v < 254) return run > kNoMoreDoubles ? kNoMoreDoubles : static_cast<int32_t>(run);
  }
  return kNoMoreDoubles;
}

void TextDecoder::Impl::flushStaged() {
  const size_t fill = hot.fill;
  const uint8_t last = staged[fill - 1];
  const bool mayBeOpen = staged[fill - 2] == text::kCapitalMarker || last == kSpace ||
                         last == kEsc || last == kLF || last == text::kCapitalMarker ||
                         last == text::kAllCapsMarker;
  if (!mayBeOpen || fill >= kForcedFlushFill) decodeStagedText(false);
}

// Bytes of the token starting at staged[i], or 0 when it runs past n.
size_t TextDecoder::Impl::tokenSize(size_t i, size_t n) const {
  size_t j = i;
  int ch = staged[j++];
  if (ch == kEsc) {
    if (j >= n) return 0;
    ch = staged[j++];
  } else if (!(capsActive && kClasses.isLetter[ch]) &&
             (ch == text::kCapitalMarker || ch == text::kAllCapsMarker)) {
    if (ch == text::kCapitalMarker && mostlyLowercase) {
      if (j >= n) return 0;
      j += staged[j] == kEsc ? 2 : 1;
    }
    if (j >= n) return 0;
    if (staged[j++] == kEsc) ++j;
    if (j > n) return 0;
    return j - i;  // a marker yields a letter or 0, never a line feed
  }
  if (ch == kLF && softLineBreaks) {
    if (j >= n) return 0;
    j += staged[j] == kEsc ? 2 : 1;
    if (j > n) return 0;
  }
  return j - i;
}

void TextDecoder::Impl::decodeStagedText(bool complete) {
  const size_t n = hot.fill;
  size_t i = 0;
  while (i < n) {
    if (!capsActive && kPlainBytes[staged[i]]) {
      i = passPlainRun(i, n);
      continue;
    }
    if (n - i <= 2 * kMaxToken && tokenSize(i, n) == 0) {
      if (complete) throwCorrupt();
      break;
    }
    int ch = staged[i++];
    if (ch == kEsc) {
      ch = staged[i++];
      if (capsActive) {
        if (kClasses.isLetter[ch]) {
          ch = kClasses.toUpper[ch];
        } else {
          capsActive = false;
        }
      }
    } else {
      bool raised = false;
      if (capsActive) {
        if (kClasses.isLetter[ch]) {
          ch = kClasses.toUpper[ch];
          raised = true;
        } else {
          capsActive = false;
        }
      }
      if (!raised && (ch == text::kCapitalMarker || ch == text::kAllCapsMarker)) {
        if (ch == text::kCapitalMarker && mostlyLowercase) i += staged[i] == kEsc ? 2 : 1;
        int x = staged[i++];
        if (x == kEsc) x = staged[i++];
        if (ch == text::kAllCapsMarker) capsActive = true;
        ch = kClasses.toUpper[x];
      }
    }
    dispatch(ch);
    if (ch == kLF && softLineBreaks) i += staged[i] == kEsc ? 2 : 1;
  }
  const size_t rest = n - i;
  for (size_t k = 0; k < rest; ++k) staged[k] = staged[i + k];
  hot.fill = rest;
}

// The decoder's fast path: a run of plain bytes at staged[i..). Dispatched one
// by one, each would release the pending character and become pending itself,
// so all but the last are released at once. Nearly all of them come out as
// they are: they go out in spans, with one copy and one CRC pass per span. A
// span ends only at a space that stands for a line end or comes out doubled.
// Returns the end of the run.
size_t TextDecoder::Impl::passPlainRun(size_t i, size_t n) {
  const uint8_t* p = staged.data();
  const size_t end = plainRunEnd(p, i + 1, n);
  if (hasPending) restoreLineEnd(pendingChar);
  const size_t last = end - 1;
  size_t from = i;  // start of the span not yet written
  if (unwrapLines) {
    for (size_t k = i; k < last;) {
      if (p[k] != kSpace) {
        const size_t stretch = nextSpace(p, k + 1, last);
        moveOverWord(p + k, stretch - k);
        k = stretch;
        continue;
      }
      if (!passSpace()) {
        writeSpan(p + from, k - from);
        restoreLineEnd(kSpace);
        from = k + 1;
      } else if (doubleSpaces && !afterLineFeed && singleSpaceCount-- == 0) {
        writeSpan(p + from, k - from);  // the doubled space goes first
        write(kSpace);
        singleSpaceCount = nextSpaceRun();
        from = k;
      }
      ++k;
    }
  }
  writeSpan(p + from, last - from);
  charBeforePending = last > i ? p[last - 1] : pendingChar;
  pendingChar = p[last];
  hasPending = true;
  return end;
}

// What restoreLineEnd does to the column for n plain bytes that are not
// spaces; the bytes themselves are written with their span.
void TextDecoder::Impl::moveOverWord(const uint8_t* p, size_t n) {
  const int count = static_cast<int>(n);
  if (column <= wrapWidth && wrapWidth < column + count) ++wrapExcess;
  column += count;
  lastOutChar = p[n - 1];
  afterLineFeed = false;
}

// restoreLineEnd's column work for a space (unwrapLines), when the space does
// not stand for a line end: then it returns true and the space is counted.
// Otherwise it returns false and changes nothing, for restoreLineEnd to do all.
bool TextDecoder::Impl::passSpace() {
  const int excess = wrapExcess + (column == wrapWidth);
  if (excess < 7 && codeRead < lineEndCodes.size() && excess == lineEndCodes[codeRead])
    return false;
  ++column;
  wrapExcess = excess + (column > wrapWidth);
  lastOutChar = kSpace;
  return true;
}

void TextDecoder::Impl::writeSpan(const uint8_t* p, size_t n) {
  out.write(p, n);
  crc.update(p, n);
  written += static_cast<int64_t>(n);
}

void TextDecoder::Impl::dispatch(int ch) {
  if (ch == kLF) {
    if (hasPending) {
      if (!(softLineBreaks && !crlfLineEnds)) {
        restoreLineEnd(pendingChar);
        charBeforePending = pendingChar;
      }
    }
    pendingChar = kLF;
    restoreLineEnd(kLF);
    hasPending = false;
  } else if (kClasses.punctuation[ch]) {
    if (hasPending) {
      const bool inserted = sparsePunctuation && pendingChar == kSpace &&
                            (kClasses.isLetter[charBeforePending] || charBeforePending == kSpace);
      if (!inserted) restoreLineEnd(pendingChar);
    }
    charBeforePending = pendingChar;
    pendingChar = ch;
    restoreLineEnd(ch);
    hasPending = false;
  } else {
    if (hasPending) restoreLineEnd(pendingChar);
    charBeforePending = pendingChar;
    pendingChar = ch;
    hasPending = true;
  }
}

void TextDecoder::Impl::restoreLineEnd(int ch) {
  if (!unwrapLines) {
    emitOutputChar(ch);
    return;
  }
  if (column == wrapWidth) ++wrapExcess;
  const bool lineEnd = ch == kLF && (!crlfLineEnds || lastOutChar == kCR);
  if (lineEnd) {
    if (wrapExcess >= 7 && codeRead < lineEndCodes.size()) ++codeRead;
    column = 0;
    wrapExcess = -1;
  } else {
    ++column;
    if (ch == kSpace) {
      if (wrapExcess < 7 && codeRead < lineEndCodes.size() &&
          wrapExcess == lineEndCodes[codeRead]) {
        if (crlfLineEnds) emitOutputChar(kCR);
        ++codeRead;
        column = 0;
        wrapExcess = -1;
        ch = kLF;
      } else if (column > wrapWidth) {
        ++wrapExcess;
      }
    }
  }
  lastOutChar = ch;
  emitOutputChar(ch);
}

void TextDecoder::Impl::emitOutputChar(int ch) {
  if (doubleSpaces) {
    if (afterLineFeed && ch != kSpace) afterLineFeed = false;
    if (ch == kLF) {
      afterLineFeed = true;
    } else if (ch == kSpace && !afterLineFeed) {
      if (singleSpaceCount == 0) {
        write(kSpace);
        singleSpaceCount = nextSpaceRun();
      } else {
        --singleSpaceCount;
      }
    }
  }
  write(ch);
}

TextDecoder::TextDecoder(ByteSink& out, Crc16& crc, RangeDecoder& coder, const TextFlags& flags,
                         int32_t codedLength)
    : codeMap_(text::ngramSet(flags.russian != 0, flags.textMode)),
      impl_(std::make_unique<Impl>(hot_, out, crc, coder, flags, codedLength)) {}

TextDecoder::~TextDecoder() = default;

void TextDecoder::start() {
  if (impl_->unwrapLines) {
    impl_->readSideInfo(0);
    impl_->scheduleCheck(-1);
  }
}

void TextDecoder::checkpoint(int32_t passed) { impl_->checkpoint(passed); }

void TextDecoder::finishTextOutput() {
  Impl& d = *impl_;
  if (hot_.codeEscapePending) throwCorrupt();
  d.decodeStagedText(true);
  if (d.hasPending) {
    d.restoreLineEnd(d.pendingChar);
    d.hasPending = false;
  }
}

int64_t TextDecoder::bytesWritten() const { return impl_->written; }

}  // namespace velt
