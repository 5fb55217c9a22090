#pragma once

#include <cstddef>
#include <string_view>

namespace stereotools {

// What puts the terminal back when the program crashes: the terminal's modes
// and a text to write, kept ready while the dialogue runs, for the crash
// step the signal handler takes (SetCrashStep).

// Most bytes the crash handler writes to put the terminal back.
constexpr std::size_t kMaxCrashRestoreBytes = 512;

// Keeps the modes of the terminal on standard input for the crash handler to
// put back. Returns false, and keeps nothing, when they cannot be read.
bool SaveTerminalModes();
// Sets the bytes the crash handler writes to standard output before the
// program dies: the first kMaxCrashRestoreBytes of `text`.
void SetCrashRestoreText(std::string_view text);
// Leaves the crash handler nothing to write.
void ClearCrashRestoreText();

}  // namespace stereotools
