// The front end's file windows with tiny buffers, so that refills, flushes
// and a header patch that straddles flushed and buffered bytes all happen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_process.h"
#include "file_io.h"

namespace velt::test {
namespace {

using app::FileSink;
using app::FileSource;
using Bytes = std::vector<uint8_t>;

class CliFileIo : public ::testing::Test, public CliFixture {};

TEST_F(CliFileIo, SourceReadsRewindsAndMeasures) {
  write("in", "abcdefghij");
  FileSource in(path("in"), 3);
  ASSERT_TRUE(in.open());
  EXPECT_EQ(in.size(), 10);
  std::string seen;
  for (int c; (c = in.get()) != ByteSource::kEnd;) seen += static_cast<char>(c);
  EXPECT_EQ(seen, "abcdefghij");
  EXPECT_EQ(in.get(), ByteSource::kEnd);
  in.rewind();
  EXPECT_EQ(in.get(), 'a');
  EXPECT_EQ(in.size(), 10);  // measuring does not move the window
  EXPECT_EQ(in.get(), 'b');
}

TEST_F(CliFileIo, SourceRefusesMissingFilesAndDirectories) {
  EXPECT_FALSE(FileSource(path("missing")).open());
  EXPECT_FALSE(FileSource(dir()).open());
  EXPECT_FALSE(FileSource("").open());
}

TEST_F(CliFileIo, SinkPatchesAcrossTheFlushedAndBufferedParts) {
  write("in", "x");
  FileSource in(path("in"));
  ASSERT_TRUE(in.open());
  write("out", "old content, longer than the new one");
  FileSink out(path("out"), 4);
  ASSERT_EQ(out.open(in), FileSink::OpenResult::Ok);
  for (uint8_t b = 0; b < 10; ++b) out.put(b);  // 8 bytes flushed, 2 buffered
  const uint8_t patch[6] = {0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
  out.patch(2, patch, 4);
  out.patch(7, patch + 4, 2);  // straddles offset 8
  EXPECT_EQ(out.finish(), 10);
  EXPECT_EQ(read("out"), (Bytes{0, 1, 0xA2, 0xA3, 0xA4, 0xA5, 6, 0xA6, 0xA7, 9}));
  EXPECT_THROW(out.put(1), Error);  // nothing after finish
}

TEST_F(CliFileIo, SinkRefusesTheInputBeforeTruncatingIt) {
  write("in", "precious");
  ASSERT_EQ(link(path("in").c_str(), path("alias").c_str()), 0);
  FileSource in(path("in"));
  ASSERT_TRUE(in.open());
  FileSink out(path("alias"));
  EXPECT_EQ(out.open(in), FileSink::OpenResult::SameFile);
  EXPECT_EQ(read("in").size(), 8u);
  EXPECT_EQ(FileSink(path("no/such/dir")).open(in), FileSink::OpenResult::Failed);
}

TEST_F(CliFileIo, WriteErrorsAreThrownWithTheFileName) {
  write("in", "x");
  FileSource in(path("in"));
  ASSERT_TRUE(in.open());
  FileSink full("/dev/full", 4);
  ASSERT_EQ(full.open(in), FileSink::OpenResult::Ok);
  try {
    for (int i = 0; i < 5; ++i) full.put(0);
    FAIL() << "writing to /dev/full succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Io);
    EXPECT_EQ(std::string(e.what()).rfind("Can't write file: /dev/full", 0), 0u) << e.what();
  }
  // A short tail is caught by finish().
  FileSink tail("/dev/full", 64);
  ASSERT_EQ(tail.open(in), FileSink::OpenResult::Ok);
  tail.put(1);
  EXPECT_THROW(tail.finish(), Error);
}

}  // namespace
}  // namespace velt::test
