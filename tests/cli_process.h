// Runs the real velt binary in a scratch directory. Standard input is
// /dev/null, so a key wait can never block a test.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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

  // Names in the scratch directory, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  const std::string dir_ = tempDir(), capture_ = tempDir();
};

}  // namespace velt::test
