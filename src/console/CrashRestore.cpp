#include "CrashRestore.h"

#include "system/Signals.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

namespace stereotools {
namespace {

// What the crash handler writes to put the terminal back: built while the
// terminal is open, so the handler itself only calls tcsetattr and write.
char gCrashText[kMaxCrashRestoreBytes];
volatile std::sig_atomic_t gCrashLength = 0;
struct termios gSavedTermios;
volatile std::sig_atomic_t gHaveSavedTermios = 0;

void RestoreTerminal() {
    if (gHaveSavedTermios) tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTermios);
    std::size_t done = 0;
    const auto length = static_cast<std::size_t>(gCrashLength);
    while (done < length) {
        const ssize_t n = write(STDOUT_FILENO, gCrashText + done, length - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

bool SaveTerminalModes() {
    SetCrashStep(RestoreTerminal);
    gHaveSavedTermios = 0;
    if (tcgetattr(STDIN_FILENO, &gSavedTermios) != 0) return false;
    gHaveSavedTermios = 1;
    return true;
}

void SetCrashRestoreText(std::string_view text) {
    SetCrashStep(RestoreTerminal);
    // A crash while the text is half copied must find no text rather than a torn one.
    gCrashLength = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const std::size_t length = std::min(text.size(), sizeof gCrashText);
    std::memcpy(gCrashText, text.data(), length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    gCrashLength = static_cast<std::sig_atomic_t>(length);
}

void ClearCrashRestoreText() { gCrashLength = 0; }

}  // namespace stereotools
