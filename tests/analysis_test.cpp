// Input analysis: the text decision and the text flags on real texts, and the
// edge cases of the scan. (The golden files pin the flags in their headers.)
#include "analysis/analysis.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_util.h"

namespace velt::test {
namespace {

struct MessageLog : Reporter {
  std::string text;
  void analysed(InputKind kind) override {
    static const char* const kWords[] = {"executable", "not text", "English", "Russian"};
    text += kWords[static_cast<int>(kind)];
    text += "\n";
  }
};

struct Analysis {
  Settings settings;
  TextFlags flags;
  std::string messages;
};

Analysis analyze(const std::vector<uint8_t>& data, Settings s = Settings()) {
  Analysis a;
  MemorySource in(data.data(), data.size());
  MessageLog log;
  analyzeInput(in, s, a.flags, &log);
  EXPECT_EQ(in.get(), data.empty() ? ByteSource::kEnd : data[0]) << "input not rewound";
  a.settings = s;
  a.messages = log.text;
  return a;
}

uint8_t flagsByte(const TextFlags& f) {
  return static_cast<uint8_t>(f.textMode * 128 + f.softLineBreaks * 64 + f.crlfLineEnds * 32 +
                              f.sparsePunctuation * 16 + f.english * 8 + f.russian * 4 +
                              f.mostlyLowercase * 2 + f.unwrapLines);
}

TEST(AnalysisCorpus, Decisions) {
  // alice29: every one of the 703 line feeds in the first 32768 bytes
  // follows a CR; wrapped at about 60 columns, hence unwrapLines; few
  // capitals open a line, so soft line breaks stay. derzhavin is verse: its
  // lines start with capitals, which rules out soft line breaks.
  const struct {
    const char* file;
    int english, russian, crlf, soft, unwrap, width, doubleSpaces;
  } texts[] = {
      {"text/alice29.txt", 1, 0, 1, 1, 1, 58, 1},
      {"ru/derzhavin.866", 0, 1, 1, 0, 1, 59, 0},
      {"ru/rachinskii-48k.866", 0, 1, 1, 1, 1, 64, 0},
      {"text/xargs.1", 1, 0, 0, 1, 1, 65, 0},
  };
  for (const auto& t : texts) {
    const Analysis a = analyze(readData(t.file));
    EXPECT_TRUE(a.settings.textTransform) << t.file;
    EXPECT_EQ(a.messages, "") << t.file;
    const TextFlags& f = a.flags;
    EXPECT_EQ(
        std::vector<int>({f.english, f.russian, f.crlfLineEnds, f.softLineBreaks, f.unwrapLines,
                          f.wrapWidth, f.doubleSpaces}),
        std::vector<int>({t.english, t.russian, t.crlf, t.soft, t.unwrap, t.width, t.doubleSpaces}))
        << t.file;
  }
  // Binary and artificial inputs are no text.
  std::mt19937 rng(4);
  std::vector<uint8_t> letters(100000);
  for (uint8_t& b : letters) {
    b = uint8_t("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !"[rng() % 64]);
  }
  for (const auto& input :
       {readData("binary/kennedy-64k.xls"), letters, readData("artificial/aaa.txt")}) {
    const Analysis a = analyze(input);
    EXPECT_FALSE(a.settings.textTransform) << input.size();
    EXPECT_EQ(a.messages, "not text\n") << input.size();
  }
}

TEST(AnalysisEdgeCases, ExecutableSignaturesAndMessages) {
  const std::vector<uint8_t> exe = {'M', 'Z', 0x90, 0, 1, 2, 3};
  const std::string found = "executable\n", notText = "not text\n";
  Settings forced, none;
  forced.e8Forced = true;
  none.textTransform = none.e8Enabled = false;  // as after -DA
  const struct {
    std::vector<uint8_t> data;
    Settings settings;
    bool e8;
    std::string messages;
  } cases[] = {
      {{}, {}, false, notText},
      {exe, {}, true, found + notText},
      {{0x7F, 'E', 'L', 'F'}, {}, true, found + notText},
      {{'C', 'O', 'F', 'F'}, {}, true, found + notText},
      {{'C', 'O', 'F'}, {}, false, notText},
      {exe, forced, true, notText},
      {exe, none, false, ""},
  };
  for (const auto& c : cases) {
    const Analysis a = analyze(c.data, c.settings);
    EXPECT_FALSE(a.settings.textTransform);
    EXPECT_EQ(a.settings.e8Enabled, c.e8) << c.data.size() << " " << c.messages;
    EXPECT_EQ(a.messages, c.messages);
  }
}

// `count` copies of `line`, each opened by a different lowercase letter.
std::vector<uint8_t> repeatLines(const std::string& prefix, const std::string& line, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    s += prefix;
    s += static_cast<char>('a' + i % 26);
    s += line;
  }
  return {s.begin(), s.end()};
}

TEST(AnalysisEdgeCases, LineFlags) {
  std::string words;
  for (int i = 0; i < 100; ++i) words += "some words here ";
  std::string line = std::string(62, 'x');
  for (size_t i = 3; i < line.size(); i += 5) line[i] = ' ';
  std::string doubled = line;
  doubled.replace(10, 2, "  ");
  const int any = -1;
  const struct {
    const char* what;
    std::vector<uint8_t> data;
    int textMode, crlf, soft, unwrap, width, doubleSpaces;
  } cases[] = {
      // CR LF by the rule (0 + 1) / (0 + 1) = 1, and too few line feeds to unwrap.
      {"no line feed", bytesOf(words), 0, 1, any, 0, any, any},
      // Lines of 64 bytes: the width search finds 64, a sharp edge with no
      // line of 63; text mode comes from the settings.
      {"lines alike", repeatLines("", line + "\n", 300), 1, 0, any, 1, 63, 0},
      // More than three sevenths of the line feeds are followed by one byte
      // that is not a space.
      {"lines opened by a tab", repeatLines("\t", line + "\n", 300), 0, any, 0, 0, any, any},
      // Doubled spaces turn doubleSpaces on; with the sharp edge the width drops by 9.
      {"doubled spaces", repeatLines("", doubled + "\n", 300), 0, any, any, any, 63 - 9, 1},
  };
  for (const auto& c : cases) {
    Settings s;
    s.textMode = static_cast<uint8_t>(c.textMode);
    const Analysis a = analyze(c.data, s);
    ASSERT_TRUE(a.settings.textTransform) << c.what;
    const TextFlags& f = a.flags;
    const int got[] = {f.textMode,    f.crlfLineEnds, f.softLineBreaks,
                       f.unwrapLines, f.wrapWidth,    f.doubleSpaces};
    const int want[] = {c.textMode, c.crlf, c.soft, c.unwrap, c.width, c.doubleSpaces};
    for (int k = 0; k < 6; ++k) {
      EXPECT_TRUE(want[k] == any || got[k] == want[k])
          << c.what << ": field " << k << " is " << got[k];
    }
  }
  // Only the first 32768 bytes count: junk after them changes nothing.
  const std::vector<uint8_t> text = repeatLines("", line + "\n", 600);
  std::vector<uint8_t> withJunk(text.begin(), text.begin() + 32768);
  withJunk.resize(40000, 0x01);
  const Analysis clean = analyze(text), junk = analyze(withJunk);
  EXPECT_TRUE(junk.settings.textTransform);
  EXPECT_EQ(flagsByte(junk.flags), flagsByte(clean.flags));
  EXPECT_EQ(junk.flags.wrapWidth, clean.flags.wrapWidth);
}

}  // namespace
}  // namespace velt::test
