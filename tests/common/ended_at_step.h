// Ending a process at a chosen platform step (natively, with fork): the child counts
// every step the fault hook is told of (each write, create, rename, time, journal write
// and removal, on any thread) and kills itself at the nth, as a crash or a kill -9 there
// would end it.
#pragma once

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/capture.h"
#include "platform/fault.h"

namespace qm::test {

struct StepCount {
    int kill_at = 0;
    int taken = 0;
};

inline void count_or_die(plat::fault::Op, void* context) {
    StepCount& s = *static_cast<StepCount*>(context);
    if (++s.taken == s.kill_at) ::kill(::getpid(), SIGKILL);
}

// Runs body in a child that is killed at its step n; false when it ran to its end.
template <typename Body>
bool ended_at_step(int n, Body&& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        StepCount steps{n, 0};
        plat::fault::set_hook(&count_or_die, &steps);
        NotifyCapture quiet;
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace qm::test
#endif
