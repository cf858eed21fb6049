// Text encoder and decoder without the model: examples of each layer in both
// directions, block cuts, impossible side information, and round trips of
// generated texts under many flag sets.
#include <gtest/gtest.h>

#include <random>

#include "text/ngram.h"
#include "text_harness.h"

namespace velt::test {
namespace {

const std::string CAP = "\xFD", ALLCAPS = "\xFE", ESC = "\xFC", CODE_ESC = "\x0B";

TextBlock block(const std::string& bytes, uint32_t codedLength = 0, std::vector<int> lineEnds = {},
                std::vector<int> spaceRuns = {}) {
  TextBlock b;
  b.bytes = bytesOf(bytes);
  b.codedLength = codedLength;
  b.lineEndCodes = std::move(lineEnds);
  b.spaceRuns = std::move(spaceRuns);
  return b;
}

// The decoder fed hand-made blocks, independent of the encoder.
std::string decodeBlock(const TextBlock& b, const std::string& flags) {
  const TextFlags f = textFlags(flags);
  return asString(decodeText(encodeBlocks({b}, f), static_cast<int32_t>(b.bytes.size()), f).output);
}

// Flag sets that exercise different paths of every layer.
std::vector<std::string> flagVariants() {
  std::vector<std::string> v;
  for (const char* lang : {"", "ru "})
    for (const char* mode : {"", "mt1 "})
      for (const char* rest :
           {"", "soft sparse lower", "soft sparse lower unwrap w40",
            "soft sparse lower unwrap double w30", "soft sparse lower unwrap double w30 crlf",
            "crlf unwrap double w21"})
        v.push_back(std::string(lang) + mode + rest);
  return v;
}

TEST(TextLayers, CaseMarkersEscapesSpacesAndLetterGroupsBothWays) {
  const std::string q255(255, 'Q');
  const struct {
    std::string text, flags, coded;
  } cases[] = {
      {"Hello world", "", CAP + "hello world"},
      {"Hello world", "lower", CAP + " hello world"},
      {"NASA.", "", ALLCAPS + "nasa."},
      {"ABc", "", "ABc"},
      {"McDonald", "", CAP + "mc" + CAP + "donald"},
      {"I am", "", "I am"},
      {"big A", "", "big A"},  // a capital at the very end
      {"\x84\x80 \x84\xA0", "ru", ALLCAPS + "\xA4\xA0 " + CAP + "\xA4\xA0"},  // cp866 capitals
      // 254 capitals and a lowercase letter stay; 300 capitals are 255
      // unchanged letters and a 45-letter all-caps word.
      {std::string(254, 'Q') + "x .", "", std::string(254, 'Q') + "x ."},
      {q255 + std::string(45, 'Q') + " .", "", q255 + ALLCAPS + std::string(45, 'q') + " ."},
      {std::string("a\xFC") + "b\xFD" + "c\xFE", "",
       "a" + ESC + "\xFC" + "b" + ESC + "\xFD" + "c" + ESC + "\xFE"},
      {"\xFD\xFC", "", ESC + "\xFD" + ESC + "\xFC"},
      {"\x0B", "", ESC + "\x0B\x0B"},
      {"a", "", "a"},
      {"word.", "sparse", "word ."},
      {"word .", "sparse", "word  ."},
      {"5.", "sparse", "5."},
      {"a\nb", "soft", "a \n b"},
      {"a\r\nb", "soft crlf", "a\r\n b"},  // with CR LF only the space after the line feed
      {"the", "mt1", "\xD8"},
      {"ight", "mt1", "\x80"},
      {"sight", "mt1", "s\x80"},
      {"qu", "mt1", "\xCC"},
      {"th", "mt1", "\xA0"},
      {"x the", "mt1", "x the"},  // no group starts in a block's last three positions
      // Installed codes met as literals are escaped; mode 0 leaves them alone.
      {"\xD8", "mt1", CODE_ESC + "\xD8"},
      {"\xD8", "", "\xD8"},
      // "ств" is a trigram; Latin a..h are four-letter-group codes, escaped.
      {"\xE1\xE2\xA2", "ru mt1", "\xF2"},
      {"ab", "ru mt1", CODE_ESC + "a" + CODE_ESC + "b"},
      // "еред" is a four-letter group; in "ерем" the trigram "ере" is not
      // tried: "ер" and "ем" become digrams.
      {"\xA5\xE0\xA5\xA4 ", "ru mt1", "\x67 "},
      {"\xA5\xE0\xA5\xAC   ", "ru mt1", "\xB7\xCE   "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " [" + c.flags + "]");
    EXPECT_EQ(asString(encodeText(bytesOf(c.text), textFlags(c.flags)).allBytes), c.coded);
    EXPECT_EQ(decodeBlock(block(c.coded), c.flags), c.text);
  }
  EXPECT_EQ(asString(encodeText(bytesOf("high noon"), textFlags("mt1")).allBytes).substr(0, 4),
            "hi\xAD ");
  EXPECT_EQ(decodeBlock(block("\x0B\xA0\xA0"), ""), "\xA0th");
  EXPECT_EQ(decodeBlock(block("\x0B\x0B"), ""), "\x0B");
}

// The encoder skips the trie at positions whose two bytes begin no group: a
// pair wrongly left out would silently drop that group's codes.
TEST(TextLayers, PairFilterHoldsExactlyTheGroupsBeginnings) {
  for (bool russian : {false, true}) {
    for (int mode : {0, 1}) {
      SCOPED_TRACE(std::string(russian ? "ru" : "en") + " mode " + std::to_string(mode));
      const text::NgramSet set = text::ngramSet(russian, mode);
      std::vector<bool> begins(65536);
      auto note = [&](const uint8_t* groups, int count, int length) {
        for (int i = 0; i < count; ++i)
          begins[groups[length * i] << 8 | groups[length * i + 1]] = true;
      };
      note(set.digrams, set.digramCount, 2);
      note(set.trigrams, set.trigramCount, 3);
      note(set.quadgrams, set.quadgramCount, 4);
      const text::NgramTrie trie(set);
      int mismatches = 0;
      for (int pair = 0; pair < 65536; ++pair) {
        const uint8_t bytes[2] = {uint8_t(pair >> 8), uint8_t(pair)};
        mismatches += trie.beginsGroup(bytes[0], bytes[1]) != begins[pair];
        mismatches += trie.beginsGroupAt(bytes) != begins[pair];
      }
      EXPECT_EQ(mismatches, 0);
    }
  }
}

TEST(TextLayers, LineEndsAndSpaceRunsBothWays) {
  std::string singles, merged;
  for (int i = 0; i < 258; ++i) singles += "w ";
  const struct {
    std::string text, flags, coded;
    std::vector<int> lineEnds, spaceRuns;
  } cases[] = {
      {"aaaa bbbb cccc\ndd\n", "unwrap w8", "aaaa bbbb cccc dd\n", {1}, {}},
      {"aaaaaaaa\nb\n", "unwrap w8", "aaaaaaaa b\n", {0}, {}},
      {"aaaaaaa\nb\n", "unwrap w8", "aaaaaaa\nb\n", {}, {}},
      // A line feed after seven spaces beyond the width.
      {"aaaa bbbb cc dd ee ff gg hh ii jj\nk",
       "unwrap w8",
       "aaaa bbbb cc dd ee ff gg hh ii jj\nk",
       {7},
       {}},
      {"aaaa bbbb cccc\r\ndd\r\n", "unwrap w8 crlf", "aaaa bbbb cccc dd\r\n", {1}, {}},
      // CR CR LF: an ordinary CR, then a line end; a lone LF is ordinary.
      {"aaaaaaaa\r\r\nb\nc", "unwrap w8 crlf", "aaaaaaaa\r b\nc", {0}, {}},
      {"p  q r  s   t", "unwrap double", "p q r s  t", {}, {0, 1, 0}},
      {"x\n  y  z", "unwrap double", "x\n  y z", {}, {0}},
      {singles + " w", "unwrap double", singles + "w", {}, {254, 3}},  // 257 singles, then a double
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40) + " [" + c.flags + "]");
    const EncodedText e = encodeText(bytesOf(c.text), textFlags(c.flags));
    EXPECT_EQ(asString(e.allBytes), c.coded);
    EXPECT_EQ(e.blocks.size(), 2u);
    // The encoder's side information is checked by its round trip through
    // a decoder that reads these lists.
    expectTextRoundTrip(bytesOf(c.text), textFlags(c.flags));
    EXPECT_EQ(decodeBlock(block(c.coded, 0, c.lineEnds, c.spaceRuns), c.flags), c.text);
  }
  EXPECT_EQ(decodeBlock(block("p q r s  t"), "unwrap double"), "p q r s  t")
      << "an empty list doubles nothing";
}

TEST(TextLayers, SpacesMergeWhereverTheReadAheadEnds) {
  // The encoder reads its input 64 KiB at a time and decides a space by the
  // byte after it, which may come with the next read.
  for (size_t at = 65530; at <= 65540; ++at) {
    SCOPED_TRACE(at);
    const std::string words(at, 'x');
    const EncodedText doubled = encodeText(bytesOf(words + "  y"), textFlags("unwrap double"));
    EXPECT_EQ(asString(doubled.allBytes), words + " y");
    const EncodedText single = encodeText(bytesOf(words + " y"), textFlags("unwrap double"));
    EXPECT_EQ(asString(single.allBytes), words + " y");
    expectTextRoundTrip(bytesOf(words + "  y"), textFlags("unwrap double"));
  }
}

TEST(TextDecoder, RejectsImpossibleSideInformation) {
  const TextFlags f = textFlags("unwrap");
  const struct {
    const char* what;
    std::vector<TextBlock> blocks;
    int32_t count;
  } cases[] = {
      {"a zero length", {block("")}, 1},
      {"more bytes than the stream holds", {block("ab", 3)}, 2},
      {"ten line ends on one byte", {block("a", 0, std::vector<int>(10, 0))}, 1},
      {"a block ending inside a token", {block("a\xFC")}, 2},
      {"the stream ending inside a block", {block("ab"), block("cd", 4)}, 4},
  };
  for (const auto& c : cases) {
    try {
      decodeText(encodeBlocks(c.blocks, f), c.count, f);
      ADD_FAILURE() << c.what << " accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Corrupt) << c.what;
    }
  }
  EXPECT_THROW(decodeText(encodeBlocks({block("a\x0B")}, textFlags("")), 2, textFlags("")), Error);
}

std::string wrappedText(int lines, int width, const char* lineEnd, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"the",      "Sight",     "of",   "NASA",     "high", "quiet",
                         "thoughts", "with",      "I",    "McDonald", "and",  "was",
                         "from",     "that",      "what", "been",     "able", "x.",
                         "(note)",   "\"quote\"", "it's", "--",       "5.",   "well,"};
  std::string s;
  for (int l = 0; l < lines; ++l) {
    std::string line = rng() % 17 == 0 ? "  " : "";
    while (line.size() < static_cast<size_t>(width - 8)) {
      line += words[rng() % std::size(words)];
      line += (rng() % 9 == 0) ? "  " : " ";
    }
    if (rng() % 3) line.pop_back();
    s += line + lineEnd;
    if (rng() % 11 == 0) s += lineEnd;
  }
  return s;
}

TEST(TextRoundTrip, GeneratedTextsUnderEveryFlagSet) {
  // Short texts for the corners of every layer, then long runs and whole paragraphs.
  // clang-format off
  std::vector<std::string> texts = {
      "a", "A", " ", "\n", "x", "CAPS AT END ABC", "Lone capital at end A", "trailing spaces   ",
      "trailing newlines\n\n\n", "Hello World. This is NASA, and I am McDonald's ABc.\n",
      "word . word  .  5. (x) \"q\" it's\n\nNew paragraph:\tTAB here!\n",
      "aaaa bbbb cccc\r\ndd\r\n\r\n\r\r\n\n", "the sight of the high ight qu th\n",
      "p  q r  s   t\n  lead  spaces\n   \n\n  \n", "ends with escape \xFC",
      "ends with code escape \x0B", "ends with marker bytes \xFD\xFE",
      "\xFD\xFE\xFC\x0B in \x0B\x0B the \xFC\xFD middle",
      "\x8F\xE0\xA8\xA2\xA5\xE2 \xAC\xA8\xE0! \x8C\x8E\x91\x8A\x82\x80 abcdefgh.\n"};
  // clang-format on
  texts.push_back("a" + std::string(100000, ' ') + "b");
  texts.push_back("text" + std::string(50000, '\n') + "more");
  texts.push_back(std::string(600, 'W') + " and " + std::string(254, 'V') + "v " +
                  std::string(255, 'U') + ".");
  texts.push_back(std::string(3000, ' '));
  texts.push_back(wrappedText(400, 64, "\n", 7));
  texts.push_back(wrappedText(400, 64, "\r\n", 7));
  texts.push_back(wrappedText(200, 30, "\n", 1) + "\n      end");
  std::string crlfLines = "text", russian;
  for (int i = 0; i < 50000; ++i) crlfLines += "\r\n";
  texts.push_back(crlfLines + "more");
  // clang-format off
  const char* ruWords[] = {"\xE1\xE2\xA2\xAE", "\xAF\xE0\xA8", "\x8C\xAE\xE1\xAA\xA2\xA0",
                           "\xA5\xE0\xA5\xA4", "\xAB\xEC\xAA\xAE", "\x84\x80", "abc",
                           "\xA2\xE0\xA5\xAC\xEF", "\xE2\xAE\xA1\xEB,"};
  // clang-format on
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i)
    russian += ruWords[rng() % 9] + std::string(i % 11 == 10 ? "\r\n" : " ");
  texts.push_back(russian);
  for (int round = 0; round < 4; ++round) {
    std::string random(20000, ' ');
    for (char& b : random) b = static_cast<char>(rng() % 4 == 0 ? ' ' : rng());
    texts.push_back(random);
  }
  for (const std::string& t : texts) {
    for (const std::string& flags : flagVariants()) {
      SCOPED_TRACE(t.substr(0, 40) + " [" + flags + "]");
      expectTextRoundTrip(bytesOf(t), textFlags(flags));
      if (HasFatalFailure()) return;
    }
  }
}

TEST(TextBlocks, BlocksEndAfterNonDelimiterTokens) {
  // Words of 8 bytes: a block ends with the first letter that brings it to
  // 0x20000 stage-1 bytes or more, never inside a run of delimiters. One
  // more letter in front puts a letter exactly on the 0x20000th byte.
  const struct {
    const char* prefix;
    size_t size;
    char last;
  } cases[] = {{"", 0x20001, 'a'}, {"x", 0x20000, 'g'}};
  for (const auto& c : cases) {
    std::string s = c.prefix;
    while (s.size() < 0x50000) s += "abcdefg ";
    s += std::string(5000, ' ') + "z end";
    const EncodedText e = encodeText(bytesOf(s), textFlags("unwrap"));
    ASSERT_GE(e.blocks.size(), 3u);
    EXPECT_EQ(e.blocks[0].bytes.size(), c.size) << c.prefix;
    EXPECT_EQ(e.blocks[0].bytes.back(), c.last) << c.prefix;
    expectTextRoundTrip(bytesOf(s), textFlags("unwrap"));
  }
}

TEST(TextBlocks, ManyBlocks) {
  const std::string s = wrappedText(40000, 72, "\n", 11);
  ASSERT_GT(s.size(), 2u << 20);
  const TextFlags f = textFlags("mt1 soft sparse lower unwrap double w62");
  const EncodedText e = encodeText(bytesOf(s), f);
  EXPECT_GT(e.blocks.size(), 10u);
  EXPECT_LE(e.consumedChars, static_cast<int64_t>(s.size()));
  EXPECT_GT(e.consumedChars, static_cast<int64_t>(s.size() / 2));
  expectTextRoundTrip(bytesOf(s), f);
  expectTextRoundTrip(bytesOf(s), textFlags(""));
}

TEST(TextBlocksSlow, AllCapsTextKeepsOneOpenBlock) {
  // Upper-case words followed by delimiters never end a block: the whole
  // text is one block, however large it gets.
  const std::string line = "THE QUICK, BROWN FOX.\n";
  std::vector<uint8_t> s;
  for (int i = 0; i < 660000; ++i) s.insert(s.end(), line.begin(), line.end());
  const EncodedText e = encodeText(s, textFlags("unwrap"));
  ASSERT_EQ(e.blocks.size(), 2u);
  EXPECT_GT(e.blocks[0].bytes.size(), 16000000u);
  // Without unwrapLines the open block is handed out in two buffers, and
  // only the second one ends the block; the bytes are those of one block.
  const EncodedText chunked = encodeText(s, textFlags(""));
  ASSERT_EQ(chunked.blocks.size(), 3u);
  EXPECT_FALSE(chunked.blocks[0].endsBlock);
  EXPECT_TRUE(chunked.blocks[1].endsBlock);
  EXPECT_TRUE(chunked.allBytes == e.allBytes);
  EXPECT_TRUE(decodeText(chunked.body, static_cast<int32_t>(chunked.allBytes.size()), textFlags(""))
                  .output == s);
}

// A block is cut just before its length would need a fourth base-256 digit.
TEST(TextBlocksSlow, LengthNeverOverflowsThreeDigits) {
  // 17 million spaces after a word form one open block. The rest of the
  // run and the next letter reach 0x20000 bytes again, so the second block
  // ends after the 'e'.
  std::vector<uint8_t> s = bytesOf("word" + std::string(17000000, ' ') + "end of it");
  EncodedText e = encodeText(s, textFlags("unwrap"));
  ASSERT_EQ(e.blocks.size(), 4u);
  EXPECT_EQ(e.blocks[1].bytes.back(), 'e');
  EXPECT_LE(e.blocks[0].bytes.size(), 0xFFFFFFu);
  EXPECT_GT(e.blocks[0].bytes.size(), 0xFFFFFFu - 4096);
  EXPECT_TRUE(
      decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), textFlags("unwrap")).output == s);

  // A huge run of CR and spaces (single and doubled) with CR LF line ends:
  // the line layer reads a space ahead after every lone CR, and the cut
  // must not separate it from the block whose space runs counted it.
  const std::string unit = "\r  \r \r \r  ";
  s = bytesOf("word");
  while (s.size() < 17500000) s.insert(s.end(), unit.begin(), unit.end());
  s.push_back('x');
  const TextFlags f = textFlags("unwrap double crlf sparse");
  e = encodeText(s, f);
  ASSERT_GE(e.blocks.size(), 3u);
  EXPECT_GT(e.blocks[0].bytes.size(), 0xFFFFFFu - 4096);
  EXPECT_TRUE(decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), f).output == s);
}

}  // namespace
}  // namespace velt::test
