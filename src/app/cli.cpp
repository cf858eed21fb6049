// The command line as a pure function: mode character, the 28
// switch words with their exclusive groups and marks, and the setting lines in
// the table's order. File checks and printing are left to the entry (app.cpp).
#include "cli.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace velt::app {

namespace {

enum Group { kQuiet, kRunLength, kE8, kInterleaved, kMemory, kOrder, kTextMode, kAnalysis };

struct SwitchWord {
  const char* word;
  Group group;
};

// The fixed order of SwitchTable; positions are used below (memory index =
// position - 10, "Duplicate mode definition" names the table's word).
constexpr std::array<SwitchWord, 28> kSwitchTable = {{
    {"si", kQuiet},        {"rl3", kRunLength},   {"rl4", kRunLength}, {"rld", kRunLength},
    {"e8s", kE8},          {"e8f", kE8},          {"e8d", kE8},        {"ics", kInterleaved},
    {"icf", kInterleaved}, {"icd", kInterleaved}, {"m:10", kMemory},   {"m:15", kMemory},
    {"m:20", kMemory},     {"m:25", kMemory},     {"m:30", kMemory},   {"m:35", kMemory},
    {"m:40", kMemory},     {"m:45", kMemory},     {"m:50", kMemory},   {"o4", kOrder},
    {"o5", kOrder},        {"o6", kOrder},        {"o7", kOrder},      {"o8", kOrder},
    {"o9", kOrder},        {"mt0", kTextMode},    {"mt1", kTextMode},  {"da", kAnalysis},
}};

enum Sw {
  kSi = 0,
  kRl3,
  kRl4,
  kRld,
  kE8s,
  kE8f,
  kE8d,
  kIcs,
  kIcf,
  kIcd,
  kM10,
  kM50 = 18,
  kO4,
  kO5,
  kO6,
  kO7,
  kO8,
  kO9,
  kMt0,
  kMt1,
  kDa,
};

enum class Mark { Free, Blocked, Chosen };

std::string foldCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// A lone "-" is a file name: standard input or output.
bool isSwitch(const std::string& s) { return s.size() > 1 && s[0] == '-'; }

ParseResult fatal(ParseResult r, const char* message, const std::string& detail = "") {
  r.status = ParseStatus::Fatal;
  r.message = message;
  r.detail = detail;
  return r;
}

// Step 5 of the parse: the chosen switches applied in the table's order.
void applySwitches(const std::array<Mark, 28>& marks, ParseResult& r) {
  Options& o = r.options;
  auto chosen = [&](int i) { return marks[i] == Mark::Chosen; };
  auto say = [&](const std::string& line) { r.infoLines.push_back(line); };

  if (chosen(kRl3)) {
    say("Using RLE threshold=3\n");
    o.runLength = 3;
  }
  if (chosen(kRl4)) {
    say("Using RLE threshold=4\n");
    o.runLength = 4;
  }
  if (chosen(kRld)) {
    say("RLE off\n");
    o.runLength = 0;
  }
  if (chosen(kE8s)) say("Using E8 coding\n");
  if (chosen(kE8f)) {
    say("Using forced E8 coding\n");
    o.e8 = Stage::Forced;
  }
  if (chosen(kE8d)) {
    say("E8 coding off\n");
    o.e8 = Stage::Off;
  }
  if (chosen(kIcs)) say("Using interleaved coding\n");
  if (chosen(kIcf)) {
    say("Using forced interleaved coding\n");
    o.interleaved = Stage::Forced;
  }
  if (chosen(kIcd)) {
    say("Interleaved coding off\n");
    o.interleaved = Stage::Off;
  }
  for (int i = kM10; i <= kM50; ++i) {
    if (chosen(i)) o.memoryMb = 10 + 5 * (i - kM10);
  }
  for (int i = kO4; i <= kO7; ++i) {
    if (chosen(i)) {
      o.order = 4 + i - kO4;
      say("Using order-" + std::to_string(o.order) + " PPM model\n");
    }
  }
  if (chosen(kO8)) {
    say("Using pseudo order-8 PPM model\n");
    o.order = 8;
  }
  if (chosen(kO9)) {
    say("Using pseudo order-9 PPM model\n");
    o.order = 9;
  }
  if (chosen(kDa)) {
    say("File analysis disabled\n");
    o.analysis = false;
    o.e8 = Stage::Off;
    return;  // "da" overrides the text-mode and e8 switches
  }
  if (chosen(kMt0)) {
    say("Using text mode 0 compression\n");
    o.textMode = 0;
  }
  if (chosen(kMt1)) {
    say("Using text mode 1 compression\n");
    o.textMode = 1;
  }
}

}  // namespace

bool quietRequested(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (foldCase(a) == "-si") return true;
  }
  return false;
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  ParseResult r;
  r.verbose = !quietRequested(args);
  const size_t n = args.size();

  if (n >= 2 && (args[1] == "-h" || args[1] == "--help")) {
    r.status = ParseStatus::Help;
    return r;
  }
  if (n >= 2 && args[1] == "--version") {
    r.status = ParseStatus::Version;
    return r;
  }

  // 1. The mode: exactly one of "DEde", or "Tt" for the test mode.
  if (n < 2 || args[1].size() != 1 || std::string("DEdeTt").find(args[1][0]) == std::string::npos) {
    r.status = ParseStatus::Usage;
    return r;
  }
  const char mode = static_cast<char>(std::toupper(static_cast<unsigned char>(args[1][0])));
  r.test = mode == 'T';
  r.decode = mode != 'E';
  const char* const namesRequired =
      r.test ? "Input filenames required" : "Input and output filenames required";

  // 2. Nothing after the mode.
  if (n == 2) return fatal(r, namesRequired);

  // 3. The switches.
  std::array<Mark, 28> marks;
  marks.fill(Mark::Free);
  size_t i = 2;
  for (; i < n && isSwitch(args[i]); ++i) {
    const std::string folded = foldCase(args[i]);
    if (r.decode && folded != "-si") {
      return fatal(r, "Compression mode switches are allowed for encoding only");
    }
    const std::string word = folded.substr(1);
    size_t k = 0;
    while (k < kSwitchTable.size() && word != kSwitchTable[k].word) ++k;
    if (k == kSwitchTable.size()) return fatal(r, "Unknown switch: ", word);
    if (marks[k] != Mark::Free) {
      return fatal(r, "Duplicate mode definition: ", kSwitchTable[k].word);
    }
    for (size_t j = 0; j < kSwitchTable.size(); ++j) {
      // "si" and "da" form no group with others: only their repetition is refused.
      if (kSwitchTable[j].group == kSwitchTable[k].group) marks[j] = Mark::Blocked;
    }
    marks[k] = Mark::Chosen;
    if (i + 1 == n) return fatal(r, namesRequired);
  }

  // 4. The file names. The test mode takes every further word but "-si";
  // otherwise anything after the two names is ignored.
  if (r.test) {
    for (; i < n; ++i) {
      if (foldCase(args[i]) != "-si") r.testNames.push_back(args[i]);
    }
    if (r.testNames.empty()) return fatal(r, namesRequired);
    return r;
  }
  r.inputName = args[i];
  if (i + 1 < n) r.outputName = args[i + 1];
  for (size_t j = i + 2; j < n; ++j) {
    if (isSwitch(args[j]) && foldCase(args[j]) != "-si") r.ignoredSwitches.push_back(args[j]);
  }

  // 5. The settings. A decoder takes them from the header instead.
  if (!r.decode) applySwitches(marks, r);
  return r;
}

std::string bannerText() {
  return std::string("Velt ") + velt::version() + "  lossless PPM compressor for single files\n" +
         "Written by the Velt developers; free to use, provided without warranty.\n";
}

std::string usageText() {
  static const char* const kPieces[] = {
      "Usage:\n",
      "  VELT <e|d> [switches] <infile> <outfile>\n",
      "  VELT t [-SI] <file>...\n\n",
      "  e encodes, d decodes; t tests compressed files (decodes, checks the CRC,\n",
      "  writes nothing). A file name of - is standard input or output; pipes work.\n\n",
      "Switches (for encoding only):\n",
      "  -Ox       set PPM order to x, x - [4..9], default: 5\n",
      "  -M:x\t    use x Mb of memory, x - [10..50 with step 5], default: 20\n",
      "  -MTx      text compression, mode x - [0,1], default: 0\n",
      "  -DA       disable file analysis (overrides -MTx and -E8x switches)\n\n",
      "  -RLx      RLE threshold,      x - [3,4,d (RLE disabled)], default: 4\n",
      "  -ICx      interleaved coding, x - [s(mart),f(orced),d(isabled)], default: s\n",
      "  -E8x      'e8' transform,     x - [s(mart),f(orced),d(isabled)], default: s\n",
      "  -SI       suppress all information excepting error and warning messages\n",
  };
  std::string text;
  for (const char* piece : kPieces) text += piece;
  return text;
}

std::string versionText() { return std::string("Velt ") + velt::version() + "\n"; }

}  // namespace velt::app
