// Command-line parsing as a pure function: no files are opened and nothing
// is printed, so tests can call it directly. main() acts on the result.
#pragma once

#include <string>
#include <vector>

#include "velt/velt.h"

namespace velt::app {

enum class ParseStatus {
  Ok,     // run the codec
  Usage,  // print the usage text, exit 1
  Fatal,  // print message + detail, exit 1
};

struct ParseResult {
  ParseStatus status = ParseStatus::Ok;
  std::string message;  // for Fatal, e.g. "Unknown switch: "
  std::string detail;   // printed right after the message (may be empty)
  bool decode = false;
  Settings settings;
  std::string inputName;   // empty when missing
  std::string outputName;  // empty when missing
  // Setting lines in the order they are printed ("Using RLE threshold=3\n", ...).
  std::vector<std::string> infoLines;
};

// args[0] is the program name, as in main's argv.
ParseResult parseCommandLine(const std::vector<std::string>& args);

}  // namespace velt::app
