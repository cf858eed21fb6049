// Run-length coding: after `threshold` equal bytes the length of the run that
// follows is coded in one symbol instead of byte by byte through the model.
// The table's increment and limit are part of the stream format, so both
// sides code through codeLength().
#pragma once

#include <cstdint>

#include "container/settings.h"
#include "entropy/cumulative_table.h"
#include "model/history.h"

namespace velt {

class RunLengthStage {
 public:
  static constexpr int kMaxRun = 190;  // a longer run continues with another length

  explicit RunLengthStage(const Settings& s) : enabled_(s.rleEnabled), threshold_(s.rleThreshold) {}

  // The last `threshold` bytes are equal. Tested for every byte; the first
  // compare is the one that nearly always fails.
  bool triggered(const model::History& h) const {
    return h[0] == h[1] && enabled_ && h[1] == h[2] && (threshold_ == 3 || h[3] == h[0]);
  }

  template <class Coder>
  int codeLength(Coder& rc, int n) {
    n = table_.code(rc, n);
    table_.update(n, kIncrement, kLimit);
    return n;
  }

 private:
  static constexpr int32_t kIncrement = 120;
  static constexpr int32_t kLimit = 4096;

  bool enabled_;
  int threshold_;
  CumulativeTable<kMaxRun + 2> table_;
};

}  // namespace velt
