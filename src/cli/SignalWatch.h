#pragma once

#include <atomic>
#include <csignal>
#include <thread>

namespace stereotools {

// Takes the stop signals (jobs/Signals.h) on a thread of its own while it
// lives, so that the threads running jobs learn of a stop from an atomic
// rather than from a variable a signal handler writes. The stop signals are
// blocked in the thread that creates it and in every thread started after;
// the destructor puts that thread's signal mask back.
class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Returns the exit status the first stop signal asks for (128 + N), or 0.
    [[nodiscard]] int StopStatus() const;

private:
    sigset_t savedMask_;
    std::atomic<int> signal_{0};
    std::atomic<bool> finished_{false};
    std::thread waiter_;
    bool watching_ = false;  // the waiter took the signals; else their handlers do
};

}  // namespace stereotools
