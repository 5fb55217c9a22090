#include "Signals.h"

#include "UnfinishedOutputs.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace stereotools {
namespace {

// Written by the handler, read by every thread that checks for a stop.
std::atomic<int> gStopSignal{0};
// Bit N: InstallSignalHandlers gave stop signal N the handler.
std::atomic<uint64_t> gTakenStops{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only use lock-free atomics");

std::atomic<CrashStep> gCrashStep{nullptr};
static_assert(std::atomic<CrashStep>::is_always_lock_free, "the crash handler reads the step");

// Every signal whose default action ends the program without a core dump of
// a fault: each asks for an orderly stop instead.
constexpr std::array kStopSignals{SIGINT,    SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                                  SIGVTALRM, SIGXCPU, SIGPWR, SIGPROF, SIGIO,   SIGSTKFLT};
// Signals of a fault the program cannot go on from (SIGTRAP and SIGSYS come
// from a stray breakpoint or a system call a seccomp filter forbids).
constexpr std::array kCrashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP};

extern "C" void RecordStopSignal(int signal) { gStopSignal.store(signal); }

extern "C" void CleanUpAndDie(int signal) {
    RemoveUnfinishedOutputs();
    if (const CrashStep step = gCrashStep.load(); step != nullptr) step();
    // SA_RESETHAND put the default action back; SA_NODEFER lets it act now.
    raise(signal);
}

}  // namespace

void InstallSignalHandlers() {
    struct sigaction stop {};
    stop.sa_handler = RecordStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: a blocking read must return
    for (int signal : kStopSignals) {
        // A signal the program was started ignoring stays ignored: nohup,
        // or a script's background job, asks not to be stopped by it. One
        // with a handler already (a profiler's SIGPROF) keeps it.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) != 0 || (before.sa_flags & SA_SIGINFO) != 0 ||
            (before.sa_handler != SIG_DFL && before.sa_handler != RecordStopSignal))
            continue;
        if (sigaction(signal, &stop, nullptr) == 0) gTakenStops |= uint64_t{1} << signal;
    }

    struct sigaction crash {};
    crash.sa_handler = CleanUpAndDie;
    sigemptyset(&crash.sa_mask);
    crash.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int signal : kCrashSignals) sigaction(signal, &crash, nullptr);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Past a file-size limit write() must fail with EFBIG, so the job reports
    // it and removes its temporary files, instead of the signal killing us.
    sigaction(SIGXFSZ, &ignore, nullptr);
}

int PendingStopSignal() { return gStopSignal.load(); }

bool IsStopSignalTaken(int signal) {
    return signal > 0 && signal < 64 && (gTakenStops.load() & (uint64_t{1} << signal)) != 0;
}

int ExitStatusForSignal(int signal) { return 128 + signal; }

sigset_t StopSignalSet() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : kStopSignals) sigaddset(&stops, signal);
    return stops;
}

void SetCrashStep(CrashStep step) { gCrashStep.store(step); }

}  // namespace stereotools
