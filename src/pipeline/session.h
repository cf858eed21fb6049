// Set-up shared by the encoding and decoding sessions, so both build the
// same model from the same settings and announce it the same way.
#pragma once

#include <cstdio>
#include <memory>

#include "model/model.h"
#include "velt/velt.h"

namespace velt {

inline std::unique_ptr<model::Model> setUpModel(const Settings& s, const TextFlags& flags,
                                                Reporter* reporter) {
  model::ModelTextFlags text;
  if (s.textTransform) {
    text.sparsePunctuation = flags.sparsePunctuation;
    text.mostlyLowercase = flags.mostlyLowercase;
    text.crlfLineEnds = flags.crlfLineEnds;
  }
  auto model =
      std::make_unique<model::Model>(s.order, s.pseudoOrder, s.memoryIndex, s.textTransform, text);
  if (reporter) {
    char line[64];
    std::snprintf(line, sizeof line, "Using %d Mb memory model\n\n", 10 + 5 * s.memoryIndex);
    reporter->info(line);
    reporter->info("Progress  : ");
  }
  return model;
}

}  // namespace velt
