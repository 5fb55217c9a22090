#pragma once

#include "CommandLine.h"

namespace stereotools {

// Runs `tool` as a command-line tool on the arguments in `argv` (`argc` of
// them, the program's name first): no dialogue, no terminal needed. Returns
// the exit status: 0 when every input succeeded, 1 when any failed (the
// others are still done), 2 for a usage error, 128+N when stopped by
// signal N (outputs finished before stay; none is left half-written).
[[nodiscard]] int RunCommandLine(Tool tool, int argc, char** argv);

}  // namespace stereotools
