// Hostile files on the real command line: directories, unreadable inputs,
// missing folders, a full device, and the input reached by another path.
// Each run ends with one clear line naming the file, exit status 1, and the
// input exactly as it was. (Symbolic and hard links as the output are in
// cli_run_test.cpp; /dev/full for an empty input in cli_files_test.cpp.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

class HardeningCli : public ::testing::Test, public CliFixture {
 protected:
  void SetUp() override {
    // A real text, so encoding runs the analysis and the coder for a while,
    // and its compressed form for the decoding cases.
    const std::vector<uint8_t> text = readFile(corpusPath("text/alice29.txt"));
    original_.assign(text.begin(), text.begin() + 40000);
    writeFile(path("in"), original_);
    RunResult r = run({"e", "-si", "in", "packed"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    packed_ = read("packed");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  }

  // Runs quietly and expects the single line `line` and exit status 1, with
  // both inputs untouched.
  void expectRefused(const std::vector<std::string>& args, const std::string& line) {
    std::vector<std::string> full = {args[0], "-si"};
    full.insert(full.end(), args.begin() + 1, args.end());
    const RunResult r = run(full);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 1) << shown;
    EXPECT_EQ(r.out, line + "\n") << shown;
    EXPECT_EQ(read("in"), original_) << shown;
    EXPECT_EQ(read("packed"), packed_) << shown;
  }

  // A verbose run: the error is one line of its own, the last one printed,
  // and no summary claims success.
  void expectOneErrorLineAtTheEnd(const std::vector<std::string>& args, const std::string& line) {
    const RunResult r = run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    ASSERT_GE(r.out.size(), line.size() + 1) << r.out;
    const size_t start = r.out.size() - line.size() - 1;
    EXPECT_EQ(r.out.substr(start), line + "\n") << r.out;
    EXPECT_TRUE(start == 0 || r.out[start - 1] == '\n') << r.out;
    EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
    EXPECT_EQ(read("in"), original_);
    EXPECT_EQ(read("packed"), packed_);
  }

  std::vector<uint8_t> original_;
  std::vector<uint8_t> packed_;
};

TEST_F(HardeningCli, DirectoriesAreNeitherInputNorOutput) {
  for (const char* dir : {"folder", "folder/", ".", "/"}) {
    expectRefused({"e", dir, "out"}, std::string("Can't open file: ") + dir);
    expectRefused({"d", dir, "out"}, std::string("Can't open file: ") + dir);
    expectRefused({"e", "in", dir}, std::string("Can't open file: ") + dir);
    expectRefused({"d", "packed", dir}, std::string("Can't open file: ") + dir);
  }
  EXPECT_FALSE(std::filesystem::exists(path("out")));
  EXPECT_TRUE(std::filesystem::is_empty(path("folder")));
}

TEST_F(HardeningCli, OutputInAMissingFolderIsRefusedAndNothingIsCreated) {
  expectRefused({"e", "in", "missing/out"}, "Can't open file: missing/out");
  expectRefused({"d", "packed", "missing/out"}, "Can't open file: missing/out");
  // A path through a regular file is no folder either.
  expectRefused({"e", "in", "in/out"}, "Can't open file: in/out");
  EXPECT_FALSE(std::filesystem::exists(path("missing")));
  EXPECT_EQ(listing(), (std::vector<std::string>{"folder", "in", "packed"}));
}

TEST_F(HardeningCli, UnreadableInputByPermissions) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "running as root: chmod 000 does not stop root from reading, so this case "
                    "cannot fail here (ReadErrorsOfTheInput covers a read that fails for root)";
  }
  ASSERT_EQ(chmod(path("in").c_str(), 0), 0);
  ASSERT_EQ(chmod(path("packed").c_str(), 0), 0);
  const RunResult e = run({"e", "-si", "in", "out"});
  const RunResult d = run({"d", "-si", "packed", "out"});
  chmod(path("in").c_str(), 0644);
  chmod(path("packed").c_str(), 0644);
  EXPECT_EQ(e.exitCode, 1);
  EXPECT_EQ(e.out, "Can't open file: in\n");
  EXPECT_EQ(d.exitCode, 1);
  EXPECT_EQ(d.out, "Can't open file: packed\n");
  EXPECT_FALSE(std::filesystem::exists(path("out")));
  EXPECT_EQ(read("in"), original_);
}

TEST_F(HardeningCli, ReadErrorsOfTheInput) {
  // Reading this process's own memory at offset 0 fails with EIO, even
  // for root: a read error after a successful open.
  for (const char* mode : {"e", "d"}) {
    const RunResult r = run({mode, "-si", "/proc/self/mem", "out"});
    EXPECT_EQ(r.exitCode, 1) << mode;
    EXPECT_EQ(r.out.rfind("Can't read file: /proc/self/mem", 0), 0u) << mode << ": " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
}

TEST_F(HardeningCli, FullDeviceAsOutputFailsInBothModes) {
  expectOneErrorLineAtTheEnd({"e", "in", "/dev/full"},
                             "Can't write file: /dev/full (No space left on device)");
  expectOneErrorLineAtTheEnd({"d", "packed", "/dev/full"},
                             "Can't write file: /dev/full (No space left on device)");
  expectRefused({"e", "in", "/dev/full"}, "Can't write file: /dev/full (No space left on device)");
  expectRefused({"d", "packed", "/dev/full"},
                "Can't write file: /dev/full (No space left on device)");
}

TEST_F(HardeningCli, TheInputByAnotherPathIsRefusedUntouched) {
  ASSERT_EQ(symlink(dir().c_str(), path("folder/up").c_str()), 0);
  const std::string absolute = path("in");
  const std::string absolutePacked = path("packed");
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"in", absolute},            {absolute, "in"},
      {"in", "folder/../in"},      {"in", "folder/up/in"},
      {"folder/up/in", "./in"},    {"packed", absolutePacked},
      {"packed", "folder/up/packed"}};
  for (const auto& [input, output] : pairs) {
    const char* mode = input.find("packed") == std::string::npos ? "e" : "d";
    expectRefused({mode, input, output}, "Infile and outfile shouldn't be the same file");
  }
}

TEST_F(HardeningCli, ASymbolicLinkToTheInputAsOutputIsRefusedInBothModes) {
  ASSERT_EQ(symlink(path("in").c_str(), path("to-in").c_str()), 0);
  ASSERT_EQ(symlink("packed", path("to-packed").c_str()), 0);
  ASSERT_EQ(symlink("to-packed", path("to-to-packed").c_str()), 0);  // a chain of links
  expectRefused({"e", "in", "to-in"}, "Infile and outfile shouldn't be the same file");
  expectRefused({"e", "to-in", "in"}, "Infile and outfile shouldn't be the same file");
  expectRefused({"d", "packed", "to-to-packed"}, "Infile and outfile shouldn't be the same file");
  expectRefused({"d", "to-to-packed", "to-packed"},
                "Infile and outfile shouldn't be the same file");
  // A link to the input is a fine input on its own.
  const RunResult r = run({"d", "-si", "to-to-packed", "restored"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(read("restored"), original_);
}

}  // namespace
}  // namespace velt::test
