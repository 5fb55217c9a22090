#pragma once

#include "ByteSource.h"
#include "WaveFormat.h"

namespace stereotools {

struct HeaderResult {
    WaveHeaderProblem problem = WaveHeaderProblem::None;
    WaveFormatInfo info;
    explicit operator bool() const { return problem == WaveHeaderProblem::None; }
};

// Reads and checks the RIFF/WAVE header of `source`: the form type, the
// format (PCM or float, extensible resolved), `requiredChannels` (1 or 2), the
// bit depth (1..64) and the sample rate (above 0), in that order. Walks the
// chunks to find "fmt " and "data". Returns the first failing check, or None
// with `info` filled in (`info` is valid only then).
[[nodiscard]] HeaderResult ReadWaveHeader(const ByteSource& source, int requiredChannels);

}  // namespace stereotools
