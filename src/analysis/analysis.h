// Input analysis: decides, from the first bytes of the input, whether the e8
// transform and the text transform are used, and measures the text flags.
#pragma once

#include "container/settings.h"

namespace velt {

// Reads `in` from its start and leaves it rewound. May switch
// settings.e8Enabled and settings.textTransform off; fills `flags` when the
// input is text. Messages go to `reporter` (may be null).
void analyzeInput(ByteSource& in, Settings& settings, TextFlags& flags, Reporter* reporter);

}  // namespace velt
