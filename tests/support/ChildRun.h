#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

namespace stereotools {

// The signals of a fault, on which the crash handler runs.
inline const std::vector<int> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP};

// What a child process did: its standard output and how it ended.
struct ChildRun {
    std::string output;
    int status = 0;
};

// Runs `body` in a child process whose standard output is a pipe; the child
// exits with what `body` returns, unless a signal ends it first.
template <typename Body>
ChildRun RunInChild(Body body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        _exit(body());
    }
    close(pipeEnds[1]);
    ChildRun run;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    waitpid(child, &run.status, 0);
    return run;
}

}  // namespace stereotools
