#pragma once

#include "console/Console.h"
#include "console/ConsoleToolkit.h"
#include "wave/WaveFormat.h"

#include <cstdint>
#include <string>

namespace stereorip {

struct ChannelFileNames {
    std::string left;   // stem + " left channel.wav"
    std::string right;  // stem + " right channel.wav"
};

// Returns the output names for `inputFileName`: the name less its last four
// characters (kept whole when shorter), then " left channel.wav" and
// " right channel.wav". A folder part stays.
[[nodiscard]] ChannelFileNames DeriveChannelFileNames(const std::string& inputFileName);

// Prints the FILE DATA panel from the cursor on.
void ShowFileData(stereotools::Console& console, const stereotools::WaveFormatInfo& info, uint64_t frameCount,
                  double durationSeconds);

// Runs the split dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunStereoRip(stereotools::Console& console, stereotools::ConsoleToolkit& toolkit);

// Runs it on the terminal (status 2 and a line on stderr without one).
[[nodiscard]] int RunStereoRip();

}  // namespace stereorip
