#pragma once

#include <csignal>
#include <cstddef>
#include <string_view>

namespace stereotools {

// Most bytes the crash handler writes to put the terminal back.
constexpr std::size_t kMaxCrashRestoreBytes = 512;

// Installs the handlers for the stop signals SIGINT, SIGTERM, SIGHUP and
// SIGQUIT (they only record the signal) and for the crash signals (they put
// the terminal back, then die of the same signal), and ignores SIGPIPE and
// SIGXFSZ so that failed writes come back as errors.
void InstallSignalHandlers();
// Returns the stop signal that arrived last, or 0.
[[nodiscard]] int PendingStopSignal();
// Returns the exit status for a stop signal: 128 + its number.
[[nodiscard]] int ExitStatusForSignal(int signal);
// Returns the set of the stop signals, for blocking them around a wait.
[[nodiscard]] sigset_t StopSignalSet();

// Keeps the modes of the terminal on standard input for the crash handler to
// put back. Returns false, and keeps nothing, when they cannot be read.
bool SaveTerminalModes();
// Sets the bytes the crash handler writes to standard output before the
// program dies: the first kMaxCrashRestoreBytes of `text`.
void SetCrashRestoreText(std::string_view text);
// Leaves the crash handler nothing to write.
void ClearCrashRestoreText();

}  // namespace stereotools
