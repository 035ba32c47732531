// Runs a program for a test: argument vector, environment changes, standard
// input (bytes, a descriptor, or /dev/null), working directory, its own
// process group or session, and a deadline after which the whole group is
// killed. Standard output and standard error are read with poll, so a
// program that fills both pipes never stalls the test.
//
// The child only makes system calls between the fork and the exec (besides
// a hook the caller gives), since a test may have threads running: every
// string the child needs is built before the fork.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace qor::proc {

// Where the child stands among process groups.
enum class Group {
    Inherit,  // the test's own group; the deadline kills the child alone
    Own,      // a new process group led by the child
    Session,  // a new session (and group) led by the child, without a terminal
};

struct Options {
    std::vector<std::string> argv;  // argv[0] a path, or a name looked up on PATH
    bool searchPath = false;        // look argv[0] up on PATH
    // "NAME=VALUE" sets or overrides NAME; "NAME" alone removes it.
    std::vector<std::string> env;
    std::optional<std::string> input;  // bytes for standard input, through a pipe
    int stdinFd =
        -1;  // else this descriptor as standard input (the caller keeps it); else /dev/null
    std::string workDir;  // empty: the test's own
    Group group = Group::Own;
    // Runs in the child after its descriptors, group and directory are set,
    // just before the exec; if it returns, the exec follows.
    std::function<void()> inChild;
    // When set, standard output and standard error are appended to this file
    // instead of being captured.
    std::string logPath;
};

struct Result {
    int status = -1;        // exit status, 128 + signal, -1 when killed at the deadline
    bool timedOut = false;  // the deadline ran out and the group was killed
    int exitCode = -1;      // the exit status, -1 when it did not exit
    int termSignal = 0;     // the signal that ended it, 0 when it exited
    std::string out, err;
    // For each newline of `out`, the seconds from the start of collection
    // until it was read.
    std::vector<double> outLineSeconds;
    double seconds = 0;  // wall time from the start to the reaping
    bool started = false;
};

// The build tree that holds the programs under test: QOR_BUILD_DIR when
// given, else three folders above this test binary.
inline std::string buildDir() {
    const char* b = ::getenv("QOR_BUILD_DIR");
    if (b && *b)
        return b;
    char self[4096] = {0};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return ".";
    std::string path = self;
    for (int i = 0; i < 3; ++i)
        path = path.substr(0, path.rfind('/'));
    return path;
}

// Exit status, or 128 + signal, of a wait status.
inline int decodeStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

// True when child `pid` has ended and is reaped within `seconds`; its
// decoded status goes to `status` (-1 when it was not our child).
inline bool waitExit(pid_t pid, double seconds, int* status = nullptr) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int s = 0;
        pid_t done = ::waitpid(pid, &s, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            if (status)
                *status = done == pid ? decodeStatus(s) : -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// SIGTERM to `pid` (its group when `group`), SIGKILL after the grace
// period; reaps it.
inline void stopProcess(pid_t pid, double graceSeconds = 10, bool group = false) {
    if (pid <= 0)
        return;
    if (!group || ::kill(-pid, SIGTERM) != 0)
        ::kill(pid, SIGTERM);
    if (!waitExit(pid, graceSeconds)) {
        if (!group || ::kill(-pid, SIGKILL) != 0)
            ::kill(pid, SIGKILL);
        waitExit(pid, 5);
    }
}

namespace detail {

// A copy of the test's environment with the changes applied.
inline std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> all;
    for (char** e = environ; e && *e; ++e)
        all.emplace_back(*e);
    for (const std::string& change : changes) {
        std::string name = change.substr(0, change.find('='));
        for (auto it = all.begin(); it != all.end();)
            it = it->compare(0, name.size() + 1, name + "=") == 0 ? all.erase(it) : it + 1;
        if (change.find('=') != std::string::npos)
            all.push_back(change);
    }
    return all;
}

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

inline void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace detail

// A started child. Destroying it kills (the group of) a child still
// running and reaps it.
class Process {
  public:
    explicit Process(const Options& options) { start(options); }
    Process(Process&& other) noexcept { *this = std::move(other); }
    Process& operator=(Process&& other) noexcept {
        if (this != &other) {
            kill();
            m_Pid = std::exchange(other.m_Pid, -1);
            m_In = std::exchange(other.m_In, -1);
            m_Out = std::exchange(other.m_Out, -1);
            m_Err = std::exchange(other.m_Err, -1);
            m_Group = other.m_Group;
            m_Input = std::move(other.m_Input);
            m_Start = other.m_Start;
        }
        return *this;
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { kill(); }

    bool started() const { return m_Pid > 0; }
    pid_t pid() const { return m_Pid; }
    // The read ends of the captured outputs (-1 with a log file, or once
    // collected); the caller may read them itself, as a line protocol.
    int outFd() const { return m_Out; }
    int errFd() const { return m_Err; }

    // Sends `sig` to the child's group (or the child alone in the test's group).
    void signal(int sig) const {
        if (m_Pid <= 0)
            return;
        if (m_Group == Group::Inherit || ::kill(-m_Pid, sig) != 0)
            ::kill(m_Pid, sig);
    }

    // Feeds the input, collects both outputs until they close and reaps the
    // child; at `limitSeconds` from now the group is killed and the result
    // marked timed out.
    Result finish(double limitSeconds) {
        Result r;
        r.started = m_Pid > 0;
        auto begin = std::chrono::steady_clock::now();
        auto deadline =
            begin + std::chrono::milliseconds(static_cast<long long>(limitSeconds * 1000));
        auto msLeft = [&deadline] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                .count();
        };
        size_t written = 0;
        while (m_Pid > 0 && (m_In >= 0 || m_Out >= 0 || m_Err >= 0)) {
            long long left = msLeft();
            if (left <= 0) {
                r.timedOut = true;
                break;
            }
            pollfd fds[3] = {{m_In, POLLOUT, 0}, {m_Out, POLLIN, 0}, {m_Err, POLLIN, 0}};
            if (::poll(fds, 3, static_cast<int>(left)) <= 0)
                continue;
            if (m_In >= 0 && fds[0].revents) {
                if (!writeInput(written))
                    detail::closeFd(m_In);
            }
            for (int k = 1; k < 3; ++k) {
                int& fd = k == 1 ? m_Out : m_Err;
                if (fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char buffer[8192];
                ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    detail::closeFd(fd);
                    continue;
                }
                (k == 1 ? r.out : r.err).append(buffer, static_cast<size_t>(n));
                if (k == 1) {
                    double at =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin)
                            .count();
                    for (ssize_t i = 0; i < n; ++i)
                        if (buffer[i] == '\n')
                            r.outLineSeconds.push_back(at);
                }
            }
        }
        detail::closeFd(m_In);
        detail::closeFd(m_Out);
        detail::closeFd(m_Err);
        // Both outputs closed: the child may still run on to the deadline.
        int status = 0;
        if (m_Pid > 0 && !r.timedOut) {
            long long left = msLeft();
            if (!reap(left > 0 ? left / 1000.0 : 0, &status))
                r.timedOut = true;
        }
        if (m_Pid > 0 && r.timedOut) {
            signal(SIGKILL);
            reap(-1, &status);
        }
        r.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
        if (!r.started)
            return r;
        if (WIFEXITED(status))
            r.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            r.termSignal = WTERMSIG(status);
        r.status = r.timedOut ? -1 : decodeStatus(status);
        return r;
    }

    // SIGTERM, then SIGKILL after the grace period; reaps the child and
    // closes the pipes.
    void stop(double graceSeconds = 10) {
        detail::closeFd(m_In);
        if (m_Pid > 0) {
            stopProcess(m_Pid, graceSeconds, m_Group != Group::Inherit);
            m_Pid = -1;
        }
        detail::closeFd(m_Out);
        detail::closeFd(m_Err);
    }

    // Gives up the child: the caller reaps it (waitExit, stopProcess).
    pid_t release() {
        detail::closeFd(m_In);
        detail::closeFd(m_Out);
        detail::closeFd(m_Err);
        return std::exchange(m_Pid, -1);
    }

  private:
    void start(const Options& o) {
        m_Group = o.group;
        m_Start = std::chrono::steady_clock::now();
        if (o.argv.empty())
            return;
        std::vector<std::string> argStrings = o.argv;
        std::vector<char*> args = detail::pointers(argStrings);
        std::vector<std::string> envStrings = detail::mergedEnvironment(o.env);
        std::vector<char*> envp = detail::pointers(envStrings);

        int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
        bool capture = o.logPath.empty();
        bool ok = (!o.input || ::pipe2(in, O_CLOEXEC) == 0) &&
                  (!capture || (::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0));
        if (!ok) {
            for (int* p : {in, out, err}) {
                detail::closeFd(p[0]);
                detail::closeFd(p[1]);
            }
            return;
        }
        pid_t pid = ::fork();
        if (pid == 0) {
            int stdinFd = o.input          ? in[0]
                          : o.stdinFd >= 0 ? o.stdinFd
                                           : ::open("/dev/null", O_RDONLY);
            if (stdinFd != 0)
                ::dup2(stdinFd, 0);
            if (capture) {
                ::dup2(out[1], 1);
                ::dup2(err[1], 2);
            } else {
                int log = ::open(o.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            if (o.group == Group::Own)
                ::setpgid(0, 0);
            else if (o.group == Group::Session)
                ::setsid();
            if (!o.workDir.empty() && ::chdir(o.workDir.c_str()) != 0)
                ::_exit(127);
            if (o.inChild)
                o.inChild();
            if (o.searchPath)
                ::execvpe(args[0], args.data(), envp.data());
            else
                ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        // Also from this side, so that a kill at the deadline finds the
        // group even if the child has not run yet. (A session leader must
        // make its group itself.)
        if (pid > 0 && o.group == Group::Own)
            ::setpgid(pid, pid);
        detail::closeFd(in[0]);
        detail::closeFd(out[1]);
        detail::closeFd(err[1]);
        if (pid < 0) {
            detail::closeFd(in[1]);
            detail::closeFd(out[0]);
            detail::closeFd(err[0]);
            return;
        }
        m_Pid = pid;
        m_In = in[1];
        m_Out = out[0];
        m_Err = err[0];
        if (o.input) {
            m_Input = *o.input;
            ::fcntl(m_In, F_SETFL, O_NONBLOCK);
            if (m_Input.empty())
                detail::closeFd(m_In);
        }
    }

    // Writes what the pipe takes of the input; false when done or when the
    // child stopped reading. SIGPIPE is held back in this thread meanwhile.
    bool writeInput(size_t& written) {
        sigset_t pipeSet, old;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
        ssize_t n = ::write(m_In, m_Input.data() + written, m_Input.size() - written);
        bool broken = n < 0 && errno == EPIPE;
        if (broken) {
            timespec none = {0, 0};
            sigtimedwait(&pipeSet, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (n > 0)
            written += static_cast<size_t>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        return n >= 0 && written < m_Input.size();
    }

    // Waits up to `seconds` (for ever when negative) for the child to end.
    bool reap(double seconds, int* status) {
        int s = 0;
        bool done;
        if (seconds < 0) {
            while (::waitpid(m_Pid, &s, 0) < 0 && errno == EINTR) {
            }
            done = true;
        } else {
            done = false;
            auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
            for (;;) {
                pid_t got = ::waitpid(m_Pid, &s, WNOHANG);
                if (got == m_Pid || (got < 0 && errno != EINTR)) {
                    done = true;
                    break;
                }
                if (std::chrono::steady_clock::now() >= end)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (done) {
            *status = s;
            m_Pid = -1;
        }
        return done;
    }

    void kill() {
        detail::closeFd(m_In);
        if (m_Pid > 0) {
            signal(SIGKILL);
            int s = 0;
            reap(-1, &s);
        }
        detail::closeFd(m_Out);
        detail::closeFd(m_Err);
    }

    pid_t m_Pid = -1;
    int m_In = -1, m_Out = -1, m_Err = -1;
    Group m_Group = Group::Own;
    std::string m_Input;
    std::chrono::steady_clock::time_point m_Start{};
};

// Starts the program and finishes it within `limitSeconds`.
inline Result run(const Options& options, double limitSeconds) {
    return Process(options).finish(limitSeconds);
}

// The common case: argv[0] a path, standard input /dev/null, its own group.
inline Result run(const std::vector<std::string>& argv, double limitSeconds) {
    Options options;
    options.argv = argv;
    return run(options, limitSeconds);
}

}  // namespace qor::proc
