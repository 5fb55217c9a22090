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

// Returns the number of frames `info` holds: dataSize over the bytes of one
// frame, rounded to the nearest integer, a half to the even one.
[[nodiscard]] uint64_t CountFrames(const wavcore::WaveFormatInfo& info);

// Prints the FILE DATA panel from the cursor on.
void ShowFileData(wavcore::Console& console, const wavcore::WaveFormatInfo& info, uint64_t frameCount,
                  double durationSeconds);

// Runs the split dialogue and job on `console`. Returns the exit status.
[[nodiscard]] int RunStereoRip(wavcore::Console& console, wavcore::ConsoleToolkit& toolkit);

// Runs it on the terminal (status 2 and a line on stderr without one).
[[nodiscard]] int RunStereoRip();

}  // namespace stereorip
