#include "WaveFormat.h"

namespace stereotools {

namespace {

struct ProblemText {
    WaveHeaderProblem problem;
    const char* text;
};

// The texts the tools show, one per refusal; WrongChannelCount has two
// wordings and is handled apart.
constexpr ProblemText kProblemTexts[] = {
    {WaveHeaderProblem::NotWave, "This is not a Wave file  "},
    {WaveHeaderProblem::NotPcmOrFloat, "This is not a PCM or float format Wave file  "},
    {WaveHeaderProblem::UnsupportedBitDepth, "This Wave file has an unsupported bit depth  "},
    {WaveHeaderProblem::InvalidSampleRate, "This Wave file has an invalid sample rate  "},
};

}  // namespace

std::string HeaderProblemMessage(WaveHeaderProblem problem, int requiredChannels) {
    if (problem == WaveHeaderProblem::WrongChannelCount) {
        return requiredChannels == 1 ? "This is not a mono Wave file  " : "This is not a stereo Wave file  ";
    }
    for (const auto& entry : kProblemTexts) {
        if (entry.problem == problem) return entry.text;
    }
    return {};
}

}  // namespace stereotools
