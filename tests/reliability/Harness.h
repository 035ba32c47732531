// Running the programs under test with a time limit, capturing their output,
// and reading what the exit probe saw of their descriptors and CPU time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor::reliability {

struct RunResult {
    int status = -1;      // exit status, 128 + signal number, or -1 when killed at the limit
    bool killed = false;  // the time limit ran out
    std::string out, err;
    double seconds = 0;
};

// Runs argv (searched on PATH) with standard input from /dev/null, in a process
// group of its own so that the whole group can be killed at the limit.
inline RunResult runProcess(const std::vector<std::string>& argv, double limitSeconds,
                            const std::vector<std::string>& env = {}) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (const auto& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    auto deadline = start + std::chrono::milliseconds(static_cast<long long>(limitSeconds * 1000));
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(-pid, SIGKILL);
            result.killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[8192];
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                (k == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.killed)
        result.status = -1;
    else if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}

// A private folder under /tmp, removed with its content.
class TempDir {
  public:
    explicit TempDir(const std::string& tag) {
        std::string pattern = "/tmp/qor-rel-" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            throw std::runtime_error("mkdtemp failed");
        m_Path = pattern;
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + m_Path + "'";
        if (std::system(cmd.c_str()) != 0) {
            // Nothing more to do; the folder is only left behind.
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return m_Path + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
        return p;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    std::string m_Path;
};

// The line the exit probe wrote: descriptors at load and at exit, CPU and wall time.
struct ProbeReport {
    bool present = false;
    std::set<int> startFds, endFds;
    long long cpuUs = 0, wallUs = 0;

    // Descriptors open at exit that were not open at load.
    std::set<int> leaked() const {
        std::set<int> out;
        for (int fd : endFds)
            if (!startFds.count(fd))
                out.insert(fd);
        return out;
    }
};

inline std::set<int> parseFdList(const std::string& text) {
    std::set<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.insert(std::atoi(item.c_str()));
    return out;
}

inline ProbeReport parseProbe(const std::string& line) {
    ProbeReport r;
    std::stringstream in(line);
    std::string word;
    int seen = 0;
    while (in >> word) {
        size_t eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "fds_start")
            r.startFds = parseFdList(value), ++seen;
        else if (key == "fds_end")
            r.endFds = parseFdList(value), ++seen;
        else if (key == "cpu_us")
            r.cpuUs = std::atoll(value.c_str()), ++seen;
        else if (key == "wall_us")
            r.wallUs = std::atoll(value.c_str()), ++seen;
    }
    r.present = seen == 4;
    return r;
}

inline std::string joinFds(const std::set<int>& fds) {
    std::string out;
    for (int fd : fds)
        out += (out.empty() ? "" : ",") + std::to_string(fd);
    return out;
}

// True when the text holds a sanitizer or runtime report.
inline bool hasRuntimeReport(const std::string& err) {
    return err.find("AddressSanitizer") != std::string::npos ||
           err.find("runtime error:") != std::string::npos ||
           err.find("LeakSanitizer") != std::string::npos ||
           err.find("terminate called") != std::string::npos;
}

// ASAN_OPTIONS for a program that the exit probe is preloaded into: the probe
// comes before the sanitizer runtime in the library list.
inline std::string asanOptionsWithProbe() {
    const char* old = std::getenv("ASAN_OPTIONS");
    std::string value = old && *old ? std::string(old) + ":" : "";
    return "ASAN_OPTIONS=" + value + "verify_asan_link_order=0";
}

}  // namespace qor::reliability
