// The command-line parser called directly: modes, the switch words with their
// groups and marks, the messages, and the setting lines in their fixed order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"

namespace velt::app {
namespace {

ParseResult parse(std::vector<std::string> args) {
  args.insert(args.begin(), "velt");
  return parseCommandLine(args);
}

void expectFatal(const ParseResult& r, const std::string& message, const std::string& detail = "") {
  EXPECT_EQ(r.status, ParseStatus::Fatal);
  EXPECT_EQ(r.message, message);
  EXPECT_EQ(r.detail, detail);
}

TEST(CliParse, BadModesAskForUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"x"}, {"ed"}, {""}, {"ee", "in", "out"}, {"-o5", "in", "out"}, {"E8"}}) {
    EXPECT_EQ(parse(args).status, ParseStatus::Usage) << (args.empty() ? "(none)" : args[0]);
  }
}

TEST(CliParse, ModeCharacterInEitherCase) {
  for (const char* mode : {"e", "E"}) {
    ParseResult r = parse({mode, "in", "out"});
    EXPECT_EQ(r.status, ParseStatus::Ok);
    EXPECT_FALSE(r.decode);
    EXPECT_EQ(r.inputName, "in");
    EXPECT_EQ(r.outputName, "out");
    EXPECT_TRUE(r.infoLines.empty());
  }
  for (const char* mode : {"d", "D"}) EXPECT_TRUE(parse({mode, "in", "out"}).decode);
}

TEST(CliParse, HelpAndVersionExtensions) {
  EXPECT_EQ(parse({"-h"}).status, ParseStatus::Help);
  EXPECT_EQ(parse({"--help"}).status, ParseStatus::Help);
  EXPECT_EQ(parse({"--version"}).status, ParseStatus::Version);
  // Only as the first argument: elsewhere they are ordinary (unknown) switches.
  expectFatal(parse({"e", "-h", "in", "out"}), "Unknown switch: ", "h");
}

TEST(CliParse, MissingFileNames) {
  expectFatal(parse({"e"}), "Input and output filenames required");
  expectFatal(parse({"d"}), "Input and output filenames required");
  expectFatal(parse({"e", "-o6"}), "Input and output filenames required");
  expectFatal(parse({"e", "-o6", "-m:10"}), "Input and output filenames required");
  // An input without an output is for the entry to refuse, after opening it.
  ParseResult r = parse({"e", "-o6", "in"});
  EXPECT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.inputName, "in");
  EXPECT_EQ(r.outputName, "");
}

TEST(CliParse, DecoderAcceptsOnlyQuiet) {
  const char* msg = "Compression mode switches are allowed for encoding only";
  expectFatal(parse({"d", "-o6", "in", "out"}), msg);
  expectFatal(parse({"d", "-x", "in", "out"}), msg);  // refused before the lookup
  expectFatal(parse({"d", "-si", "-si", "in", "out"}), "Duplicate mode definition: ", "si");
  ParseResult r = parse({"D", "-SI", "in", "out"});
  EXPECT_EQ(r.status, ParseStatus::Ok);
  EXPECT_TRUE(r.decode);
  EXPECT_FALSE(r.settings.verbose);
  EXPECT_TRUE(r.infoLines.empty());
}

TEST(CliParse, UnknownSwitchIsPrintedFoldedWithoutDash) {
  expectFatal(parse({"e", "-x", "in", "out"}), "Unknown switch: ", "x");
  expectFatal(parse({"e", "-XyZ", "in", "out"}), "Unknown switch: ", "xyz");
  expectFatal(parse({"e", "-", "in", "out"}), "Unknown switch: ", "");
  expectFatal(parse({"e", "-m:55", "in", "out"}), "Unknown switch: ", "m:55");
  expectFatal(parse({"e", "--o5", "in", "out"}), "Unknown switch: ", "-o5");
  // The lookup comes before the "last argument" test.
  expectFatal(parse({"e", "-q"}), "Unknown switch: ", "q");
}

TEST(CliParse, DuplicatesAndGroups) {
  const std::string dup = "Duplicate mode definition: ";
  expectFatal(parse({"e", "-o5", "-o5", "in", "out"}), dup, "o5");
  expectFatal(parse({"e", "-o5", "-O6", "in", "out"}), dup, "o6");
  expectFatal(parse({"e", "-rl3", "-rl4", "in", "out"}), dup, "rl4");
  expectFatal(parse({"e", "-e8s", "-e8d", "in", "out"}), dup, "e8d");
  expectFatal(parse({"e", "-icd", "-ics", "in", "out"}), dup, "ics");
  expectFatal(parse({"e", "-M:10", "-m:50", "in", "out"}), dup, "m:50");
  expectFatal(parse({"e", "-mt0", "-mt1", "in", "out"}), dup, "mt1");
  expectFatal(parse({"e", "-o9", "-o4", "in", "out"}), dup, "o4");
  expectFatal(parse({"e", "-da", "-DA", "in", "out"}), dup, "da");
  expectFatal(parse({"e", "-si", "-Si", "in", "out"}), dup, "si");
  // One switch from each group, plus "si" and "da": no conflict.
  ParseResult r =
      parse({"e", "-si", "-rl3", "-e8f", "-icf", "-m:35", "-o8", "-mt1", "-da", "i", "o"});
  EXPECT_EQ(r.status, ParseStatus::Ok);
}

struct SingleSwitch {
  const char* word;
  const char* line;  // nullptr: prints nothing
  void (*expect)(const Settings&);
};

TEST(CliParse, EverySwitchWordAndItsEffect) {
  const SingleSwitch cases[] = {
      {"-si", nullptr, [](const Settings& s) { EXPECT_FALSE(s.verbose); }},
      {"-rl3", "Using RLE threshold=3\n",
       [](const Settings& s) {
         EXPECT_EQ(s.rleThreshold, 3);
         EXPECT_TRUE(s.rleEnabled);
       }},
      {"-rl4", "Using RLE threshold=4\n", [](const Settings& s) { EXPECT_EQ(s.rleThreshold, 4); }},
      {"-rld", "RLE off\n", [](const Settings& s) { EXPECT_FALSE(s.rleEnabled); }},
      {"-e8s", "Using E8 coding\n",
       [](const Settings& s) {
         EXPECT_TRUE(s.e8Enabled);
         EXPECT_FALSE(s.e8Forced);
       }},
      {"-e8f", "Using forced E8 coding\n",
       [](const Settings& s) {
         EXPECT_TRUE(s.e8Enabled);
         EXPECT_TRUE(s.e8Forced);
       }},
      {"-e8d", "E8 coding off\n", [](const Settings& s) { EXPECT_FALSE(s.e8Enabled); }},
      {"-ics", "Using interleaved coding\n",
       [](const Settings& s) {
         EXPECT_TRUE(s.interleaved);
         EXPECT_FALSE(s.interleavedForced);
       }},
      {"-icf", "Using forced interleaved coding\n",
       [](const Settings& s) {
         EXPECT_TRUE(s.interleaved);
         EXPECT_TRUE(s.interleavedForced);
       }},
      {"-icd", "Interleaved coding off\n", [](const Settings& s) { EXPECT_FALSE(s.interleaved); }},
      {"-m:10", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 0); }},
      {"-m:15", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 1); }},
      {"-M:20", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 2); }},
      {"-m:25", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 3); }},
      {"-m:30", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 4); }},
      {"-m:35", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 5); }},
      {"-m:40", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 6); }},
      {"-m:45", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 7); }},
      {"-M:50", nullptr, [](const Settings& s) { EXPECT_EQ(s.memoryIndex, 8); }},
      {"-o4", "Using order-4 PPM model\n", [](const Settings& s) { EXPECT_EQ(s.order, 4); }},
      {"-O5", "Using order-5 PPM model\n", [](const Settings& s) { EXPECT_EQ(s.order, 5); }},
      {"-o6", "Using order-6 PPM model\n", [](const Settings& s) { EXPECT_EQ(s.order, 6); }},
      {"-o7", "Using order-7 PPM model\n",
       [](const Settings& s) {
         EXPECT_EQ(s.order, 7);
         EXPECT_EQ(s.pseudoOrder, 0);
       }},
      {"-o8", "Using pseudo order-8 PPM model\n",
       [](const Settings& s) {
         EXPECT_EQ(s.order, 7);
         EXPECT_EQ(s.pseudoOrder, 1);
       }},
      {"-O9", "Using pseudo order-9 PPM model\n",
       [](const Settings& s) {
         EXPECT_EQ(s.order, 7);
         EXPECT_EQ(s.pseudoOrder, 2);
       }},
      {"-mt0", "Using text mode 0 compression\n",
       [](const Settings& s) {
         EXPECT_EQ(s.textMode, 0);
         EXPECT_TRUE(s.textTransform);
       }},
      {"-MT1", "Using text mode 1 compression\n",
       [](const Settings& s) {
         EXPECT_EQ(s.textMode, 1);
         EXPECT_TRUE(s.textTransform);
       }},
      {"-da", "File analysis disabled\n",
       [](const Settings& s) {
         EXPECT_FALSE(s.textTransform);
         EXPECT_FALSE(s.e8Enabled);
       }},
  };
  ASSERT_EQ(std::size(cases), 28u);
  for (const SingleSwitch& c : cases) {
    SCOPED_TRACE(c.word);
    ParseResult r = parse({"e", c.word, "in", "out"});
    ASSERT_EQ(r.status, ParseStatus::Ok);
    if (c.line) {
      EXPECT_EQ(r.infoLines, std::vector<std::string>{c.line});
    } else {
      EXPECT_TRUE(r.infoLines.empty());
    }
    c.expect(r.settings);
  }
}

TEST(CliParse, DefaultsWithoutSwitches) {
  const Settings s = parse({"e", "in", "out"}).settings;
  EXPECT_EQ(s.order, 5);
  EXPECT_EQ(s.pseudoOrder, 0);
  EXPECT_EQ(s.memoryIndex, 2);
  EXPECT_TRUE(s.textTransform);
  EXPECT_EQ(s.textMode, 0);
  EXPECT_TRUE(s.e8Enabled);
  EXPECT_FALSE(s.e8Forced);
  EXPECT_TRUE(s.rleEnabled);
  EXPECT_EQ(s.rleThreshold, 4);
  EXPECT_TRUE(s.interleaved);
  EXPECT_FALSE(s.interleavedForced);
  EXPECT_TRUE(s.verbose);
}

TEST(CliParse, LinesFollowTheTableNotTheCommandLine) {
  ParseResult r = parse({"e", "-mt1", "-o7", "-m:30", "-icf", "-e8d", "-rl3", "in", "out"});
  ASSERT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.infoLines,
            (std::vector<std::string>{
                "Using RLE threshold=3\n", "E8 coding off\n", "Using forced interleaved coding\n",
                "Using order-7 PPM model\n", "Using text mode 1 compression\n"}));
  EXPECT_EQ(r.settings.memoryIndex, 4);
}

TEST(CliParse, AnalysisOffOverridesTextModeAndForcedE8) {
  ParseResult r = parse({"e", "-mt1", "-e8f", "-da", "in", "out"});
  ASSERT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.infoLines,
            (std::vector<std::string>{"Using forced E8 coding\n", "File analysis disabled\n"}));
  EXPECT_EQ(r.settings.textMode, 0);
  EXPECT_FALSE(r.settings.textTransform);
  EXPECT_FALSE(r.settings.e8Enabled);
}

TEST(CliParse, ArgumentsAfterTheFileNamesAreIgnored) {
  ParseResult r = parse({"e", "-o6", "in", "out", "-o4", "-x", "more"});
  ASSERT_EQ(r.status, ParseStatus::Ok);
  EXPECT_EQ(r.settings.order, 6);
  EXPECT_EQ(r.infoLines, std::vector<std::string>{"Using order-6 PPM model\n"});
  EXPECT_EQ(r.outputName, "out");
  // The output name is simply the next argument, dash or not.
  EXPECT_EQ(parse({"e", "in", "-o4"}).outputName, "-o4");
  // File names are used exactly as given.
  EXPECT_EQ(parse({"e", "In File", "OUT"}).inputName, "In File");
}

TEST(CliParse, QuietScanCoversEveryArgument) {
  EXPECT_TRUE(quietRequested({"velt", "e", "in", "out", "-SI"}));
  EXPECT_TRUE(quietRequested({"velt", "-si"}));
  EXPECT_FALSE(quietRequested({"velt", "e", "-sil", "in", "out"}));
  EXPECT_FALSE(parse({"e", "in", "out", "-Si"}).settings.verbose);
  EXPECT_TRUE(parse({"e", "in", "out"}).settings.verbose);
}

}  // namespace
}  // namespace velt::app
