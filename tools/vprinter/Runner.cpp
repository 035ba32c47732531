#include "Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace vprinter {

namespace {

volatile sig_atomic_t gChild = 0;

void forwardSignal(int signal) {
    if (gChild > 0)
        kill(gChild, signal);
}

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void logf(FILE* log, const char* format, const std::string& text) {
    if (!log)
        return;
    std::fprintf(log, format, text.c_str());
    std::fflush(log);
}

// Child side, between fork and exec: only async-signal-safe-ish calls and a
// message on failure. Returns only on failure.
[[noreturn]] void childFail(const char* what) {
    int err = errno;
    char message[512];
    int n =
        std::snprintf(message, sizeof message, "qor-vprinter: %s: %s\n", what, std::strerror(err));
    if (n > 0) {
        ssize_t ignored = write(STDERR_FILENO, message, static_cast<size_t>(n));
        (void)ignored;
    }
    _exit(kRunnerFailure);
}

bool bindNode(const std::string& from, const std::string& to, bool directory) {
    struct stat st {};
    if (stat(from.c_str(), &st) != 0)
        return true;  // not on this machine: leave it out
    if (directory) {
        if (mkdir(to.c_str(), 0755) != 0)
            return false;
    } else {
        int fd = open(to.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        close(fd);
    }
    return mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
}

// Builds a private /dev that holds the usual nodes and /dev/usb/lpN bound to
// the pty slave, then execs the command. The staging directory lives in /tmp
// only until it is moved over /dev; the real /dev is never written to.
[[noreturn]] void runChild(const std::string& slavePath, const RunOptions& options) {
    if (unshare(CLONE_NEWNS) != 0)
        childFail("unshare of the mount namespace");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        childFail("making mounts private");
    std::string stage = "/tmp/qor-vprinter-dev-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(&stage[0]))
        childFail("creating the staging directory");
    if (mount("tmpfs", stage.c_str(), "tmpfs", MS_NOSUID, "mode=755,size=1m") != 0) {
        rmdir(stage.c_str());
        childFail("mounting tmpfs for /dev");
    }
    bool ok = true;
    for (const char* node : {"null", "zero", "full", "random", "urandom", "tty", "ptmx"})
        ok = ok && bindNode(std::string("/dev/") + node, stage + "/" + node, false);
    for (const char* dir : {"pts", "shm", "mqueue", "hugepages"})
        ok = ok && bindNode(std::string("/dev/") + dir, stage + "/" + dir, true);
    ok = ok && symlink("/proc/self/fd", (stage + "/fd").c_str()) == 0;
    ok = ok && symlink("/proc/self/fd/0", (stage + "/stdin").c_str()) == 0;
    ok = ok && symlink("/proc/self/fd/1", (stage + "/stdout").c_str()) == 0;
    ok = ok && symlink("/proc/self/fd/2", (stage + "/stderr").c_str()) == 0;
    ok = ok && mkdir((stage + "/usb").c_str(), 0755) == 0;
    std::string lp = stage + "/usb/lp" + std::to_string(options.lp);
    ok = ok && bindNode(slavePath, lp, false);
    if (!ok) {
        umount2(stage.c_str(), MNT_DETACH);
        rmdir(stage.c_str());
        childFail("building the private /dev");
    }
    if (mount(stage.c_str(), "/dev", nullptr, MS_MOVE, nullptr) != 0) {
        umount2(stage.c_str(), MNT_DETACH);
        rmdir(stage.c_str());
        childFail("moving the private /dev into place");
    }
    rmdir(stage.c_str());

    std::vector<char*> argv;
    for (const auto& a : options.command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execvp(argv[0], argv.data());
    childFail(("running " + options.command[0]).c_str());
}

// Raw mode on the slave: no echo, no line editing, no newline translation,
// so that the bytes of a packet pass unchanged both ways.
bool makeRaw(const std::string& slavePath) {
    int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    bool ok = tcgetattr(fd, &tio) == 0;
    if (ok) {
        cfmakeraw(&tio);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ok = tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    close(fd);
    return ok;
}

struct Pending {
    Bytes bytes;
    size_t sent = 0;
    long long dueMs = 0;
    int sequence = 0;   // the request this chunk answers
    bool last = false;  // the last chunk of that answer
};

}  // namespace

int runWithPrinter(Printer& printer, const RunOptions& options) {
    if (options.command.empty()) {
        std::fprintf(stderr, "qor-vprinter: no command to run\n");
        return kRunnerFailure;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "qor-vprinter: cannot create a pseudo-terminal: %s\n",
                     std::strerror(errno));
        if (master >= 0)
            close(master);
        return kRunnerFailure;
    }
    const char* name = ptsname(master);
    std::string slavePath = name ? name : "";
    if (slavePath.empty() || !makeRaw(slavePath)) {
        std::fprintf(stderr, "qor-vprinter: cannot set up the pseudo-terminal slave: %s\n",
                     std::strerror(errno));
        close(master);
        return kRunnerFailure;
    }
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "qor-vprinter: fork: %s\n", std::strerror(errno));
        close(master);
        return kRunnerFailure;
    }
    if (child == 0)
        runChild(slavePath, options);

    gChild = child;
    struct sigaction forward {};
    forward.sa_handler = forwardSignal;
    sigemptyset(&forward.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(s, &forward, nullptr);
    signal(SIGPIPE, SIG_IGN);
    logf(options.log, "vprinter: serving %s\n", slavePath);

    PacketAssembler assembler;
    std::deque<Pending> queue;
    bool hungUp = false;
    long long lastRx = 0;
    double receivedMs = 0;  // when the bytes that completed the packets in hand came
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR) {
            status = kRunnerFailure << 8;
            break;
        }
        long long now = nowMs();
        int timeout = 50;
        bool wantWrite = false;
        if (!queue.empty()) {
            long long wait = queue.front().dueMs - now;
            if (wait <= 0)
                wantWrite = true;
            else if (wait < timeout)
                timeout = static_cast<int>(wait);
        }
        pollfd pfd{master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
        int ready = poll(&pfd, 1, wantWrite ? 50 : timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (pfd.revents & POLLIN) {
            uint8_t buffer[4096];
            for (;;) {
                ssize_t n = read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                if (hungUp) {
                    hungUp = false;
                    logf(options.log, "vprinter: %s\n", "device opened");
                }
                lastRx = nowMs();
                receivedMs = monotonicMs();
                assembler.feed(qor::ByteSpan(buffer, static_cast<size_t>(n)));
            }
            Bytes packet, garbage;
            while (assembler.next(packet, garbage)) {
                if (!garbage.empty()) {
                    printer.noteStray(garbage, "bytes before a start byte", receivedMs);
                    garbage.clear();
                }
                Handled handled = printer.handle(packet, receivedMs);
                logf(options.log, "vprinter: request %s\n", toHex(packet));
                long long due = nowMs();
                for (size_t i = 0; i < handled.output.size(); ++i) {
                    due += handled.output[i].delayMs;
                    queue.push_back({std::move(handled.output[i].bytes), 0, due, handled.sequence,
                                     i + 1 == handled.output.size()});
                }
            }
            if (!garbage.empty())
                printer.noteStray(garbage, "bytes before a start byte", receivedMs);
        } else if (pfd.revents & (POLLHUP | POLLERR)) {
            // No slave is open: the program closed the device between requests.
            // Whatever was not yet delivered belongs to the closed session.
            if (!hungUp) {
                hungUp = true;
                logf(options.log, "vprinter: %s\n", "device closed");
                printer.noteStray(assembler.drain(), "request cut off when the device was closed");
                queue.clear();
                printer.answersDropped();
            }
            poll(nullptr, 0, 10);  // wait for the next open without spinning
            continue;
        }
        if (assembler.pending() && nowMs() - lastRx > 5000)
            printer.noteStray(assembler.drain(), "incomplete request abandoned");
        if ((pfd.revents & POLLOUT) && !queue.empty() && queue.front().dueMs <= nowMs()) {
            Pending& head = queue.front();
            // Timed before the write: once the bytes are in, the reader may run
            // before this process does again.
            double writtenMs = monotonicMs();
            ssize_t n = write(master, head.bytes.data() + head.sent, head.bytes.size() - head.sent);
            if (n > 0) {
                head.sent += static_cast<size_t>(n);
                if (head.sent == head.bytes.size()) {
                    if (head.last)
                        printer.answerSent(head.sequence, writtenMs);
                    queue.pop_front();
                }
            } else if (n < 0 && errno == EIO) {
                queue.clear();
                printer.answersDropped();
            }
        }
    }
    gChild = 0;
    printer.answersDropped();  // what was still to be sent never will be
    close(master);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return kRunnerFailure;
}

}  // namespace vprinter
