// Runs the real velt binary in a scratch directory and captures its exit code,
// standard output and standard error. Standard input is /dev/null unless told
// otherwise, so a key wait can never block a test.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace velt::test {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::string& path) {
  std::vector<uint8_t> bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Scratch directory for one test; removed with the fixture.
class CliFixture {
 public:
  CliFixture() : dir_(tempDir()), captureDir_(tempDir()) {}
  ~CliFixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove_all(captureDir_, ec);
  }

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // args exclude the program name; the binary runs with dir() as its cwd.
  RunResult run(const std::vector<std::string>& args, const char* stdinPath = "/dev/null") const {
    const std::string outPath = captureDir_ + "/stdout";
    const std::string errPath = captureDir_ + "/stderr";
    std::vector<std::string> argStrings = {"velt"};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open(stdinPath, O_RDONLY);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0 || chdir(dir_.c_str()) != 0) _exit(127);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execv(VELT_BINARY, argv.data());
      _exit(127);
    }
    RunResult r;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
  }

  // Names in the scratch directory, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  void write(const std::string& name, const std::string& content) const {
    writeFile(path(name), std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::vector<uint8_t> read(const std::string& name) const { return readFile(path(name)); }

 private:
  std::string dir_;
  std::string captureDir_;
};

}  // namespace velt::test
