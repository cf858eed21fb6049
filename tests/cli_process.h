// Runs the real velt binary in a scratch directory: standard input is
// /dev/null or a pipe, standard output a file, a pipe or a terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
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
    const std::string out = capture_ + "/out", err = capture_ + "/err";
    RunResult r;
    r.exitCode = wait(start(args));
    r.out = asString(readFile(out));
    r.err = asString(readFile(err));
    return r;
  }

  // Starts the binary with standard output and error in capture files (or on
  // the given descriptors) and returns its process id.
  pid_t start(std::vector<std::string> args, int in = -1, int out = -1, int err = -1) const {
    args.insert(args.begin(), "velt");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outName = capture_ + "/out", errName = capture_ + "/err";
    const pid_t pid = fork();
    if (pid == 0) {
      const int fds[3] = {
          in >= 0 ? in : open("/dev/null", O_RDONLY),
          out >= 0 ? out : open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
          err >= 0 ? err : open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
      for (int i = 0; i < 3; ++i) {
        if (fds[i] < 0 || dup2(fds[i], i) < 0) _exit(127);
      }
      // Default signal actions, whatever the test runner inherited or set.
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (chdir(dir_.c_str()) == 0) execv(VELT_BINARY, argv.data());
      _exit(127);
    }
    return pid;
  }

  // The exit code, or 128 + the signal that ended the process.
  static int wait(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Standard input fed with `input` through a pipe, standard output and error
  // read from pipes: nothing the binary sees can seek. With `closedOutput`
  // the reading end of standard output is closed before the run.
  RunResult runPiped(const std::vector<std::string>& args, const std::string& input,
                     bool closedOutput = false) const {
    signal(SIGPIPE, SIG_IGN);  // the binary may stop reading early
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
    const pid_t pid = start(args, in[0], out[1], err[1]);
    close(in[0]), close(out[1]), close(err[1]);
    if (closedOutput) close(out[0]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    RunResult r;
    size_t sent = 0;
    if (input.empty()) close(in[1]), in[1] = -1;
    pollfd fds[3] = {
        {closedOutput ? -1 : out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
      if (poll(fds, 3, -1) < 0) break;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !fds[i].revents) continue;
        char buf[65536];
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) sinks[i]->append(buf, static_cast<size_t>(n));
        else close(fds[i].fd), fds[i].fd = -1;
      }
      if (fds[2].fd >= 0 && fds[2].revents) {
        const ssize_t n = ::write(in[1], input.data() + sent, input.size() - sent);
        if (n > 0) sent += static_cast<size_t>(n);
        if (n < 0 || sent == input.size()) close(in[1]), fds[2].fd = -1;
      }
    }
    if (fds[2].fd >= 0) close(fds[2].fd);
    r.exitCode = wait(pid);
    return r;
  }

  // Standard output (and with `input`, standard input) on a pseudo terminal,
  // raw, so that text arrives unchanged.
  RunResult runOnTerminal(const std::vector<std::string>& args, bool input = false) const {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) || unlockpt(master)) return {};
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    const pid_t pid = start(args, input ? slave : -1, slave);
    close(slave);
    RunResult r;
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
      r.out.append(buf, static_cast<size_t>(n));
    close(master);
    r.exitCode = wait(pid);
    r.err = asString(readFile(capture_ + "/err"));
    return r;
  }

  // Runs `args` and returns the names created in the scratch directory
  // meanwhile, even those removed again before the run ended.
  std::vector<std::string> createdDuring(const std::vector<std::string>& args,
                                         RunResult* result = nullptr) const {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(watch, 0);
    inotify_add_watch(watch, dir_.c_str(), IN_CREATE | IN_MOVED_TO);
    const RunResult r = run(args);
    if (result) *result = r;
    std::vector<std::string> names;
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(p);
        names.push_back(e->len ? e->name : "");
        p += sizeof(inotify_event) + e->len;
      }
    }
    close(watch);
    return names;
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
  // and prints `text` as the one line on standard error; standard output holds
  // the banner alone unless quiet (`afterStatus`: the banner and the codec's
  // status text, but no summary). Nothing in the scratch directory created,
  // removed or changed.
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
      EXPECT_EQ(r.err, line);
      if (quiet || !afterStatus) {
        EXPECT_EQ(r.out, quiet ? "" : banner);
      } else {
        EXPECT_EQ(r.out.rfind(banner, 0), 0u) << r.out;
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
