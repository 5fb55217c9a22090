#include "StereoKnit.h"

#include "console/Terminal.h"

namespace stereoknit {

int RunStereoKnit() {
    return wavcore::RunOnTerminal("stereoknit", [](wavcore::Console& console, wavcore::ConsoleToolkit& toolkit) {
        return RunStereoKnit(console, toolkit);
    });
}

}  // namespace stereoknit
