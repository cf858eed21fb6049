// Console reporting: quiet-aware printing, the progress value that
// is rewritten in place, the end-of-run summary and the error lines.
// Only src/app prints; the codec talks to the console through ConsoleReporter.
// Informational text goes to standard output unless that carries data, errors
// to standard error; a console that fails or goes away is ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "velt/velt.h"

namespace velt::app {

// The informational stream with the run's `verbose` switch and the knowledge
// of whether the current line is still open (progress text without a line feed).
class Console {
 public:
  // `info`: stdout, or stderr when stdout carries the run's data.
  Console(bool verbose, std::FILE* info);
  bool verbose() const { return verbose_; }
  // Progress is drawn only on a terminal: backspaces do not belong in logs.
  bool showsProgress() const { return verbose_ && infoIsTerminal_; }

  // printInfo: informational text, printed only when verbose.
  void info(const std::string& text);
  // Informational text printed whatever verbose says (the usage on request).
  void always(const std::string& text);
  // One error or warning line on standard error, after any pending status line.
  void error(const std::string& line);
  // Progress value: "%3.0f %% " and six backspaces, only when showsProgress().
  void progress(double percent);
  // Ends a pending status line so that the next message has a line of its own.
  void closeLine();
  void flush();

 private:
  void write(const std::string& text);
  bool verbose_;
  std::FILE* info_;
  bool infoIsTerminal_;
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

// The summaries; `seconds` is (end - start) x 0.001 kept in single precision.
void printEncodeSummary(Console& console, const EncodeResult& r, float seconds);
// Prints the CRC verdict and the rest of the decoding summary; after a
// mismatch only when verbose (the caller reports the error).
void printDecodeSummary(Console& console, const DecodeResult& r, float seconds);

}  // namespace velt::app
