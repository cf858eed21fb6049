// Runs the text transform without the PPM model: the encoder's blocks are
// range-coded byte by byte (total 256) after their side information, and the
// decoder is fed the same bytes in the same order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "container/crc16.h"
#include "entropy/cumulative_table.h"
#include "entropy/range_coder.h"
#include "test_util.h"
#include "text/text_decoder.h"
#include "text/text_encoder.h"

namespace velt::test {

// Flags from words: "ru", "mt1", "soft", "crlf", "sparse", "lower", "unwrap",
// "double" (only with unwrap), "wNN"; otherwise English, mode 0, width 59.
inline TextFlags textFlags(const std::string& words) {
  TextFlags f;
  f.english = 1;
  f.softLineBreaks = 0;
  const std::pair<std::string, uint8_t*> names[] = {{"ru", &f.russian},
                                                    {"mt1", &f.textMode},
                                                    {"soft", &f.softLineBreaks},
                                                    {"crlf", &f.crlfLineEnds},
                                                    {"sparse", &f.sparsePunctuation},
                                                    {"lower", &f.mostlyLowercase},
                                                    {"unwrap", &f.unwrapLines},
                                                    {"double", &f.doubleSpaces}};
  std::istringstream in(words);
  for (std::string w; in >> w;) {
    auto it =
        std::find_if(std::begin(names), std::end(names), [&](auto& n) { return n.first == w; });
    if (it != std::end(names)) {
      *it->second = 1;
    } else if (w[0] == 'w') {
      f.wrapWidth = static_cast<uint8_t>(std::stoi(w.substr(1)));
    } else {
      throw std::invalid_argument("unknown text flag " + w);
    }
  }
  f.english = !f.russian;
  f.doubleSpaces &= f.unwrapLines;
  return f;
}

struct TextBlock {
  std::vector<uint8_t> bytes;
  // Side information for encodeBlocks (only with unwrapLines); a zero length codes bytes.size().
  uint32_t codedLength = 0;
  std::vector<int> lineEndCodes;
  std::vector<int> spaceRuns;
  bool endsBlock = true;  // atBlockEnd() once the bytes are taken
};

struct EncodedText {
  std::vector<TextBlock> blocks;  // the last one is the empty final block
  std::vector<uint8_t> body;
  std::vector<uint8_t> allBytes;  // every block's bytes, concatenated
  uint16_t crc = 0;
  int64_t consumedChars = 0;
  int64_t producedBytes = 0;
};

inline EncodedText encodeText(const std::vector<uint8_t>& input, const TextFlags& flags) {
  EncodedText e;
  MemorySource source(input.data(), input.size());
  MemorySink sink;
  RangeEncoder coder(sink, nullptr);
  Crc16 crc;
  TextEncoder encoder(source, crc, coder, flags);
  for (bool empty = false; !empty;) {
    empty = encoder.fillTextBuffer();
    TextBlock block;
    if (encoder.textBufferPos != 0) throw std::runtime_error("textBufferPos not reset");
    block.bytes.assign(encoder.textBuffer(), encoder.textBuffer() + encoder.textBufferLength);
    for (uint8_t b : block.bytes) coder.encode(b, 1, 256);
    encoder.textBufferPos = encoder.textBufferLength;
    block.endsBlock = encoder.atBlockEnd();
    e.allBytes.insert(e.allBytes.end(), block.bytes.begin(), block.bytes.end());
    e.blocks.push_back(std::move(block));
  }
  if (!e.allBytes.empty() || flags.unwrapLines) coder.flush();
  sink.finish();
  e.body = sink.data();
  e.crc = crc.value;
  e.consumedChars = encoder.consumedChars;
  e.producedBytes = encoder.producedBytes;
  return e;
}

struct DecodedText {
  std::vector<uint8_t> output;
  uint16_t crc = 0;
  int64_t bytesWritten = 0;
};

// Decodes `count` bytes of total 256 from `body` through a TextDecoder.
inline DecodedText decodeText(const std::vector<uint8_t>& body, int32_t count,
                              const TextFlags& flags) {
  MemorySource source(body.data(), body.size());
  RangeDecoder coder(source);
  MemorySink sink;
  Crc16 crc;
  TextDecoder decoder(sink, crc, coder, flags, count);
  if (flags.unwrapLines) decoder.start();
  for (int32_t i = 0; i < count; ++i) {
    coder.start();
    const uint32_t v = coder.checkedTarget(256);
    coder.decodeUpdate(v, 1);
    decoder.putDecodedByte(static_cast<uint8_t>(v), i);
  }
  decoder.finishTextOutput();
  sink.finish();
  return {sink.data(), crc.value, decoder.bytesWritten()};
}

// Codes hand-made blocks the way the encoder would, for decoder tests.
inline std::vector<uint8_t> encodeBlocks(const std::vector<TextBlock>& blocks,
                                         const TextFlags& flags) {
  MemorySink sink;
  RangeEncoder coder(sink, nullptr);
  CumulativeTable<10> lineEnd;
  CumulativeTable<257> spaceRun;
  auto code = [&](auto& table, int s, int32_t increment) {
    table.encodeSymbol(coder, s);
    table.update(s, increment, 16382);
  };
  for (const TextBlock& b : blocks) {
    if (flags.unwrapLines) {
      const uint32_t n = b.codedLength ? b.codedLength : static_cast<uint32_t>(b.bytes.size());
      for (int shift : {16, 8, 0}) coder.encode((n >> shift) & 0xFF, 1, 256);
      for (int s : b.lineEndCodes) code(lineEnd, s, 100);
      code(lineEnd, 8, 100);
      if (flags.doubleSpaces) {
        for (int s : b.spaceRuns) code(spaceRun, s, 10);
        code(spaceRun, 255, 10);
      }
    }
    for (uint8_t byte : b.bytes) coder.encode(byte, 1, 256);
  }
  coder.flush();
  sink.finish();
  return sink.data();
}

// Encodes and decodes `input`, checking the bytes, both CRCs and the counters.
inline void expectTextRoundTrip(const std::vector<uint8_t>& input, const TextFlags& f) {
  const EncodedText e = encodeText(input, f);
  Crc16 crc;
  for (uint8_t b : input) crc.update(b);
  EXPECT_EQ(e.crc, crc.value);
  EXPECT_EQ(e.producedBytes, static_cast<int64_t>(e.allBytes.size()));
  ASSERT_TRUE(e.blocks.back().bytes.empty());
  for (size_t k = 0; k + 1 < e.blocks.size(); ++k) ASSERT_FALSE(e.blocks[k].bytes.empty()) << k;
  const DecodedText d = decodeText(e.body, static_cast<int32_t>(e.allBytes.size()), f);
  ASSERT_EQ(d.output.size(), input.size());
  const auto diff = std::mismatch(d.output.begin(), d.output.end(), input.begin());
  ASSERT_TRUE(diff.first == d.output.end())
      << "first difference at " << (diff.first - d.output.begin());
  EXPECT_EQ(d.crc, e.crc);
  EXPECT_EQ(d.bytesWritten, static_cast<int64_t>(input.size()));
}

}  // namespace velt::test
