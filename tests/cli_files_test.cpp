// Hostile files and events on the real command line: directories, missing
// folders, unreadable input, read errors, a full device, the input reached by
// another name, swapped names, signals, a console that goes away. Each failed
// run ends with one line naming the problem, exit status 1 (or death by the
// signal), and every file exactly as it was; a good run copies the input's
// permission bits and times.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

class CliFiles : public CliTest {
 protected:
  void SetUp() override {
    // A real text, so encoding runs the analysis and the coder for a while.
    original_ = readData("text/alice29.txt");
    original_.resize(40000);
    writeFile(path("in"), original_);
    ASSERT_EQ(run({"e", "-si", "in", "packed"}).exitCode, 0);
    write("empty", "");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
  }

  std::vector<uint8_t> original_;
};

TEST_F(CliFiles, DirectoriesAndMissingFoldersAreRefused) {
  for (const std::string dir : {"folder", "folder/", ".", "/"}) {
    const std::string line = "Can't open file: " + dir + " (Is a directory)";
    expectRefused({"e", dir, "out"}, line);
    expectRefused({"d", dir, "out"}, line);
    expectRefused({"e", "in", dir}, line);
    expectRefused({"d", "packed", dir}, line);
  }
  EXPECT_TRUE(std::filesystem::is_empty(path("folder")));
  const std::string missing = "Can't open file: missing/out (No such file or directory)";
  expectRefused({"e", "in", "missing/out"}, missing);
  expectRefused({"d", "packed", "missing/out"}, missing);
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

TEST_F(CliFiles, SwappedNamesLeaveTheCompressedFileAlone) {
  const auto before = snapshot();
  for (const char* quiet : {"-si", "-Si"}) {
    const RunResult r = run({"d", quiet, "in", "packed"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Not a Velt compressed file: in\n");
  }
  EXPECT_EQ(snapshot(), before);
}

// The names in the scratch directory that look like a run's temporary output.
std::vector<std::string> temporaries(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename();
    if (name[0] == '.' && name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
      names.push_back(name);
  }
  return names;
}

// A signal in the middle of a long run: the process dies by it, the
// destination is absent or unchanged, and no temporary file remains. The
// signal is sent once the temporary output exists, however loaded the machine.
TEST_F(CliFiles, SignalsLeaveTheDestinationAsItWas) {
  std::vector<uint8_t> noise(size_t(2) << 20);
  std::mt19937 random(9);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  writeFile(path("noise"), noise);
  ASSERT_EQ(run({"e", "-si", "-da", "noise", "noise.velt"}).exitCode, 0);
  const struct {
    const char* mode;
    const char* input;
    int sig;
    bool destinationExists;
  } cases[] = {
      {"e", "noise", SIGTERM, false},      {"e", "noise", SIGTERM, true},
      {"e", "noise", SIGINT, false},       {"e", "noise", SIGHUP, true},
      {"d", "noise.velt", SIGTERM, false}, {"d", "noise.velt", SIGTERM, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " signal " + std::to_string(c.sig) +
                 (c.destinationExists ? " over an existing file" : ""));
    if (c.destinationExists) write("dest", "the old contents");
    else std::filesystem::remove(path("dest"));
    const auto before = snapshot();
    const pid_t pid = start({c.mode, "-si", c.input, "dest"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (temporaries(dir_).empty() && std::chrono::steady_clock::now() < deadline &&
           waitpid(pid, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(temporaries(dir_).size(), 1u) << "no temporary output while running";
    kill(pid, c.sig);
    EXPECT_EQ(wait(pid), 128 + c.sig);
    const auto after = snapshot();
    std::string names;
    for (const auto& file : after) names += file.first + " ";
    EXPECT_TRUE(after == before) << names;
  }
}

TEST_F(CliFiles, OutputTakesTheInputsPermissionBitsAndTimes) {
  struct stat in, packed, restored;
  for (mode_t mode : {0600, 0640, 0444}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(path("in").c_str(), mode), 0);
    const struct timespec times[2] = {{1000000000, 0}, {978307200, 500}};  // 2001-01-01
    ASSERT_EQ(utimensat(AT_FDCWD, path("in").c_str(), times, 0), 0);
    write("packed", "an older, wider file");
    ASSERT_EQ(chmod(path("packed").c_str(), 0666), 0);
    ASSERT_EQ(run({"e", "-si", "in", "packed"}).exitCode, 0);
    ASSERT_EQ(run({"d", "-si", "packed", "restored"}).exitCode, 0);
    ASSERT_EQ(stat(path("in").c_str(), &in) | stat(path("packed").c_str(), &packed) |
                  stat(path("restored").c_str(), &restored),
              0);
    EXPECT_EQ(packed.st_mode & 07777, mode);
    EXPECT_EQ(restored.st_mode & 07777, mode);
    EXPECT_EQ(packed.st_mtim.tv_sec, 978307200);
    EXPECT_EQ(packed.st_mtim.tv_nsec, 500);
    EXPECT_EQ(restored.st_mtim.tv_sec, 978307200);
    EXPECT_EQ(read("restored"), original_);
  }
}

// A console reader that goes away does not matter; a data pipe that closes
// is a write error.
TEST_F(CliFiles, ClosedStandardOutput) {
  const std::vector<uint8_t> packed = read("packed");
  std::filesystem::remove(path("packed"));
  const RunResult e = runPiped({"e", "in", "packed"}, "", true);
  EXPECT_EQ(e.exitCode, 0) << e.err;
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(read("packed"), packed);
  const RunResult d = runPiped({"d", "-si", "packed", "-"}, "", true);
  EXPECT_EQ(d.exitCode, 1);
  EXPECT_EQ(d.err, "Can't write file: - (Broken pipe)\n");
  EXPECT_TRUE(temporaries(dir_).empty());
}

}  // namespace
}  // namespace velt::test
