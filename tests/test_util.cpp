// Shared test helpers.
#include "test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli.h"

namespace velt::test {

std::string sharedDir() { return VELT_SHARED_DIR; }

std::string corpusPath(const std::string& relative) { return sharedDir() + "/corpus/" + relative; }

std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  const std::string root = sharedDir() + "/corpus";
  for (const char* dir : {"artificial", "binary", "ru", "text"}) {
    for (auto& e : std::filesystem::directory_iterator(root + "/" + dir)) {
      if (e.is_regular_file()) files.push_back(std::string(dir) + "/" + e.path().filename().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string tempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velt-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

Settings settingsFromSwitches(const std::string& switches) {
  std::vector<std::string> args = {"velt", "e"};
  std::istringstream words(switches);
  for (std::string w; words >> w;) args.push_back(w);
  args.push_back("in");
  args.push_back("out");
  app::ParseResult r = app::parseCommandLine(args);
  if (r.status != app::ParseStatus::Ok) throw std::runtime_error("bad switches: " + switches);
  return r.settings;
}

std::vector<uint8_t> roundTrip(const std::vector<uint8_t>& data, const Settings& s) {
  std::vector<uint8_t> packed = compress(data.data(), data.size(), s);
  DecodeResult dr;
  std::vector<uint8_t> restored = decompress(packed.data(), packed.size(), &dr);
  EXPECT_TRUE(dr.crcOk());
  EXPECT_EQ(restored.size(), data.size());
  EXPECT_TRUE(restored == data) << "round trip differs";
  return packed;
}

}  // namespace velt::test
