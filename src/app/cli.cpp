// Placeholder parser until the front end lands.
#include "cli.h"

namespace velt::app {

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  ParseResult r;
  (void)args;
  return r;
}

}  // namespace velt::app
