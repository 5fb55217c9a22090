#include "TerminalEntry.h"

#include "StereoKnit.h"
#include "console/Terminal.h"

namespace stereoknit {

int RunStereoKnit() {
    return stereotools::RunOnTerminal("stereoknit", [](stereotools::Console& console, stereotools::ConsoleToolkit& toolkit) {
        return RunStereoKnit(console, toolkit);
    });
}

}  // namespace stereoknit
