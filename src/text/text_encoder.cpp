// Text encoder. Layers, lowest first: the character source (merges doubled
// spaces inside lines), the line layer (turns the line ends of wrapped
// paragraphs into spaces), stage 1 (case markers, escapes, inserted spaces)
// into `staged`, and stage 2 (letter-group codes) into the block buffer.
// Most text is plain letters and single spaces, which no layer changes:
// copyPlainRun takes them from the input to `staged` in one loop.
//
// Blocks end after a non-delimiter token once 0x20000 stage-1 bytes have
// collected. A long stretch without such a token (delimiter runs, all-caps
// text) keeps the block open; the buffers then grow. Two measures bound that
// without changing any stream that a plain encoder can write:
//  - without unwrapLines no block length is coded: stage 2 runs
//    incrementally and a block beyond 16 MB of stage-1 bytes is handed out
//    in chunks; atBlockEnd() tells the driver where the block really ends;
//  - with unwrapLines the block length travels in three base-256 digits, so a
//    block is cut early only when its length would otherwise overflow them
//    (a plain encoder cannot write such a block at all).
#include "text/text_encoder.h"

#include <algorithm>
#include <cstring>

#include "text/char_classes.h"
#include "text/letter_scan.h"
#include "text/ngram.h"
#include "text/side_info.h"
#include "text/text_options.h"

namespace velt {

using text::kClasses;

namespace {

constexpr int kEnd = ByteSource::kEnd;
constexpr int kNoChar = -2;
constexpr int kLF = text::kLineFeed;
constexpr int kCR = text::kCarriageReturn;
constexpr int kSpace = text::kSpace;

constexpr size_t kBlockTarget = 0x20000;
constexpr size_t kInputWindow = 0x10000;
// Without unwrapLines: staged bytes at which an open block hands out a chunk.
constexpr size_t kChunkStaged = 0x1000000;
// With unwrapLines: the largest block length, and when to start watching it.
constexpr size_t kMaxBlockLength = SideInfoCoder::kMaxBlockLength;
constexpr size_t kWatchStaged = 0x7E0000;
// Stage-1 bytes one token can add is below 300; doubled by stage 2 escapes.
constexpr size_t kLengthMargin = 1024;
constexpr size_t kTokenRoom = 300;

enum class StopReason { BlockEnd, InputEnd, Chunk, Cut };

// Bytes that stage 1 copies as a token of their own, touching no state but the
// column: not upper case, punctuation (line ends included), a marker byte or a
// space (spaces are decided apart).
constexpr std::array<uint8_t, 256> makePlainBytes() {
  std::array<uint8_t, 256> plain{};
  for (int b = 0; b < 256; ++b) {
    plain[b] =
        !kClasses.isUpper[b] && !kClasses.punctuation[b] && !kClasses.escaped[b] && b != kSpace;
  }
  return plain;
}
constexpr std::array<uint8_t, 256> kPlainBytes = makePlainBytes();

}  // namespace

struct TextEncoder::Impl : text::TextOptions {
  Impl(TextEncoder& owner, ByteSource& in, Crc16& crc, RangeEncoder& coder, const TextFlags& f)
      : TextOptions(f),
        owner(owner),
        in(in),
        crc(crc),
        coder(coder),
        trie(text::ngramSet(f.russian != 0, f.textMode)),
        codeEscape(trie.codeEscapeSet()),
        window(kInputWindow),
        out(2 * (kBlockTarget + kTokenRoom)) {
    if (unwrapLines) lineEndCodes.reserve(65535);
    if (doubleSpaces) spaceRunList.reserve(32768);
  }

  bool fillTextBuffer();

  // Input, read ahead a window at a time: the CRC runs in one tight loop and
  // copyPlainRun scans the window.
  int readByte() {
    if (inPos == inEnd && !refillWindow()) return kEnd;
    return *inPos++;
  }
  bool refillWindow();
  [[gnu::always_inline]] int readSpacedChar();
  [[gnu::always_inline]] int nextTextChar();
  void appendSpaceRun(int32_t count);

  // Stage 1. The buffers are storage, grown ahead of the writes (and never
  // shrunk) so a byte costs no capacity check and no zero fill.
  void put(uint8_t b) { staged[stagedEnd++] = b; }
  void emitEscaped(int b) {
    if (kClasses.escaped[b]) put(text::kEscapeByte);
    put(static_cast<uint8_t>(b));
  }
  static void reserveAfter(std::vector<uint8_t>& v, size_t used, size_t more) {
    if (v.size() - used < more) v.resize(std::max(2 * v.size(), used + more));
  }
  void emitPunctuation(int ch);
  [[gnu::always_inline]] void copyPlainRun();
  bool stageOneToken(int& last);
  StopReason runStageOne();

  // Stage 2 and side information.
  int matchGroup(const uint8_t* p, uint8_t& code) const;
  void substitute(bool blockEnds);
  void codeSideInfo();

  TextEncoder& owner;
  ByteSource& in;
  Crc16& crc;
  RangeEncoder& coder;

  const text::NgramTrie trie;
  const std::array<uint8_t, 256>& codeEscape;

  std::vector<uint8_t> window;  // [inPos, inEnd) is still to be read
  const uint8_t* inPos = nullptr;
  const uint8_t* inEnd = nullptr;
  // Character source.
  int heldChar = kNoChar;
  int32_t pendingLeadSpaces = 0;
  int32_t singleSpaceCount = 0;
  // Line layer.
  int column = 0;
  int wrapExcess = -1;
  int pushedBack = kNoChar;
  // Stage 1.
  int prevChar = kLF;
  bool inputEnded = false;
  bool blockOpen = false;  // the last buffer handed out was a chunk
  uint8_t word[256];

  // The open block: staged[0..stagedEnd) holds its stage-1 bytes from
  // `dropped` on; stage 2 has consumed them up to `walkPos`.
  std::vector<uint8_t> staged;
  size_t stagedEnd = 0;
  size_t dropped = 0;
  size_t walkPos = 0;
  // The handed-out buffer, out[0..outEnd). A usual block fits from the start,
  // and textBuffer() is never null, even for the empty last block.
  std::vector<uint8_t> out;
  size_t outEnd = 0;

  std::vector<uint8_t> lineEndCodes;
  std::vector<uint8_t> spaceRunList;
  SideInfoCoder side;
};

bool TextEncoder::Impl::refillWindow() {
  uint8_t* w = window.data();
  const size_t n = in.read(w, kInputWindow);
  crc.update(w, n);
  inPos = w;
  inEnd = w + n;
  return n != 0;
}

inline int TextEncoder::Impl::readSpacedChar() {
  int ch;
  if (heldChar != kNoChar) {
    if (pendingLeadSpaces > 0) {
      --pendingLeadSpaces;
      return kSpace;
    }
    ch = heldChar;
    heldChar = kNoChar;
  } else {
    ch = readByte();
  }
  if (!doubleSpaces) return ch;
  if (ch == kSpace) {
    int d = readByte();
    if (d == kEnd) return kSpace;
    if (d != kSpace) {
      heldChar = d;
      ++singleSpaceCount;
      return kSpace;
    }
    appendSpaceRun(singleSpaceCount);
    singleSpaceCount = 0;
    return kSpace;
  }
  if (ch == kLF) {
    int d;
    while ((d = readByte()) == kSpace) ++pendingLeadSpaces;
    heldChar = d;  // may be the end of input
    return kLF;
  }
  return ch;
}

void TextEncoder::Impl::appendSpaceRun(int32_t count) {
  while (count >= 254) {
    spaceRunList.push_back(254);
    count -= 254;
  }
  spaceRunList.push_back(static_cast<uint8_t>(count));
}

inline int TextEncoder::Impl::nextTextChar() {
  if (!unwrapLines) return readByte();
  if (column == wrapWidth) ++wrapExcess;
  int ch;
  if (pushedBack != kNoChar) {
    ch = pushedBack;
    pushedBack = kNoChar;
  } else {
    ch = readSpacedChar();
  }
  if (ch == kEnd) return kEnd;
  bool lineEnd = false;
  if (!crlfLineEnds) {
    lineEnd = ch == kLF;
  } else if (ch == kCR) {
    int ch2 = readSpacedChar();
    if (ch2 == kLF) {
      lineEnd = true;
    } else if (ch2 != kEnd) {
      pushedBack = ch2;
    }
  }
  if (!lineEnd) {
    ++column;
    if (ch == kSpace && column > wrapWidth) ++wrapExcess;
    return ch;
  }
  if (wrapExcess >= 0 && wrapExcess <= 6) {
    lineEndCodes.push_back(static_cast<uint8_t>(wrapExcess));
    column = 0;
    wrapExcess = -1;
    return kSpace;
  }
  if (wrapExcess >= 7) lineEndCodes.push_back(7);
  wrapExcess = -1;
  if (!crlfLineEnds) {
    column = 0;
    return kLF;
  }
  pushedBack = kLF;
  column = -1;
  return kCR;
}

void TextEncoder::Impl::emitPunctuation(int ch) {
  if (ch == kLF) {
    if (softLineBreaks && !crlfLineEnds) put(kSpace);
    put(kLF);
    if (softLineBreaks) put(kSpace);
    return;
  }
  if (sparsePunctuation && (kClasses.isLetter[prevChar] || prevChar == kSpace)) put(kSpace);
  emitEscaped(ch);
}

// The layers' fast path: the tokens ahead that stage 1 passes through as they
// are, plain bytes and single spaces, copied in one loop over the input window.
// Such a token moves the column (a single space also counts towards the space
// runs) and cannot end a block; the copy stops one short of kBlockTarget, from
// where each token is checked for a block end.
inline void TextEncoder::Impl::copyPlainRun() {
  if (heldChar != kNoChar || pushedBack != kNoChar) return;
  const size_t blockStaged = dropped + stagedEnd;
  if (blockStaged + 1 >= kBlockTarget) return;
  size_t n = static_cast<size_t>(inEnd - inPos);
  if (doubleSpaces && n > 0) --n;  // a space is decided by the byte after it
  n = std::min(n, kBlockTarget - 1 - blockStaged);
  reserveAfter(staged, stagedEnd, n);

  // Locals: a byte store could alias any member.
  const bool unwrap = unwrapLines, doubles = doubleSpaces;
  const int width = wrapWidth;
  int col = column, excess = wrapExcess;
  int32_t singles = singleSpaceCount;
  const uint8_t* p = inPos;
  const uint8_t* const stop = p + n;
  uint8_t* dst = staged.data() + stagedEnd;
  // One byte as the layers would take it; false where the run ends.
  auto copyOne = [&](uint8_t c) {
    if (c == kSpace) {
      if (doubles) {
        if (p[1] == kSpace) return false;
        ++singles;
      }
    } else if (!kPlainBytes[c]) {
      return false;
    }
    if (unwrap) {
      if (col == width) ++excess;
      ++col;
      if (c == kSpace && col > width) ++excess;
    }
    *dst++ = c;
    return true;
  };
  for (;;) {
#if defined(__SSE2__)
    // Up to sixteen lower-case letters, digits and single spaces at a time, with
    // copyOne's counts for them. With doubles, the byte after the chunk is
    // still inside the window.
    static_assert(text::holdsLettersAndDigits(kPlainBytes));
    while (stop - p >= 16) {
      const __m128i v = text::load16(p);
      const __m128i space = text::spaces(v);
      uint32_t other =
          ~text::byteMask(_mm_or_si128(text::lowerLettersAndDigits(v), space)) & 0xFFFF;
      if (doubles) other |= text::byteMask(_mm_and_si128(space, text::spaces(text::load16(p + 1))));
      const int taken = other ? __builtin_ctz(other) : 16;
      if (taken == 0) break;
      const __m128i takenSpaces = _mm_andnot_si128(text::fromPosition(taken), space);
      if (doubles) singles += text::countSet(takenSpaces);
      if (unwrap) {
        // The byte at which the column reaches the width, and the spaces from there on.
        const int reach = width - col;
        excess += reach >= 0 && reach < taken;
        excess += text::countSet(
            _mm_and_si128(takenSpaces, text::fromPosition(std::min(std::max(reach, 0), 16))));
        col += taken;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
      dst += taken;
      p += taken;
      if (taken < 16) break;
    }
#endif
    if (p == stop || !copyOne(*p)) break;
    ++p;
  }
  const size_t copied = static_cast<size_t>(p - inPos);
  if (copied == 0) return;
  inPos = p;
  stagedEnd += copied;
  owner.consumedChars += static_cast<int64_t>(copied);
  prevChar = p[-1];
  column = col;
  wrapExcess = excess;
  singleSpaceCount = singles;
}

// One stage-1 token. Returns false when the input ended inside it (or before
// it); otherwise `last` is the character that decides whether a block may end.
bool TextEncoder::Impl::stageOneToken(int& last) {
  int ch = nextTextChar();
  if (ch == kEnd) return false;
  ++owner.consumedChars;
  for (;;) {  // each pass classifies a character already read
    if (kClasses.punctuation[ch]) {
      emitPunctuation(ch);
      break;
    }
    if (!kClasses.isUpper[ch]) {
      emitEscaped(ch);
      break;
    }
    int ch2 = nextTextChar();
    if (ch2 == kEnd) {
      emitEscaped(ch);
      return false;
    }
    ++owner.consumedChars;
    if (!kClasses.isLetter[ch2]) {
      emitEscaped(ch);  // a lone capital stays as it is
      prevChar = ch;
      ch = ch2;
      continue;
    }
    if (!kClasses.isUpper[ch2]) {
      put(text::kCapitalMarker);
      if (mostlyLowercase) put(kSpace);
      emitEscaped(kClasses.toLower[ch]);
      emitEscaped(ch2);
      break;
    }
    int n = 0;
    word[n++] = static_cast<uint8_t>(ch);
    word[n++] = static_cast<uint8_t>(ch2);
    int ch3;
    while ((ch3 = nextTextChar()) != kEnd && kClasses.isUpper[ch3] && n < 254) {
      word[n++] = static_cast<uint8_t>(ch3);
      ++owner.consumedChars;
    }
    ++owner.consumedChars;
    if (ch3 != kEnd && kClasses.isLetter[ch3]) {
      for (int k = 0; k < n; ++k) emitEscaped(word[k]);
      emitEscaped(ch3);
      break;
    }
    put(text::kAllCapsMarker);
    for (int k = 0; k < n; ++k) emitEscaped(kClasses.toLower[word[k]]);
    prevChar = word[n - 1];
    if (ch3 == kEnd) return false;
    ch = ch3;
  }
  prevChar = ch;
  last = ch;
  return true;
}

StopReason TextEncoder::Impl::runStageOne() {
  for (;;) {
    copyPlainRun();
    int last = 0;
    reserveAfter(staged, stagedEnd, kTokenRoom);
    if (!stageOneToken(last)) return StopReason::InputEnd;
    size_t blockStaged = dropped + stagedEnd;
    if (blockStaged < kBlockTarget) continue;
    if (!kClasses.delimiter[last]) return StopReason::BlockEnd;
    if (!unwrapLines) {
      if (stagedEnd >= kChunkStaged) return StopReason::Chunk;
    } else if (stagedEnd >= kWatchStaged && pushedBack == kNoChar) {
      // A character the line layer holds back may be a space already
      // counted in this block's space runs: it must stay in this block.
      substitute(false);
      if (outEnd + 2 * (stagedEnd - walkPos) + kLengthMargin > kMaxBlockLength)
        return StopReason::Cut;
    }
  }
}

// Length of the letter group coded at p (0: none), from four bytes at p.
// The dead node lets every window walk all four bytes and choose its result
// with few branches: which group matches, if any, is as hard to predict as
// the text. The longest group wins, but three bytes that begin a four-byte
// group are never a trigram. No group holds a zero byte, so a window padded
// with zeros matches only within its real bytes.
inline int TextEncoder::Impl::matchGroup(const uint8_t* p, uint8_t& code) const {
  const uint8_t n0 = trie.child(text::NgramTrie::kRoot, p[0]);
  const uint8_t n1 = trie.child(n0, p[1]);
  const uint8_t n2 = trie.child(n1, p[2]);
  const uint8_t c4 = trie.code(n2, p[3]);
  const uint8_t c3 = n2 == text::NgramTrie::kDead ? trie.code(n1, p[2]) : 0;
  const uint8_t c2 = trie.code(n0, p[1]);
  code = c4 ? c4 : c3 ? c3 : c2;
  return code ? (c4 ? 4 : c3 ? 3 : 2) : 0;
}

// Stage 2 over staged[walkPos..). Positions whose four-byte window lies inside
// the staged bytes are final whenever they are reached; the last three
// positions of a block are literals (except the block's first position) and
// are left open unless the block ends.
void TextEncoder::Impl::substitute(bool blockEnds) {
  const uint8_t* s = staged.data();
  const size_t length = stagedEnd;
  size_t i = walkPos;
  size_t o = outEnd;
  reserveAfter(out, o, 2 * (length - i));
  uint8_t* dst = out.data();
  const uint8_t* escape = codeEscape.data();
  auto literal = [&](uint8_t b) {
    if (escape[b]) dst[o++] = text::kCodeEscapeByte;
    dst[o++] = b;
  };
  // Whole four-byte windows first.
  while (i + 4 <= length) {
    // Most positions begin no group: one bit tells them from the others.
    uint8_t code = 0;
    const int matched = trie.beginsGroupAt(s + i) ? matchGroup(s + i, code) : 0;
    const uint8_t b = s[i];
    const uint8_t escaped = escape[b];
    // A literal is b, or the escape byte and b; out has room for two bytes.
    dst[o] = matched ? code : escaped ? text::kCodeEscapeByte : b;
    dst[o + 1] = b;
    o += matched ? 1 : 1 + size_t(escaped);
    i += matched ? size_t(matched) : 1;
  }
  if (blockEnds && i < length) {
    int matched = 0;
    uint8_t code = 0;
    if (i == 0 && dropped == 0) {
      uint8_t window[4] = {};  // fewer than four bytes: the block is shorter
      std::memcpy(window, s, length);
      matched = matchGroup(window, code);
    }
    if (matched) {
      dst[o++] = code;
      i += static_cast<size_t>(matched);
    }
    while (i < length) literal(s[i++]);
  }
  outEnd = o;
  walkPos = i;
}

void TextEncoder::Impl::codeSideInfo() {
  side.codeBlockLength(coder, static_cast<uint32_t>(outEnd));
  for (uint8_t code : lineEndCodes) side.codeLineEnd(coder, code);
  side.codeLineEnd(coder, SideInfoCoder::kLineEndEnd);
  lineEndCodes.clear();
  if (doubleSpaces) {
    for (uint8_t run : spaceRunList) side.codeSpaceRun(coder, run);
    side.codeSpaceRun(coder, SideInfoCoder::kSpaceRunEnd);
    spaceRunList.clear();
    singleSpaceCount = 0;
  }
}

bool TextEncoder::Impl::fillTextBuffer() {
  outEnd = 0;
  StopReason reason = inputEnded ? StopReason::InputEnd : runStageOne();
  if (reason == StopReason::InputEnd) inputEnded = true;
  blockOpen = reason == StopReason::Chunk;
  if (reason == StopReason::Chunk) {
    substitute(false);
    dropped += walkPos;
    std::copy(staged.begin() + static_cast<std::ptrdiff_t>(walkPos),
              staged.begin() + static_cast<std::ptrdiff_t>(stagedEnd), staged.begin());
    stagedEnd -= walkPos;
    walkPos = 0;
  } else {
    substitute(true);
    stagedEnd = 0;
    dropped = 0;
    walkPos = 0;
  }
  owner.textBufferPos = 0;
  owner.textBufferLength = static_cast<int32_t>(outEnd);
  owner.producedBytes += static_cast<int64_t>(outEnd);
  if (unwrapLines) codeSideInfo();
  return outEnd == 0;
}

TextEncoder::TextEncoder(ByteSource& in, Crc16& crc, RangeEncoder& coder, const TextFlags& flags)
    : impl_(std::make_unique<Impl>(*this, in, crc, coder, flags)) {}

TextEncoder::~TextEncoder() = default;

bool TextEncoder::fillTextBuffer() { return impl_->fillTextBuffer(); }

const uint8_t* TextEncoder::textBuffer() const { return impl_->out.data(); }

bool TextEncoder::atBlockEnd() const {
  return textBufferPos == textBufferLength && !impl_->blockOpen;
}

}  // namespace velt
