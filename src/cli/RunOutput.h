#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace stereotools {

// Returns whether `fd` is a terminal that can redraw a line in place: a
// terminal whose TERM is set and not "dumb".
[[nodiscard]] bool CanRedrawLine(int fd);

// One line a run prints, without the program's name.
struct RunLine {
    std::FILE* stream = stdout;
    std::string text;
};

// Returns the progress line of a run: files finished of all, the share of
// sample bytes moved in whole percent (100 only when all are) and the speed
// in MB/s (10^6 bytes) over `seconds`, e.g. "3 of 200 files, 42%, 215.3 MB/s".
[[nodiscard]] std::string FormatProgress(std::size_t filesDone, std::size_t files, uint64_t bytesDone, uint64_t bytes,
                                         double seconds);

// What a run prints while its jobs run on several threads: whole lines on
// standard output or error, never mixed mid-line, each item's lines in the
// order of the items, and, when shown, one progress line on standard
// error, redrawn in place and cleared before any other line and at the end.
// Standard output closed by its reader (EPIPE) takes no more lines and is
// no failure of the run. All members may be called from any thread.
class RunOutput {
public:
    // `program` starts every line; `showProgress` draws the progress line
    // once the run has started.
    RunOutput(std::string program, bool showProgress);
    ~RunOutput();
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

    // Prints "PROGRAM: " and `text` as one line on `stream`.
    void Line(std::FILE* stream, const std::string& text);
    // Takes the lines of item `index` of `items` (the same count at every
    // call), and prints them once every item before it has given its own.
    void ItemLines(std::size_t index, std::size_t items, std::vector<RunLine> lines);
    // Starts the progress line of a run of `files` inputs that move `bytes`
    // sample bytes in all.
    void Start(std::size_t files, uint64_t bytes);
    // Counts `bytes` more sample bytes moved.
    void Moved(uint64_t bytes);
    // Counts `bytes` more in the run's total, or fewer for a negative number:
    // a job's own count where it differs from the planned one.
    void AdjustTotal(int64_t bytes);
    // Counts one more file finished, however it ended.
    void FileDone();
    // Prints the lines still held, in their order, past any item that never
    // gave its own (stopped before it ran), and clears the progress line for good.
    void Finish();
    // Returns the errno of the first failed write to standard output, or 0.
    [[nodiscard]] int OutputError() const;

private:
    // Draws the progress line when it is due or `now`; the caller holds mutex_.
    void DrawLocked(bool now);
    void ClearLocked();
    void LineLocked(std::FILE* stream, const std::string& text);

    const std::string program_;
    const bool showProgress_;
    std::atomic<uint64_t> bytesDone_{0};
    std::atomic<int64_t> bytes_{0};
    std::atomic<std::size_t> filesDone_{0};
    mutable std::mutex mutex_;
    bool started_ = false;
    std::size_t files_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool shown_ = false;  // the progress line is on the screen
    bool finished_ = false;
    int outputError_ = 0;
    bool outputClosed_ = false;  // standard output's reader has gone
    std::vector<std::vector<RunLine>> heldLines_;
    std::vector<bool> itemDone_;
    std::size_t nextItem_ = 0;  // the first item whose lines are not printed
};

}  // namespace stereotools
