#include "SignalWatch.h"

#include "system/Signals.h"

#include <system_error>

#include <pthread.h>

namespace stereotools {

SignalWatch::SignalWatch() {
    const sigset_t stops = StopSignalSet();
    pthread_sigmask(SIG_BLOCK, &stops, &savedMask_);
    try {
        waiter_ = std::thread([this, stops] {
            for (;;) {
                int signal = 0;
                if (sigwait(&stops, &signal) != 0) return;
                // The destructor's own wake-up call is no stop.
                if (finished_) return;
                // Blocked, a signal the program was started ignoring still
                // comes here; it stays ignored.
                if (!IsStopSignalTaken(signal)) continue;
                signal_ = signal;
                return;
            }
        });
        watching_ = true;
    } catch (const std::system_error&) {
        // Without a thread to take them, the signals go to their handlers
        // again: a system that starts no thread runs the jobs on this one.
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    }
}

SignalWatch::~SignalWatch() {
    if (waiter_.joinable()) {
        finished_ = true;
        // A waiter that took a signal has ended by itself.
        if (signal_ == 0) pthread_kill(waiter_.native_handle(), SIGINT);
        waiter_.join();
    }
    pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
}

int SignalWatch::StopStatus() const {
    const int signal = watching_ ? signal_.load() : PendingStopSignal();
    return signal != 0 ? ExitStatusForSignal(signal) : 0;
}

}  // namespace stereotools
