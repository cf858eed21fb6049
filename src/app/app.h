// The program's entry as a function: quiet scan, banner, parse, file checks,
// one codec run (or the test mode's checks), summary. Returns the process exit
// code; it never calls exit(), so every temporary file is removed on the way out.
#pragma once

namespace velt::app {

int runVelt(int argc, char** argv);

}  // namespace velt::app
