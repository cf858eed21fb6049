// POSIX implementation of the file windows. Reads and writes loop over short
// transfers and EINTR; the header patch goes through pwrite() for bytes that
// already left the buffer and into the buffer for those that did not.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "velt/velt.h"

namespace velt::app {

namespace {

std::string describe(const char* what, const std::string& name, int err) {
  return std::string(what) + name + " (" + std::strerror(err) + ")";
}

}  // namespace

// ---------------------------------------------------------------- FileSource

FileSource::FileSource(std::string name, size_t bufferSize)
    : name_(std::move(name)), bufferSize_(bufferSize) {}

FileSource::~FileSource() { close(); }

bool FileSource::open() {
  if (name_.empty()) return false;
  int fd;
  do fd = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  buffer_.reset(new uint8_t[bufferSize_]);
  cur_ = end_ = buffer_.get();
  return true;
}

bool FileSource::sameFileAs(const std::string& otherName) const {
  struct stat st;
  if (fd_ < 0 || stat(otherName.c_str(), &st) != 0) return false;
  return sameFileAs(st.st_dev, st.st_ino);
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
  ssize_t n;
  do n = ::read(fd_, buffer_.get(), bufferSize_);
  while (n < 0 && errno == EINTR);
  if (n < 0) throw Error(ErrorKind::Io, describe("Can't read file: ", name_, errno));
  cur_ = buffer_.get();
  end_ = cur_ + n;
  return n > 0;
}

void FileSource::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  cur_ = end_ = nullptr;
}

// ------------------------------------------------------------------ FileSink

FileSink::FileSink(std::string name, size_t bufferSize)
    : name_(std::move(name)), bufferSize_(bufferSize) {}

FileSink::~FileSink() {
  if (fd_ < 0) return;
  if (!failed_) {
    try {
      writeAll(begin_, static_cast<size_t>(cur_ - begin_));
    } catch (const Error&) {
      // Already failing; the error that ended the run has been reported.
    }
  }
  ::close(fd_);
}

FileSink::OpenResult FileSink::open(const FileSource& input) {
  if (name_.empty()) return OpenResult::Failed;
  // No O_TRUNC here: the identity test below must come before any damage.
  int fd;
  do fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenResult::Failed;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return OpenResult::Failed;
  }
  if (input.sameFileAs(st.st_dev, st.st_ino)) {
    ::close(fd);
    return OpenResult::SameFile;
  }
  if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    ::close(fd);
    return OpenResult::Failed;
  }
  fd_ = fd;
  buffer_.reset(new uint8_t[bufferSize_]);
  begin_ = cur_ = buffer_.get();
  end_ = begin_ + bufferSize_;
  return OpenResult::Ok;
}

void FileSink::fail(int err) const {
  throw Error(ErrorKind::Io, describe("Can't write file: ", name_, err));
}

// One write (append when offset < 0), retried on interruption; any failure
// marks the sink failed and throws.
size_t FileSink::writeSome(const uint8_t* data, size_t size, int64_t offset) {
  for (;;) {
    const ssize_t n = offset < 0 ? ::write(fd_, data, size)
                                 : ::pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      fail(n < 0 ? errno : EIO);
    }
    return static_cast<size_t>(n);
  }
}

void FileSink::writeAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    const size_t n = writeSome(data, size, -1);
    data += n;
    size -= n;
    written_ += static_cast<int64_t>(n);
  }
}

void FileSink::flushWindow() {
  if (fd_ < 0 || failed_) fail(failed_ ? EIO : EBADF);
  const size_t pending = static_cast<size_t>(cur_ - begin_);
  cur_ = begin_;  // the window is reset even if the write throws
  writeAll(begin_, pending);
}

void FileSink::patch(int64_t offset, const uint8_t* data, size_t size) {
  const int64_t buffered = cur_ - begin_;
  if (offset < 0 || offset + static_cast<int64_t>(size) > written_ + buffered) {
    throw std::out_of_range("FileSink::patch beyond the bytes written");
  }
  if (fd_ < 0 || failed_) fail(failed_ ? EIO : EBADF);
  // The part that already reached the file.
  while (size > 0 && offset < written_) {
    const size_t chunk =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), written_ - offset));
    const size_t n = writeSome(data, chunk, offset);
    data += n;
    size -= n;
    offset += static_cast<int64_t>(n);
  }
  // The part still in the window.
  if (size > 0) std::memcpy(begin_ + (offset - written_), data, size);
}

int64_t FileSink::finish() {
  if (fd_ < 0) {
    if (failed_) fail(EIO);
    return written_;
  }
  if (failed_) fail(EIO);
  const size_t pending = static_cast<size_t>(cur_ - begin_);
  cur_ = begin_;
  writeAll(begin_, pending);
  const int fd = fd_;
  fd_ = -1;
  begin_ = cur_ = end_ = nullptr;
  if (::close(fd) != 0 && errno != EINTR) {
    failed_ = true;
    fail(errno);
  }
  return written_;
}

}  // namespace velt::app
