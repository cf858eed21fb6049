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
    const std::string line = "Can't open file: " + dir + " (Is a directory)";
    expectRefused({"e", dir, "out"}, line);
    expectRefused({"d", dir, "out"}, line);
    expectRefused({"e", "in", dir}, line);
    expectRefused({"d", "packed", dir}, line);
  }
  EXPECT_TRUE(std::filesystem::is_empty(path("folder")));
}

TEST_F(CliFiles, OutputInAMissingFolderIsRefused) {
  const std::string missing = "Can't open file: missing/out (No such file or directory)";
  expectRefused({"e", "in", "missing/out"}, missing);
  expectRefused({"d", "packed", "missing/out"}, missing);
  // A file is no folder.
  expectRefused({"e", "in", "in/out"}, "Can't open file: in/out (Not a directory)");
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
  EXPECT_EQ(e.err, "Can't open file: in (Permission denied)\n");
  EXPECT_EQ(d.exitCode, 1);
  EXPECT_EQ(d.err, "Can't open file: packed (Permission denied)\n");
  EXPECT_FALSE(std::filesystem::exists(path("out")));
}

TEST_F(CliFiles, ReadErrorsOfTheInput) {
  // Reading this process's own memory at offset 0 fails with EIO, even for
  // root: a read error after a successful open.
  for (const char* mode : {"e", "d"}) {
    const RunResult r = run({mode, "-si", "/proc/self/mem", "out"});
    EXPECT_EQ(r.exitCode, 1) << mode;
    EXPECT_EQ(r.err.rfind("Can't read file: /proc/self/mem (", 0), 0u) << mode << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(path("out")));
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
