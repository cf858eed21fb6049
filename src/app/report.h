// Console reporting: quiet-aware printing, the progress value that
// is rewritten in place, the end-of-run summary and the fatal-error routine.
// Only src/app prints; the codec talks to the console through ConsoleReporter.
#pragma once

#include <cstdint>
#include <string>

#include "velt/velt.h"

namespace velt::app {

// Standard output with the run's `verbose` switch and the knowledge of
// whether the current line is still open (progress text without a line feed).
class Console {
 public:
  explicit Console(bool verbose) : verbose_(verbose) {}
  bool verbose() const { return verbose_; }

  // printInfo: informational text, printed only when verbose.
  void info(const std::string& text);
  // Usage, errors and the CRC error line: printed whatever verbose says.
  void always(const std::string& text);
  // Progress value: "%3.0f %% " and six backspaces, only when verbose.
  void progress(double percent);
  // Ends a pending status line so that the next message has a line of its own.
  void closeLine();
  void flush();

 private:
  void write(const std::string& text);
  bool verbose_;
  bool lineOpen_ = false;
};

// The codec's window onto the console.
class ConsoleReporter final : public Reporter {
 public:
  explicit ConsoleReporter(Console& console) : console_(console) {}
  void analysed(InputKind kind) override;
  void modelReady(int megabytes) override;
  void progress(double percent) override { console_.progress(percent); }

 private:
  Console& console_;
};

// The pieces of the summary as text: "Done   ", the time and (unless the time
// is 0) the speed; the ratio line; and one progress value with its six
// backspaces.
std::string timeAndSpeedText(float seconds, int64_t size);
std::string ratioText(int64_t compressed, int64_t original);
std::string progressText(double percent);

// Prints "%s%s\n" (message and detail) on standard output and exits with 1.
[[noreturn]] void fatalError(const std::string& message, const std::string& detail = "");

// The summaries; `seconds` is (end - start) x 0.001 kept in single precision.
void printEncodeSummary(Console& console, const EncodeResult& r, float seconds);
// Prints the CRC verdict (and waits for a key after a mismatch when standard
// input is a terminal) and the rest of the decoding summary.
void printDecodeSummary(Console& console, const DecodeResult& r, float seconds);

// One key read from the terminal without echo; returns at once when standard
// input is not a terminal, so scripts never hang.
void waitForKey();

}  // namespace velt::app
