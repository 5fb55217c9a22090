#pragma once

#include "console/Console.h"
#include "console/ConsoleToolkit.h"

namespace stereoknit {

// Runs the join dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunJoinDialogue(stereotools::Console& console, stereotools::ConsoleToolkit& toolkit);

}  // namespace stereoknit
