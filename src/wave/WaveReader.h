#pragma once

#include "ByteSource.h"
#include "WaveFormat.h"

#include <functional>

namespace stereotools {

struct HeaderResult {
    WaveHeaderProblem problem = WaveHeaderProblem::None;
    WaveFormatInfo info;
    explicit operator bool() const { return problem == WaveHeaderProblem::None; }
};

// Says whether the user has asked to stop; true ends a long read early.
using StopCheck = std::function<bool()>;

// Reads and checks the RIFF/WAVE header of `source`: the form type, the
// format (PCM or float, extensible resolved), `requiredChannels` (1 or 2), the
// bit depth (1..64) and the sample rate (above 0), in that order. Walks the
// chunks to find "fmt " and "data", reading their headers a block at a time,
// and refuses as NotWave a file that has not shown both within more chunks
// than any real file holds. Returns the first failing check, or None with
// `info` filled in (`info` is valid only then), or Stopped when
// `stopRequested` (asked before each block is read) says so.
[[nodiscard]] HeaderResult ReadWaveHeader(const ByteSource& source, int requiredChannels,
                                          const StopCheck& stopRequested = {});

}  // namespace stereotools
