// Runs qorconfig under the virtual printer (which mounts its pty over
// /dev/usb/lp0 in a private mount namespace) and reads back the journal of
// the requests the printer received.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor::test {

// A private directory, removed with its files at the end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = "/tmp/qorconfig-e2e-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        m_Path = pattern;
    }
    ~ScratchDir() {
        int ignored = std::system(("rm -rf '" + m_Path + "'").c_str());
        (void)ignored;
    }
    std::string path(const std::string& name) const { return m_Path + "/" + name; }

  private:
    std::string m_Path;
};

inline void writeText(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One line of the printer's journal.
struct JournalEntry {
    std::string kind;  // read, write, certmgr, preamble, unknown
    bool forwarded = false;
    bool answered = false;
    std::string hex;  // the request as received, upper-case hex
    std::string line;
};

inline std::string jsonField(const std::string& line, const std::string& key) {
    std::string quoted = "\"" + key + "\":";
    size_t at = line.find(quoted);
    if (at == std::string::npos)
        return "";
    at += quoted.size();
    if (at < line.size() && line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return end == std::string::npos ? "" : line.substr(at + 1, end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

inline std::vector<JournalEntry> parseJournal(const std::string& text) {
    std::vector<JournalEntry> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        JournalEntry e;
        e.kind = jsonField(line, "kind");
        e.forwarded = jsonField(line, "forwarded") == "true";
        e.answered = jsonField(line, "answered") == "true";
        e.hex = jsonField(line, "hex");
        e.line = line;
        entries.push_back(e);
    }
    return entries;
}

// Only the setting reads and writes (the certificate manager's calls left out).
inline std::vector<JournalEntry> settingRequests(const std::vector<JournalEntry>& all) {
    std::vector<JournalEntry> out;
    for (const JournalEntry& e : all)
        if (e.kind == "read" || e.kind == "write")
            out.push_back(e);
    return out;
}

struct RunResult {
    int status = -1;  // exit status, 128 + signal, -1 when it had to be killed
    std::string out, err;
    double seconds = 0;
    std::vector<JournalEntry> journal;
};

// Runs `argv` with stdin from `stdinFd` (/dev/null when -1), collecting its
// output; kills its process group after `limitSeconds`. `inChild` runs in
// the child before the exec (after the descriptors are set).
inline RunResult runCollecting(const std::vector<std::string>& argv, int limitSeconds,
                               int stdinFd = -1, const std::function<void()>& inChild = nullptr) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0)
        return result;
    if (::pipe(errPipe) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    // Everything the child needs is made before the fork: a test may have
    // threads running, and the child only makes system calls until the exec.
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int in = stdinFd >= 0 ? stdinFd : ::open("/dev/null", O_RDONLY);
        if (in != 0)
            ::dup2(in, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        if (inChild)
            inChild();
        else
            ::setpgid(0, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    auto deadline = start + std::chrono::seconds(limitSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            ::kill(-pid, SIGKILL);
            killed = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                (k == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (killed)
        result.status = -1;
    else if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}

// qorconfig with `args` under a virtual printer holding `scenario`.
class PrinterRig {
  public:
    ScratchDir dir;

    RunResult run(const std::string& scenario, const std::vector<std::string>& args,
                  int limitSeconds = 150, int stdinFd = -1,
                  const std::function<void()>& inChild = nullptr) {
        writeText(dir.path("scenario"), scenario);
        std::vector<std::string> argv = {VPRINTER_BIN, "--scenario",        dir.path("scenario"),
                                         "--journal",  dir.path("journal"), "--",
                                         QORCONFIG_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult r = runCollecting(argv, limitSeconds, stdinFd, inChild);
        r.journal = parseJournal(readText(dir.path("journal")));
        return r;
    }
};

// Upper-case hex of a write request holding `records` (hex), and its
// forwarding wrapper, as the printer receives them.
inline std::string hex16(size_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04zX", value & 0xFFFF);
    return text;
}
inline std::string writeRequest(const std::string& records) {
    return "A5" + hex16(records.size() / 2 + 4) + "50E0DA01" + records;
}
inline std::string forwarded(const std::string& request) {
    return "A5" + hex16(request.size() / 2 + 6) + "50E06302" + hex16(request.size() / 2) + request;
}
inline std::string readRequest(const std::string& groupItem) {
    return "A5000650E0D800" + groupItem;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace qor::test
