// Runs the real velt binary in a scratch directory. Standard input is
// /dev/null, so a key wait can never block a test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace velt::test {

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  ~CliTest() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove_all(capture_, ec);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& s) const {
    writeFile(path(name), bytesOf(s));
  }
  std::vector<uint8_t> read(const std::string& name) const { return readFile(path(name)); }

  // args exclude the program name; the binary runs in the scratch directory.
  RunResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), "velt");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = capture_ + "/out", err = capture_ + "/err";
    const pid_t pid = fork();
    if (pid == 0) {
      const int fds[3] = {open("/dev/null", O_RDONLY),
                          open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                          open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
      for (int i = 0; i < 3; ++i) {
        if (fds[i] < 0 || dup2(fds[i], i) < 0) _exit(127);
      }
      if (chdir(dir_.c_str()) == 0) execv(VELT_BINARY, argv.data());
      _exit(127);
    }
    RunResult r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = asString(readFile(out));
    r.err = asString(readFile(err));
    return r;
  }

  // The scratch directory's names with the contents of its files.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> files;
    for (auto& e : std::filesystem::directory_iterator(dir_)) {
      files[e.path().filename()] = e.is_regular_file() ? asString(readFile(e.path())) : "(folder)";
    }
    return files;
  }

  // Runs `args`, then quiet if it was not. Each run fails with exit status 1
  // and prints `text` as a line of its own: alone when quiet, right after the
  // banner otherwise (`afterStatus`: after the codec's status text, and with
  // no summary). Nothing on standard error; nothing in the scratch directory
  // created, removed or changed.
  void expectRefused(std::vector<std::string> args, const std::string& text,
                     bool afterStatus = false) const {
    std::string shown;
    bool quiet = false;
    for (const std::string& a : args) {
      shown += a + " ";
      quiet |= strcasecmp(a.c_str(), "-si") == 0;
    }
    SCOPED_TRACE(shown);
    const auto before = snapshot();
    const std::string banner = app::bannerText(), line = text + "\n";
    for (;;) {
      const RunResult r = run(args);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.err, "");
      if (quiet || !afterStatus) {
        EXPECT_EQ(r.out, (quiet ? "" : banner) + line);
      } else {
        EXPECT_EQ(r.out.rfind(banner, 0), 0u) << r.out;
        const std::string tail = "\n" + line;
        EXPECT_TRUE(r.out.size() >= tail.size() &&
                    r.out.compare(r.out.size() - tail.size(), tail.size(), tail) == 0)
            << r.out;
        EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
      }
      EXPECT_EQ(snapshot(), before);
      if (quiet) return;
      args.insert(args.empty() ? args.begin() : args.begin() + 1, "-si");
      quiet = true;
    }
  }

  const std::string dir_ = tempDir(), capture_ = tempDir();
};

}  // namespace velt::test
