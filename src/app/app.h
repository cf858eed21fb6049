// The program's entry as a function: quiet scan, banner, parse, file checks,
// one codec run, summary. Returns the process exit code; the fatal paths
// before coding end the process through fatalError.
#pragma once

namespace velt::app {

int runVelt(int argc, char** argv);

}  // namespace velt::app
