// The velt binary on real files: header bytes and summaries of an empty input,
// quiet runs, decoding verdicts (CRC, bad header, corrupt data), failed
// writes, and round trips of small files through the command line.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

using Bytes = std::vector<uint8_t>;

class CliFiles : public ::testing::Test, public CliFixture {
 protected:
  void SetUp() override { write("empty", ""); }
};

// Output after the two banner lines.
std::string afterBanner(const std::string& out) {
  size_t first = out.find('\n');
  size_t second = out.find('\n', first + 1);
  return out.substr(second + 1);
}

// The text from the summary's first word on ("Done   " overwrites the last
// progress value on the status line).
std::string summary(const std::string& out) {
  size_t done = out.find("Done   \n");
  return done == std::string::npos ? "" : out.substr(done);
}

TEST_F(CliFiles, EmptyInputGivesTheTenByteHeaderAndItsSummary) {
  RunResult r = run({"e", "empty", "out"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(read("out"), (Bytes{0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x28}));
  EXPECT_TRUE(
      std::regex_match(summary(r.out), std::regex("Done   \n"
                                                  "Time      : [0-9]+\\.[0-9][0-9] sec\n"
                                                  "(Speed     : [0-9]+ kB/sec\n)?"
                                                  "Ratio     : 1000\\.00 %          80\\.0000 bpc\n"
                                                  "Original  : 0\n"
                                                  "Compressed: 10\n")))
      << r.out;
  EXPECT_EQ(r.err, "");
}

TEST_F(CliFiles, SwitchesReachTheSettingsAndModeBytes) {
  const struct {
    std::vector<std::string> switches;
    uint8_t settings, mode;
  } cases[] = {
      {{"-O9", "-M:50"}, 0xE8, 0x28}, {{"-o8", "-m:10"}, 0xD0, 0x28}, {{"-o4"}, 0x02, 0x28},
      {{"-rl3"}, 0x42, 0x48},         {{"-rld", "-icd"}, 0x42, 0x00}, {{"-icf"}, 0x42, 0x24},
      {{"-da", "-e8f"}, 0x42, 0x28},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"e", "-si"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    args.insert(args.end(), {"empty", "out"});
    RunResult r = run(args);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const Bytes out = read("out");
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(out[8], c.settings) << c.switches[0];
    EXPECT_EQ(out[9], c.mode) << c.switches[0];
  }
}

TEST_F(CliFiles, EmptyStreamDecodesToAnEmptyFileWithCrcOk) {
  ASSERT_EQ(run({"e", "-si", "empty", "packed"}).exitCode, 0);
  write("restored", "old content to be truncated");
  RunResult r = run({"d", "packed", "restored"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(read("restored").empty());
  EXPECT_TRUE(std::regex_match(summary(r.out), std::regex("Done   \n"
                                                          "Time      : [0-9]+\\.[0-9][0-9] sec\n"
                                                          "(Speed     : [0-9]+ kB/sec\n)?"
                                                          "CRC       : OK\n"
                                                          "Ratio     : 1000\\.00 %          "
                                                          "80\\.0000 bpc\n"
                                                          "Compressed: 10\n"
                                                          "Extracted : 0\n")))
      << r.out;
}

TEST_F(CliFiles, QuietRunsPrintNothing) {
  RunResult e = run({"e", "empty", "packed", "-SI"});  // found even after the file names
  EXPECT_EQ(e.exitCode, 0);
  EXPECT_EQ(e.out, "");
  EXPECT_EQ(read("packed").size(), 10u);
  RunResult d = run({"d", "-si", "packed", "restored"});
  EXPECT_EQ(d.exitCode, 0);
  EXPECT_EQ(d.out, "");
  EXPECT_TRUE(read("restored").empty());
}

TEST_F(CliFiles, CrcMismatchIsReportedAndFails) {
  writeFile(path("packed"), Bytes{0x76, 0x54, 0x34, 0x12, 0, 0, 0, 0, 0x42, 0x28});
  RunResult r = run({"d", "packed", "restored"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(summary(r.out).find("CRC       : ERROR\nRatio"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Extracted : 0\n"), std::string::npos);
  RunResult q = run({"d", "-si", "packed", "restored"});
  EXPECT_EQ(q.exitCode, 1);
  EXPECT_EQ(q.out, "CRC       : ERROR\n");
}

TEST_F(CliFiles, ImpossibleHeadersAreRefusedWithNothingWritten) {
  const Bytes headers[] = {
      {0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x68},  // run-length bits 11
      {0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x2C},  // interleaved-coding bits 11
      {0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x49, 0x28},  // memory index 9
      {0x76, 0x54, 0, 0, 0},                       // shorter than a header
  };
  for (const Bytes& h : headers) {
    writeFile(path("packed"), h);
    RunResult r = run({"d", "packed", "restored"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(afterBanner(r.out), "Unknown switch in the header\n");
    EXPECT_TRUE(read("restored").empty());
    RunResult q = run({"d", "-si", "packed", "restored"});
    EXPECT_EQ(q.out, "Unknown switch in the header\n");
  }
}

TEST_F(CliFiles, FailedWritesNameTheFileAndNeverReportSuccess) {
  for (const auto& extra : std::vector<std::vector<std::string>>{{}, {"-si"}}) {
    std::vector<std::string> args = {"e", "empty", "/dev/full"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
    // One line naming the file, on a line of its own, as the last output.
    const std::string tail = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    EXPECT_EQ(tail.rfind("Can't write file: /dev/full", 0), 0u) << r.out;
  }
}

}  // namespace
}  // namespace velt::test
