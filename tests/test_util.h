// Helpers shared by the tests: corpus access, files, memory round trips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velt/velt.h"

namespace velt::test {

std::string sharedDir();
std::string corpusPath(const std::string& relative);  // e.g. "text/alice29.txt"
std::vector<std::string> corpusFiles();                // relative paths, sorted
std::vector<uint8_t> readFile(const std::string& path);
inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }
inline std::string asString(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }
void writeFile(const std::string& path, const std::vector<uint8_t>& data);
// A fresh empty directory for one test's files.
std::string tempDir();

// Settings as the command line would set them from switch words
// (e.g. "-da -e8d -o8 -m:10"); throws on an unknown word.
Settings settingsFromSwitches(const std::string& switches);

// Compresses and restores in memory; fails the current test on a mismatch.
std::vector<uint8_t> roundTrip(const std::vector<uint8_t>& data, const Settings& s);

}  // namespace velt::test
