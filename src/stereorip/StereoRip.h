#pragma once

#include "console/Console.h"
#include "console/ConsoleToolkit.h"
#include "wave/WaveFormat.h"

#include <cstdint>

namespace stereorip {

// Prints the FILE DATA panel from the cursor on.
void ShowFileData(stereotools::Console& console, const stereotools::WaveFormatInfo& info, uint64_t frameCount,
                  double durationSeconds);

// Runs the split dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunStereoRip(stereotools::Console& console, stereotools::ConsoleToolkit& toolkit);

}  // namespace stereorip
