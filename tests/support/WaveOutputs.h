#pragma once

#include "support/TestWave.h"
#include "wave/WaveWriter.h"

#include <cstdint>
#include <span>

namespace testwave {

// Writes `samples` right behind the header of `output` as the jobs do: at
// their place, then the end of the samples set behind them.
inline stereotools::IoError WriteSamplesBehindHeader(stereotools::WaveOutput& output,
                                                     std::span<const uint8_t> samples) {
    if (stereotools::IoError error = stereotools::WriteWaveSamplesAt(output, 0, samples)) {
        output.Discard();
        return error;
    }
    return stereotools::EndWaveSamples(output, samples.size());
}

// Returns the header WriteWaveHeader writes for `info` in `container`, read
// back from an output committed with no samples; empty if it could not be written.
inline Bytes WrittenHeader(const stereotools::WaveFormatInfo& info, stereotools::WaveContainer container) {
    TempFolder folder;
    const std::string path = folder.Path("header.wav");
    auto opened = stereotools::OpenWaveOutput(path, stereotools::kRf64HeaderBytes);
    if (!opened) return {};
    if (stereotools::WriteWaveHeader(opened.output, info, {}, container)) return {};
    if (stereotools::EndWaveSamples(opened.output, 0)) return {};
    if (stereotools::CommitWaveOutput(opened.output)) return {};
    return folder.Read("header.wav").value_or(Bytes{});
}

// Returns the header WriteWaveHeader writes for `info` in the container LayOutWave chooses.
inline Bytes WrittenHeader(const stereotools::WaveFormatInfo& info) {
    return WrittenHeader(info, stereotools::LayOutWave(info).container);
}

}  // namespace testwave
