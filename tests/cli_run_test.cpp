// The velt binary's command line end to end: banner, usage, every refusal of
// the parse and of the file checks, exit codes, and that the refusals leave
// nothing behind in the working directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

const std::string kUsage =
    "Usage:\n"
    "  VELT <e|d> [switches] <infile> <outfile>\n\n"
    "Switches (for encoding only):\n"
    "  -Ox       set PPM order to x, x - [4..9], default: 5\n"
    "  -M:x\t    use x Mb of memory, x - [10..50 with step 5], default: 20\n"
    "  -MTx      text compression, mode x - [0,1], default: 0\n"
    "  -DA       disable file analysis (overrides -MTx and -E8x switches)\n\n"
    "  -RLx      RLE threshold,      x - [3,4,d (RLE disabled)], default: 4\n"
    "  -ICx      interleaved coding, x - [s(mart),f(orced),d(isabled)], default: s\n"
    "  -E8x      'e8' transform,     x - [s(mart),f(orced),d(isabled)], default: s\n"
    "  -SI       suppress all information excepting error and warning messages\n";

// The banner: the name and version, then one notice line.
std::string banner(const RunResult& r) {
  size_t first = r.out.find('\n');
  size_t second = first == std::string::npos ? first : r.out.find('\n', first + 1);
  return second == std::string::npos ? "" : r.out.substr(0, second + 1);
}

std::string afterBanner(const RunResult& r) { return r.out.substr(banner(r).size()); }

class CliRun : public ::testing::Test, public CliFixture {};

TEST_F(CliRun, BannerIsTwoLinesNameAndVersionFirst) {
  RunResult r = run({});
  const std::string b = banner(r);
  EXPECT_EQ(b.rfind("Velt 1.0 ", 0), 0u) << b;
  EXPECT_GT(b.size(), b.find('\n') + 2) << "second banner line is empty";
  EXPECT_EQ(r.err, "");
}

TEST_F(CliRun, BadModesPrintUsageAndFail) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"x"}, {"ed"}, {""}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(afterBanner(r), kUsage);
  }
  // Quiet: no banner, the usage all the same.
  RunResult q = run({"x", "-si"});
  EXPECT_EQ(q.exitCode, 1);
  EXPECT_EQ(q.out, kUsage);
  EXPECT_TRUE(listing().empty());
}

TEST_F(CliRun, HelpAndVersionSucceed) {
  for (const char* flag : {"-h", "--help"}) {
    RunResult r = run({flag});
    EXPECT_EQ(r.exitCode, 0) << flag;
    EXPECT_EQ(afterBanner(r), kUsage) << flag;
  }
  RunResult v = run({"--version"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out, "Velt 1.0\n");
}

TEST_F(CliRun, ParseErrorsAreOneLineAfterTheBanner) {
  write("in", "abc");
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"e"}, "Input and output filenames required\n"},
      {{"e", "-o6"}, "Input and output filenames required\n"},
      {{"d", "-o6", "in", "out"}, "Compression mode switches are allowed for encoding only\n"},
      {{"e", "-x", "in", "out"}, "Unknown switch: x\n"},
      {{"e", "-", "in", "out"}, "Unknown switch: \n"},
      {{"e", "-o5", "-o5", "in", "out"}, "Duplicate mode definition: o5\n"},
      {{"e", "-o5", "-o6", "in", "out"}, "Duplicate mode definition: o6\n"},
      {{"e", "-rl3", "-RL4", "in", "out"}, "Duplicate mode definition: rl4\n"},
      {{"e", "nosuch", "out"}, "Can't open file: nosuch\n"},
      {{"e", "-o6", "in"}, "Required utput filename\n"},
      {{"e", "in", "in"}, "Infile and outfile shouldn't be the same file\n"},
      {{"e", ".", "out"}, "Can't open file: .\n"},
      {{"e", "in", "nodir/out"}, "Can't open file: nodir/out\n"},
  };
  for (const auto& c : cases) {
    RunResult r = run(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.line;
    EXPECT_EQ(afterBanner(r), c.line);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(), std::vector<std::string>{"in"}) << c.line;
    EXPECT_EQ(read("in"), (std::vector<uint8_t>{'a', 'b', 'c'}));
  }
  // Quiet: the error alone.
  RunResult q = run({"e", "-si", "nosuch", "out"});
  EXPECT_EQ(q.exitCode, 1);
  EXPECT_EQ(q.out, "Can't open file: nosuch\n");
}

TEST_F(CliRun, SameFileByAnotherNameIsRefusedUntouched) {
  write("in", "keep me");
  ASSERT_EQ(symlink("in", path("soft").c_str()), 0);
  ASSERT_EQ(link(path("in").c_str(), path("hard").c_str()), 0);
  for (const char* other : {"./in", "soft", "hard"}) {
    for (const char* mode : {"e", "d"}) {
      RunResult r = run({mode, "-si", "in", other});
      EXPECT_EQ(r.exitCode, 1) << mode << " " << other;
      EXPECT_EQ(r.out, "Infile and outfile shouldn't be the same file\n");
      EXPECT_EQ(read("in"), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    }
  }
  // The other direction: the link as input.
  RunResult r = run({"e", "-si", "soft", "in"});
  EXPECT_EQ(r.out, "Infile and outfile shouldn't be the same file\n");
  EXPECT_EQ(read("in").size(), 7u);
}

TEST_F(CliRun, InputTooLargeForTheFormatIsRefusedBeforeTheOutputExists) {
  // A sparse file of exactly 2^31 bytes: one more than the format can count.
  const std::string big = path("big");
  {
    FILE* f = std::fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), int64_t(1) << 31), 0);
    std::fclose(f);
  }
  RunResult r = run({"e", "-si", "big", "out"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("too large"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("big"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_EQ(listing(), std::vector<std::string>{"big"});
}

TEST_F(CliRun, SettingLinesPrecedeTheCodecAndTrailingSwitchesAreIgnored) {
  write("empty", "");
  RunResult r = run({"e", "-o6", "-mt1", "-da", "empty", "out", "-o4"});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(afterBanner(r).rfind("Using order-6 PPM model\nFile analysis disabled\n", 0), 0u)
      << r.out;
  EXPECT_EQ(r.out.find("order-4"), std::string::npos);
  EXPECT_EQ(r.out.find("text mode"), std::string::npos);
  EXPECT_EQ(read("out").at(8), 0x82);  // order 6, memory index 2
}

}  // namespace
}  // namespace velt::test
