#pragma once

#include <csignal>

namespace stereotools {

// Installs the handlers for the stop signals, every signal that would end
// the program without a fault (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
// SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGPWR, SIGPROF, SIGIO, SIGSTKFLT):
// they only record the signal, and one the program was started ignoring
// stays ignored. Installs those for the crash signals (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP): they remove the unfinished
// outputs (RemoveUnfinishedOutputs), take the crash step (SetCrashStep),
// then die of the same signal. Ignores SIGPIPE and SIGXFSZ so that failed writes come back
// as errors. Any thread may run while a handler does.
void InstallSignalHandlers();
// Returns the stop signal that arrived last, or 0. Any thread may ask.
[[nodiscard]] int PendingStopSignal();
// Returns whether InstallSignalHandlers made `signal` a stop: false for one
// the program was started ignoring, which a thread that waits for the stop
// signals (sigwait) must then pass over.
[[nodiscard]] bool IsStopSignalTaken(int signal);
// Returns the exit status for a stop signal: 128 + its number.
[[nodiscard]] int ExitStatusForSignal(int signal);
// Returns the set of the stop signals, for blocking them around a wait
// (those the program was started ignoring among them).
[[nodiscard]] sigset_t StopSignalSet();

// A step the crash handler takes after removing the unfinished outputs,
// before the program dies: it must be async-signal-safe.
using CrashStep = void (*)();
// Makes `step` the crash step (nullptr for none); the last one set counts.
void SetCrashStep(CrashStep step);

}  // namespace stereotools
