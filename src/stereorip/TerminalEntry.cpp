#include "TerminalEntry.h"

#include "StereoRip.h"
#include "console/Terminal.h"

namespace stereorip {

int RunStereoRip() {
    return stereotools::RunOnTerminal("stereorip", [](stereotools::Console& console, stereotools::ConsoleToolkit& toolkit) {
        return RunStereoRip(console, toolkit);
    });
}

}  // namespace stereorip
