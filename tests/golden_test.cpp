// Byte-exactness guards for the model's storage: the shared garbage-collection
// vectors (when ../shared is present) and self-contained goldens over inputs
// generated here, pinned as size + FNV-1a digest in tests/data/golden.inc.
// Set VELT_GOLDEN_RECORD=1 to print the golden table instead of checking it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace velt {
namespace {

struct Golden {
  const char* input;
  const char* switches;
  uint64_t size;
  uint64_t digest;
  uint64_t garbageCollections;
  uint64_t poolExtensions;
};

const Golden kGoldens[] = {
#include "data/golden.inc"
};

uint64_t fnv1a64(const std::vector<uint8_t>& data) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : data) h = (h ^ b) * 0x100000001b3ull;
  return h;
}

// Small fixed generator (xorshift64*), so the inputs never depend on the library.
struct Rng {
  uint64_t s;
  uint32_t next() {
    s ^= s >> 12, s ^= s << 25, s ^= s >> 27;
    return uint32_t((s * 0x2545F4914F6CDD1Dull) >> 32);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// English-like text: words from a fixed syllable vocabulary with a skewed
// choice, sentences, capitals, commas and line breaks.
std::vector<uint8_t> textLikeInput(size_t size) {
  Rng r{0x9E3779B97F4A7C15ull};
  static const char* const kSyl[] = {"the", "an", "in", "er",  "on",   "at", "es",  "or",
                                     "ti",  "is", "ou", "it",  "ha",   "re", "st",  "ng",
                                     "al",  "ed", "se", "le",  "co",   "ma", "pro", "ver",
                                     "lo",  "di", "ca", "ble", "ment", "y"};
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w;
    const int n = 1 + int(r.below(3)) + (i > 200 ? 1 : 0);
    for (int k = 0; k < n; ++k) w += kSyl[r.below(30)];
    words.push_back(w);
  }
  std::vector<uint8_t> out;
  int column = 0, sentence = 0;
  while (out.size() < size) {
    const uint32_t a = r.below(3000), b = r.below(3000);
    std::string w = words[(uint64_t(a) * b) / 3000];
    if (sentence == 0) w[0] = char(w[0] - 32);
    ++sentence;
    if (sentence > 6 + int(r.below(12))) {
      w += r.below(8) == 0 ? "?" : ".";
      sentence = 0;
    } else if (r.below(9) == 0) {
      w += ",";
    }
    if (column + int(w.size()) > 70) {
      out.push_back('\n');
      column = 0;
    } else if (!out.empty()) {
      out.push_back(' ');
      ++column;
    }
    out.insert(out.end(), w.begin(), w.end());
    column += int(w.size());
  }
  out.resize(size);
  return out;
}

// Binary-like data: fixed-layout records with counters, machine-code-like
// stretches with call opcodes, small-number tables and noise.
std::vector<uint8_t> binaryLikeInput(size_t size) {
  Rng r{0xD1B54A32D192ED03ull};
  std::vector<uint8_t> out;
  uint32_t counter = 0;
  while (out.size() < size) {
    const uint32_t kind = r.below(8);
    switch (kind < 3 ? 0 : kind < 5 ? 1 : kind < 7 ? 2 : 3) {
      case 0:  // records
        for (int i = 0, n = 20 + int(r.below(200)); i < n; ++i) {
          ++counter;
          for (int k = 0; k < 4; ++k) out.push_back(uint8_t(counter >> (8 * k)));
          out.push_back(uint8_t(r.below(4)));
          out.push_back(0);
          const uint32_t v = r.below(1000) * 37;
          out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8));
        }
        break;
      case 1:  // code-like
        for (int i = 0, n = 500 + int(r.below(3000)); i < n; ++i) {
          const uint32_t c = r.below(16);
          if (c == 0) {
            out.push_back(0xE8);
            const uint32_t t = r.below(1 << 16);
            for (int k = 0; k < 4; ++k) out.push_back(uint8_t(t >> (8 * k)));
          } else if (c < 6) {
            static const uint8_t kOps[] = {0x8B, 0x89, 0x48, 0x83, 0xC3, 0x55, 0x5D, 0x74, 0x75};
            out.push_back(kOps[r.below(9)]);
          } else {
            out.push_back(uint8_t(r.below(64) + (c & 1) * 0x40));
          }
        }
        break;
      case 2:  // tables of small numbers
        for (int i = 0, n = 256 + int(r.below(2048)); i < n; ++i)
          out.push_back(uint8_t(r.below(8) * r.below(8)));
        break;
      default:  // noise
        for (int i = 0, n = 64 + int(r.below(700)); i < n; ++i) out.push_back(uint8_t(r.next()));
    }
  }
  out.resize(size);
  return out;
}

const std::vector<uint8_t>& inputNamed(const std::string& name) {
  static const std::vector<uint8_t> text = textLikeInput(1536 * 1024);
  static const std::vector<uint8_t> binary = binaryLikeInput(768 * 1024);
  return name == "text" ? text : binary;
}

TEST(ModelGoldenSlow, GeneratedInputsKeepTheirBytesAtEveryOrder) {
  const bool record = std::getenv("VELT_GOLDEN_RECORD") != nullptr;
  std::vector<std::pair<std::string, std::string>> cases;
  for (const char* input : {"text", "binary"}) {
    for (const char* order : {"-o4", "-o5", "-o6", "-o7", "-o8", "-o9"}) {
      // The analysis leaves binary input as it is: only the decoded side adds.
      if (std::string(input) == "text") cases.emplace_back(input, std::string(order) + " -m:10");
      cases.emplace_back(input, std::string(order) + " -m:10 -da");
    }
  }
  cases.emplace_back("text", "-o5 -m:10 -mt1");
  cases.emplace_back("text", "-o9 -m:10 -mt1");

  uint64_t collections = 0, extensions = 0, compactions = 0;
  size_t index = 0;
  for (const auto& [input, switches] : cases) {
    const std::vector<uint8_t>& data = inputNamed(input);
    Settings s = test::settingsFromSwitches(switches);
    EncodeDetails er;
    const std::vector<uint8_t> packed = encodeBuffer(data.data(), data.size(), s, &er);
    collections += er.counters.garbageCollections;
    extensions += er.counters.poolExtensions;
    compactions += er.counters.blockCompactions;
    if (record) {
      std::printf("    {\"%s\", \"%s\", %zu, 0x%016llxull, %llu, %llu},\n", input.c_str(),
                  switches.c_str(), packed.size(), (unsigned long long)fnv1a64(packed),
                  (unsigned long long)er.counters.garbageCollections,
                  (unsigned long long)er.counters.poolExtensions);
      continue;
    }
    ASSERT_LT(index, std::size(kGoldens));
    const Golden& g = kGoldens[index++];
    ASSERT_EQ(input, g.input);
    ASSERT_EQ(switches, g.switches);
    EXPECT_EQ(packed.size(), g.size) << input << " " << switches;
    EXPECT_EQ(fnv1a64(packed), g.digest) << input << " " << switches;
    EXPECT_EQ(er.counters.garbageCollections, g.garbageCollections) << input << " " << switches;
    EXPECT_EQ(er.counters.poolExtensions, g.poolExtensions) << input << " " << switches;
    if (switches.find("-da") != std::string::npos) {
      DecodeDetails dr;
      const std::vector<uint8_t> restored = decodeBuffer(packed.data(), packed.size(), &dr);
      EXPECT_TRUE(dr.crcOk()) << input << " " << switches;
      EXPECT_TRUE(restored == data) << input << " " << switches;
      EXPECT_EQ(dr.counters.garbageCollections, er.counters.garbageCollections);
    }
  }
  if (!record) {
    EXPECT_EQ(index, std::size(kGoldens));
  }
  // The goldens only guard the pools if the pools were under pressure, and
  // the symbol blocks only if some level had to be compacted.
  EXPECT_GT(collections, 0u);
  EXPECT_GT(extensions, 0u);
  EXPECT_GT(compactions, 0u);
}

// The shared vectors' garbage-collection cases, inputs built in memory the way
// vectors/gc/make-inputs.sh builds them.
TEST(ModelGoldenSlow, SharedGarbageCollectionVectors) {
  const std::string gc = test::sharedDir() + "/vectors/gc";
  if (!std::filesystem::exists(gc + "/CASES")) GTEST_SKIP() << gc << " absent";
  // Every file of the shared corpus, in byte order of its path.
  const std::string corpus = test::sharedDir() + "/corpus";
  std::vector<std::string> files;
  for (auto& dir : std::filesystem::directory_iterator(corpus)) {
    if (!dir.is_directory()) continue;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
      files.push_back(dir.path().filename().string() + "/" + e.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<uint8_t> all, text;
  for (const std::string& f : files) {
    const std::vector<uint8_t> d = test::readFile(corpus + "/" + f);
    all.insert(all.end(), d.begin(), d.end());
    if (f.rfind("text/", 0) == 0) text.insert(text.end(), d.begin(), d.end());
  }
  std::ifstream cases(gc + "/CASES");
  int checked = 0;
  for (std::string line; std::getline(cases, line);) {
    std::istringstream words(line);
    std::string out, in, w, switches;
    if (!(words >> out >> in)) continue;
    while (words >> w) switches += w + " ";
    const std::vector<uint8_t>& data = in == "all.bin" ? all : text;
    Settings s = test::settingsFromSwitches(switches);
    const std::vector<uint8_t> ours = encodeBuffer(data.data(), data.size(), s);
    const std::vector<uint8_t> expected = test::readFile(gc + "/" + out);
    if (ours != expected) {
      size_t i = 0;  // first difference
      while (i < ours.size() && i < expected.size() && ours[i] == expected[i]) ++i;
      ADD_FAILURE() << out << ": first difference at byte " << i;
    }
    ++checked;
  }
  EXPECT_EQ(checked, 9);
}

}  // namespace
}  // namespace velt
