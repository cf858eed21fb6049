// Hostile files on the real command line: directories, missing folders,
// unreadable input, read errors, a full device, and the input reached by
// another name. Each run ends with one line naming the problem, exit status
// 1, and every file exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

class CliFiles : public CliTest {
 protected:
  void SetUp() override {
    // A real text, so encoding runs the analysis and the coder for a while.
    original_ = readFile(corpusPath("text/alice29.txt"));
    original_.resize(40000);
    writeFile(path("in"), original_);
    ASSERT_EQ(run({"e", "-si", "in", "packed"}).exitCode, 0);
    write("empty", "");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  }

  std::vector<uint8_t> original_;
};

TEST_F(CliFiles, DirectoriesAreNeitherInputNorOutput) {
  for (const std::string dir : {"folder", "folder/", ".", "/"}) {
    expectRefused({"e", dir, "out"}, "Can't open file: " + dir);
    expectRefused({"d", dir, "out"}, "Can't open file: " + dir);
    expectRefused({"e", "in", dir}, "Can't open file: " + dir);
    expectRefused({"d", "packed", dir}, "Can't open file: " + dir);
  }
  EXPECT_TRUE(std::filesystem::is_empty(path("folder")));
}

TEST_F(CliFiles, OutputInAMissingFolderIsRefused) {
  expectRefused({"e", "in", "missing/out"}, "Can't open file: missing/out");
  expectRefused({"d", "packed", "missing/out"}, "Can't open file: missing/out");
  expectRefused({"e", "in", "in/out"}, "Can't open file: in/out");  // a file is no folder
}

TEST_F(CliFiles, UnreadableInputByPermissions) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root reads files whatever their mode, so this case cannot fail here "
                    "(ReadErrorsOfTheInput covers a read that fails for root)";
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
}

TEST_F(CliFiles, ReadErrorsOfTheInput) {
  // Reading this process's own memory at offset 0 fails with EIO, even for
  // root: a read error after a successful open.
  for (const char* mode : {"e", "d"}) {
    const RunResult r = run({mode, "-si", "/proc/self/mem", "out"});
    EXPECT_EQ(r.exitCode, 1) << mode;
    EXPECT_EQ(r.out.rfind("Can't read file: /proc/self/mem", 0), 0u) << mode << ": " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
}

TEST_F(CliFiles, FullDeviceAsOutputFailsInBothModes) {
  const std::string line = "Can't write file: /dev/full (No space left on device)";
  expectRefused({"e", "in", "/dev/full"}, line, true);
  expectRefused({"d", "packed", "/dev/full"}, line, true);
  expectRefused({"e", "empty", "/dev/full"}, line, true);  // the header alone, written at the end
}

TEST_F(CliFiles, TheInputByAnotherNameIsRefusedAsOutput) {
  ASSERT_EQ(symlink("in", path("soft").c_str()), 0);
  ASSERT_EQ(link(path("in").c_str(), path("hard").c_str()), 0);
  ASSERT_EQ(symlink(path("in").c_str(), path("absolute-link").c_str()), 0);
  ASSERT_EQ(symlink("packed", path("to-packed").c_str()), 0);
  ASSERT_EQ(symlink("to-packed", path("to-to-packed").c_str()), 0);  // a chain of links
  ASSERT_EQ(symlink(dir_.c_str(), path("folder/up").c_str()), 0);
  const std::pair<std::string, std::string> pairs[] = {
      {"in", "./in"},
      {"in", "soft"},
      {"soft", "in"},
      {"in", "hard"},
      {"in", path("in")},
      {path("in"), "in"},
      {"in", "absolute-link"},
      {"in", "folder/../in"},
      {"in", "folder/up/in"},
      {"folder/up/in", "./in"},
      {"packed", "to-to-packed"},
      {"to-to-packed", "to-packed"},
      {"packed", path("packed")},
      {"packed", "folder/up/packed"},
  };
  for (const auto& [input, output] : pairs) {
    for (const char* mode : {"e", "d"}) {
      expectRefused({mode, input, output}, "Infile and outfile shouldn't be the same file");
    }
  }
  // A link to the input is a fine input on its own.
  const RunResult r = run({"d", "-si", "to-to-packed", "restored"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(read("restored"), original_);
}

}  // namespace
}  // namespace velt::test
