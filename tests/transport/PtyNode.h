// A raw pseudo-terminal pair standing in for the printer's device node, and
// a child process with a private mount namespace in which the terminal's
// slave is mounted over /dev/usb/lpN (on a tmpfs over /dev that exists only
// in that namespace; the machine's /dev is never touched).
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qortest {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;

    bool openPair() {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        struct termios raw;
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        slavePath = name;
        return true;
    }
    // Writes everything to the master side (what the printer sends).
    bool send(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // Reads what the host wrote, waiting up to `ms` for the first bytes.
    std::vector<uint8_t> receive(size_t max, int ms) {
        std::vector<uint8_t> out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < max && std::chrono::steady_clock::now() < deadline) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(master, &set);
            struct timeval tv = {0, 20000};
            if (select(master + 1, &set, nullptr, nullptr, &tv) > 0) {
                uint8_t buf[4096];
                ssize_t n = ::read(master, buf, std::min(sizeof buf, max - out.size()));
                if (n <= 0)
                    break;
                out.insert(out.end(), buf, buf + n);
            }
        }
        return out;
    }
    ~Pty() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
};

// Runs `body` in a forked child whose mount namespace has `slave` mounted
// over /dev/usb/lp<number>. Returns the child's exit status (0 when body
// returned true), 77 when a namespace can't be made, or -1 on a crash or a
// hang (the child is killed after `seconds`).
inline int runWithDeviceNode(int slave, int number, const std::function<bool()>& body,
                             int seconds = 30) {
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        alarm(static_cast<unsigned>(seconds));
        if (unshare(CLONE_NEWNS) != 0)
            _exit(77);
        // Nothing below may propagate to the machine's namespace.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(77);
        // A descriptor opened before unshare() belongs to the old namespace's
        // mount and cannot be bind-mounted here: open the node again.
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", slave);
        char slavePath[256] = {};
        if (readlink(link, slavePath, sizeof slavePath - 1) <= 0)
            _exit(77);
        int reopened = ::open(slavePath, O_RDWR | O_NOCTTY);
        if (reopened < 0)
            _exit(77);
        char source[64];
        std::snprintf(source, sizeof source, "/proc/self/fd/%d", reopened);
        if (mount("qortransport", "/dev", "tmpfs", 0, "mode=0755") != 0)
            _exit(77);
        if (mkdir("/dev/usb", 0755) != 0)
            _exit(77);
        char target[64];
        std::snprintf(target, sizeof target, "/dev/usb/lp%d", number);
        int made = ::open(target, O_CREAT | O_WRONLY, 0600);
        if (made < 0)
            _exit(77);
        ::close(made);
        if (mount(source, target, nullptr, MS_BIND, nullptr) != 0)
            _exit(77);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return -1;
}

}  // namespace qortest
