// Exact console formats of the status line and summary. Everything goes to standard output,
// buffered; the progress value and anything that waits for the user flush.
#include "report.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

void Console::write(const std::string& text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), stdout);
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
  console_.info("Progress  : ");
}

void Console::info(const std::string& text) {
  if (verbose_) write(text);
}

void Console::always(const std::string& text) { write(text); }

void Console::progress(double percent) {
  if (!verbose_) return;
  write(progressText(percent));
  std::fflush(stdout);
}

void Console::closeLine() {
  if (lineOpen_) write("\n");
}

void Console::flush() { std::fflush(stdout); }

void fatalError(const std::string& message, const std::string& detail) {
  std::printf("%s%s\n", message.c_str(), detail.c_str());
  std::fflush(stdout);
  std::exit(1);
}

void printEncodeSummary(Console& console, const EncodeResult& r, float seconds) {
  if (!console.verbose()) return;
  console.info(timeAndSpeedText(seconds, r.originalSize));
  console.info(ratioText(r.compressedSize, r.originalSize));
  console.info(formatCount("Original  : %lld\n", static_cast<long long>(r.originalSize)));
  console.info(formatCount("Compressed: %lld\n", static_cast<long long>(r.compressedSize)));
}

void printDecodeSummary(Console& console, const DecodeResult& r, float seconds) {
  if (console.verbose()) console.info(timeAndSpeedText(seconds, r.extractedSize));
  if (r.crcOk()) {
    console.info("CRC       : OK\n");
  } else {
    console.always("CRC       : ERROR\n");
    console.flush();
    waitForKey();
  }
  if (!console.verbose()) return;
  console.info(ratioText(r.compressedSize, r.extractedSize));
  console.info(formatCount("Compressed: %lld\n", static_cast<long long>(r.compressedSize)));
  console.info(formatCount("Extracted : %lld\n", static_cast<long long>(r.extractedSize)));
}

void waitForKey() {
  if (!isatty(STDIN_FILENO)) return;
  struct termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  struct termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  char key;
  while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

}  // namespace velt::app
