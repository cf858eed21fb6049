// Inputs the fuzzers found, kept so the fault they showed stays fixed. Each
// case names what went wrong; they matter most in the sanitizer build
// (VELT_SANITIZE), where undefined behaviour stops the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pipeline/session.h"
#include "velt/velt.h"

namespace velt::test {
namespace {

// Decodes and accepts only the endings a damaged stream may have.
void expectOrderlyEnding(const std::vector<uint8_t>& stream) {
  try {
    DecodeDetails r;
    const std::vector<uint8_t> out = decodeBuffer(stream.data(), stream.size(), &r);
    EXPECT_EQ(static_cast<int64_t>(out.size()), r.extractedSize);
    EXPECT_LE(out.size(), static_cast<size_t>(r.codedLength) * 16 + 16);
  } catch (const Error& e) {
    EXPECT_TRUE(e.kind() == ErrorKind::Corrupt || e.kind() == ErrorKind::BadHeader) << e.what();
  }
}

// decode fuzzer: std::swap of two nodes' members in the model's packed
// node records bound uint16_t/uint32_t references to unaligned addresses
// (UBSan: "reference binding to misaligned address", src/model/model.cpp,
// the swap of a found node with its predecessor). Any stream whose symbols
// reorder a context's nodes reaches it; this is the fuzzer's first input.
TEST(HardeningRegression, NodeSwapInPackedRecords) {
  expectOrderlyEnding({0x76, 0x54, 0x8F, 0xA0, 0x40, 0x00, 0x00, 0x00, 0x02, 0x28,
                       0xFF, 0xEE, 0x61, 0xDD, 0x78, 0xDE, 0xD9, 0x63, 0x04, 0x87,
                       0x59, 0xA8, 0x72, 0xC0, 0x2C, 0xC2, 0xF9, 0x05, 0x8D, 0x25,
                       0xC8, 0x57, 0xD9, 0x39, 0x48, 0x9C, 0x09, 0x23, 0xD7, 0x00});
}

}  // namespace
}  // namespace velt::test
