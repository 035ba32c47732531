// Starting a program and collecting what the kernel accounted to it: exit
// status, wall time, CPU time and peak resident set, taken from wait4 of the
// direct child (so nothing of the runner itself is counted).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qorbench {

struct ChildUsage {
    int status = -1;           // exit status, 128 + signal, -1 when it could not start
    double startRealtime = 0;  // CLOCK_REALTIME at the fork, in seconds
    double wallSeconds = 0;    // monotonic, fork to reaped
    double endMonotonic = 0;   // CLOCK_MONOTONIC when it was reaped, in seconds
    double userSeconds = 0;
    double systemSeconds = 0;
    long maxRssKiB = 0;
};

struct Redirect {
    std::string stdinPath = "/dev/null";
    std::string stdoutPath;  // empty: inherited
    std::string stderrPath;  // empty: inherited
};

// Forks, execs argv[0] (a path, or searched on PATH) with the redirections,
// and waits for it. Returns its usage; status -1 when fork failed, 127 when
// exec failed.
ChildUsage runChild(const std::vector<std::string>& argv, const Redirect& redirect);

// Sleeps until `offsetSeconds` past the next whole second of CLOCK_REALTIME.
void sleepUntilSecondOffset(double offsetSeconds);

double realtimeNow();
double monotonicNow();

}  // namespace qorbench
