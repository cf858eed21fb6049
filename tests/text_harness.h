// Runs the text transform without the PPM model: the encoder's blocks are
// range-coded byte by byte (total 256) after their side information, and the
// decoder is fed the same bytes in the same order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "coder/cumulative_table.h"
#include "coder/range_coder.h"
#include "container/crc16.h"
#include "text/text_decoder.h"
#include "test_util.h"
#include "text/text_encoder.h"
#include "velt/velt.h"

namespace velt::test {

struct TextBlock {
  std::vector<uint8_t> bytes;
  // Side information as coded (only with unwrapLines).
  uint32_t codedLength = 0;
  std::vector<int> lineEndCodes;
  std::vector<int> spaceRuns;
  bool endsBlock = true;  // atBlockEnd() once the bytes are taken
};

struct EncodedText {
  std::vector<TextBlock> blocks;  // the last one is the empty final block
  std::vector<uint8_t> body;
  std::vector<uint8_t> allBytes;  // every block's bytes, concatenated
  std::vector<uint32_t> intervals;  // cumLow, freq, total triples
  uint16_t crc = 0;
  int64_t consumedChars = 0;
  int64_t producedBytes = 0;
};

class IntervalRecorder : public CodingObserver {
 public:
  std::vector<uint32_t> values;
  void interval(uint32_t cumLow, uint32_t freq, uint32_t total) override {
    values.push_back(cumLow);
    values.push_back(freq);
    values.push_back(total);
  }
};

// Reads side information back from recorded intervals, mirroring the models.
class SideInfoReader {
 public:
  SideInfoReader(const std::vector<uint32_t>& v, bool doubleSpaces)
      : v_(v), doubleSpaces_(doubleSpaces) {}

  // Parses one block's side information starting at triple index `at`;
  // returns the index after it.
  size_t read(size_t at, TextBlock& block) {
    uint32_t n = 0;
    for (int k = 0; k < 3; ++k, ++at) n = (n << 8) | v_[3 * at];
    block.codedLength = n;
    for (;;) {
      int s = symbolOf(lineEnd_, v_[3 * at]);
      ++at;
      lineEnd_.update(s, 100, 16382);
      if (s == 8) break;
      block.lineEndCodes.push_back(s);
    }
    if (doubleSpaces_) {
      for (;;) {
        int s = symbolOf(spaceRun_, v_[3 * at]);
        ++at;
        spaceRun_.update(s, 10, 16382);
        if (s == 255) break;
        block.spaceRuns.push_back(s);
      }
    }
    return at;
  }

 private:
  template <int N>
  static int symbolOf(const CumulativeTable<N>& t, uint32_t cumLow) {
    for (int s = 0; s < N - 1; ++s) {
      if (static_cast<uint32_t>(t[s]) == cumLow) return s;
    }
    return -1;
  }

  const std::vector<uint32_t>& v_;
  bool doubleSpaces_;
  CumulativeTable<10> lineEnd_;
  CumulativeTable<257> spaceRun_;
};

inline EncodedText encodeText(const std::vector<uint8_t>& input, const TextFlags& flags) {
  EncodedText e;
  MemorySource source(input.data(), input.size());
  MemorySink sink;
  IntervalRecorder recorder;
  RangeEncoder coder(sink, &recorder);
  Crc16 crc;
  TextEncoder encoder(source, crc, coder, flags);
  SideInfoReader reader(recorder.values, flags.unwrapLines && flags.doubleSpaces);
  size_t parsed = 0;
  for (;;) {
    size_t before = recorder.values.size() / 3;
    bool empty = encoder.fillTextBuffer();
    TextBlock block;
    if (flags.unwrapLines) {
      parsed = reader.read(before, block);
      if (parsed != recorder.values.size() / 3) throw std::runtime_error("side info mismatch");
    }
    if (encoder.textBufferPos != 0) throw std::runtime_error("textBufferPos not reset");
    const uint8_t* buffer = encoder.textBuffer();
    block.bytes.assign(buffer, buffer + encoder.textBufferLength);
    for (uint8_t b : block.bytes) coder.encode(b, 1, 256);
    encoder.textBufferPos = encoder.textBufferLength;
    block.endsBlock = encoder.atBlockEnd();
    e.allBytes.insert(e.allBytes.end(), block.bytes.begin(), block.bytes.end());
    e.blocks.push_back(std::move(block));
    if (empty) break;
  }
  if (!e.allBytes.empty() || flags.unwrapLines) coder.flush();
  sink.finish();
  e.body = sink.data();
  e.intervals = recorder.values;
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
  DecodedText d;
  MemorySource source(body.data(), body.size());
  RangeDecoder coder(source);
  MemorySink sink;
  Crc16 crc;
  TextDecoder decoder(sink, crc, coder, flags, count);
  if (flags.unwrapLines) decoder.start();
  for (int32_t i = 0; i < count; ++i) {
    coder.start();
    uint32_t v = coder.checkedTarget(256);
    coder.decodeUpdate(v, 1);
    decoder.putDecodedByte(static_cast<uint8_t>(v), i);
  }
  decoder.finishTextOutput();
  sink.finish();
  d.output = sink.data();
  d.crc = crc.value;
  d.bytesWritten = decoder.bytesWritten();
  return d;
}

// Codes hand-made blocks (bytes plus side information) the way the encoder
// would, for decoder tests.
inline std::vector<uint8_t> encodeBlocks(const std::vector<TextBlock>& blocks,
                                         const TextFlags& flags) {
  MemorySink sink;
  RangeEncoder coder(sink, nullptr);
  CumulativeTable<10> lineEnd;
  CumulativeTable<257> spaceRun;
  for (const TextBlock& b : blocks) {
    if (flags.unwrapLines) {
      uint32_t n = b.codedLength ? b.codedLength : static_cast<uint32_t>(b.bytes.size());
      coder.encode(n >> 16, 1, 256);
      coder.encode((n >> 8) & 0xFF, 1, 256);
      coder.encode(n & 0xFF, 1, 256);
      std::vector<int> codes = b.lineEndCodes;
      codes.push_back(8);
      for (int s : codes) {
        lineEnd.encodeSymbol(coder, s);
        lineEnd.update(s, 100, 16382);
      }
      if (flags.doubleSpaces) {
        std::vector<int> runs = b.spaceRuns;
        runs.push_back(255);
        for (int s : runs) {
          spaceRun.encodeSymbol(coder, s);
          spaceRun.update(s, 10, 16382);
        }
      }
    }
    for (uint8_t byte : b.bytes) coder.encode(byte, 1, 256);
  }
  coder.flush();
  sink.finish();
  return sink.data();
}

}  // namespace velt::test
