// Letter-group dictionaries of the text transform: frequent digrams, trigrams
// and four-letter groups of English and cp866 Russian with their one-byte
// codes, the encoder's lookup trie and the decoder's code map. The lists are
// read-only; a trie or code map belongs to one encoder or decoder session.
#pragma once

#include <array>
#include <cstdint>
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
// that stage 2 must write behind the code escape byte.
class NgramTrie {
 public:
  static constexpr int32_t kNone = -1;

  explicit NgramTrie(const NgramSet& set);

  // Node reached by a first byte, or kNone.
  int32_t root(uint8_t b) const { return root_[b]; }
  int32_t child(int32_t node, uint8_t b) const { return nodes_[node].child[b]; }
  // Code stored in an entry (0: none).
  uint8_t code(int32_t node, uint8_t b) const { return nodes_[node].code[b]; }

  const std::array<uint8_t, 256>& codeEscapeSet() const { return codeEscapeSet_; }

 private:
  struct Node {
    std::array<int32_t, 256> child;
    std::array<uint8_t, 256> code;
  };
  int32_t descend(int32_t node, uint8_t b);  // creates a missing child
  void insert(const uint8_t* group, int length, uint8_t code);

  std::array<int32_t, 256> root_;
  std::vector<Node> nodes_;
  std::array<uint8_t, 256> codeEscapeSet_{};
};

// Decoder side: what each byte of the coded stream stands for.
class CodeMap {
 public:
  static constexpr uint8_t kLiteral = 0xFF;
  static constexpr uint8_t kTrigram = 0xFE;
  static constexpr uint8_t kQuadgram = 0xFD;

  explicit CodeMap(const NgramSet& set);

  // kLiteral, kTrigram, kQuadgram, or the index of a digram.
  uint8_t operator[](uint8_t b) const { return map_[b]; }
  const uint8_t* digram(uint8_t index) const { return set_.digrams + 2 * index; }
  const uint8_t* trigram(uint8_t code) const {
    return set_.trigrams + 3 * (code - set_.trigramBase);
  }
  const uint8_t* quadgram(uint8_t code) const {
    return set_.quadgrams + 4 * (code - set_.quadgramBase);
  }

 private:
  NgramSet set_;
  std::array<uint8_t, 256> map_;
};

}  // namespace velt::text
