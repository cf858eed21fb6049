// POSIX implementation of the file windows. Reads and writes loop over short
// transfers and EINTR. The one named temporary file of a run (the output
// beside its destination) is registered in a fixed table that the signal
// handler can read without allocating; spools are unlinked as soon as they
// are created, so they vanish with the process on any exit path.
#include "file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

#include "velt/velt.h"

namespace velt::app {

namespace {

std::string describe(const char* what, const std::string& name, int err) {
  return std::string(what) + name + " (" + std::strerror(err) + ")";
}

// ------------------------------------------------ temporary files and signals

constexpr int kSlots = 2;
constexpr size_t kMaxPath = 4096;
char gTempPaths[kSlots][kMaxPath];
volatile sig_atomic_t gTempUsed[kSlots];

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTempsAndDie(int sig) {
  // unlink(), signal() and raise() are async-signal-safe; the raised signal
  // stays blocked until this handler returns, then ends the process.
  for (int i = 0; i < kSlots; ++i) {
    if (gTempUsed[i]) unlink(gTempPaths[i]);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

int claimSlot(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (gTempUsed[i]) continue;
    std::memcpy(gTempPaths[i], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the path before the flag
    gTempUsed[i] = 1;
    return i;
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot >= 0) gTempUsed[slot] = 0;
}

// Creates a new file `prefix` + random part + ".tmp" exclusively with mode
// 0600 and registers it for the signal handler; -1 with errno on failure.
int createTemp(const std::string& prefix, std::string& path, int& slot) {
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (uint32_t bits = random(), i = 0; i < 8; ++i, bits >>= 4) name += kHex[bits & 15];
    name += ".tmp";
    slot = claimSlot(name);
    if (slot < 0) {
      errno = ENAMETOOLONG;
      return -1;
    }
    int fd;
    do fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      path = name;
      return fd;
    }
    const int err = errno;
    releaseSlot(slot);
    slot = -1;
    if (err != EEXIST) {
      errno = err;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

// A temporary file without a name: nothing can be left behind.
int createSpool() {
  std::string path;
  int slot = -1;
  const int fd = createTemp(spoolFolder() + "/velt-spool-", path, slot);
  if (fd < 0) {
    throw Error(ErrorKind::Io, describe("Can't create a temporary file in ", spoolFolder(), errno));
  }
  unlink(path.c_str());
  releaseSlot(slot);
  return fd;
}

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

ssize_t readSome(int fd, uint8_t* data, size_t size) {
  ssize_t n;
  do n = ::read(fd, data, size);
  while (n < 0 && errno == EINTR);
  return n;
}

// Writes everything; false with errno on failure.
bool writeFully(int fd, const uint8_t* data, size_t size) {
  // write() moves less than 2 GiB a call anyway; a bound also keeps the size
  // within ssize_t, which the compiler checks on some builds.
  constexpr size_t kMaxWrite = size_t(1) << 30;
  while (size > 0) {
    const ssize_t n = ::write(fd, data, std::min(size, kMaxWrite));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void installSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = removeTempsAndDie;
  sigemptyset(&action.sa_mask);
  for (int sig : kFatalSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kFatalSignals) {
    struct sigaction old = {};
    // A signal ignored by whoever started us (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
}

std::string spoolFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

// ---------------------------------------------------------------- FileSource

FileSource::FileSource(std::string name, size_t bufferSize)
    : name_(std::move(name)), bufferSize_(bufferSize) {}

FileSource::~FileSource() { close(); }

void FileSource::open(int64_t limit, bool refuseTerminal) {
  int fd = -1;
  if (name_ == "-") {
    fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  } else if (name_.empty()) {
    errno = ENOENT;
  } else {
    do fd = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) throw Error(ErrorKind::Io, describe("Can't open file: ", name_, errno));
  int err = 0;
  if (fstat(fd, &status_) != 0) err = errno;
  else if (S_ISDIR(status_.st_mode)) err = EISDIR;
  if (err != 0) {
    ::close(fd);
    throw Error(ErrorKind::Io, describe("Can't open file: ", name_, err));
  }
  fd_ = fd;
  if (refuseTerminal && isatty(fd)) {
    close();
    throw Error(ErrorKind::Io, "Compressed data is not read from a terminal: " + name_);
  }
  buffer_.reset(new uint8_t[bufferSize_]);
  cur_ = end_ = buffer_.get();
  if (!S_ISREG(status_.st_mode) && lseek(fd_, 0, SEEK_CUR) < 0) spool(limit);
  if (size() > limit) {
    throw Error(ErrorKind::InputTooLarge,
                "Input file is too large (2 GiB or more cannot be compressed): " + name_);
  }
}

void FileSource::spool(int64_t limit) {
  int spoolFd = createSpool();
  int64_t total = 0;
  for (;;) {
    const ssize_t n = readSome(fd_, buffer_.get(), bufferSize_);
    if (n == 0) break;
    int err = n < 0 ? errno : 0;
    total += n;
    if (err == 0 && total > limit) {
      closeQuietly(spoolFd);
      throw Error(ErrorKind::InputTooLarge,
                  "Input file is too large (2 GiB or more cannot be compressed): " + name_);
    }
    if (err != 0) {
      closeQuietly(spoolFd);
      throw Error(ErrorKind::Io, describe("Can't read file: ", name_, err));
    }
    if (!writeFully(spoolFd, buffer_.get(), static_cast<size_t>(n))) {
      err = errno;
      closeQuietly(spoolFd);
      throw Error(ErrorKind::Io, describe("Can't write a temporary file in ", spoolFolder(), err));
    }
  }
  ::close(fd_);
  fd_ = spoolFd;
  rewind();
}

int64_t FileSource::size() {
  struct stat st;
  if (fstat(fd_, &st) != 0) throw Error(ErrorKind::Io, describe("Can't read file: ", name_, errno));
  if (S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  // Devices and the like: measure by seeking, then restore the position.
  const off_t here = lseek(fd_, 0, SEEK_CUR);
  const off_t last = here < 0 ? -1 : lseek(fd_, 0, SEEK_END);
  if (last < 0 || lseek(fd_, here, SEEK_SET) < 0) {
    throw Error(ErrorKind::Io, describe("Can't seek in file: ", name_, errno));
  }
  return static_cast<int64_t>(last);
}

void FileSource::rewind() {
  if (lseek(fd_, 0, SEEK_SET) < 0) {
    throw Error(ErrorKind::Io, describe("Can't seek in file: ", name_, errno));
  }
  cur_ = end_ = buffer_.get();
}

bool FileSource::refill() {
  if (fd_ < 0) return false;
  const ssize_t n = readSome(fd_, buffer_.get(), bufferSize_);
  if (n < 0) throw Error(ErrorKind::Io, describe("Can't read file: ", name_, errno));
  cur_ = buffer_.get();
  end_ = cur_ + n;
  return n > 0;
}

void FileSource::close() {
  closeQuietly(fd_);
  cur_ = end_ = nullptr;
}

// ------------------------------------------------------------------ FileSink

FileSink::FileSink(std::string name, size_t bufferSize)
    : name_(std::move(name)), bufferSize_(bufferSize) {}

FileSink::~FileSink() { discard(); }

void FileSink::discard() {
  closeQuietly(fd_);
  closeQuietly(destFd_);
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
  releaseSlot(slot_);
  slot_ = -1;
}

void FileSink::fail(const char* what, int err) {
  throw Error(ErrorKind::Io, describe(what, name_, err));
}

FileSink::OpenResult FileSink::open(const FileSource& input, bool needsPatch, bool eager,
                                    bool refuseTerminal) {
  const struct stat& in = input.status();
  auto isInput = [&](const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_dev == in.st_dev && st.st_ino == in.st_ino;
  };
  struct stat st;
  int dest = -1;
  if (name_ == "-") {
    if (fstat(STDOUT_FILENO, &st) != 0) fail("Can't open file: ", errno);
    if (isInput(st)) return OpenResult::SameFile;
    if (refuseTerminal && isatty(STDOUT_FILENO)) return OpenResult::Terminal;
    dest = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (dest < 0) fail("Can't open file: ", errno);
  } else if (name_.empty()) {
    fail("Can't open file: ", ENOENT);
  } else if (stat(name_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail("Can't open file: ", EISDIR);
    if (isInput(st)) return OpenResult::SameFile;
    if (S_ISREG(st.st_mode)) {
      kind_ = Kind::Replace;
      // Through a symbolic link: replace the file it leads to, keep the link.
      char* real = realpath(name_.c_str(), nullptr);
      finalPath_ = real ? real : name_;
      std::free(real);
    } else {
      do dest = ::open(name_.c_str(), O_WRONLY | O_CLOEXEC);
      while (dest < 0 && errno == EINTR);
      if (dest < 0) fail("Can't open file: ", errno);
      if (refuseTerminal && isatty(dest)) {
        ::close(dest);
        return OpenResult::Terminal;
      }
    }
  } else if (errno == ENOENT) {
    kind_ = Kind::Replace;
    finalPath_ = name_;
  } else {
    fail("Can't open file: ", errno);
  }

  buffer_.reset(new uint8_t[bufferSize_]);
  begin_ = cur_ = buffer_.get();
  end_ = begin_ + bufferSize_;
  if (kind_ == Kind::Replace) {
    if (access(folderOf(finalPath_).c_str(), W_OK | X_OK) != 0) fail("Can't open file: ", errno);
    if (eager) ensureCreated();
  } else if (needsPatch) {
    kind_ = Kind::Spooled;
    destFd_ = dest;
    fd_ = createSpool();
  } else {
    kind_ = Kind::Direct;
    fd_ = dest;
  }
  return OpenResult::Ok;
}

void FileSink::ensureCreated() {
  if (fd_ >= 0 || kind_ != Kind::Replace) return;
  const size_t slash = finalPath_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : finalPath_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? finalPath_ : finalPath_.substr(slash + 1);
  base.resize(std::min<size_t>(base.size(), 200));  // room for the suffix within NAME_MAX
  fd_ = createTemp(folder + "." + base + ".", tempPath_, slot_);
  if (fd_ < 0) fail("Can't open file: ", errno);
}

void FileSink::writeAll(const uint8_t* data, size_t size) {
  if (!writeFully(fd_, data, size)) {
    failed_ = true;
    fail("Can't write file: ", errno);
  }
  written_ += static_cast<int64_t>(size);
}

void FileSink::flushWindow() {
  if (failed_ || finished_ || !buffer_) fail("Can't write file: ", failed_ ? EIO : EBADF);
  const size_t pending = static_cast<size_t>(cur_ - begin_);
  cur_ = begin_;  // the window is reset even if the write throws
  ensureCreated();
  writeAll(begin_, pending);
}

void FileSink::patch(int64_t offset, const uint8_t* data, size_t size) {
  const int64_t buffered = cur_ - begin_;
  if (offset < 0 || offset + static_cast<int64_t>(size) > written_ + buffered) {
    throw std::out_of_range("FileSink::patch beyond the bytes written");
  }
  if (failed_ || finished_) fail("Can't write file: ", failed_ ? EIO : EBADF);
  // The part that already reached the file.
  while (size > 0 && offset < written_) {
    const size_t chunk =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), written_ - offset));
    const ssize_t n = ::pwrite(fd_, data, chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      fail("Can't write file: ", n < 0 ? errno : EIO);
    }
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  // The part still in the window.
  if (size > 0) std::memcpy(begin_ + (offset - written_), data, size);
}

void FileSink::copySpoolToDestination() {
  for (off_t at = 0;;) {
    ssize_t n;
    do n = ::pread(fd_, buffer_.get(), bufferSize_, at);
    while (n < 0 && errno == EINTR);
    if (n < 0) fail("Can't read the temporary copy of ", errno);
    if (n == 0) break;
    if (!writeFully(destFd_, buffer_.get(), static_cast<size_t>(n))) {
      failed_ = true;
      fail("Can't write file: ", errno);
    }
    at += n;
  }
  closeQuietly(fd_);
  fd_ = destFd_;
  destFd_ = -1;
}

int64_t FileSink::finish() {
  if (failed_ || finished_ || !buffer_) fail("Can't write file: ", failed_ ? EIO : EBADF);
  const size_t pending = static_cast<size_t>(cur_ - begin_);
  cur_ = begin_;
  ensureCreated();
  writeAll(begin_, pending);
  if (kind_ == Kind::Spooled) copySpoolToDestination();
  if (kind_ != Kind::Replace) {
    // A late error of the destination (NFS, a full device) shows on close.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      failed_ = true;
      fail("Can't write file: ", errno);
    }
  }
  finished_ = true;
  begin_ = cur_ = end_ = nullptr;
  return written_;
}

void FileSink::commit(const FileSource& input) {
  if (kind_ != Kind::Replace) return;
  if (!finished_) fail("Can't write file: ", EBADF);
  const struct stat& in = input.status();
  if (S_ISREG(in.st_mode)) {
    // As gzip does: the input's permission bits (never wider) and times.
    // Failures leave the temporary file's 0600, which is narrower still.
    (void)fchmod(fd_, in.st_mode & 0777);
    const struct timespec times[2] = {in.st_atim, in.st_mtim};
    (void)futimens(fd_, times);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    (void)fchmod(fd_, 0666 & ~mask);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) fail("Can't write file: ", errno);
  // No signal between the rename and forgetting the temporary name.
  sigset_t fatal, saved;
  sigemptyset(&fatal);
  for (int sig : kFatalSignals) sigaddset(&fatal, sig);
  sigprocmask(SIG_BLOCK, &fatal, &saved);
  const int renamed = rename(tempPath_.c_str(), finalPath_.c_str());
  const int err = errno;
  if (renamed == 0) {
    tempPath_.clear();
    releaseSlot(slot_);
    slot_ = -1;
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  if (renamed != 0) fail("Can't write file: ", err);
}

// ------------------------------------------------------------------ NullSink

NullSink::NullSink() {
  begin_ = cur_ = buffer_;
  end_ = buffer_ + sizeof buffer_;
}

void NullSink::flushWindow() {
  count_ += cur_ - begin_;
  cur_ = begin_;
}

int64_t NullSink::finish() {
  flushWindow();
  return count_;
}

}  // namespace velt::app
