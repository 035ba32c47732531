// Child processes for the end-to-end tiers: programs run to completion with
// a time bound, or started in the background and later stopped by their
// process id. Nothing here kills by name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qortest {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
    double seconds = 0;
    bool timedOut = false;
};

// QOR_BUILD_DIR when given, else three folders above this test binary.
inline std::string buildDir() {
    const char* b = getenv("QOR_BUILD_DIR");
    if (b && *b)
        return b;
    char self[4096] = {0};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return ".";
    std::string path = self;
    for (int i = 0; i < 3; ++i)
        path = path.substr(0, path.rfind('/'));
    return path;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline bool writeFile(const std::string& path, const std::string& data, mode_t mode = 0644) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out)
            return false;
    }
    return chmod(path.c_str(), mode) == 0;
}

namespace detail {

// In the child: applies "NAME=VALUE" entries (an entry "NAME" alone unsets
// NAME), then execs argv. Never returns.
[[noreturn]] inline void execWith(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& env) {
    for (const std::string& e : env) {
        size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

inline int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace detail

// Runs argv with standard input from /dev/null and both outputs captured;
// a program still running after timeoutSeconds is killed (timedOut set).
inline RunResult runProgram(const std::vector<std::string>& argv, double timeoutSeconds,
                            const std::vector<std::string>& env = {}) {
    RunResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        detail::execWith(argv, env);
    }
    close(out[1]);
    close(err[1]);
    bool outOpen = true, errOpen = true;
    while (pid > 0 && (outOpen || errOpen)) {
        double left =
            timeoutSeconds -
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        struct pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0},
                                {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left * 1000) + 1) <= 0)
            continue;
        char chunk[4096];
        for (int i = 0; i < 2; ++i) {
            bool& open = i == 0 ? outOpen : errOpen;
            if (!open || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(i == 0 ? out[0] : err[0], chunk, sizeof chunk);
            if (n <= 0)
                open = false;
            else
                (i == 0 ? r.out : r.err).append(chunk, static_cast<size_t>(n));
        }
    }
    close(out[0]);
    close(err[0]);
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = detail::decodeStatus(status);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

// Starts argv in the background with both outputs appended to logPath.
inline pid_t startProgram(const std::vector<std::string>& argv, const std::string& logPath,
                          const std::vector<std::string>& env = {}) {
    pid_t pid = fork();
    if (pid == 0) {
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(log, 1);
        dup2(log, 2);
        detail::execWith(argv, env);
    }
    return pid;
}

// True when the child pid has ended (and is reaped) within seconds.
inline bool waitExit(pid_t pid, double seconds, int* status = nullptr) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int s = 0;
        pid_t done = waitpid(pid, &s, WNOHANG);
        if (done == pid || done < 0) {
            if (status)
                *status = done == pid ? detail::decodeStatus(s) : -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Stops a child started by startProgram: SIGTERM, then SIGKILL after the
// grace period.
inline void stopProgram(pid_t pid, double graceSeconds = 10) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    if (!waitExit(pid, graceSeconds)) {
        kill(pid, SIGKILL);
        waitExit(pid, 5);
    }
}

// The lines of text, without their line ends.
inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

}  // namespace qortest
