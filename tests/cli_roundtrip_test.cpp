// Non-empty files through the velt binary: round trips with their summaries,
// the progress values, and the failures that only a real body can show
// (a full disk while decoding, a damaged body, a wrong CRC).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<uint8_t>(seed >> 24);
  }
  return b;
}

Bytes proseBytes(size_t n) {
  static const char* const words[] = {"the ", "quick ", "brown ", "fox ",  "jumps ", "over ",
                                      "a ",   "lazy ",  "dog. ",  "Then ", "it ",    "rests.\n"};
  std::string s;
  for (uint32_t i = 0; s.size() < n; ++i) s += words[(i * 7 + i / 5) % 12];
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

std::string line(const std::string& prefix, long long value) {
  return prefix + std::to_string(value) + "\n";
}

class CliRoundTrip : public ::testing::Test, public CliFixture {
 protected:
  // Compresses and restores `data` with `switches`; returns the packed bytes.
  Bytes roundTrip(const Bytes& data, const std::vector<std::string>& switches) {
    writeFile(path("in"), data);
    std::vector<std::string> args = {"e"};
    args.insert(args.end(), switches.begin(), switches.end());
    args.insert(args.end(), {"in", "packed"});
    RunResult e = run(args);
    EXPECT_EQ(e.exitCode, 0) << e.out;
    const Bytes packed = read("packed");
    EXPECT_NE(e.out.find(line("Original  : ", data.size())), std::string::npos) << e.out;
    EXPECT_NE(e.out.find(line("Compressed: ", packed.size())), std::string::npos) << e.out;

    RunResult d = run({"d", "packed", "restored"});
    EXPECT_EQ(d.exitCode, 0) << d.out;
    EXPECT_NE(d.out.find("CRC       : OK\n"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find(line("Compressed: ", packed.size())), std::string::npos) << d.out;
    EXPECT_NE(d.out.find(line("Extracted : ", data.size())), std::string::npos) << d.out;
    EXPECT_TRUE(read("restored") == data) << "restored file differs";
    return packed;
  }
};

TEST_F(CliRoundTrip, FilesSurviveCompressionAndRestoration) {
  const Bytes inputs[] = {Bytes{'x'}, proseBytes(30000), randomBytes(20000, 7), Bytes(5000, 0xE8)};
  for (const Bytes& data : inputs) {
    SCOPED_TRACE(data.size());
    roundTrip(data, {});
    roundTrip(data, {"-da", "-o9", "-m:10", "-rl3", "-icf"});
  }
}

TEST_F(CliRoundTrip, ProgressValuesEvery16384Bytes) {
  writeFile(path("in"), randomBytes(100000, 1));
  RunResult r = run({"e", "-da", "in", "packed"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const std::string bs = "\b\b\b\b\b\b";
  // A value after bytes 1, 16385, 32769, ...: the first shows 0; "Done   "
  // overwrites the last one.
  const size_t start = r.out.find("Progress  : ");
  ASSERT_NE(start, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("  0 % " + bs + " 16 % " + bs + " 33 % " + bs + " 49 % " + bs + " 66 % " +
                           bs + " 82 % " + bs,
                       start),
            start + 12)
      << r.out;
  EXPECT_NE(r.out.find("% " + bs + "Done   \n"), std::string::npos) << r.out;
  RunResult q = run({"e", "-da", "-si", "in", "packed"});
  EXPECT_EQ(q.out, "");
}

TEST_F(CliRoundTrip, FullDiskWhileDecodingFails) {
  writeFile(path("in"), proseBytes(5000));
  ASSERT_EQ(run({"e", "-si", "in", "packed"}).exitCode, 0);
  RunResult r = run({"d", "packed", "/dev/full"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nCan't write file: /dev/full"), std::string::npos) << r.out;
}

TEST_F(CliRoundTrip, WrongCrcOnARealBodyFailsAfterTheWholeOutput) {
  const Bytes data = proseBytes(3000);
  Bytes packed = roundTrip(data, {});
  packed[2] ^= 0x01;
  writeFile(path("bad"), packed);
  RunResult r = run({"d", "-si", "bad", "restored"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "CRC       : ERROR\n");
  EXPECT_TRUE(read("restored") == data);  // the body itself was intact
}

// A damaged body ends either with the corrupt-data error, on a line of its
// own and without a summary, or with a CRC mismatch; never with success.
TEST_F(CliRoundTrip, DamagedBodiesNeverSucceed) {
  const Bytes packed = roundTrip(randomBytes(4000, 3), {"-da"});
  int corrupt = 0;
  // (The last bytes of the coder's final flush may not all be needed, so the
  // truncations stop well before the end.)
  for (size_t keep : {size_t(12), size_t(20), packed.size() / 2, packed.size() - 16}) {
    for (bool flip : {false, true}) {
      Bytes bad(packed.begin(), packed.begin() + static_cast<long>(keep));
      if (flip) {
        for (size_t i = 10; i < bad.size(); i += 7) bad[i] ^= 0x5A;
      }
      writeFile(path("bad"), bad);
      RunResult r = run({"d", "bad", "restored"});
      SCOPED_TRACE(std::to_string(keep) + (flip ? " flipped" : ""));
      EXPECT_EQ(r.exitCode, 1) << r.out;
      const size_t at = r.out.find("Input data corrupt");
      if (at != std::string::npos) {
        ++corrupt;
        EXPECT_EQ(r.out.substr(at - 1), "\nInput data corrupt\n") << r.out;
        EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
        RunResult q = run({"d", "-si", "bad", "restored"});
        EXPECT_EQ(q.out, "Input data corrupt\n");
        EXPECT_EQ(q.exitCode, 1);
      } else {
        EXPECT_NE(r.out.find("CRC       : ERROR\n"), std::string::npos) << r.out;
      }
    }
  }
  EXPECT_GT(corrupt, 0) << "no damaged body was reported as corrupt";
}

}  // namespace
}  // namespace velt::test
