// Growable in-memory sink for tests, fuzzers and the memory conveniences.
#include <algorithm>
#include <cstring>

#include "velt/io.h"

namespace velt {

void MemorySink::flushWindow() {
  used_ = begin_ ? static_cast<size_t>(cur_ - begin_) : 0;
  size_t capacity = std::max<size_t>(size_t(1) << 16, data_.size() * 2);
  data_.resize(capacity);
  begin_ = data_.data();
  cur_ = begin_ + used_;
  end_ = begin_ + data_.size();
}

void MemorySink::patch(int64_t offset, const uint8_t* data, size_t size) {
  size_t used = static_cast<size_t>(cur_ - begin_);
  if (offset < 0 || static_cast<size_t>(offset) + size > used) return;
  std::memcpy(begin_ + offset, data, size);
}

int64_t MemorySink::finish() {
  used_ = static_cast<size_t>(cur_ - begin_);
  data_.resize(used_);
  begin_ = data_.data();
  cur_ = begin_ + used_;
  end_ = cur_;
  return static_cast<int64_t>(used_);
}

}  // namespace velt
