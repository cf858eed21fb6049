// Test-only view into a session: which coder handled which bytes, and every
// interval handed to the range coder. Not part of the public interface.
#pragma once

#include <cstdint>

namespace velt {

class CodingObserver {
 public:
  virtual ~CodingObserver() = default;
  virtual void modelByte(uint8_t byte) { (void)byte; }
  virtual void runLength(int length) { (void)length; }
  virtual void progressionLength(int length) { (void)length; }
  virtual void repeatDecision(bool hit) { (void)hit; }
  virtual void interleaveSwitchedOff(int32_t atSymbol) { (void)atSymbol; }
  virtual void interval(uint32_t cumLow, uint32_t freq, uint32_t total) {
    (void)cumLow;
    (void)freq;
    (void)total;
  }
};

}  // namespace velt
