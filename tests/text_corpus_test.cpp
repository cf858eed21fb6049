// Round trips of the corpus texts through analysis and text transform (no
// model), as they are and rewritten: other line ends, re-wrapped, doubled
// spaces after full stops, upper-cased; in both text modes.
#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/analysis.h"
#include "test_util.h"
#include "text/char_classes.h"
#include "text_harness.h"

namespace velt::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes toCrlf(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out.push_back('\r');
    out.push_back(in[i]);
  }
  return out;
}

Bytes toLf(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n') continue;
    out.push_back(in[i]);
  }
  return out;
}

// Greedy re-wrap of each paragraph (lines separated by empty lines) to at
// most `width` columns, with LF line ends.
Bytes rewrap(const Bytes& in, size_t width) {
  Bytes lf = toLf(in);
  Bytes out;
  std::vector<Bytes> words;
  auto flush = [&] {
    size_t column = 0;
    for (const Bytes& w : words) {
      if (column > 0 && column + 1 + w.size() > width) {
        out.push_back('\n');
        column = 0;
      } else if (column > 0) {
        out.push_back(' ');
        ++column;
      }
      out.insert(out.end(), w.begin(), w.end());
      column += w.size();
    }
    if (!words.empty()) out.push_back('\n');
    words.clear();
  };
  size_t i = 0;
  while (i < lf.size()) {
    size_t end = std::find(lf.begin() + i, lf.end(), '\n') - lf.begin();
    bool blank = true;
    for (size_t k = i; k < end; ++k) {
      if (lf[k] != ' ' && lf[k] != '\t') blank = false;
    }
    if (blank) {
      flush();
      out.push_back('\n');
    } else {
      size_t k = i;
      while (k < end) {
        while (k < end && lf[k] == ' ') ++k;
        size_t start = k;
        while (k < end && lf[k] != ' ') ++k;
        if (k > start) words.emplace_back(lf.begin() + start, lf.begin() + k);
      }
    }
    i = end + 1;
  }
  flush();
  return out;
}

Bytes doubleSpacesAfterStops(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == '.' && i + 1 < in.size() && in[i + 1] == ' ') out.push_back(' ');
  }
  return out;
}

Bytes upperCased(const Bytes& in) {
  Bytes out(in);
  for (uint8_t& b : out) {
    if (text::kClasses.isLetter[b] && !text::kClasses.isUpper[b]) b = text::kClasses.toUpper[b];
  }
  return out;
}

void roundTrip(const Bytes& input, uint8_t textMode) {
  Settings s;
  s.textMode = textMode;
  TextFlags flags;
  MemorySource in(input.data(), input.size());
  analyzeInput(in, s, flags, nullptr);
  if (!s.textTransform) return;  // e.g. upper-cased text with few letters left as such
  EncodedText e = encodeText(input, flags);
  DecodedText d = decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), flags);
  ASSERT_EQ(d.output.size(), input.size());
  auto diff = std::mismatch(d.output.begin(), d.output.end(), input.begin());
  ASSERT_TRUE(diff.first == d.output.end()) << "first difference at "
                                            << (diff.first - d.output.begin());
  EXPECT_EQ(d.crc, e.crc);
}

class TextCorpus : public testing::TestWithParam<const char*> {};

TEST_P(TextCorpus, RoundTripsWithVariants) {
  const Bytes original = readFile(corpusPath(GetParam()));
  const std::pair<const char*, Bytes> variants[] = {
      {"as is", original},
      {"CR LF", toCrlf(original)},
      {"LF", toLf(original)},
      {"wrapped at 60", rewrap(original, 60)},
      {"wrapped at 72, CR LF", toCrlf(rewrap(original, 72))},
      {"double spaces", doubleSpacesAfterStops(rewrap(original, 72))},
      {"upper case", upperCased(original)},
  };
  for (const auto& [name, data] : variants) {
    for (uint8_t mode = 0; mode < 2; ++mode) {
      SCOPED_TRACE(testing::Message() << name << ", text mode " << int(mode));
      roundTrip(data, mode);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, TextCorpus,
                         testing::Values("text/alice29.txt", "text/asyoulik.txt", "text/cp.html",
                                         "text/fields.c", "text/grammar.lsp", "text/lcet10.txt",
                                         "text/plrabn12.txt", "text/xargs.1", "ru/derzhavin.866",
                                         "ru/rachinskii.866"));

TEST(TextCorpusVariants, RewritesTakeTheIntendedPaths) {
  // The variants are only useful if the analysis reacts to them.
  const Bytes alice = readFile(corpusPath("text/alice29.txt"));
  auto flagsOf = [](const Bytes& data) {
    Settings s;
    TextFlags f;
    MemorySource in(data.data(), data.size());
    analyzeInput(in, s, f, nullptr);
    EXPECT_TRUE(s.textTransform);
    return f;
  };
  EXPECT_EQ(flagsOf(toLf(alice)).crlfLineEnds, 0);
  TextFlags wrapped = flagsOf(rewrap(alice, 72));
  EXPECT_EQ(wrapped.unwrapLines, 1);
  EXPECT_GE(wrapped.wrapWidth, 60);
  // Re-wrapping collapses alice's doubled spaces; too few full stops inside
  // lines bring doubleSpaces back.
  EXPECT_EQ(wrapped.doubleSpaces, 0);
  EXPECT_EQ(flagsOf(upperCased(alice)).mostlyLowercase, 0);
}

}  // namespace
}  // namespace velt::test
