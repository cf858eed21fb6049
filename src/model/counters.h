// Counters a model exposes so tests can see that rare paths really ran.
#pragma once

#include <cstdint>

namespace velt {

struct ModelCounters {
  uint64_t garbageCollections = 0;
  uint64_t poolExtensions = 0;
  uint64_t blockCompactions = 0;
};

}  // namespace velt
