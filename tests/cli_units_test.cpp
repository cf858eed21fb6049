// The front end's pieces in process: what each switch word sets and prints,
// the summary's number formats, and the file windows with tiny buffers. Every
// message and exit code is checked on the real binary in cli_run_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "cli.h"
#include "cli_process.h"
#include "file_io.h"
#include "report.h"

namespace velt::app {
namespace {

ParseResult parse(std::vector<std::string> args) {
  args.insert(args.begin(), "velt");
  return parseCommandLine(args);
}

auto fields(const Options& o) {
  return std::make_tuple(o.order, o.memoryMb, o.analysis, o.textMode, int(o.e8), o.runLength,
                         int(o.interleaved));
}

constexpr int kOff = int(Stage::Off), kSmart = int(Stage::Smart);

TEST(CliParse, ModesNamesAndDefaults) {
  for (const char* mode : {"e", "E", "d", "D"}) {
    const ParseResult r = parse({mode, "In File", "-o4"});  // the output is the next word
    ASSERT_EQ(r.status, ParseStatus::Ok) << mode;
    EXPECT_EQ(r.decode, mode[0] == 'd' || mode[0] == 'D');
    EXPECT_EQ(r.inputName, "In File");
    EXPECT_EQ(r.outputName, "-o4");
    EXPECT_TRUE(r.infoLines.empty());
    // The documented defaults: order 5, 20 MB, text mode 0, e8 and
    // interleaving smart, run-length threshold 4.
    EXPECT_EQ(fields(r.options), std::make_tuple(5, 20, true, 0, kSmart, 4, kSmart));
    EXPECT_TRUE(r.verbose);
  }
  // An input without an output is for the entry to refuse, after opening it.
  EXPECT_EQ(parse({"e", "-o6", "in"}).status, ParseStatus::Ok);
  // One switch from each group, plus "si" and "da": no conflict.
  EXPECT_EQ(
      parse({"e", "-si", "-rl3", "-e8f", "-icf", "-m:35", "-o8", "-mt1", "-da", "i", "o"}).status,
      ParseStatus::Ok);
}

TEST(CliParse, EverySwitchWordSetsOnlyItsOwnFieldsAndPrintsItsLine) {
  const struct {
    const char* word;
    const char* line;  // nullptr: prints nothing
    void (*change)(Options&);
  } cases[] = {
      {"-si", nullptr, [](Options&) {}},
      {"-rl3", "Using RLE threshold=3\n", [](Options& o) { o.runLength = 3; }},
      {"-rl4", "Using RLE threshold=4\n", [](Options&) {}},
      {"-rld", "RLE off\n", [](Options& o) { o.runLength = 0; }},
      {"-e8s", "Using E8 coding\n", [](Options&) {}},
      {"-e8f", "Using forced E8 coding\n", [](Options& o) { o.e8 = Stage::Forced; }},
      {"-e8d", "E8 coding off\n", [](Options& o) { o.e8 = Stage::Off; }},
      {"-ics", "Using interleaved coding\n", [](Options&) {}},
      {"-icf", "Using forced interleaved coding\n",
       [](Options& o) { o.interleaved = Stage::Forced; }},
      {"-icd", "Interleaved coding off\n", [](Options& o) { o.interleaved = Stage::Off; }},
      {"-o4", "Using order-4 PPM model\n", [](Options& o) { o.order = 4; }},
      {"-O5", "Using order-5 PPM model\n", [](Options&) {}},
      {"-o6", "Using order-6 PPM model\n", [](Options& o) { o.order = 6; }},
      {"-o7", "Using order-7 PPM model\n", [](Options& o) { o.order = 7; }},
      {"-o8", "Using pseudo order-8 PPM model\n", [](Options& o) { o.order = 8; }},
      {"-O9", "Using pseudo order-9 PPM model\n", [](Options& o) { o.order = 9; }},
      {"-mt0", "Using text mode 0 compression\n", [](Options&) {}},
      {"-MT1", "Using text mode 1 compression\n", [](Options& o) { o.textMode = 1; }},
      {"-da", "File analysis disabled\n",
       [](Options& o) { o.analysis = false, o.e8 = Stage::Off; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    const ParseResult r = parse({"e", c.word, "in", "out"});
    ASSERT_EQ(r.status, ParseStatus::Ok);
    EXPECT_EQ(r.infoLines, c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    Options expected;
    c.change(expected);
    EXPECT_EQ(fields(r.options), fields(expected));
    EXPECT_EQ(r.verbose, c.word != std::string("-si"));
  }
  for (int mb = 10; mb <= 50; mb += 5) {
    const ParseResult r = parse({"e", (mb % 20 ? "-m:" : "-M:") + std::to_string(mb), "in", "out"});
    ASSERT_EQ(r.status, ParseStatus::Ok) << mb;
    EXPECT_TRUE(r.infoLines.empty()) << mb;
    Options expected;
    expected.memoryMb = mb;
    EXPECT_EQ(fields(r.options), fields(expected)) << mb;
  }
}

TEST(CliParse, LinesFollowTheTableAndAnalysisOffOverrides) {
  ParseResult r =
      parse({"e", "-mt1", "-o7", "-m:30", "-icf", "-e8d", "-rl3", "in", "out", "-o4", "-x"});
  ASSERT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.infoLines,
            (std::vector<std::string>{
                "Using RLE threshold=3\n", "E8 coding off\n", "Using forced interleaved coding\n",
                "Using order-7 PPM model\n", "Using text mode 1 compression\n"}));
  EXPECT_EQ(r.options.memoryMb, 30);
  EXPECT_EQ(r.options.order, 7);  // words after the file names are ignored
  // -da overrides the text mode and forced e8, but their lines stay.
  r = parse({"e", "-mt1", "-e8f", "-da", "in", "out"});
  ASSERT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.infoLines,
            (std::vector<std::string>{"Using forced E8 coding\n", "File analysis disabled\n"}));
  EXPECT_EQ(fields(r.options), std::make_tuple(5, 20, false, 0, kOff, 4, kSmart));
}

TEST(CliParse, QuietScanCoversEveryArgument) {
  EXPECT_TRUE(quietRequested({"velt", "e", "in", "out", "-SI"}));
  EXPECT_TRUE(quietRequested({"velt", "-si"}));
  EXPECT_FALSE(quietRequested({"velt", "e", "-sil", "in", "out"}));
  EXPECT_FALSE(parse({"e", "in", "out", "-Si"}).verbose);
}

TEST(CliReport, NumberFormats) {
  EXPECT_EQ(ratioText(250, 1000), "Ratio     :  25.00 %          2.0000 bpc\n");
  EXPECT_EQ(ratioText(10, 0), "Ratio     : 1000.00 %          80.0000 bpc\n");  // 0 counts as 1
  EXPECT_EQ(ratioText(1, 3), "Ratio     :  33.33 %          2.6667 bpc\n");
  EXPECT_EQ(ratioText(0, 0), "Ratio     :   0.00 %          0.0000 bpc\n");
  // A zero time leaves the speed line out; speed = integer part of size / (t * 1000 + 1).
  const std::string done = "Done   \nTime      : ";
  EXPECT_EQ(timeAndSpeedText(0.0f, 5000), done + "0.00 sec\n");
  EXPECT_EQ(timeAndSpeedText(1.0f, 1001000), done + "1.00 sec\nSpeed     : 1000 kB/sec\n");
  EXPECT_EQ(timeAndSpeedText(0.002f, 5), done + "0.00 sec\nSpeed     : 1 kB/sec\n");
  EXPECT_EQ(timeAndSpeedText(0.5f, 0), done + "0.50 sec\nSpeed     : 0 kB/sec\n");
  // The progress value is rewritten in place.
  EXPECT_EQ(progressText(0.001), "  0 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(16.385), " 16 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(65.537), " 66 % \b\b\b\b\b\b");
  EXPECT_EQ(progressText(100.0), "100 % \b\b\b\b\b\b");
}

class CliFileIo : public test::CliTest {};

TEST_F(CliFileIo, SourceReadsRewindsAndMeasuresWithATinyWindow) {
  write("in", "abcdefghij");
  FileSource in(path("in"), 3);
  in.open();
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

TEST_F(CliFileIo, SinkPatchesAcrossTheFlushedAndBufferedParts) {
  write("in", "x");
  FileSource in(path("in"));
  in.open();
  write("out", "old content, longer than the new one");
  FileSink out(path("out"), 4);
  ASSERT_EQ(out.open(in, true, true, true), FileSink::OpenResult::Ok);
  for (uint8_t b = 0; b < 10; ++b) out.put(b);  // 8 bytes flushed, 2 buffered
  const uint8_t patch[6] = {0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
  out.patch(2, patch, 4);
  out.patch(7, patch + 4, 2);  // straddles offset 8
  EXPECT_EQ(out.finish(), 10);
  EXPECT_EQ(read("out"),
            test::bytesOf("old content, longer than the new one"));  // until the commit
  out.commit(in);
  EXPECT_EQ(read("out"), (std::vector<uint8_t>{0, 1, 0xA2, 0xA3, 0xA4, 0xA5, 6, 0xA6, 0xA7, 9}));
  EXPECT_THROW(out.put(1), Error);  // nothing after finish
}

// A pipe is spooled so that it can rewind; the count is refused as soon as it
// passes the limit.
TEST_F(CliFileIo, PipesAreSpooledUpToTheLimit) {
  for (const int64_t limit : {int64_t(100), int64_t(99)}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], std::string(100, 'p').data(), 100), 100);
    close(fds[1]);
    FileSource in("/dev/fd/" + std::to_string(fds[0]), 7);
    if (limit < 100) {
      try {
        in.open(limit);
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::InputTooLarge);
      }
    } else {
      in.open(limit);
      EXPECT_EQ(in.size(), 100);
      in.get();
      in.rewind();
      int n = 0;
      while (in.get() == 'p') ++n;
      EXPECT_EQ(n, 100);
    }
    close(fds[0]);
  }
}

}  // namespace
}  // namespace velt::app
