// Text encoder and decoder without the model: the documented examples of each
// layer, and round trips of generated texts under the flag combinations.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "text_harness.h"

namespace velt::test {
namespace {

constexpr uint8_t CAP = 0xFD;
constexpr uint8_t ALLCAPS = 0xFE;
constexpr uint8_t ESC = 0xFC;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t CR = 0x0D;

struct Opt {
  bool russian = false;
  int mode = 0;
  bool soft = false, crlf = false, sparse = false, lower = false;
  bool unwrap = false, doubleSpaces = false;
  int width = 59;
};

TextFlags flagsOf(const Opt& o) {
  TextFlags f;
  f.english = o.russian ? 0 : 1;
  f.russian = o.russian ? 1 : 0;
  f.textMode = static_cast<uint8_t>(o.mode);
  f.softLineBreaks = o.soft;
  f.crlfLineEnds = o.crlf;
  f.sparsePunctuation = o.sparse;
  f.mostlyLowercase = o.lower;
  f.unwrapLines = o.unwrap;
  f.doubleSpaces = o.unwrap && o.doubleSpaces;
  f.wrapWidth = static_cast<uint8_t>(o.width);
  return f;
}

std::vector<uint8_t> transformed(const std::string& s, const Opt& o = {}) {
  return encodeText(bytesOf(s), flagsOf(o)).allBytes;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> r;
  for (auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

uint16_t crcOf(const std::vector<uint8_t>& v) {
  Crc16 c;
  for (uint8_t b : v) c.update(b);
  return c.value;
}

void expectRoundTrip(const std::vector<uint8_t>& input, const TextFlags& f) {
  EncodedText e = encodeText(input, f);
  EXPECT_EQ(e.crc, crcOf(input));
  EXPECT_EQ(e.producedBytes, static_cast<int64_t>(e.allBytes.size()));
  ASSERT_TRUE(e.blocks.back().bytes.empty());
  for (size_t k = 0; k + 1 < e.blocks.size(); ++k) ASSERT_FALSE(e.blocks[k].bytes.empty());
  DecodedText d = decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), f);
  ASSERT_EQ(d.output.size(), input.size());
  auto mismatch = std::mismatch(d.output.begin(), d.output.end(), input.begin());
  ASSERT_TRUE(mismatch.first == d.output.end())
      << "first difference at " << (mismatch.first - d.output.begin());
  EXPECT_EQ(d.crc, e.crc);
  EXPECT_EQ(d.bytesWritten, static_cast<int64_t>(input.size()));
}

// Flag sets that exercise different paths of every layer.
std::vector<Opt> flagVariants() {
  std::vector<Opt> v;
  for (int lang = 0; lang < 2; ++lang) {
    for (int mode = 0; mode < 2; ++mode) {
      Opt o;
      o.russian = lang == 1;
      o.mode = mode;
      v.push_back(o);  // nothing on
      Opt a = o;
      a.soft = a.sparse = a.lower = true;
      v.push_back(a);
      Opt b = a;
      b.unwrap = true;
      b.width = 40;
      v.push_back(b);
      Opt c = b;
      c.doubleSpaces = true;
      c.width = 30;
      v.push_back(c);
      Opt d = c;
      d.crlf = true;
      v.push_back(d);
      Opt e = o;
      e.crlf = e.unwrap = e.doubleSpaces = true;
      e.width = 21;
      v.push_back(e);
    }
  }
  return v;
}

void expectRoundTripAllFlags(const std::vector<uint8_t>& input) {
  for (const Opt& o : flagVariants()) {
    SCOPED_TRACE(testing::Message() << "russian " << o.russian << " mode " << o.mode << " soft "
                                    << o.soft << " crlf " << o.crlf << " sparse " << o.sparse
                                    << " lower " << o.lower << " unwrap " << o.unwrap
                                    << " doubleSpaces " << o.doubleSpaces << " width " << o.width);
    expectRoundTrip(input, flagsOf(o));
    if (testing::Test::HasFatalFailure()) return;
  }
}

TEST(TextStageOne, CaseFolding) {
  EXPECT_EQ(transformed("Hello world"), cat({{CAP}, bytesOf("hello world")}));
  Opt lower;
  lower.lower = true;
  EXPECT_EQ(transformed("Hello world", lower), cat({{CAP, ' '}, bytesOf("hello world")}));
  EXPECT_EQ(transformed("NASA."), cat({{ALLCAPS}, bytesOf("nasa.")}));
  EXPECT_EQ(transformed("ABc"), bytesOf("ABc"));
  EXPECT_EQ(transformed("McDonald"), cat({{CAP}, bytesOf("mc"), {CAP}, bytesOf("donald")}));
  EXPECT_EQ(transformed("I am"), bytesOf("I am"));
  EXPECT_EQ(transformed("big A"), bytesOf("big A"));  // capital at the very end
  // cp866 capitals fold as well: ДА -> all caps, Да -> capital marker.
  Opt ru;
  ru.russian = true;
  EXPECT_EQ(transformed("\x84\x80 \x84\xA0", ru),
            (std::vector<uint8_t>{ALLCAPS, 0xA4, 0xA0, ' ', CAP, 0xA4, 0xA0}));
}

TEST(TextStageOne, LongCapitalWords) {
  // 254 capitals and a lowercase letter stay as they are; 300 capitals are
  // 255 unchanged letters and a 45-letter all-caps word.
  std::string word(254, 'Q');
  EXPECT_EQ(transformed(word + "x ."), bytesOf(word + "x ."));
  std::string longWord(300, 'Q');
  EXPECT_EQ(transformed(longWord + " ."),
            cat({bytesOf(std::string(255, 'Q')), {ALLCAPS}, bytesOf(std::string(45, 'q') + " .")}));
}

TEST(TextStageOne, Escapes) {
  EXPECT_EQ(transformed("a\xFC" "b\xFD" "c\xFE"),
            (std::vector<uint8_t>{'a', ESC, 0xFC, 'b', ESC, 0xFD, 'c', ESC, 0xFE}));
  EXPECT_EQ(transformed("\x0B"), (std::vector<uint8_t>{ESC, 0x0B, 0x0B}));
}

TEST(TextStageOne, InsertedSpaces) {
  Opt sparse;
  sparse.sparse = true;
  EXPECT_EQ(transformed("word.", sparse), bytesOf("word ."));
  EXPECT_EQ(transformed("word .", sparse), bytesOf("word  ."));
  EXPECT_EQ(transformed("5.", sparse), bytesOf("5."));
  Opt soft;
  soft.soft = true;
  EXPECT_EQ(transformed("a\nb", soft), bytesOf("a \n b"));
  soft.crlf = true;  // with CR LF line ends only the space after the line feed
  EXPECT_EQ(transformed("a\r\nb", soft), bytesOf("a\r\n b"));
}

TEST(TextStageTwo, EnglishModeOneCodes) {
  Opt m1;
  m1.mode = 1;
  EXPECT_EQ(transformed("the", m1), (std::vector<uint8_t>{0xD8}));
  EXPECT_EQ(transformed("ight", m1), (std::vector<uint8_t>{0x80}));
  EXPECT_EQ(transformed("sight", m1), (std::vector<uint8_t>{'s', 0x80}));
  std::vector<uint8_t> high = transformed("high noon", m1);
  EXPECT_EQ(std::vector<uint8_t>(high.begin(), high.begin() + 4),
            (std::vector<uint8_t>{'h', 'i', 0xAD, ' '}));
  EXPECT_EQ(transformed("qu", m1), (std::vector<uint8_t>{0xCC}));
  EXPECT_EQ(transformed("th", m1), (std::vector<uint8_t>{0xA0}));
  // No group starts in the last three positions of a block.
  EXPECT_EQ(transformed("x the", m1), bytesOf("x the"));
  // Installed codes met as literals are escaped; mode 0 leaves them alone.
  EXPECT_EQ(transformed("\xD8", m1), (std::vector<uint8_t>{0x0B, 0xD8}));
  EXPECT_EQ(transformed("\xD8"), (std::vector<uint8_t>{0xD8}));
}

TEST(TextStageTwo, RussianCodes) {
  Opt ru;
  ru.russian = true;
  ru.mode = 1;
  // "ств" is a trigram (0xF2); Latin a..h are four-letter-group codes and
  // get escaped.
  EXPECT_EQ(transformed("\xE1\xE2\xA2", ru), (std::vector<uint8_t>{0xF2}));
  EXPECT_EQ(transformed("ab", ru), (std::vector<uint8_t>{0x0B, 'a', 0x0B, 'b'}));
  // "еред" is a four-letter group (0x67); in "ерем" the trigram "ере" is
  // not tried: "ер" and "ем" become digrams.
  EXPECT_EQ(transformed("\xA5\xE0\xA5\xA4 ", ru), (std::vector<uint8_t>{0x67, ' '}));
  EXPECT_EQ(transformed("\xA5\xE0\xA5\xAC   ", ru), (std::vector<uint8_t>{0xB7, 0xCE, ' ', ' ', ' '}));
}

TEST(TextLineLayer, UnwrapsAtWidthEight) {
  Opt o;
  o.unwrap = true;
  o.width = 8;
  EncodedText e = encodeText(bytesOf("aaaa bbbb cccc\ndd\n"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaa bbbb cccc dd\n"));
  EXPECT_EQ(e.blocks[0].lineEndCodes, std::vector<int>{1});
  EXPECT_EQ(e.blocks[0].codedLength, e.blocks[0].bytes.size());

  e = encodeText(bytesOf("aaaaaaaa\nb\n"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaaaaaa b\n"));
  EXPECT_EQ(e.blocks[0].lineEndCodes, std::vector<int>{0});

  e = encodeText(bytesOf("aaaaaaa\nb\n"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaaaaa\nb\n"));
  EXPECT_TRUE(e.blocks[0].lineEndCodes.empty());

  e = encodeText(bytesOf("aaaa bbbb cc dd ee ff gg hh ii jj\nk"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaa bbbb cc dd ee ff gg hh ii jj\nk"));
  EXPECT_EQ(e.blocks[0].lineEndCodes, std::vector<int>{7});

  o.crlf = true;
  e = encodeText(bytesOf("aaaa bbbb cccc\r\ndd\r\n"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaa bbbb cccc dd\r\n"));
  EXPECT_EQ(e.blocks[0].lineEndCodes, std::vector<int>{1});
  // CR CR LF: an ordinary CR, then a line end; a lone LF is ordinary.
  e = encodeText(bytesOf("aaaaaaaa\r\r\nb\nc"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("aaaaaaaa\r b\nc"));
  EXPECT_EQ(e.blocks[0].lineEndCodes, std::vector<int>{0});
}

TEST(TextLineLayer, SpaceRuns) {
  Opt o;
  o.unwrap = o.doubleSpaces = true;
  EncodedText e = encodeText(bytesOf("p  q r  s   t"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("p q r s  t"));
  EXPECT_EQ(e.blocks[0].spaceRuns, (std::vector<int>{0, 1, 0}));

  e = encodeText(bytesOf("x\n  y  z"), flagsOf(o));
  EXPECT_EQ(e.allBytes, bytesOf("x\n  y z"));
  EXPECT_EQ(e.blocks[0].spaceRuns, std::vector<int>{0});

  // 257 single spaces before a doubled one.
  std::string s;
  for (int i = 0; i < 258; ++i) s += "w ";
  s += " w";
  e = encodeText(bytesOf(s), flagsOf(o));
  EXPECT_EQ(e.blocks[0].spaceRuns, (std::vector<int>{254, 3}));
  expectRoundTrip(bytesOf(s), flagsOf(o));
  // The final empty block still carries (empty) side information.
  EXPECT_EQ(e.blocks.back().codedLength, 0u);
  EXPECT_TRUE(e.blocks.back().spaceRuns.empty());
}

TEST(TextBlocks, BlocksEndAfterNonDelimiterTokens) {
  // Words of 8 bytes: the first block ends at the first letter token after
  // 0x20000 stage-1 bytes, never inside a run of delimiters.
  std::string s;
  while (s.size() < 0x50000) s += "abcdefg ";
  s += std::string(5000, ' ') + "z end";
  Opt o;
  o.unwrap = true;
  EncodedText e = encodeText(bytesOf(s), flagsOf(o));
  ASSERT_GE(e.blocks.size(), 3u);
  EXPECT_EQ(e.blocks[0].bytes.size(), 0x20001u);
  EXPECT_EQ(e.blocks[0].bytes.back(), 'a');
  for (const TextBlock& b : e.blocks) EXPECT_EQ(b.codedLength, b.bytes.size());
  expectRoundTrip(bytesOf(s), flagsOf(o));
}

TEST(TextDecoder, MirrorsStageTwoAndOne) {
  auto decode = [](const std::vector<uint8_t>& bytes, const Opt& o) {
    TextBlock b;
    b.bytes = bytes;
    return decodeText(encodeBlocks({b}, flagsOf(o)), static_cast<int32_t>(bytes.size()),
                      flagsOf(o))
        .output;
  };
  Opt o;
  EXPECT_EQ(decode({0x0B, 0x0B}, o), std::vector<uint8_t>{0x0B});
  EXPECT_EQ(decode({0x0B, 0xA0, 0xA0}, o), (std::vector<uint8_t>{0xA0, 't', 'h'}));
  EXPECT_EQ(decode(cat({{CAP}, bytesOf("hello")}), o), bytesOf("Hello"));
  EXPECT_EQ(decode(cat({{ALLCAPS}, bytesOf("nasa.")}), o), bytesOf("NASA."));
  EXPECT_EQ(decode({ESC, 0xFD, ESC, 0xFC}, o), (std::vector<uint8_t>{0xFD, 0xFC}));
  Opt lower;
  lower.lower = true;
  EXPECT_EQ(decode(cat({{CAP, ' '}, bytesOf("hello")}), lower), bytesOf("Hello"));
  Opt sparse;
  sparse.sparse = true;
  EXPECT_EQ(decode(bytesOf("word ."), sparse), bytesOf("word."));
  EXPECT_EQ(decode(bytesOf("word  ."), sparse), bytesOf("word ."));
  Opt soft;
  soft.soft = true;
  EXPECT_EQ(decode(bytesOf("a \n b"), soft), bytesOf("a\nb"));
  EXPECT_EQ(decode(bytesOf("a"), o), bytesOf("a"));  // a one-byte stream
}

TEST(TextDecoder, RestoresLineEndsAndSpaces) {
  Opt o;
  o.unwrap = true;
  o.width = 8;
  TextBlock b;
  b.bytes = bytesOf("aaaa bbbb cccc dd\n");
  b.lineEndCodes = {1};
  auto run = [&](const Opt& opt) {
    return decodeText(encodeBlocks({b}, flagsOf(opt)), static_cast<int32_t>(b.bytes.size()),
                      flagsOf(opt))
        .output;
  };
  EXPECT_EQ(run(o), bytesOf("aaaa bbbb cccc\ndd\n"));
  Opt crlf = o;
  crlf.crlf = true;
  b.bytes = bytesOf("aaaa bbbb cccc dd\r\n");
  EXPECT_EQ(run(crlf), bytesOf("aaaa bbbb cccc\r\ndd\r\n"));
  // A line feed after seven spaces beyond the width consumes a code 7.
  b.bytes = bytesOf("aaaa bbbb cc dd ee ff gg hh ii jj\nk k");
  b.lineEndCodes = {7};
  EXPECT_EQ(run(o), bytesOf("aaaa bbbb cc dd ee ff gg hh ii jj\nk k"));

  Opt ds;
  ds.unwrap = ds.doubleSpaces = true;
  b.bytes = bytesOf("p q r s  t");
  b.lineEndCodes = {};
  b.spaceRuns = {0, 1, 0};
  EXPECT_EQ(run(ds), bytesOf("p  q r  s   t"));
  b.spaceRuns = {};
  EXPECT_EQ(run(ds), bytesOf("p q r s  t"));  // an empty list doubles nothing
  std::string singles;
  for (int i = 0; i < 259; ++i) singles += "w ";
  b.bytes = bytesOf(singles + "w");
  b.spaceRuns = {254, 3};
  std::string expected;
  for (int i = 0; i < 259; ++i) expected += i == 257 ? "w  " : "w ";
  EXPECT_EQ(run(ds), bytesOf(expected + "w"));
}

TEST(TextDecoder, RejectsImpossibleSideInformation) {
  Opt o;
  o.unwrap = true;
  TextFlags f = flagsOf(o);
  auto expectCorrupt = [&](const std::vector<TextBlock>& blocks, int32_t count) {
    try {
      decodeText(encodeBlocks(blocks, f), count, f);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Corrupt);
    }
  };
  TextBlock zero;
  zero.codedLength = 0;
  zero.bytes = {};
  expectCorrupt({zero}, 1);
  TextBlock tooLong;
  tooLong.bytes = bytesOf("ab");
  tooLong.codedLength = 3;  // announces more bytes than the stream holds
  expectCorrupt({tooLong}, 2);
  TextBlock manyCodes;
  manyCodes.bytes = bytesOf("a");
  manyCodes.lineEndCodes.assign(10, 0);  // one byte cannot carry ten line ends
  expectCorrupt({manyCodes}, 1);
  TextBlock openToken;
  openToken.bytes = {'a', ESC};  // a block cannot end inside a token
  expectCorrupt({openToken}, 2);
  TextBlock first, second;
  first.bytes = bytesOf("ab");
  second.bytes = bytesOf("cd");
  second.codedLength = 4;  // the stream ends inside the second block
  expectCorrupt({first, second}, 4);

  Opt plain;
  TextBlock escapeAtEnd;
  escapeAtEnd.bytes = {'a', 0x0B};
  TextFlags pf = flagsOf(plain);
  EXPECT_THROW(decodeText(encodeBlocks({escapeAtEnd}, pf), 2, pf), Error);
}

TEST(TextRoundTrip, SmallTexts) {
  const char* texts[] = {
      "a",
      "A",
      " ",
      "\n",
      "Hello World. This is NASA, and I am McDonald's ABc.\n",
      "word . word  .  5. (x) \"q\" it's\n\nNew paragraph:\tTAB here!\n",
      "aaaa bbbb cccc\ndd\n",
      "aaaa bbbb cccc\r\ndd\r\n\r\n\r\r\n\n",
      "the sight of the high ight qu th\n",
      "p  q r  s   t\n  lead  spaces\n   \n\n  \n",
      "ends with escape \xFC",
      "ends with code escape \x0B",
      "ends with marker bytes \xFD\xFE",
      "\xFD\xFE\xFC\x0B in \x0B\x0B the \xFC\xFD middle",
      "\x8F\xE0\xA8\xA2\xA5\xE2 \xAC\xA8\xE0! \x8C\x8E\x91\x8A\x82\x80 abcdefgh.\n",
      "CAPS AT END ABC",
      "Lone capital at end A",
      "x\n  y  z",
      "trailing spaces   ",
      "trailing newlines\n\n\n",
  };
  for (const char* t : texts) {
    SCOPED_TRACE(t);
    expectRoundTripAllFlags(bytesOf(t));
    if (HasFatalFailure()) return;
  }
}

std::string wrappedText(int lines, int width, const char* lineEnd, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"the", "Sight", "of", "NASA", "high", "quiet", "thoughts", "with",
                         "I", "McDonald", "and", "was", "from", "that", "what", "been",
                         "able", "x.", "(note)", "\"quote\"", "it's", "--", "5.", "well,"};
  std::string s;
  for (int l = 0; l < lines; ++l) {
    std::string line;
    if (rng() % 17 == 0) line += "  ";
    while (line.size() < static_cast<size_t>(width - 8)) {
      line += words[rng() % (sizeof(words) / sizeof(words[0]))];
      line += (rng() % 9 == 0) ? "  " : " ";
    }
    if (rng() % 3) line.pop_back();
    s += line;
    s += lineEnd;
    if (rng() % 11 == 0) s += lineEnd;
  }
  return s;
}

TEST(TextRoundTrip, WrappedParagraphs) {
  for (const char* lineEnd : {"\n", "\r\n"}) {
    std::string s = wrappedText(400, 64, lineEnd, 7);
    SCOPED_TRACE(lineEnd[0] == '\r' ? "CR LF" : "LF");
    expectRoundTripAllFlags(bytesOf(s));
    if (HasFatalFailure()) return;
  }
}

TEST(TextRoundTrip, RussianText) {
  std::string s;
  const char* words[] = {"\xE1\xE2\xA2\xAE", "\xAF\xE0\xA8", "\x8C\xAE\xE1\xAA\xA2\xA0",
                         "\xA5\xE0\xA5\xA4", "\xAB\xEC\xAA\xAE", "\x84\x80", "abc",
                         "\xA2\xE0\xA5\xAC\xEF", "\xE2\xAE\xA1\xEB,"};
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) {
    s += words[rng() % 9];
    s += (i % 11 == 10) ? "\r\n" : " ";
  }
  expectRoundTripAllFlags(bytesOf(s));
}

TEST(TextRoundTrip, EdgeTexts) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  cases.push_back({"100000 spaces", bytesOf("a" + std::string(100000, ' ') + "b")});
  cases.push_back({"50000 empty lines", bytesOf("text" + std::string(50000, '\n') + "more")});
  cases.push_back({"50000 empty CR LF lines", [] {
                     std::string s = "text";
                     for (int i = 0; i < 50000; ++i) s += "\r\n";
                     return bytesOf(s + "more");
                   }()});
  cases.push_back({"long capital words", bytesOf(std::string(600, 'W') + " and " +
                                                  std::string(254, 'V') + "v " +
                                                  std::string(255, 'U') + ".")});
  cases.push_back({"one byte", bytesOf("x")});
  cases.push_back({"only spaces", bytesOf(std::string(3000, ' '))});
  cases.push_back({"indented lines", bytesOf(wrappedText(200, 30, "\n", 1) + "\n      end")});
  for (auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    expectRoundTripAllFlags(text);
    if (HasFatalFailure()) return;
  }
}

TEST(TextRoundTrip, ManyBlocks) {
  std::string s = wrappedText(40000, 72, "\n", 11);
  ASSERT_GT(s.size(), 2u << 20);
  Opt o;
  o.soft = o.sparse = o.lower = o.unwrap = o.doubleSpaces = true;
  o.width = 62;
  o.mode = 1;
  EncodedText e = encodeText(bytesOf(s), flagsOf(o));
  EXPECT_GT(e.blocks.size(), 10u);
  EXPECT_LE(e.consumedChars, static_cast<int64_t>(s.size()));
  EXPECT_GT(e.consumedChars, static_cast<int64_t>(s.size() / 2));
  expectRoundTrip(bytesOf(s), flagsOf(o));
  Opt plain;
  expectRoundTrip(bytesOf(s), flagsOf(plain));
}

TEST(TextRoundTrip, AllCapsTextKeepsOneOpenBlock) {
  // Upper-case words followed by delimiters never end a block: the whole
  // text is one block, however large it gets.
  std::string line = "THE QUICK, BROWN FOX.\n";
  std::vector<uint8_t> s;
  s.reserve(660000 * line.size());
  for (int i = 0; i < 660000; ++i) s.insert(s.end(), line.begin(), line.end());
  Opt o;
  o.unwrap = true;
  EncodedText e = encodeText(s, flagsOf(o));
  ASSERT_EQ(e.blocks.size(), 2u);
  EXPECT_GT(e.blocks[0].codedLength, 16000000u);
  // Without unwrapLines the open block is handed out in two buffers, and
  // only the second one ends the block; the bytes are those of one block.
  Opt plain;
  EncodedText chunked = encodeText(s, flagsOf(plain));
  ASSERT_EQ(chunked.blocks.size(), 3u);
  EXPECT_FALSE(chunked.blocks[0].endsBlock);
  EXPECT_TRUE(chunked.blocks[1].endsBlock);
  EXPECT_TRUE(chunked.allBytes == e.allBytes);
  DecodedText d =
      decodeText(chunked.body, static_cast<int32_t>(chunked.allBytes.size()), flagsOf(plain));
  EXPECT_TRUE(d.output == s);
}

TEST(TextRoundTrip, RandomBytes) {
  std::mt19937 rng(5);
  for (int round = 0; round < 4; ++round) {
    std::vector<uint8_t> v(20000);
    for (auto& b : v) b = static_cast<uint8_t>(rng() % 4 == 0 ? ' ' : rng());
    expectRoundTripAllFlags(v);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace velt::test

namespace velt::test {
namespace {

TEST(TextBlocks, LengthNeverOverflowsThreeDigits) {
  // 17 million spaces after a word form one open block; it is cut just
  // before its length would need a fourth base-256 digit.
  std::vector<uint8_t> s = bytesOf("word");
  s.resize(s.size() + 17000000, ' ');
  const std::vector<uint8_t> tail = bytesOf("end of it");
  s.insert(s.end(), tail.begin(), tail.end());
  Opt o;
  o.unwrap = true;
  EncodedText e = encodeText(s, flagsOf(o));
  // The rest of the run and the next letter reach 0x20000 bytes again, so
  // the second block ends after the 'e'.
  ASSERT_EQ(e.blocks.size(), 4u);
  EXPECT_EQ(e.blocks[1].bytes.back(), 'e');
  EXPECT_LE(e.blocks[0].codedLength, 0xFFFFFFu);
  EXPECT_GT(e.blocks[0].codedLength, 0xFFFFFFu - 4096);
  DecodedText d = decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), flagsOf(o));
  EXPECT_TRUE(d.output == s);
}

}  // namespace
}  // namespace velt::test

namespace velt::test {
namespace {

// Damaged streams may decode to anything, but only ever fail with the
// corrupt-data error (the sanitizer build checks the memory accesses).
TEST(TextDecoder, DamagedStreamsFailCleanly) {
  std::string s;
  for (int i = 0; i < 300; ++i) s += "Some TEXT, with  spaces\r\nand \xFC\x0B lines of words that run long\r\n";
  const std::vector<uint8_t> input = bytesOf(s);
  std::mt19937 rng(9);
  int failures = 0;
  for (const Opt& o : flagVariants()) {
    TextFlags f = flagsOf(o);
    EncodedText e = encodeText(input, f);
    const int32_t count = static_cast<int32_t>(e.allBytes.size());
    for (int round = 0; round < 6; ++round) {
      std::vector<uint8_t> body = e.body;
      if (round < 3) {
        body[rng() % body.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      } else {
        for (auto& b : body) b = static_cast<uint8_t>(rng());
      }
      try {
        decodeText(body, count, f);
      } catch (const Error& err) {
        EXPECT_EQ(err.kind(), ErrorKind::Corrupt);
        ++failures;
      }
    }
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace velt::test

namespace velt::test {
namespace {

TEST(TextBlocks, CutKeepsSpaceRunsWithTheirBlock) {
  // A huge run of CR and spaces (single and doubled) with CR LF line ends:
  // the line layer reads a space ahead after every lone CR, and the cut
  // must not separate it from the block whose space runs counted it.
  std::string unit = "\r  \r \r \r  x";
  std::vector<uint8_t> s = bytesOf("word");
  while (s.size() < 17500000) s.insert(s.end(), unit.begin(), unit.end() - 1);
  s.push_back('x');
  Opt o;
  o.unwrap = o.doubleSpaces = o.crlf = o.sparse = true;
  EncodedText e = encodeText(s, flagsOf(o));
  ASSERT_GE(e.blocks.size(), 3u);
  EXPECT_GT(e.blocks[0].codedLength, 0xFFFFFFu - 4096);
  DecodedText d = decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), flagsOf(o));
  EXPECT_TRUE(d.output == s);
}

}  // namespace
}  // namespace velt::test
