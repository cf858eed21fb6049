// The text transform on real texts: the committed texts round-trip through
// analysis and transform (no model), as they are and rewritten (other line
// ends, re-wrapped, doubled spaces, upper-cased) in both text modes.
#include <gtest/gtest.h>

#include <sstream>

#include "analysis/analysis.h"
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
    if (in[i] != '\r' || i + 1 == in.size() || in[i + 1] != '\n') out.push_back(in[i]);
  }
  return out;
}

// Greedy re-wrap of each paragraph (lines between blank lines) to at most
// `width` columns, with LF line ends.
Bytes rewrap(const Bytes& in, size_t width) {
  std::istringstream lines(asString(toLf(in)));
  std::string out, line;
  auto endLine = [&] {
    if (!line.empty()) out += line + "\n";
    line.clear();
  };
  for (std::string l; std::getline(lines, l);) {
    std::istringstream words(l);
    std::string w;
    if (!(words >> w)) {
      endLine();
      out += "\n";
    }
    for (; words; words >> w) {
      if (!line.empty() && line.size() + 1 + w.size() > width) endLine();
      line += (line.empty() ? "" : " ") + w;
    }
  }
  endLine();
  return bytesOf(out);
}

Bytes doubleSpacesAfterStops(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == '.' && i + 1 < in.size() && in[i + 1] == ' ') out.push_back(' ');
  }
  return out;
}

Bytes upperCased(Bytes b) {
  for (uint8_t& c : b) {
    if (text::kClasses.isLetter[c] && !text::kClasses.isUpper[c]) c = text::kClasses.toUpper[c];
  }
  return b;
}

// The analysis' verdict: whether to transform, and with which flags.
bool analyzed(const Bytes& data, uint8_t textMode, TextFlags& flags) {
  Settings s;
  s.textMode = textMode;
  MemorySource in(data.data(), data.size());
  analyzeInput(in, s, flags, nullptr);
  return s.textTransform;
}

class TextCorpus : public testing::TestWithParam<const char*> {};

TEST_P(TextCorpus, RoundTripsWithVariants) {
  const Bytes original = readData(GetParam());
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
      TextFlags flags;
      // (Upper-cased texts with few letters may not count as text.)
      if (analyzed(data, mode, flags)) expectTextRoundTrip(data, flags);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, TextCorpus,
                         testing::Values("text/alice29.txt", "text/cp.html", "text/fields.c",
                                         "text/grammar.lsp", "text/xargs.1", "ru/derzhavin.866",
                                         "ru/rachinskii-48k.866"));

}  // namespace
}  // namespace velt::test
