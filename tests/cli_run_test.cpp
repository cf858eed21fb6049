// The velt binary end to end: banner, usage, every message of the parse and
// the file checks with its exit code, the summaries, quiet runs, decoding
// verdicts, and round trips through real files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"

namespace velt::test {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kUsage =
    "Usage:\n"
    "  VELT <e|d> [switches] <infile> <outfile>\n"
    "  VELT t [-SI] <file>...\n\n"
    "  e encodes, d decodes; t tests compressed files (decodes, checks the CRC,\n"
    "  writes nothing). A file name of - is standard input or output; pipes work.\n\n"
    "Switches (for encoding only):\n"
    "  -Ox       set PPM order to x, x - [4..9], default: 5\n"
    "  -M:x\t    use x Mb of memory, x - [10..50 with step 5], default: 20\n"
    "  -MTx      text compression, mode x - [0,1], default: 0\n"
    "  -DA       disable file analysis (overrides -MTx and -E8x switches)\n\n"
    "  -RLx      RLE threshold,      x - [3,4,d (RLE disabled)], default: 4\n"
    "  -ICx      interleaved coding, x - [s(mart),f(orced),d(isabled)], default: s\n"
    "  -E8x      'e8' transform,     x - [s(mart),f(orced),d(isabled)], default: s\n"
    "  -SI       suppress all information excepting error and warning messages";

// The two banner lines.
std::string bannerOf(const std::string& out) {
  const size_t first = out.find('\n');
  const size_t second = first == std::string::npos ? first : out.find('\n', first + 1);
  return second == std::string::npos ? "" : out.substr(0, second + 1);
}

// The summary from its first word on ("Done   " overwrites the last progress value).
std::string summary(const std::string& out) {
  const size_t done = out.find("Done   \n");
  return done == std::string::npos ? "" : out.substr(done);
}

Bytes randomBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  return b;
}

Bytes proseBytes(size_t n) {
  Bytes b = readData("text/alice29.txt");
  b.resize(n);
  return b;
}

class CliRun : public CliTest {
 protected:
  // Compresses and restores `data`; checks the summaries' sizes and the CRC.
  Bytes roundTrip(const Bytes& data, std::vector<std::string> args) {
    writeFile(path("in"), data);
    args.insert(args.begin(), "e");
    args.insert(args.end(), {"in", "packed"});
    const RunResult e = run(args);
    EXPECT_EQ(e.exitCode, 0) << e.out;
    const Bytes packed = read("packed");
    const std::string compressed = "Compressed: " + std::to_string(packed.size()) + "\n";
    EXPECT_NE(e.out.find("Original  : " + std::to_string(data.size()) + "\n"), std::string::npos);
    EXPECT_NE(e.out.find(compressed), std::string::npos) << e.out;
    const RunResult d = run({"d", "packed", "restored"});
    EXPECT_EQ(d.exitCode, 0) << d.out;
    EXPECT_NE(d.out.find("CRC       : OK\n"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find(compressed), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("Extracted : " + std::to_string(data.size()) + "\n"), std::string::npos);
    EXPECT_TRUE(read("restored") == data) << "restored file differs";
    return packed;
  }
};

TEST_F(CliRun, BannerHelpAndVersion) {
  const RunResult r = run({});
  const std::string b = bannerOf(r.out);
  EXPECT_EQ(b.rfind(std::string("Velt ") + version() + " ", 0), 0u) << r.out;
  EXPECT_GT(b.size(), b.find('\n') + 2) << "second banner line is empty";
  for (const char* help : {"-h", "--help"}) {
    const RunResult h = run({help});
    EXPECT_EQ(h.exitCode, 0);
    EXPECT_EQ(h.out, b + kUsage + "\n");
  }
  const RunResult v = run({"--version"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out, std::string("Velt ") + version() + "\n");
}

// Every refusal before the codec, verbose and quiet.
TEST_F(CliRun, EveryMessageOfTheParseAndTheFileChecks) {
  write("in", "abc");
  const std::string files = "Input and output filenames required";
  const std::string encodeOnly = "Compression mode switches are allowed for encoding only";
  const std::string dup = "Duplicate mode definition: ";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, kUsage},
      {{"x"}, kUsage},
      {{"ed"}, kUsage},
      {{""}, kUsage},
      {{"ee", "in", "out"}, kUsage},
      {{"-o5", "in", "out"}, kUsage},
      {{"e"}, files},
      {{"d"}, files},
      {{"e", "-o6", "-m:10"}, files},
      {{"d", "-o6", "in", "out"}, encodeOnly},
      {{"d", "-x", "in", "out"}, encodeOnly},  // refused before the lookup
      {{"e", "-x", "in", "out"}, "Unknown switch: x"},
      {{"e", "-XyZ", "in", "out"}, "Unknown switch: xyz"},
      {{"e", "-"}, "Required utput filename"},  // a lone "-" is standard input
      {{"t"}, "Input filenames required"},
      {{"t", "-si"}, "Input filenames required"},
      {{"t", "-o5", "x"}, encodeOnly},
      {{"e", "-m:55", "in", "out"}, "Unknown switch: m:55"},
      {{"e", "--o5", "in", "out"}, "Unknown switch: -o5"},
      {{"e", "-h", "in", "out"}, "Unknown switch: h"},
      {{"e", "-q"}, "Unknown switch: q"},  // the lookup comes before the last-argument test
      {{"e", "-o5", "-o5", "in", "out"}, dup + "o5"},
      {{"e", "-o5", "-O6", "in", "out"}, dup + "o6"},
      {{"e", "-o9", "-o4", "in", "out"}, dup + "o4"},
      {{"e", "-rl3", "-RL4", "in", "out"}, dup + "rl4"},
      {{"e", "-e8s", "-e8d", "in", "out"}, dup + "e8d"},
      {{"e", "-icd", "-ics", "in", "out"}, dup + "ics"},
      {{"e", "-M:10", "-m:50", "in", "out"}, dup + "m:50"},
      {{"e", "-mt0", "-mt1", "in", "out"}, dup + "mt1"},
      {{"e", "-da", "-DA", "in", "out"}, dup + "da"},
      {{"e", "-si", "-Si", "in", "out"}, dup + "si"},
      {{"d", "-Si", "-SI", "in", "out"}, dup + "si"},
      {{"e", "nosuch", "out"}, "Can't open file: nosuch (No such file or directory)"},
      {{"d", "-", "out"}, "Not a Velt compressed file: -"},  // standard input is empty
      {{"e", "-o6", "in"}, "Required utput filename"},
      {{"e", "in", "in"}, "Infile and outfile shouldn't be the same file"},
  };
  for (const auto& [args, text] : cases) expectRefused(args, text);
}

TEST_F(CliRun, InputTooLargeForTheFormatIsRefusedBeforeTheOutputExists) {
  // A sparse file of exactly 2^31 bytes: one more than the format can count.
  write("big", "");
  ASSERT_EQ(truncate(path("big").c_str(), int64_t(1) << 31), 0);
  const RunResult r = run({"e", "-si", "big", "out"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("too large"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("big"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("out")));
}

TEST_F(CliRun, SettingLinesPrecedeTheCodecAndTrailingSwitchesAreIgnoredWithAWarning) {
  write("empty", "");
  const RunResult r = run({"e", "-o6", "-mt1", "-da", "empty", "out", "-o4", "x", "-", "-O7"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find("Using order-6 PPM model\nFile analysis disabled\n"),
            bannerOf(r.out).size());
  EXPECT_EQ(r.out.find("order-4"), std::string::npos);
  EXPECT_EQ(r.out.find("text mode"), std::string::npos);
  EXPECT_EQ(read("out").at(8), 0x82);  // order 6, memory index 2
  EXPECT_EQ(r.err,
            "Warning: ignored after the file names: -o4\n"
            "Warning: ignored after the file names: -O7\n");
  // A trailing "-si" is no warning: the quiet scan acts on it.
  const RunResult q = run({"e", "empty", "out", "-Si"});
  EXPECT_EQ(q.out + q.err, "");
}

// The summary with its time line (and speed line, absent at zero time)
// checked for shape and removed, so the rest can be compared exactly.
std::string withoutTiming(const std::string& text) {
  std::string out, line;
  std::istringstream lines(text);
  while (std::getline(lines, line)) {
    double seconds = -1;
    long speed = -1;
    char unit[8] = {};
    if (std::sscanf(line.c_str(), "Time      : %lf se%1s", &seconds, unit) == 2 && seconds >= 0)
      continue;
    if (std::sscanf(line.c_str(), "Speed     : %ld kB/se%1s", &speed, unit) == 2 && speed >= 0)
      continue;
    out += line + "\n";
  }
  return out;
}

TEST_F(CliRun, EmptyInputGivesTheTenByteHeaderAndBothSummaries) {
  write("empty", "");
  const RunResult e = run({"e", "empty", "packed"});
  ASSERT_EQ(e.exitCode, 0) << e.out;
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(read("packed"), (Bytes{0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x28}));
  const std::string ratio = "Ratio     : 1000.00 %          80.0000 bpc\n";
  EXPECT_EQ(withoutTiming(summary(e.out)), "Done   \n" + ratio + "Original  : 0\nCompressed: 10\n")
      << e.out;

  write("restored", "old content to be truncated");
  const RunResult d = run({"d", "packed", "restored"});
  ASSERT_EQ(d.exitCode, 0) << d.out;
  EXPECT_TRUE(read("restored").empty());
  EXPECT_EQ(withoutTiming(summary(d.out)),
            "Done   \nCRC       : OK\n" + ratio + "Compressed: 10\nExtracted : 0\n")
      << d.out;
}

TEST_F(CliRun, ProgressOnlyOnATerminal) {
  writeFile(path("in"), randomBytes(100000, 1));
  const RunResult r = runOnTerminal({"e", "-da", "in", "packed"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // A value after bytes 1, 16385, 32769, ...: the first shows 0; "Done   "
  // overwrites the last one.
  const std::string bs = "\b\b\b\b\b\b";
  std::string values = "Progress  : ";
  for (const char* v : {"  0", " 16", " 33", " 49", " 66", " 82"}) values += v + (" % " + bs);
  EXPECT_NE(r.out.find(values), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("% " + bs + "Done   \n"), std::string::npos) << r.out;
  // Into a file (a log): no progress text at all, the same summary.
  const RunResult f = run({"e", "-da", "in", "packed"});
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(f.out.find_first_of("\b%"), f.out.find("%          ")) << f.out;  // the ratio's
  EXPECT_EQ(f.out.find("Progress"), std::string::npos) << f.out;
  EXPECT_EQ(withoutTiming(summary(f.out)), withoutTiming(summary(r.out)));
  EXPECT_EQ(runOnTerminal({"e", "-da", "-si", "in", "packed"}).out, "");
  // Compressed data is never written to or read from a terminal.
  const RunResult t = runOnTerminal({"e", "-si", "in", "-"});
  EXPECT_EQ(t.exitCode, 1);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.err, "Compressed data is not written to a terminal: -\n");
  const RunResult typed = runOnTerminal({"d", "-si", "-", "restored"}, true);
  EXPECT_EQ(typed.exitCode, 1);
  EXPECT_EQ(typed.err, "Compressed data is not read from a terminal: -\n");
  EXPECT_FALSE(std::filesystem::exists(path("restored")));
}

TEST_F(CliRun, WrongCrcFailsAndLeavesNoOutput) {
  const Bytes data = proseBytes(3000);
  Bytes packed = roundTrip(data, {});
  packed[2] ^= 0x01;
  writeFile(path("bad"), packed);
  std::filesystem::remove(path("restored"));
  const RunResult r = run({"d", "bad", "restored"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(summary(r.out).find("CRC       : ERROR\nRatio"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Extracted : 3000\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "CRC error: bad\n");
  EXPECT_FALSE(std::filesystem::exists(path("restored")));
  write("restored", "kept");
  const RunResult q = run({"d", "-si", "bad", "restored"});
  EXPECT_EQ(q.exitCode, 1);
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(q.err, "CRC error: bad\n");
  EXPECT_EQ(read("restored"), bytesOf("kept"));
}

// The codec's refusals of a stream, each one line on standard error, without
// a summary; the destination stays as it was, and the header is checked
// before any output exists.
TEST_F(CliRun, RefusedStreamsLeaveTheDestinationAlone) {
  const Bytes packed = roundTrip(randomBytes(4000, 3), {"-da"});
  const struct {
    Bytes stream;
    std::string line;
    bool beforeOutput;
  } cases[] = {
      {{0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x68}, "Unknown switch in the header: bad\n", true},
      {{0x76, 0x54, 0, 0, 0}, "Unknown switch in the header: bad\n", true},  // cut short
      {{}, "Not a Velt compressed file: bad\n", true},
      {bytesOf("plain text, swapped names"), "Not a Velt compressed file: bad\n", true},
      {{0x76, 0x54, 0, 0, 0, 0, 0, 0, 0x42, 0x28, 0}, "Input data corrupt: bad\n", true},
      {Bytes(packed.begin(), packed.begin() + packed.size() / 2), "Input data corrupt: bad\n",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + std::to_string(c.stream.size()));
    writeFile(path("bad"), c.stream);
    std::filesystem::remove(path("restored"));
    RunResult r;
    const std::vector<std::string> created = createdDuring({"d", "bad", "restored"}, &r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, c.line);
    EXPECT_EQ(r.out.find("Done"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(path("restored")));
    if (c.beforeOutput) {
      EXPECT_TRUE(created.empty()) << created.front();
    }
    write("restored", "old");
    const RunResult q = run({"d", "-si", "bad", "restored"});
    EXPECT_EQ(q.exitCode, 1);
    EXPECT_EQ(q.out, "");
    EXPECT_EQ(q.err, c.line);
    EXPECT_EQ(read("restored"), bytesOf("old"));
  }
  // The watch sees a good run's temporary output and its rename.
  const std::vector<std::string> created = createdDuring({"d", "-si", "packed", "restored"});
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[1], "restored");
}

// Pipes and "-" give the bytes of file mode, both ways, for every committed
// input and an empty one; standard output carries nothing but the data.
TEST_F(CliRun, PipesGiveTheBytesOfFileMode) {
  std::vector<std::pair<std::string, Bytes>> inputs = {{"empty", {}}};
  for (const std::string& name : corpusFiles()) inputs.push_back({name, readData(name)});
  for (const auto& [name, data] : inputs) {
    SCOPED_TRACE(name);
    writeFile(path("in"), data);
    ASSERT_EQ(run({"e", "-si", "in", "packed"}).exitCode, 0);
    const std::string packed = asString(read("packed")), text = asString(data);
    const RunResult e = runPiped({"e", "-si", "-", "-"}, text);
    EXPECT_EQ(e.exitCode, 0) << e.err;
    EXPECT_EQ(e.err, "");
    EXPECT_TRUE(e.out == packed) << "encoded through pipes differs";
    const RunResult d = runPiped({"d", "-si", "-", "-"}, packed);
    EXPECT_EQ(d.exitCode, 0) << d.err;
    EXPECT_EQ(d.err, "");
    EXPECT_TRUE(d.out == text) << "decoded through pipes differs";
  }
}

TEST_F(CliRun, EachSideAloneThroughAPipe) {
  const Bytes data = proseBytes(40000);
  const std::string packed = asString(roundTrip(data, {}));
  const std::string text = asString(data);
  const RunResult in = runPiped({"e", "-si", "-", "p2"}, text);
  EXPECT_EQ(in.exitCode + in.out.size(), 0u) << in.err;
  EXPECT_EQ(asString(read("p2")), packed);
  const RunResult restored = runPiped({"d", "-si", "-", "r2"}, packed);
  EXPECT_EQ(restored.exitCode + restored.out.size(), 0u) << restored.err;
  EXPECT_EQ(read("r2"), data);
  // With standard output carrying data, the banner and the summary go to
  // standard error.
  for (const auto& [args, expected] :
       {std::pair<std::vector<std::string>, std::string>{{"e", "in", "-"}, packed},
        {{"d", "packed", "-"}, text}}) {
    const RunResult r = runPiped(args, "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == expected) << args[0];
    EXPECT_EQ(r.err.rfind(app::bannerText(), 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Compressed: " + std::to_string(packed.size()) + "\n"), std::string::npos);
  }
}

TEST_F(CliRun, TestModeChecksEveryFileAndWritesNothing) {
  const Bytes data = proseBytes(20000);
  Bytes packed = roundTrip(data, {});
  writeFile(path("cut"), Bytes(packed.begin(), packed.begin() + packed.size() / 2));
  packed[2] ^= 1;
  writeFile(path("crc"), packed);
  const auto before = snapshot();
  const RunResult good = run({"t", "packed", "packed"});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_EQ(good.out, app::bannerText() + "packed: OK\npacked: OK\n");
  EXPECT_EQ(good.err, "");
  const RunResult bad = run({"T", "packed", "cut", "crc", "in", "nosuch"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_EQ(bad.out, app::bannerText() + "packed: OK\n");
  EXPECT_EQ(bad.err,
            "cut: Input data corrupt\n"
            "crc: CRC error\n"
            "in: Not a Velt compressed file\n"
            "nosuch: Can't open file: nosuch (No such file or directory)\n");
  const RunResult quiet = run({"t", "-si", "cut", "packed"});
  EXPECT_EQ(quiet.exitCode, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "cut: Input data corrupt\n");
  EXPECT_EQ(snapshot(), before);
  const RunResult piped = runPiped({"t", "-"}, asString(read("packed")));
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, app::bannerText() + "-: OK\n");
}

}  // namespace
}  // namespace velt::test
