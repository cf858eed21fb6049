// Run control: quiet scan, banner, file checks, one codec run, summary. The
// same file is refused by name and by device+inode, inputs the format cannot
// count are refused before the output exists, and every failure (write,
// corrupt data, bad header, CRC mismatch, a signal) ends with exit status 1
// and the destination as it was: nothing here calls exit(), so the output's
// destructor always removes an uncommitted temporary file.
#include "app.h"

#include <unistd.h>

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

// The one place where the decoder's verdicts become words. They name no file
// themselves; every other failure's message already does.
const char* verdictFor(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Corrupt: return "Input data corrupt";
    case ErrorKind::BadHeader: return "Unknown switch in the header";
    case ErrorKind::NotCompressed: return "Not a Velt compressed file";
    case ErrorKind::CrcMismatch: return "CRC error";
    case ErrorKind::BadParameter:
    case ErrorKind::InputTooLarge:
    case ErrorKind::Unrepresentable:
    case ErrorKind::Io: break;
  }
  return nullptr;
}

// `name` is the input.
std::string messageFor(const Error& e, const std::string& name) {
  const char* verdict = verdictFor(e.kind());
  return verdict ? verdict + (": " + name) : e.what();
}

int failure(Console& console, const std::string& line) {
  console.error(line);
  return 1;
}

// Encoding or decoding one file into another. Any return before commit()
// leaves the destination untouched.
int runCodec(Console& console, const ParseResult& parsed) {
  const std::string& inName = parsed.inputName;
  const std::string& outName = parsed.outputName;
  if (!parsed.decode && outName == "-" && isatty(STDOUT_FILENO)) {
    return failure(console, "Compressed data is not written to a terminal: -");
  }
  FileSource in(inName);
  try {
    in.open(parsed.decode ? INT64_MAX : kMaxInputSize, parsed.decode);
    if (outName.empty()) return failure(console, "Required utput filename");
    if (inName == outName && inName != "-") {
      return failure(console, "Infile and outfile shouldn't be the same file");
    }
    const int64_t startMs = clockMs();
    FileSink out(outName);
    // Encoding completes the header at the end and may create its output at
    // once; decoding checks the header before any output exists.
    const bool encode = !parsed.decode;
    switch (out.open(in, encode, encode, encode)) {
      case FileSink::OpenResult::SameFile:
        return failure(console, "Infile and outfile shouldn't be the same file");
      case FileSink::OpenResult::Terminal:
        return failure(console, "Compressed data is not written to a terminal: " + outName);
      case FileSink::OpenResult::Ok: break;
    }
    for (const std::string& line : parsed.infoLines) console.info(line);

    ConsoleReporter reporter(console);
    if (parsed.decode) {
      const DecodeResult r = decodeStream(in, out, &reporter);
      const float seconds = elapsedSeconds(startMs);
      in.close();
      if (!r.crcOk()) {
        printDecodeSummary(console, r, seconds);
        return failure(console, std::string(verdictFor(ErrorKind::CrcMismatch)) + ": " + inName);
      }
      out.commit(in);
      printDecodeSummary(console, r, seconds);
    } else {
      const EncodeResult r = encodeStream(in, out, parsed.options, &reporter);
      const float seconds = elapsedSeconds(startMs);
      out.commit(in);
      in.close();
      printEncodeSummary(console, r, seconds);
    }
  } catch (const Error& e) {
    return failure(console, messageFor(e, inName));
  } catch (const std::bad_alloc&) {
    return failure(console, "Not enough memory");
  } catch (const std::exception& e) {
    return failure(console, std::string("Internal error: ") + e.what());
  }
  console.flush();
  return 0;
}

// The verdict on one compressed file: empty when it is sound.
std::string testFile(const std::string& name) {
  try {
    FileSource in(name);
    in.open(INT64_MAX, true);
    NullSink out;
    if (!decodeStream(in, out).crcOk()) return verdictFor(ErrorKind::CrcMismatch);
    return "";
  } catch (const Error& e) {
    const char* verdict = verdictFor(e.kind());
    return verdict ? verdict : e.what();
  } catch (const std::bad_alloc&) {
    return "Not enough memory";
  } catch (const std::exception& e) {
    return std::string("Internal error: ") + e.what();
  }
}

// The test mode: one line per file, exit status 0 only when all are sound.
int runTests(Console& console, const ParseResult& parsed) {
  int status = 0;
  for (const std::string& name : parsed.testNames) {
    const std::string verdict = testFile(name);
    if (verdict.empty()) {
      console.info(name + ": OK\n");
    } else {
      console.error(name + ": " + verdict);
      status = 1;
    }
    console.flush();
  }
  return status;
}

}  // namespace

int runVelt(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  const ParseResult parsed = parseCommandLine(args);
  if (parsed.status == ParseStatus::Version) {
    std::fputs(versionText().c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }

  // 1. The quiet scan, 2. the banner (before any check). When standard output
  // carries the data, it gets nothing else.
  const bool dataOnStdout =
      parsed.status == ParseStatus::Ok && !parsed.test && parsed.outputName == "-";
  Console console(!quietRequested(args), dataOnStdout ? stderr : stdout);
  console.info(bannerText());

  switch (parsed.status) {
    case ParseStatus::Help:
      console.always(usageText());
      console.flush();
      return 0;
    case ParseStatus::Usage:
      console.flush();
      std::fputs(usageText().c_str(), stderr);
      return 1;
    case ParseStatus::Fatal: return failure(console, parsed.message + parsed.detail);
    case ParseStatus::Ok:
    case ParseStatus::Version: break;
  }
  for (const std::string& word : parsed.ignoredSwitches) {
    console.error("Warning: ignored after the file names: " + word);
  }

  installSignalHandlers();
  return parsed.test ? runTests(console, parsed) : runCodec(console, parsed);
}

}  // namespace velt::app
