// Helpers shared by the tests: test data, files, memory round trips.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "pipeline/session.h"
#include "velt/velt.h"

namespace velt::test {

// The repository's own inputs (tests/data), there in every clone.
inline std::string dataPath(const std::string& relative) {
  return std::string(VELT_TEST_DATA_DIR) + "/" + relative;
}

// Every committed input (not the golden files), sorted.
inline std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  for (const char* dir : {"artificial", "binary", "ru", "text"}) {
    for (auto& e : std::filesystem::directory_iterator(dataPath(dir)))
      files.push_back(std::string(dir) + "/" + e.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The shared corpus and known-answer vectors beside the repository, which a
// plain clone does not have; tests that need them skip without them.
inline std::string sharedDir() { return VELT_SHARED_DIR; }
inline bool haveShared() { return std::filesystem::is_directory(sharedDir() + "/vectors"); }

inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }
inline std::string asString(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<uint8_t> readData(const std::string& relative) {
  return readFile(dataPath(relative));
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

// A fresh empty directory for one test's files.
inline std::string tempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velt-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// Settings as the command line sets them from switch words (e.g. "-da -o8 -m:10").
inline Settings settingsFromSwitches(const std::string& switches) {
  std::vector<std::string> args = {"velt", "e"};
  std::istringstream words(switches);
  for (std::string w; words >> w;) args.push_back(w);
  args.insert(args.end(), {"in", "out"});
  const app::ParseResult r = app::parseCommandLine(args);
  if (r.status != app::ParseStatus::Ok) throw std::runtime_error("bad switches: " + switches);
  return settingsFromOptions(r.options);
}

// Compresses and restores in memory, failing the current test on a mismatch;
// returns the compressed bytes.
inline std::vector<uint8_t> roundTrip(const std::vector<uint8_t>& data, const Settings& s) {
  const std::vector<uint8_t> packed = encodeBuffer(data.data(), data.size(), s);
  DecodeDetails dr;
  const std::vector<uint8_t> restored = decodeBuffer(packed.data(), packed.size(), &dr);
  EXPECT_TRUE(dr.crcOk());
  EXPECT_EQ(restored.size(), data.size());
  EXPECT_TRUE(restored == data) << "round trip differs";
  return packed;
}

}  // namespace velt::test
