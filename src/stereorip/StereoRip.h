#pragma once

#include "console/Console.h"
#include "console/ConsoleToolkit.h"

namespace stereorip {

// Runs the split dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunSplitDialogue(stereotools::Console& console, stereotools::ConsoleToolkit& toolkit);

}  // namespace stereorip
