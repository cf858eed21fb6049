// Placeholder analysis: executable test only; every input is treated as not text.
#include "analysis/analysis.h"

namespace velt {

void analyzeInput(ByteSource& in, Settings& s, TextFlags& flags, Reporter* reporter) {
  (void)flags;
  if (s.e8Enabled && !s.e8Forced) {
    int b[4];
    for (int& x : b) x = in.get();
    bool exe = (b[0] == 0x4D && b[1] == 0x5A) ||
               (b[0] == 0x7F && b[1] == 0x45 && b[2] == 0x4C && b[3] == 0x46) ||
               (b[0] == 0x43 && b[1] == 0x4F && b[2] == 0x46 && b[3] == 0x46);
    if (exe) {
      if (reporter) reporter->info("Looks like an executable\n");
    } else {
      s.e8Enabled = false;
    }
    in.rewind();
  }
  s.textTransform = false;
}

}  // namespace velt
