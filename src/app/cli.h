// Command-line parsing as a pure function: no files are opened and nothing
// is printed, so tests can call it directly. main() acts on the result.
#pragma once

#include <string>
#include <vector>

#include "velt/velt.h"

namespace velt::app {

enum class ParseStatus {
  Ok,       // run the codec
  Usage,    // print the usage text, exit 1
  Fatal,    // print message + detail, exit 1
  Help,     // extension: "velt -h" / "velt --help": print the usage text, exit 0
  Version,  // extension: "velt --version": print the version line, exit 0
};

struct ParseResult {
  ParseStatus status = ParseStatus::Ok;
  std::string message;  // for Fatal, e.g. "Unknown switch: "
  std::string detail;   // printed right after the message (may be empty)
  bool decode = false;
  bool test = false;  // extension: "velt t [-si] FILE...": decode and check, write nothing
  Options options;
  bool verbose = true;                 // no "-si" anywhere
  std::string inputName;               // empty when missing
  std::string outputName;              // empty when missing
  std::vector<std::string> testNames;  // the files of the test mode
  // Words after the file names that look like switches: still ignored, but
  // worth a warning ("-si" is not among them: the quiet scan acts on it).
  std::vector<std::string> ignoredSwitches;
  // Setting lines in the order they are printed ("Using RLE threshold=3\n", ...).
  std::vector<std::string> infoLines;
};

// args[0] is the program name, as in main's argv.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The entry's quiet scan: true when any argument (the program name included)
// equals "-si" without regard to letter case, wherever it stands.
bool quietRequested(const std::vector<std::string>& args);

// The two banner lines, each ending in a line feed.
std::string bannerText();
// The usage text: the command forms, the test mode and pipes, the switches.
std::string usageText();
// "Velt 1.0\n", printed by --version.
std::string versionText();

}  // namespace velt::app
