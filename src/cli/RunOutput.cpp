#include "RunOutput.h"

#include "Messages.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

namespace stereotools {
namespace {

// The progress line is redrawn at most this often, so a fast run spends
// its time on the files rather than on the terminal.
constexpr std::chrono::milliseconds kRedrawInterval{100};

}  // namespace

std::string FormatProgress(std::size_t filesDone, std::size_t files, uint64_t bytesDone, uint64_t bytes,
                           double seconds) {
    uint64_t percent = 100;
    if (bytesDone < bytes) {
        // Rounded down, so 100% means done.
        percent = static_cast<uint64_t>(static_cast<long double>(bytesDone) * 100 / static_cast<long double>(bytes));
    }
    const double megabytesPerSecond = seconds > 0 ? static_cast<double>(bytesDone) / 1e6 / seconds : 0.0;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f", megabytesPerSecond);
    return CliText(CliMessage::Progress,
                   {std::to_string(filesDone), std::to_string(files), std::to_string(percent), speed});
}

RunOutput::RunOutput(std::string program, bool showProgress)
    : program_(std::move(program)), showProgress_(showProgress) {
    winsize size {};
    if (showProgress_ && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) columns_ = size.ws_col;
}

RunOutput::~RunOutput() { Finish(); }

void RunOutput::Line(std::FILE* stream, const std::string& text) {
    const std::lock_guard lock(mutex_);
    ClearLocked();
    const std::string line = program_ + ": " + text + "\n";
    const bool written = std::fputs(line.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    if (!written && stream == stdout && outputError_ == 0) outputError_ = errno != 0 ? errno : EIO;
    DrawLocked(true);
}

void RunOutput::Start(std::size_t files, uint64_t bytes) {
    const std::lock_guard lock(mutex_);
    files_ = files;
    bytes_ = static_cast<int64_t>(bytes);
    start_ = std::chrono::steady_clock::now();
    started_ = true;
    DrawLocked(true);
}

void RunOutput::Moved(uint64_t bytes) {
    bytesDone_ += bytes;
    if (!showProgress_) return;
    const std::lock_guard lock(mutex_);
    DrawLocked(false);
}

void RunOutput::AdjustTotal(int64_t bytes) { bytes_ += bytes; }

void RunOutput::FileDone() {
    ++filesDone_;
    if (!showProgress_) return;
    const std::lock_guard lock(mutex_);
    DrawLocked(true);
}

void RunOutput::Finish() {
    const std::lock_guard lock(mutex_);
    ClearLocked();
    finished_ = true;
}

int RunOutput::OutputError() const {
    const std::lock_guard lock(mutex_);
    return outputError_;
}

void RunOutput::DrawLocked(bool now) {
    if (!showProgress_ || !started_ || finished_) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = time;
    const double seconds = std::chrono::duration<double>(time - start_).count();
    std::string line =
        program_ + ": " +
        FormatProgress(filesDone_, files_, bytesDone_, static_cast<uint64_t>(std::max<int64_t>(bytes_, 0)), seconds);
    // A shorter line than the last one is padded over its end.
    // A line as wide as the terminal would wrap, and "\r" would return to
    // its second row only.
    if (columns_ > 1 && line.size() >= columns_) line.resize(columns_ - 1);
    const std::size_t width = std::max(line.size(), shownWidth_);
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width), line.c_str());
    std::fflush(stderr);
    shownWidth_ = line.size();
}

void RunOutput::ClearLocked() {
    if (shownWidth_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shownWidth_), "");
    std::fflush(stderr);
    shownWidth_ = 0;
}

}  // namespace stereotools
