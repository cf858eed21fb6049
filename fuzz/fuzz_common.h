// Shared pieces of the fuzz targets: a sink that keeps only a count, so a
// hostile stream's output costs no memory, and a hard stop for findings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "velt/io.h"

namespace velt::fuzz {

// Stops the run with a message libFuzzer shows next to the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "velt fuzz finding: %s\n", what);
  std::abort();
}

class CountingSink final : public ByteSink {
 public:
  CountingSink() { flushWindow(); }
  void patch(int64_t, const uint8_t*, size_t) override {}
  int64_t finish() override {
    total_ += cur_ - begin_;
    cur_ = begin_;
    return total_;
  }

 protected:
  void flushWindow() override {
    total_ += cur_ - begin_;
    begin_ = cur_ = buf_;
    end_ = buf_ + sizeof buf_;
  }

 private:
  uint8_t buf_[1 << 14];
  int64_t total_ = 0;
};

}  // namespace velt::fuzz
