#include "StereoRip.h"

#include "console/Terminal.h"

namespace stereorip {

int RunStereoRip() {
    return wavcore::RunOnTerminal("stereorip", [](wavcore::Console& console, wavcore::ConsoleToolkit& toolkit) {
        return RunStereoRip(console, toolkit);
    });
}

}  // namespace stereorip
