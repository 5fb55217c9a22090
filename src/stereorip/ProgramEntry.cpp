#include "ProgramEntry.h"

#include "StereoRip.h"
#include "cli/CommandLineRun.h"
#include "console/Terminal.h"

namespace stereorip {

int RunStereoRip(int argc, char** argv) {
    if (argc > 1) return stereotools::RunCommandLine(stereotools::Tool::Split, argc, argv);
    return stereotools::RunOnTerminal("stereorip",
                                      [](stereotools::Console& console, stereotools::ConsoleToolkit& toolkit) {
                                          return RunSplitDialogue(console, toolkit);
                                      });
}

}  // namespace stereorip
