// Exact console formats of the status line and summary. Output is buffered;
// the progress value and every error line flush. Write failures of the
// console are ignored on purpose: a reader that goes away must not end a run.
#include "report.h"

#include <unistd.h>

#include <cstdio>

namespace velt::app {

namespace {

std::string format(const char* fmt, double value) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

std::string formatCount(const char* fmt, long long value) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, value);
  return buf;
}

}  // namespace

std::string timeAndSpeedText(float seconds, int64_t size) {
  std::string text = "Done   " + format("\nTime      : %.2f sec\n", seconds);
  if (seconds != 0.0f) {
    const long long speed =
        static_cast<long long>(static_cast<double>(size) / (seconds * 1000.0f + 1.0f));
    text += formatCount("Speed     : %lld kB/sec\n", speed);
  }
  return text;
}

std::string ratioText(int64_t compressed, int64_t original) {
  const double ratio =
      static_cast<double>(compressed) / static_cast<double>(original == 0 ? 1 : original) * 100.0;
  const double bpc = ratio * 8.0 / 100.0;
  char buf[128];
  std::snprintf(buf, sizeof buf, "Ratio     : %6.2f %%          %6.4f bpc\n", ratio, bpc);
  return buf;
}

std::string progressText(double percent) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%3.0f %% %c%c%c%c%c%c", percent, 8, 8, 8, 8, 8, 8);
  return buf;
}

Console::Console(bool verbose, std::FILE* info)
    : verbose_(verbose), info_(info), infoIsTerminal_(isatty(fileno(info)) != 0) {}

void Console::write(const std::string& text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), info_);
  lineOpen_ = text.back() != '\n';
}

void ConsoleReporter::analysed(InputKind kind) {
  switch (kind) {
    case InputKind::Executable: console_.info("Looks like an executable\n"); break;
    case InputKind::NotText: console_.info("This is not a text\n"); break;
    case InputKind::EnglishText: console_.info("Looks like an English text\n"); break;
    case InputKind::RussianText: console_.info("Looks like a Russian text (cp866)\n"); break;
  }
}

void ConsoleReporter::modelReady(int megabytes) {
  console_.info("Using " + std::to_string(megabytes) + " Mb memory model\n\n");
  if (console_.showsProgress()) console_.info("Progress  : ");
}

void Console::info(const std::string& text) {
  if (verbose_) write(text);
}

void Console::always(const std::string& text) { write(text); }

void Console::error(const std::string& line) {
  closeLine();
  std::fflush(info_);
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

void Console::progress(double percent) {
  if (!showsProgress()) return;
  write(progressText(percent));
  std::fflush(info_);
}

void Console::closeLine() {
  if (lineOpen_) write("\n");
}

void Console::flush() { std::fflush(info_); }

void printEncodeSummary(Console& console, const EncodeResult& r, float seconds) {
  if (!console.verbose()) return;
  console.info(timeAndSpeedText(seconds, r.originalSize));
  console.info(ratioText(r.compressedSize, r.originalSize));
  console.info(formatCount("Original  : %lld\n", static_cast<long long>(r.originalSize)));
  console.info(formatCount("Compressed: %lld\n", static_cast<long long>(r.compressedSize)));
}

void printDecodeSummary(Console& console, const DecodeResult& r, float seconds) {
  if (!console.verbose()) return;
  console.info(timeAndSpeedText(seconds, r.extractedSize));
  console.info(r.crcOk() ? "CRC       : OK\n" : "CRC       : ERROR\n");
  console.info(ratioText(r.compressedSize, r.extractedSize));
  console.info(formatCount("Compressed: %lld\n", static_cast<long long>(r.compressedSize)));
  console.info(formatCount("Extracted : %lld\n", static_cast<long long>(r.extractedSize)));
}

}  // namespace velt::app
