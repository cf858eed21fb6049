// Input analysis: an executable-signature test, then one scan of at most
// 32768 bytes whose counters decide whether the input is English or cp866
// Russian text and measure its line layout for the text transform.
#include "analysis/analysis.h"

#include <algorithm>
#include <vector>

#include "text/char_classes.h"

namespace velt {

namespace {

using text::kClasses;

constexpr int kLF = text::kLineFeed;
constexpr int kCR = text::kCarriageReturn;
constexpr int kSpace = text::kSpace;
constexpr int32_t kScanLimit = 32768;
constexpr int kHistogramSlots = 100;

struct TextStats {
  int32_t bytesRead = 0;
  int32_t byteCount[256] = {};
  std::vector<int32_t> pairCount = std::vector<int32_t>(256 * 256, 0);
  int32_t lineCount = 0;
  int32_t lineLengthHistogram[kHistogramSlots] = {};
  int32_t maxLineLength = 0;
  int32_t doubleSpaceCount = 0;

  int32_t pair(int previous, int c) const { return pairCount[previous * 256 + c]; }
  int32_t countRange(int first, int last) const {
    int32_t n = 0;
    for (int c = first; c <= last; ++c) n += byteCount[c];
    return n;
  }
};

bool looksExecutable(ByteSource& in) {
  int b[4];
  for (int& x : b) x = in.get();
  return (b[0] == 0x4D && b[1] == 0x5A) ||
         (b[0] == 0x7F && b[1] == 0x45 && b[2] == 0x4C && b[3] == 0x46) ||
         (b[0] == 0x43 && b[1] == 0x4F && b[2] == 0x46 && b[3] == 0x46);
}

void scan(ByteSource& in, TextStats& st) {
  int p = 0;
  int32_t length = 0;
  bool atLineStart = false;
  for (int c; (c = in.get()) != ByteSource::kEnd;) {
    if (st.bytesRead++ == kScanLimit) break;
    if (c == kLF) {
      atLineStart = true;
      if (p == kCR) --length;
      ++st.lineCount;
      if (st.lineCount > 10) {
        length = std::min(length, kHistogramSlots - 1);
        ++st.lineLengthHistogram[length];
      }
      st.maxLineLength = std::max(st.maxLineLength, length);
      length = 0;
    } else {
      if (c != kSpace) atLineStart = false;
      ++length;
      if (!atLineStart && p == kSpace && c == kSpace) ++st.doubleSpaceCount;
    }
    ++st.pairCount[p * 256 + c];
    ++st.byteCount[c];
    p = c;
  }
  st.maxLineLength = std::min(st.maxLineLength, kHistogramSlots - 1);
}

// Language and text decision; false when the input is not text.
bool decideText(const TextStats& st, TextFlags& f) {
  const int32_t total = st.bytesRead;
  const int32_t upperLatin = st.countRange('A', 'Z');
  const int32_t latin = upperLatin + st.countRange('a', 'z');
  const int32_t upperCyrillic = st.countRange(0x80, 0x9F);
  const int32_t cyrillic = upperCyrillic + st.countRange(0xA0, 0xAF) + st.countRange(0xE0, 0xEF);
  bool text = true;
  if (latin > 8 * cyrillic) {
    f.english = 1;
    if ((latin + 1) / (upperLatin + 1) > 15) f.mostlyLowercase = 1;
  } else if (cyrillic > 8 * latin) {
    f.russian = 1;
    if ((cyrillic + 1) / (upperCyrillic + 1) > 15) f.mostlyLowercase = 1;
  } else {
    text = false;
  }
  int32_t other = 0;
  for (int c = 0; c < 256; ++c) {
    if (!kClasses.isLetter[c] && !kClasses.delimiter[c] && !(c >= '0' && c <= '9'))
      other += st.byteCount[c];
  }
  if (16 * other > total || 32 * st.byteCount[kSpace] < total) text = false;
  return text;
}

void decideLineFlags(const TextStats& st, TextFlags& f) {
  const int32_t total = st.bytesRead;
  const int32_t lineFeeds = st.byteCount[kLF];

  if ((lineFeeds + 1) / (st.pair(kCR, kLF) + 1) == 1) f.crlfLineEnds = 1;
  f.unwrapLines = 1;

  int32_t nonSpace = 0;
  for (int c = 0; c < 256; ++c) {
    if (!kClasses.isLetter[c] && c != kSpace && c != kLF && c != kCR) nonSpace += st.byteCount[c];
  }
  for (int c = 0; c < 256; ++c) {
    if ((7 * st.pair(kLF, c)) / 3 <= lineFeeds) continue;
    bool indented =
        c == kSpace && 4 * st.pair(kLF, kSpace) <= 3 * lineFeeds && 10 * nonSpace <= total;
    if (!indented) {
      f.unwrapLines = 0;
      f.softLineBreaks = 0;
      break;
    }
  }

  int32_t punctuation = 0;
  for (int i = 0; i < text::kPunctuationCount; ++i)
    punctuation += st.byteCount[text::kDelimiterList[i]];
  if (total / (punctuation + 1) > 12) f.sparsePunctuation = 1;

  int32_t capitalStarts = 0;
  for (int c = 0; c < 256; ++c) {
    if (kClasses.isUpper[c]) capitalStarts += st.pair(kLF, c);
  }

  bool sharpEdge = false;
  int32_t histogramTotal = 0;
  int width = f.wrapWidth;
  const int maxLength = st.maxLineLength;
  if (st.lineCount > (300 * total) / 32768 && st.lineCount < (1300 * total) / 32768 &&
      maxLength != 0) {
    for (int i = 0; i <= maxLength; ++i) histogramTotal += st.lineLengthHistogram[i];
    const int32_t average = histogramTotal / maxLength;
    int i = maxLength;
    while (i >= 0 && st.lineLengthHistogram[i] <= 2 * average) --i;
    for (; i >= 0; --i) {
      if (st.lineLengthHistogram[i] <= average) {
        width = i;
        break;
      }
      if (i > 0 && st.lineLengthHistogram[i] > 16 * st.lineLengthHistogram[i - 1]) {
        width = i;
        sharpEdge = true;
        break;
      }
    }
    f.wrapWidth = static_cast<uint8_t>(width);
  }

  int32_t longLines = 0;
  for (int i = width; i <= maxLength; ++i) longLines += st.lineLengthHistogram[i];
  if (width < 30 || histogramTotal > 16 * longLines) {
    f.unwrapLines = 0;
    f.softLineBreaks = 0;
  }
  if (128 * lineFeeds < total) f.unwrapLines = 0;
  if (f.mostlyLowercase ? capitalStarts * 2 > lineFeeds : capitalStarts * 3 > lineFeeds)
    f.softLineBreaks = 0;
  if (f.unwrapLines && total / (st.doubleSpaceCount + 1) < 175) {
    f.doubleSpaces = 1;
    if (sharpEdge) f.wrapWidth = static_cast<uint8_t>(f.wrapWidth - 9);
  }
}

}  // namespace

void analyzeInput(ByteSource& in, Settings& s, TextFlags& flags, Reporter* reporter) {
  if (s.e8Enabled && !s.e8Forced) {
    if (looksExecutable(in)) {
      if (reporter) reporter->analysed(InputKind::Executable);
    } else {
      s.e8Enabled = false;
    }
    in.rewind();
  }
  if (!s.textTransform) return;

  TextStats st;
  scan(in, st);
  in.rewind();

  TextFlags f;
  if (!decideText(st, f)) {
    s.textTransform = false;
    if (reporter) reporter->analysed(InputKind::NotText);
    return;
  }
  f.textMode = s.textMode;
  decideLineFlags(st, f);
  flags = f;
}

}  // namespace velt
