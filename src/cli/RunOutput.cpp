#include "RunOutput.h"

#include "Messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

namespace stereotools {
namespace {

// The progress line is redrawn at most this often, so a fast run spends
// its time on the files rather than on the terminal.
constexpr std::chrono::milliseconds kRedrawInterval{100};
// Erases from the cursor to the end of its row (EL, "erase in line").
constexpr const char* kEraseToEnd = "\x1B[K";

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

bool CanRedrawLine(int fd) {
    const char* term = std::getenv("TERM");
    return ::isatty(fd) == 1 && term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

RunOutput::RunOutput(std::string program, bool showProgress)
    : program_(std::move(program)), showProgress_(showProgress) {}

RunOutput::~RunOutput() { Finish(); }

void RunOutput::Line(std::FILE* stream, const std::string& text) {
    const std::lock_guard lock(mutex_);
    LineLocked(stream, text);
}

void RunOutput::LineLocked(std::FILE* stream, const std::string& text) {
    if (stream == stdout && outputClosed_) return;
    ClearLocked();
    const std::string line = program_ + ": " + text + "\n";
    errno = 0;
    const bool written = std::fputs(line.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    if (!written && stream == stdout) {
        // A reader that has read all it wants (`| head -1`) is no failure;
        // the jobs go on, and the run's status is theirs.
        if (errno == EPIPE) {
            outputClosed_ = true;
        } else if (outputError_ == 0) {
            outputError_ = errno != 0 ? errno : EIO;
        }
    }
    DrawLocked(true);
}

void RunOutput::ItemLines(std::size_t index, std::size_t items, std::vector<RunLine> lines) {
    const std::lock_guard lock(mutex_);
    if (heldLines_.size() < items) {
        heldLines_.resize(items);
        itemDone_.resize(items, false);
    }
    if (index >= heldLines_.size()) return;
    heldLines_[index] = std::move(lines);
    itemDone_[index] = true;
    for (; nextItem_ < heldLines_.size() && itemDone_[nextItem_]; ++nextItem_) {
        for (const RunLine& line : heldLines_[nextItem_]) LineLocked(line.stream, line.text);
        heldLines_[nextItem_].clear();
    }
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
    for (; nextItem_ < heldLines_.size(); ++nextItem_) {
        for (const RunLine& line : heldLines_[nextItem_]) LineLocked(line.stream, line.text);
        heldLines_[nextItem_].clear();
    }
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
    // Read at every redraw, so a resized window gets lines that fit it.
    winsize size{};
    const std::size_t columns = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    const double seconds = std::chrono::duration<double>(time - start_).count();
    std::string line =
        program_ + ": " +
        FormatProgress(filesDone_, files_, bytesDone_, static_cast<uint64_t>(std::max<int64_t>(bytes_, 0)), seconds);
    // A line as wide as the terminal would wrap, and "\r" would return to
    // its second row only. What a longer line left behind is erased.
    if (columns > 1 && line.size() >= columns) line.resize(columns - 1);
    std::fprintf(stderr, "\r%s%s", line.c_str(), kEraseToEnd);
    std::fflush(stderr);
    shown_ = true;
}

void RunOutput::ClearLocked() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%s", kEraseToEnd);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace stereotools
