// Files as the codec's byte windows. FileSource and FileSink fill and empty a
// large buffer with read()/write(), so per-byte access stays the inlined
// pointer step of velt/io.h. No run may lose a file: a regular output is
// written to a temporary file beside it and renamed over it only after the run
// succeeded; inputs and outputs that cannot seek are spooled through unnamed
// temporary files. Every failure is thrown as velt::Error with a one-line
// message naming the file and the system's reason.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "velt/io.h"

namespace velt::app {

// Large enough for sequential I/O at full speed; every byte of it counts
// against the memory a run promises beside the model.
inline constexpr size_t kFileBufferSize = size_t(1) << 16;

// SIGINT, SIGTERM and SIGHUP (unless ignored when the process started) remove
// the temporary output, if any, and end the process by the default action.
// SIGPIPE is ignored: a console reader that goes away must not end a run, and
// a data pipe that closes shows up as a write error instead.
void installSignalHandlers();

// The folder for spooled data: $TMPDIR, else /tmp.
std::string spoolFolder();

class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::string name, size_t bufferSize = kFileBufferSize);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Opens the file, "-" meaning standard input. An input that cannot seek is
  // first copied to an unnamed file in spoolFolder(); more than `limit` bytes
  // fail with InputTooLarge as soon as the count passes it. A terminal is
  // refused when `refuseTerminal` (compressed data is never typed in).
  void open(int64_t limit = INT64_MAX, bool refuseTerminal = false);
  const std::string& name() const { return name_; }
  // The input as opened (before any spooling).
  const struct stat& status() const { return status_; }

  int64_t size() override;
  void rewind() override;
  void close();

 protected:
  bool refill() override;

 private:
  void spool(int64_t limit);

  std::string name_;
  size_t bufferSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  int fd_ = -1;
  struct stat status_ = {};
};

class FileSink final : public ByteSink {
 public:
  explicit FileSink(std::string name, size_t bufferSize = kFileBufferSize);
  // Removes a temporary output that was not committed.
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  enum class OpenResult { Ok, SameFile, Terminal };
  // Prepares the destination, "-" meaning standard output. A regular file (or
  // none yet) is written through a temporary file in its folder, created now
  // when `eager`, else when the first byte leaves the buffer. Anything else is
  // written directly, through a spool when `needsPatch` (the encoder completes
  // the header at the end). Refuses the input itself and, when `refuseTerminal`,
  // a terminal, before anything is created. Throws Error(Io) when the
  // destination cannot be written.
  OpenResult open(const FileSource& input, bool needsPatch, bool eager, bool refuseTerminal);
  const std::string& name() const { return name_; }

  void patch(int64_t offset, const uint8_t* data, size_t size) override;
  int64_t finish() override;
  // After a successful run: gives a temporary output the input's permission
  // bits and times and renames it over the destination.
  void commit(const FileSource& input);

 protected:
  void flushWindow() override;

 private:
  enum class Kind { Replace, Direct, Spooled };
  [[noreturn]] void fail(const char* what, int err);
  void ensureCreated();
  void discard();
  void writeAll(const uint8_t* data, size_t size);
  void copySpoolToDestination();

  std::string name_;
  std::string finalPath_;  // the file the temporary output replaces
  std::string tempPath_;
  Kind kind_ = Kind::Direct;
  size_t bufferSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  int fd_ = -1;          // where the bytes go: temporary, spool or destination
  int destFd_ = -1;      // Spooled: the destination
  int slot_ = -1;        // the temporary output's entry for the signal handler
  int64_t written_ = 0;  // bytes handed to fd_ so far
  bool failed_ = false;
  bool finished_ = false;
};

// Decoded bytes that go nowhere (the test mode).
class NullSink final : public ByteSink {
 public:
  NullSink();
  void patch(int64_t, const uint8_t*, size_t) override {}
  int64_t finish() override;

 protected:
  void flushWindow() override;

 private:
  uint8_t buffer_[1 << 16];
  int64_t count_ = 0;
};

}  // namespace velt::app
