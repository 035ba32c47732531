#include "ProcessRunner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>

namespace qorbench {

namespace {

double toSeconds(const timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double toSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// In the child only: a failed redirection ends it before exec.
void redirectOrDie(const std::string& path, int fd, int flags) {
    if (path.empty())
        return;
    int opened = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (opened < 0 || dup2(opened, fd) < 0)
        _exit(127);
}

}  // namespace

double monotonicNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return toSeconds(t);
}

double realtimeNow() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return toSeconds(t);
}

void sleepUntilSecondOffset(double offsetSeconds) {
    double now = realtimeNow();
    double target = std::floor(now) + 1.0 + offsetSeconds;
    timespec at{};
    at.tv_sec = static_cast<time_t>(std::floor(target));
    at.tv_nsec = static_cast<long>((target - std::floor(target)) * 1e9);
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

ChildUsage runChild(const std::vector<std::string>& argv, const Redirect& redirect) {
    ChildUsage usage;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    usage.startRealtime = realtimeNow();
    double start = monotonicNow();
    pid_t pid = fork();
    if (pid < 0)
        return usage;
    if (pid == 0) {
        redirectOrDie(redirect.stdinPath, 0, O_RDONLY);
        redirectOrDie(redirect.stdoutPath, 1, O_WRONLY | O_CREAT | O_TRUNC);
        redirectOrDie(redirect.stderrPath, 2, O_WRONLY | O_CREAT | O_TRUNC);
        execvp(args[0], args.data());
        _exit(127);
    }

    int status = 0;
    rusage ru{};
    pid_t reaped;
    do {
        reaped = wait4(pid, &status, 0, &ru);
    } while (reaped < 0 && errno == EINTR);
    usage.endMonotonic = monotonicNow();
    usage.wallSeconds = usage.endMonotonic - start;
    if (reaped != pid)
        return usage;
    if (WIFEXITED(status))
        usage.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        usage.status = 128 + WTERMSIG(status);
    usage.userSeconds = toSeconds(ru.ru_utime);
    usage.systemSeconds = toSeconds(ru.ru_stime);
    usage.maxRssKiB = ru.ru_maxrss;  // Linux reports kilobytes
    return usage;
}

}  // namespace qorbench
