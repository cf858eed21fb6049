// Letter-group lists and the structures built from them.
#include "text/ngram.h"

#include <algorithm>
#include <cassert>

#include "text/char_classes.h"

namespace velt::text {

namespace {

// Groups are stored back to back; the order fixes the codes.
// clang-format off
constexpr char kEnglishDigrams[] =
    "th" "er" "in" "ou" "an" "en" "ea" "or" "ll" "is" "on" "ar" "st" "gh" "ed" "ee" "om" "oo" "ow"
    "ss" "ur" "ld" "at" "sh" "id" "sa" "ic" "tr" "al" "il" "as" "ir" "ec" "ul" "ly" "et" "ai" "ch"
    "ot" "it" "av" "im" "ol" "to" "qu" "un" "re" "ad" "am" "ay" "of" "wh" "nt" "ht" "ng" "ut";
constexpr char kEnglishTrigrams[] =
    "the" "ing" "and" "for" "ess" "ver" "was" "igh" "ous" "our" "ell" "een" "had" "ich" "ugh"
    "her" "out" "his" "ead" "ard" "ome" "est" "ght" "rom" "ith" "ent" "ill" "der" "ain";
constexpr char kEnglishQuadgrams[] =
    "ight" "self" "ward" "this" "have" "been" "able" "nder" "ttle" "with" "ound" "reat" "that"
    "what" "from";

// cp866 bytes.
constexpr char kRussianDigrams[] =
    "\xE2\xAE" "\xE1\xE2" "\xAE\xA2" "\xA5\xAD" "\xAF\xAE" "\xA0\xA7" "\xA0\xAA" "\xA5\xE0"
    "\xAE\xAB" "\xAE\xE0" "\xAE\xAD" "\xA5\xAB" "\xA5\xE2" "\xA0\xAC" "\xAE\xE2" "\xAE\xAC"
    "\xA0\xE1" "\xA0\xAD" "\xA8\xAD" "\xE1\xAA" "\xAD\xA0" "\xA7\xA0" "\xA0\xE0" "\xA8\xAA"
    "\xAF\xE0" "\xA5\xA2" "\xA8\xA2" "\xA8\xE2" "\xA8\xAB" "\xA5\xA4" "\xA5\xAC" "\xE2\xEC"
    "\xA0\xAB" "\xA0\xE2" "\xA0\xA2" "\xE1\xEF" "\xA5\xE1" "\xAE\xA1" "\xAE\xA4" "\xAE\xE1"
    "\xA8\xE1" "\xAE\xA3" "\xA8\xAC" "\xA5\xA3" "\xA8\xE7" "\xE1\xEC";
constexpr char kRussianTrigrams[] =
    "\xE1\xE2\xA2" "\xA1\xEB\xAB" "\xAF\xE0\xA8" "\xAF\xE0\xAE" "\xA5\xE0\xA5" "\xAE\xA3\xAE"
    "\xAE\xE1\xE2" "\xA8\xE1\xEC" "\xA5\xAD\xAD" "\xAB\xEC\xA3";
constexpr char kRussianQuadgrams[] =
    "\xAB\xEC\xAA\xAE" "\xA2\xE0\xA5\xAC" "\xE2\xAE\xA1\xEB" "\xAE\xA3\xA4\xA0" "\xA0\xA7\xA0\xAB"
    "\xAE\xAB\xEC\xE8" "\xA5\xE0\xA5\xA4" "\xAE\xE2\xAE\xE0";
// clang-format on

static_assert(sizeof(kEnglishDigrams) - 1 == 56 * 2);
static_assert(sizeof(kEnglishTrigrams) - 1 == 29 * 3);
static_assert(sizeof(kEnglishQuadgrams) - 1 == 15 * 4);
static_assert(sizeof(kRussianDigrams) - 1 == 46 * 2);
static_assert(sizeof(kRussianTrigrams) - 1 == 10 * 3);
static_assert(sizeof(kRussianQuadgrams) - 1 == 8 * 4);

const uint8_t* bytes(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

}  // namespace

NgramSet ngramSet(bool russian, int textMode) {
  NgramSet s;
  bool full = textMode != 0;
  if (russian) {
    s.digrams = bytes(kRussianDigrams);
    s.digramCount = full ? 46 : 10;
    s.digramBase = 0xB0;
    s.trigrams = bytes(kRussianTrigrams);
    s.trigramCount = full ? 10 : 0;
    s.trigramBase = 0xF2;
    s.quadgrams = bytes(kRussianQuadgrams);
    s.quadgramCount = 8;
    s.quadgramBase = 0x61;
  } else {
    s.digrams = bytes(kEnglishDigrams);
    s.digramCount = full ? 56 : 6;
    s.digramBase = 0xA0;
    s.trigrams = bytes(kEnglishTrigrams);
    s.trigramCount = full ? 29 : 0;
    s.trigramBase = 0xD8;
    s.quadgrams = bytes(kEnglishQuadgrams);
    s.quadgramCount = 15;
    s.quadgramBase = 0x80;
  }
  return s;
}

NgramTrie::NgramTrie(const NgramSet& set) : nodes_(2) {
  codeEscapeSet_[kCodeEscapeByte] = 1;
  // Digrams first: a later, longer group hangs below a digram's entry and
  // leaves its code in place.
  for (int i = 0; i < set.digramCount; ++i)
    insert(set.digrams + 2 * i, 2, static_cast<uint8_t>(set.digramBase + i));
  for (int i = 0; i < set.trigramCount; ++i)
    insert(set.trigrams + 3 * i, 3, static_cast<uint8_t>(set.trigramBase + i));
  for (int i = 0; i < set.quadgramCount; ++i)
    insert(set.quadgrams + 4 * i, 4, static_cast<uint8_t>(set.quadgramBase + i));
  for (uint32_t a = 0; a < 256; ++a) {
    const uint8_t n0 = child(kRoot, uint8_t(a));
    for (uint32_t b = 0; b < 256; ++b) {
      if (code(n0, uint8_t(b)) || child(n0, uint8_t(b)) != kDead)
        pairs_[(b << 8 | a) >> 6] |= uint64_t(1) << (a & 63);
    }
  }
}

uint8_t NgramTrie::descend(uint8_t node, uint8_t b) {
  uint8_t next = nodes_[node].child[b];
  if (next != kDead) return next;
  // The lists are fixed and need fewer than 100 nodes.
  assert(nodes_.size() < 256);
  next = static_cast<uint8_t>(nodes_.size());
  nodes_.emplace_back();
  nodes_[node].child[b] = next;
  return next;
}

void NgramTrie::insert(const uint8_t* group, int length, uint8_t code) {
  uint8_t node = kRoot;
  for (int k = 0; k < length; ++k) assert(group[k] != 0);  // the matcher pads with zeros
  for (int k = 0; k < length - 1; ++k) node = descend(node, group[k]);
  uint8_t last = group[length - 1];
  if (length > 2 || nodes_[node].child[last] == kDead) nodes_[node].code[last] = code;
  codeEscapeSet_[code] = 1;
}

CodeMap::CodeMap(const NgramSet& set) {
  for (int escaped = 0; escaped < 2; ++escaped) {
    for (int b = 0; b < 256; ++b) table_[escaped][b] = {{static_cast<uint8_t>(b)}, 1};
  }
  auto install = [&](const uint8_t* groups, int count, int length, uint8_t base) {
    for (int i = 0; i < count; ++i) {
      Expansion& e = table_[0][base + i];
      std::copy(groups + length * i, groups + length * (i + 1), e.bytes);
      e.length = static_cast<uint32_t>(length);
    }
  };
  install(set.digrams, set.digramCount, 2, set.digramBase);
  install(set.trigrams, set.trigramCount, 3, set.trigramBase);
  install(set.quadgrams, set.quadgramCount, 4, set.quadgramBase);
  table_[0][kCodeEscapeByte].length = 0;
}

}  // namespace velt::text
