#include "WaveFormat.h"

#include "system/Text.h"

namespace stereotools {

namespace {

// The texts the tools show, one per refusal; WrongChannelCount has two
// wordings and is handled apart.
constexpr TextEntry<WaveHeaderProblem> kProblemTexts[] = {
    {WaveHeaderProblem::NotWave, "This is not a Wave file  "},
    {WaveHeaderProblem::NotPcmOrFloat, "This is not a PCM or float format Wave file  "},
    {WaveHeaderProblem::UnsupportedBitDepth, "This Wave file has an unsupported bit depth  "},
    {WaveHeaderProblem::InvalidSampleRate, "This Wave file has an invalid sample rate  "},
};

constexpr TextEntry<CompatibilityProblem> kCompatibilityTexts[] = {
    {CompatibilityProblem::SampleRatesDiffer, "These two files have incompatible sample rates  "},
    {CompatibilityProblem::BitDepthsDiffer, "These two files have incompatible bit depths  "},
    {CompatibilityProblem::FormatsDiffer, "These two files have incompatible audio formats  "},
};

}  // namespace

std::string HeaderProblemMessage(WaveHeaderProblem problem, int requiredChannels) {
    if (problem == WaveHeaderProblem::WrongChannelCount) {
        return requiredChannels == 1 ? "This is not a mono Wave file  " : "This is not a stereo Wave file  ";
    }
    return TextOf(kProblemTexts, problem);
}

CompatibilityProblem CheckCompatibility(const WaveFormatInfo& left, const WaveFormatInfo& right) {
    if (left.sampleRate != right.sampleRate) return CompatibilityProblem::SampleRatesDiffer;
    if (left.bitsPerSample != right.bitsPerSample) return CompatibilityProblem::BitDepthsDiffer;
    if (left.formatTag != right.formatTag) return CompatibilityProblem::FormatsDiffer;
    return CompatibilityProblem::None;
}

CompatibilityProblem CheckCompatibility(std::span<const WaveFormatInfo> inputs) {
    for (const WaveFormatInfo& input : inputs) {
        if (const CompatibilityProblem problem = CheckCompatibility(inputs.front(), input);
            problem != CompatibilityProblem::None) {
            return problem;
        }
    }
    return CompatibilityProblem::None;
}

std::string CompatibilityProblemMessage(CompatibilityProblem problem) { return TextOf(kCompatibilityTexts, problem); }

}  // namespace stereotools
