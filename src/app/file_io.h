// Files as the codec's byte windows: FileSource and FileSink fill and empty a
// large buffer with read()/write(), so per-byte access stays the inlined
// pointer step of velt/io.h. Every failure is thrown as velt::Error(Io) with a
// one-line message that names the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "velt/io.h"

namespace velt::app {

inline constexpr size_t kFileBufferSize = size_t(1) << 20;

class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::string name, size_t bufferSize = kFileBufferSize);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Opens the file for reading. False when it cannot be opened or is a directory.
  bool open();
  const std::string& name() const { return name_; }
  // True when `otherName` exists and is this file (same device and inode),
  // whatever path leads to it (hard link, symbolic link, "./name", ...).
  bool sameFileAs(const std::string& otherName) const;
  bool sameFileAs(dev_t dev, ino_t ino) const { return dev == dev_ && ino == ino_; }

  int64_t size() override;
  void rewind() override;
  void close();

 protected:
  bool refill() override;

 private:
  std::string name_;
  size_t bufferSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

class FileSink final : public ByteSink {
 public:
  enum class OpenResult { Ok, Failed, SameFile };

  explicit FileSink(std::string name, size_t bufferSize = kFileBufferSize);
  // Pushes out what is buffered and closes, ignoring errors: an output left by
  // a failed run stays as far as it got (the error was already reported).
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Creates the file or opens it for truncation. When it turns out to be the
  // input file (checked on the open descriptor, before anything is truncated)
  // it is closed untouched and SameFile is returned.
  OpenResult open(const FileSource& input);
  const std::string& name() const { return name_; }

  void patch(int64_t offset, const uint8_t* data, size_t size) override;
  int64_t finish() override;

 protected:
  void flushWindow() override;

 private:
  [[noreturn]] void fail(int err) const;
  size_t writeSome(const uint8_t* data, size_t size, int64_t offset);
  void writeAll(const uint8_t* data, size_t size);

  std::string name_;
  size_t bufferSize_;
  std::unique_ptr<uint8_t[]> buffer_;
  int fd_ = -1;
  int64_t written_ = 0;  // bytes handed to the file so far
  bool failed_ = false;
};

}  // namespace velt::app
