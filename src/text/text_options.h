// The header's text flags as the transform reads them. Shared by the encoder
// and the decoder so the two sides cannot read a flag differently.
#pragma once

#include "container/settings.h"

namespace velt::text {

struct TextOptions {
  explicit TextOptions(const TextFlags& f)
      : softLineBreaks(f.softLineBreaks != 0),
        crlfLineEnds(f.crlfLineEnds != 0),
        sparsePunctuation(f.sparsePunctuation != 0),
        mostlyLowercase(f.mostlyLowercase != 0),
        unwrapLines(f.unwrapLines != 0),
        doubleSpaces(f.unwrapLines != 0 && f.doubleSpaces != 0),
        wrapWidth(f.wrapWidth) {}

  const bool softLineBreaks, crlfLineEnds, sparsePunctuation, mostlyLowercase;
  const bool unwrapLines, doubleSpaces;  // double spaces travel only with unwrapLines
  const int wrapWidth;
};

}  // namespace velt::text
