// Character classes and letter-group tables: which codes are installed per
// language and text mode, and how the trie and the code map agree.
#include <gtest/gtest.h>

#include "text/char_classes.h"
#include "text/ngram.h"

namespace velt::text {
namespace {

TEST(NgramTables, CharacterClassesFollowTheLetterRangesAndSeparatorList) {
  // Ё/ё (0xF0, 0xF1) and the pseudographics between the two lowercase cp866
  // ranges are no letters.
  const std::string punctuation = "\n\r\t',.\";:!?()", delimiters = punctuation + " +=*/<>{}[]%-";
  for (int b = 0; b < 256; ++b) {
    const bool upper = (b >= 'A' && b <= 'Z') || (b >= 0x80 && b <= 0x9F);
    const bool lower =
        (b >= 'a' && b <= 'z') || (b >= 0xA0 && b <= 0xAF) || (b >= 0xE0 && b <= 0xEF);
    EXPECT_EQ(kClasses.isUpper[b], upper) << b;
    EXPECT_EQ(kClasses.isLetter[b], upper || lower) << b;
    EXPECT_TRUE(!upper || kClasses.toUpper[kClasses.toLower[b]] == b) << b;
    EXPECT_TRUE(upper || lower || kClasses.toUpper[b] == 0) << b;
    EXPECT_EQ(kClasses.punctuation[b], punctuation.find(char(b)) != std::string::npos) << b;
    EXPECT_EQ(kClasses.delimiter[b], delimiters.find(char(b)) != std::string::npos) << b;
  }
  EXPECT_EQ(kClasses.toLower[0x8F], 0xAF);
  EXPECT_EQ(kClasses.toLower[0x90], 0xE0);
}

TEST(NgramTables, InstalledCodesPerMode) {
  NgramTrie english0(ngramSet(false, 0));
  CodeMap englishMap0(ngramSet(false, 0));
  for (int code = 0xA6; code <= 0xF4; ++code) {
    EXPECT_FALSE(english0.codeEscapeSet()[code]) << code;
    EXPECT_EQ(englishMap0[static_cast<uint8_t>(code)], CodeMap::kLiteral) << code;
  }
  EXPECT_TRUE(english0.codeEscapeSet()[0x0B]);
  EXPECT_TRUE(english0.codeEscapeSet()[0xA5] && english0.codeEscapeSet()[0x8E]);

  CodeMap russianMap1(ngramSet(true, 1));
  EXPECT_EQ(russianMap1[176], 0);
  EXPECT_EQ(russianMap1[221], 45);
  EXPECT_EQ(russianMap1[0xF2], CodeMap::kTrigram);
  EXPECT_EQ(russianMap1[0x61], CodeMap::kQuadgram);
  EXPECT_EQ(russianMap1[0xFC], CodeMap::kLiteral);
  NgramTrie russian0(ngramSet(true, 0));
  for (int b = 'a'; b <= 'h'; ++b) EXPECT_TRUE(russian0.codeEscapeSet()[b]);
  EXPECT_FALSE(russian0.codeEscapeSet()['i']);
}

TEST(NgramTables, TrieAndCodeMapAgree) {
  for (bool russian : {false, true}) {
    for (int mode : {0, 1}) {
      NgramSet set = ngramSet(russian, mode);
      NgramTrie trie(set);
      CodeMap map(set);
      // Every digram code sits in the trie and expands back to its letters,
      // whether or not longer groups hang below it.
      for (int i = 0; i < set.digramCount; ++i) {
        const uint8_t* g = set.digrams + 2 * i;
        ASSERT_NE(trie.root(g[0]), NgramTrie::kNone);
        uint8_t code = trie.code(trie.root(g[0]), g[1]);
        EXPECT_EQ(code, set.digramBase + i);
        EXPECT_EQ(map[code], i);
        EXPECT_EQ(map.digram(map[code])[0], g[0]);
        EXPECT_EQ(map.digram(map[code])[1], g[1]);
      }
      for (int i = 0; i < set.trigramCount; ++i) {
        const uint8_t* g = set.trigrams + 3 * i;
        int32_t n1 = trie.child(trie.root(g[0]), g[1]);
        ASSERT_NE(n1, NgramTrie::kNone);
        uint8_t code = trie.code(n1, g[2]);
        EXPECT_EQ(code, set.trigramBase + i);
        EXPECT_TRUE(trie.codeEscapeSet()[code]);
        EXPECT_EQ(map.trigram(code)[2], g[2]);
      }
      for (int i = 0; i < set.quadgramCount; ++i) {
        const uint8_t* g = set.quadgrams + 4 * i;
        int32_t n2 = trie.child(trie.child(trie.root(g[0]), g[1]), g[2]);
        ASSERT_NE(n2, NgramTrie::kNone);
        uint8_t code = trie.code(n2, g[3]);
        EXPECT_EQ(code, set.quadgramBase + i);
        EXPECT_EQ(map.quadgram(code)[3], g[3]);
      }
    }
  }
}

}  // namespace
}  // namespace velt::text
