// Run control: quiet scan, banner, file checks, one codec run, summary. The same
// file is refused by name and by device+inode, inputs the format cannot count
// are refused before the output exists, and every failure (write, close,
// corrupt data, bad header, CRC mismatch) ends with exit status 1.
#include "app.h"

#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli.h"
#include "file_io.h"
#include "report.h"
#include "velt/velt.h"

namespace velt::app {

namespace {

// The process clock in milliseconds (start and end of the summary's time).
int64_t clockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

float elapsedSeconds(int64_t startMs) { return static_cast<float>(clockMs() - startMs) * 0.001f; }

// The one place where codec failures become messages: one line, after any
// pending status text, and exit status 1.
int reportFailure(Console& console, const std::string& message) {
  console.closeLine();
  console.always(message + "\n");
  console.flush();
  return 1;
}

std::string messageFor(const Error& e) {
  switch (e.kind()) {
    case ErrorKind::Corrupt:
      return "Input data corrupt";
    case ErrorKind::BadHeader:
      return "Unknown switch in the header";
    case ErrorKind::CrcMismatch:
    case ErrorKind::BadParameter:
    case ErrorKind::NotCompressed:
    case ErrorKind::InputTooLarge:
    case ErrorKind::Unrepresentable:
    case ErrorKind::Io:
      break;
  }
  return e.what();
}

}  // namespace

int runVelt(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  ParseResult parsed = parseCommandLine(args);
  if (parsed.status == ParseStatus::Version) {
    std::fputs(versionText().c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }

  // 1. The quiet scan, 2. the banner (before any check).
  Console console(!quietRequested(args));
  console.info(bannerText());

  switch (parsed.status) {
    case ParseStatus::Usage:
    case ParseStatus::Help:
      console.always(usageText());
      console.flush();
      return parsed.status == ParseStatus::Help ? 0 : 1;
    case ParseStatus::Fatal:
      fatalError(parsed.message, parsed.detail);
    case ParseStatus::Ok:
    case ParseStatus::Version:
      break;
  }

  // The file checks, in their fixed order; nothing is created before the last.
  FileSource in(parsed.inputName);
  if (!in.open()) fatalError("Can't open file: ", parsed.inputName);
  if (parsed.outputName.empty()) fatalError("Required utput filename");
  if (parsed.inputName == parsed.outputName || in.sameFileAs(parsed.outputName)) {
    fatalError("Infile and outfile shouldn't be the same file");
  }
  // Measured on both sides: an input that cannot be measured (a pipe) is
  // refused here, before the output exists.
  int64_t length = 0;
  try {
    length = in.size();
  } catch (const Error& e) {
    fatalError(e.what());
  }
  if (!parsed.decode && length > kMaxInputSize) {
    fatalError("Input file is too large (2 GiB or more cannot be compressed): ", parsed.inputName);
  }
  const int64_t startMs = clockMs();
  FileSink out(parsed.outputName);
  switch (out.open(in)) {
    case FileSink::OpenResult::Failed:
      fatalError("Can't open file: ", parsed.outputName);
    case FileSink::OpenResult::SameFile:
      fatalError("Infile and outfile shouldn't be the same file");
    case FileSink::OpenResult::Ok:
      break;
  }

  for (const std::string& line : parsed.infoLines) console.info(line);

  ConsoleReporter reporter(console);
  int status = 0;
  try {
    if (parsed.decode) {
      const DecodeResult r = decodeStream(in, out, &reporter);
      const float seconds = elapsedSeconds(startMs);
      in.close();
      printDecodeSummary(console, r, seconds);
      status = r.crcOk() ? 0 : 1;
    } else {
      const EncodeResult r = encodeStream(in, out, parsed.options, &reporter);
      const float seconds = elapsedSeconds(startMs);
      in.close();
      printEncodeSummary(console, r, seconds);
    }
  } catch (const Error& e) {
    return reportFailure(console, messageFor(e));
  } catch (const std::bad_alloc&) {
    return reportFailure(console, "Not enough memory");
  } catch (const std::exception& e) {
    return reportFailure(console, std::string("Internal error: ") + e.what());
  }
  console.flush();
  return status;
}

}  // namespace velt::app
