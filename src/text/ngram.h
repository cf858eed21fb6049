// Letter-group dictionaries of the text transform: frequent digrams, trigrams
// and four-letter groups of English and cp866 Russian with their one-byte
// codes, the encoder's lookup trie and the decoder's code map. The lists are
// read-only; a trie or code map belongs to one encoder or decoder session.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velt::text {

// The installed part of one language's lists for one text mode. Group i of a
// list starts at byte offset i * length and has the code base + i.
struct NgramSet {
  const uint8_t* digrams = nullptr;
  int digramCount = 0;
  uint8_t digramBase = 0;
  const uint8_t* trigrams = nullptr;
  int trigramCount = 0;
  uint8_t trigramBase = 0;
  const uint8_t* quadgrams = nullptr;
  int quadgramCount = 0;
  uint8_t quadgramBase = 0;
};

// `russian` selects the cp866 lists, otherwise English; textMode is 0 or 1.
NgramSet ngramSet(bool russian, int textMode);

// Encoder side: a trie over the installed groups, and the set of byte values
// that stage 2 must write behind the code escape byte. Node 0 is dead: all
// its children are node 0 and all its codes 0, so a walk runs four bytes deep
// without a test and the matcher can pick its result without branches.
class NgramTrie {
 public:
  static constexpr uint8_t kDead = 0, kRoot = 1;

  explicit NgramTrie(const NgramSet& set);

  uint8_t child(uint8_t node, uint8_t b) const { return nodes_[node].child[b]; }
  // Code stored in an entry (0: none).
  uint8_t code(uint8_t node, uint8_t b) const { return nodes_[node].code[b]; }
  // Whether some group begins with the bytes a, b: most positions of a text
  // begin none, and this one bit tells them apart without walking the trie.
  bool beginsGroup(uint8_t a, uint8_t b) const { return pairBit(uint32_t(b) << 8 | a); }
  // The same for the bytes at p[0], p[1].
  bool beginsGroupAt(const uint8_t* p) const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint16_t pair;  // one load: the compiler does not merge the two byte loads
    std::memcpy(&pair, p, 2);
    return pairBit(pair);
#else
    return beginsGroup(p[0], p[1]);
#endif
  }

  const std::array<uint8_t, 256>& codeEscapeSet() const { return codeEscapeSet_; }

 private:
  // One byte per entry keeps the nodes a lookup touches in a few cache lines.
  struct Node {
    std::array<uint8_t, 256> child{};
    std::array<uint8_t, 256> code{};
  };
  bool pairBit(uint32_t pair) const { return (pairs_[pair >> 6] >> (pair & 63)) & 1; }
  uint8_t descend(uint8_t node, uint8_t b);  // creates a missing child
  void insert(const uint8_t* group, int length, uint8_t code);

  std::vector<Node> nodes_;
  std::array<uint64_t, 1024> pairs_{};  // one bit per pair of bytes
  std::array<uint8_t, 256> codeEscapeSet_{};
};

// Decoder side: the stage-1 bytes each byte of the coded stream stands for.
class CodeMap {
 public:
  // Length 0 marks the code escape byte. All four bytes may be copied.
  struct Expansion {
    uint8_t bytes[4];
    uint32_t length;  // a word: an entry is 8 bytes, indexed with one shift
  };
  static_assert(sizeof(Expansion) == 8);

  explicit CodeMap(const NgramSet& set);

  // Behind the code escape byte every byte stands for itself.
  const Expansion& operator()(bool escaped, uint8_t b) const { return table_[escaped][b]; }

 private:
  std::array<std::array<Expansion, 256>, 2> table_;
};

}  // namespace velt::text
