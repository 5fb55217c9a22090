#include "ProgramEntry.h"

#include "StereoKnit.h"
#include "cli/CommandLineRun.h"
#include "console/Terminal.h"

namespace stereoknit {

int RunStereoKnit(int argc, char** argv) {
    if (argc > 1) return stereotools::RunCommandLine(stereotools::Tool::Join, argc, argv);
    return stereotools::RunOnTerminal("stereoknit",
                                      [](stereotools::Console& console, stereotools::ConsoleToolkit& toolkit) {
                                          return RunJoinDialogue(console, toolkit);
                                      });
}

}  // namespace stereoknit
