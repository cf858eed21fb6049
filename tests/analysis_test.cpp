// Input analysis: the text decision and the text flags on the corpus, checked
// against the headers of the known-answer vectors, and the documented edge
// cases of the scan.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "test_util.h"

namespace velt::test {
namespace {

class MessageLog : public Reporter {
 public:
  std::string text;
  void info(const char* t) override { text += t; }
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

std::string vectorName(std::string corpusFile) {
  for (char& c : corpusFile) {
    if (c == '/') c = '_';
  }
  size_t slash = corpusFile.find('_');
  return corpusFile.substr(0, slash) + "_" + corpusFile.substr(slash) + ".velt";
}

// The header of a known-answer vector carries the analysis results.
void expectMatchesHeader(const std::vector<uint8_t>& input, const std::vector<uint8_t>& header,
                         uint8_t textMode) {
  Settings s;
  s.textMode = textMode;
  Analysis a = analyze(input, s);
  const bool text = (header[9] & 0x80) != 0;
  ASSERT_EQ(a.settings.textTransform, text);
  if (!text) {
    EXPECT_EQ(a.settings.e8Enabled, (header[9] & 0x10) != 0);
    return;
  }
  EXPECT_EQ(flagsByte(a.flags), header[10]);
  if (a.flags.unwrapLines) {
    EXPECT_EQ(a.flags.wrapWidth, header[11]);
    EXPECT_EQ(a.flags.doubleSpaces, header[12]);
  }
}

TEST(AnalysisCorpus, MatchesKnownAnswerHeaders) {
  for (const std::string& file : corpusFiles()) {
    SCOPED_TRACE(file);
    std::vector<uint8_t> input = readFile(corpusPath(file));
    std::string name = vectorName(file);
    expectMatchesHeader(input, readFile(sharedDir() + "/vectors/t5/" + name), 0);
    expectMatchesHeader(input, readFile(sharedDir() + "/vectors/t7/" + name), 1);
  }
  for (const char* trace : {"text-alice-8k", "text-derzhavin-8k"}) {
    SCOPED_TRACE(trace);
    std::string dir = sharedDir() + "/vectors/traces/" + trace;
    std::vector<uint8_t> header = readFile(dir + "/output.velt");
    expectMatchesHeader(readFile(dir + "/input"), header, header[10] >> 7);
  }
}

TEST(AnalysisCorpus, Decisions) {
  // alice29: English with CR LF line ends (every one of the 703 line feeds in
  // the first 32768 bytes follows a CR), wrapped at about 60 columns, hence
  // unwrapLines; few capitals open a line, so soft line breaks stay.
  Analysis alice = analyze(readFile(corpusPath("text/alice29.txt")));
  EXPECT_TRUE(alice.settings.textTransform);
  EXPECT_EQ(alice.flags.english, 1);
  EXPECT_EQ(alice.flags.crlfLineEnds, 1);
  EXPECT_EQ(alice.flags.unwrapLines, 1);
  EXPECT_EQ(alice.flags.softLineBreaks, 1);
  EXPECT_EQ(alice.flags.wrapWidth, 58);
  EXPECT_EQ(alice.flags.doubleSpaces, 1);
  EXPECT_EQ(alice.messages, "");

  // The cp866 files are Russian with CR LF line ends. derzhavin is verse:
  // its lines start with capitals, which rules out soft line breaks.
  Analysis derzhavin = analyze(readFile(corpusPath("ru/derzhavin.866")));
  EXPECT_EQ(derzhavin.flags.russian, 1);
  EXPECT_EQ(derzhavin.flags.english, 0);
  EXPECT_EQ(derzhavin.flags.crlfLineEnds, 1);
  EXPECT_EQ(derzhavin.flags.softLineBreaks, 0);
  EXPECT_EQ(derzhavin.flags.unwrapLines, 1);
  EXPECT_EQ(derzhavin.flags.wrapWidth, 59);
  Analysis rachinskii = analyze(readFile(corpusPath("ru/rachinskii.866")));
  EXPECT_EQ(rachinskii.flags.russian, 1);
  EXPECT_EQ(rachinskii.flags.crlfLineEnds, 1);
  EXPECT_EQ(rachinskii.flags.wrapWidth, 64);

  // xargs.1 has plain LF line ends.
  Analysis xargs = analyze(readFile(corpusPath("text/xargs.1")));
  EXPECT_EQ(xargs.flags.crlfLineEnds, 0);
  EXPECT_EQ(xargs.flags.english, 1);

  // Binary and artificial inputs are no text.
  for (const char* file : {"binary/kennedy.xls", "artificial/random.txt", "artificial/aaa.txt"}) {
    Analysis a = analyze(readFile(corpusPath(file)));
    EXPECT_FALSE(a.settings.textTransform) << file;
    EXPECT_EQ(a.messages, "This is not a text\n") << file;
  }
}

TEST(AnalysisEdgeCases, EmptyAndExecutable) {
  Analysis empty = analyze({});
  EXPECT_FALSE(empty.settings.e8Enabled);
  EXPECT_FALSE(empty.settings.textTransform);
  EXPECT_EQ(empty.messages, "This is not a text\n");

  std::vector<uint8_t> exe = {'M', 'Z', 0x90, 0, 1, 2, 3};
  Analysis a = analyze(exe);
  EXPECT_TRUE(a.settings.e8Enabled);
  EXPECT_EQ(a.messages, "Looks like an executable\nThis is not a text\n");
  for (std::vector<uint8_t> sig : {std::vector<uint8_t>{0x7F, 'E', 'L', 'F'},
                                   std::vector<uint8_t>{'C', 'O', 'F', 'F'}}) {
    EXPECT_TRUE(analyze(sig).settings.e8Enabled);
  }
  EXPECT_FALSE(analyze({'C', 'O', 'F'}).settings.e8Enabled);

  Settings forced;
  forced.e8Forced = true;
  a = analyze(exe, forced);
  EXPECT_TRUE(a.settings.e8Enabled);
  EXPECT_EQ(a.messages, "This is not a text\n");

  Settings none;  // as after -DA
  none.textTransform = false;
  none.e8Enabled = false;
  a = analyze(exe, none);
  EXPECT_EQ(a.messages, "");
}

// `count` copies of `line`, each opened by a different lowercase letter.
std::vector<uint8_t> repeatLines(const std::string& prefix, const std::string& line,
                                 size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    s += prefix;
    s += static_cast<char>('a' + i % 26);
    s += line;
  }
  return {s.begin(), s.end()};
}

TEST(AnalysisEdgeCases, LineFlags) {
  // No line feed at all: CR LF by the rule (0 + 1) / (0 + 1) = 1, and too few
  // line feeds to unwrap.
  std::string words;
  for (int i = 0; i < 100; ++i) words += "some words here ";
  std::vector<uint8_t> oneLine(words.begin(), words.end());
  Analysis a = analyze(oneLine);
  ASSERT_TRUE(a.settings.textTransform);
  EXPECT_EQ(a.flags.crlfLineEnds, 1);
  EXPECT_EQ(a.flags.unwrapLines, 0);
  EXPECT_EQ(a.flags.textMode, 0);

  // Lines of 64 bytes, all alike: the width search finds 64, a sharp edge
  // with no line of 63; text mode comes from the settings.
  std::string line = std::string(62, 'x');
  for (size_t i = 3; i < line.size(); i += 5) line[i] = ' ';
  Settings mt1;
  mt1.textMode = 1;
  a = analyze(repeatLines("", line + "\n", 300), mt1);
  ASSERT_TRUE(a.settings.textTransform);
  EXPECT_EQ(a.flags.textMode, 1);
  EXPECT_EQ(a.flags.crlfLineEnds, 0);
  EXPECT_EQ(a.flags.unwrapLines, 1);
  EXPECT_EQ(a.flags.wrapWidth, 63);
  EXPECT_EQ(a.flags.doubleSpaces, 0);

  // The same lines opened by a tab: more than three sevenths of the line
  // feeds are followed by one byte that is not a space.
  a = analyze(repeatLines("\t", line + "\n", 300));
  ASSERT_TRUE(a.settings.textTransform);
  EXPECT_EQ(a.flags.unwrapLines, 0);
  EXPECT_EQ(a.flags.softLineBreaks, 0);

  // Doubled spaces inside the lines turn doubleSpaces on; with the sharp
  // edge the width then drops by 9.
  std::string doubled = line;
  doubled.replace(10, 2, "  ");
  a = analyze(repeatLines("", doubled + "\n", 300));
  EXPECT_EQ(a.flags.doubleSpaces, 1);
  EXPECT_EQ(a.flags.wrapWidth, 63 - 9);

  // Only the first 32768 bytes count: junk after them changes nothing.
  std::vector<uint8_t> text = repeatLines("", line + "\n", 600);
  std::vector<uint8_t> withJunk(text.begin(), text.begin() + 32768);
  withJunk.resize(40000, 0x01);
  Analysis clean = analyze(text);
  Analysis junk = analyze(withJunk);
  EXPECT_TRUE(junk.settings.textTransform);
  EXPECT_EQ(flagsByte(junk.flags), flagsByte(clean.flags));
  EXPECT_EQ(junk.flags.wrapWidth, clean.flags.wrapWidth);
}

}  // namespace
}  // namespace velt::test
