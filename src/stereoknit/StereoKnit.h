#pragma once

#include "console/Console.h"
#include "console/ConsoleToolkit.h"
#include "wave/WaveFormat.h"

#include <string>

namespace stereoknit {

// Returns the message of the first compatibility check the pair fails
// (sample rate, bit depth, format, then the size of the joined file), or an
// empty string when they can be joined.
[[nodiscard]] std::string CheckCompatibility(const stereotools::WaveFormatInfo& left,
                                             const stereotools::WaveFormatInfo& right);

// Runs the join dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunStereoKnit(stereotools::Console& console, stereotools::ConsoleToolkit& toolkit);

// Runs it on the terminal (status 2 and a line on stderr without one).
[[nodiscard]] int RunStereoKnit();

}  // namespace stereoknit
