// qor-vm-printer: the virtual printer on the printer side of a USB printer
// gadget (/dev/g_printer0) while a command runs on the host side of the same
// link (/dev/usb/lp0 or usbfs), both in the same guest.
//
//   qor-vm-printer NODE [--scenario FILE] [--journal FILE] [--times FILE]
//                  -- COMMAND [ARGS...]
//
// --times writes one line: the CLOCK_MONOTONIC milliseconds at which the
// command was started and at which it ended, on the clock of the journal's
// times, so that the time from the printer's last answer byte to the
// command's exit can be read off.
//
// Exits with the command's status (128 + signal when it was killed), or 125
// when the node, the scenario or the command cannot be set up.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "Printer.h"
#include "Scenario.h"

namespace {

constexpr int kSetupFailure = 125;

volatile sig_atomic_t gChild = 0;

void forwardSignal(int signal) {
    if (gChild > 0)
        kill(gChild, signal);
}

// Only there to cut the wait in poll short, so that the command's end is
// seen (and timed) at once.
void childEnded(int) {}

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct Pending {
    vprinter::Bytes bytes;
    size_t sent = 0;
    long long dueMs = 0;
    int sequence = 0;   // the request this chunk answers
    bool last = false;  // the last chunk of that answer
};

int fail(const std::string& why) {
    std::fprintf(stderr, "qor-vm-printer: %s\n", why.c_str());
    return kSetupFailure;
}

// Answers on `fd` until `child` exits, and notes when it did in `endedMs`. It
// waits in poll with a short timeout and never in a blocking read: when the
// host side sets the configuration, the gadget resets and a reader blocked
// on it is never woken.
int serve(vprinter::Printer& printer, int fd, pid_t child, double& endedMs) {
    vprinter::PacketAssembler assembler;
    std::deque<Pending> queue;
    bool down = false;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            endedMs = vprinter::monotonicMs();
            break;
        }
        if (done < 0 && errno != EINTR)
            return kSetupFailure;
        long long now = nowMs();
        bool due = !queue.empty() && queue.front().dueMs <= now;
        int timeout = 20;
        if (!queue.empty() && !due && queue.front().dueMs - now < timeout)
            timeout = static_cast<int>(queue.front().dueMs - now);
        pollfd pfd{fd, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0};
        if (poll(&pfd, 1, timeout) < 0 && errno != EINTR)
            return kSetupFailure;
        if (pfd.revents & (POLLERR | POLLHUP)) {
            // The link is not configured (unplugged, or reset by the host):
            // what was in flight belongs to the session that ended.
            if (!down) {
                down = true;
                printer.noteStray(assembler.drain(), "request cut off when the link went down");
                queue.clear();
                printer.answersDropped();
            }
            poll(nullptr, 0, 10);
            continue;
        }
        down = false;
        if (pfd.revents & POLLIN) {
            uint8_t buffer[4096];
            ssize_t n;
            double receivedMs = 0;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) {
                receivedMs = vprinter::monotonicMs();
                assembler.feed(qor::ByteSpan(buffer, static_cast<size_t>(n)));
            }
            vprinter::Bytes packet, garbage;
            while (assembler.next(packet, garbage)) {
                if (!garbage.empty()) {
                    printer.noteStray(garbage, "bytes before a start byte", receivedMs);
                    garbage.clear();
                }
                vprinter::Handled handled = printer.handle(packet, receivedMs);
                long long at = nowMs();
                for (size_t i = 0; i < handled.output.size(); ++i) {
                    at += handled.output[i].delayMs;
                    queue.push_back({std::move(handled.output[i].bytes), 0, at, handled.sequence,
                                     i + 1 == handled.output.size()});
                }
            }
            if (!garbage.empty())
                printer.noteStray(garbage, "bytes before a start byte", receivedMs);
        }
        if ((pfd.revents & POLLOUT) && !queue.empty() && queue.front().dueMs <= nowMs()) {
            Pending& head = queue.front();
            // Timed before the write: once the bytes are in, the reader may run
            // before this process does again.
            double writtenMs = vprinter::monotonicMs();
            ssize_t n = write(fd, head.bytes.data() + head.sent, head.bytes.size() - head.sent);
            if (n > 0) {
                head.sent += static_cast<size_t>(n);
                if (head.sent == head.bytes.size()) {
                    if (head.last)
                        printer.answerSent(head.sequence, writtenMs);
                    queue.pop_front();
                }
            }
        }
    }
    printer.answersDropped();  // what was still to be sent never will be
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return kSetupFailure;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return fail(
            "usage: qor-vm-printer NODE [--scenario FILE] [--journal FILE] [--times FILE] -- "
            "COMMAND");
    std::string node = argv[1], scenarioPath, journalPath, timesPath;
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        std::string option = argv[i];
        std::string* value = option == "--scenario"  ? &scenarioPath
                             : option == "--journal" ? &journalPath
                             : option == "--times"   ? &timesPath
                                                     : nullptr;
        if (i + 1 >= argc || !value)
            return fail("unknown option or missing value: '" + option + "'");
        *value = argv[i + 1];
    }
    if (i + 1 >= argc)
        return fail("no command given after --");
    std::vector<char*> command(argv + i + 1, argv + argc);
    command.push_back(nullptr);

    vprinter::Scenario scenario;
    std::string error;
    if (!scenarioPath.empty() && !vprinter::loadScenario(scenarioPath, scenario, error))
        return fail(error);
    FILE* journal = nullptr;
    if (!journalPath.empty() && !(journal = std::fopen(journalPath.c_str(), "w")))
        return fail("cannot write journal '" + journalPath + "': " + std::strerror(errno));
    int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        if (journal)
            std::fclose(journal);
        return fail("cannot open '" + node + "': " + std::strerror(err));
    }
    vprinter::Printer printer(scenario);
    printer.setJournal(journal);

    struct sigaction ended {};
    ended.sa_handler = childEnded;
    sigemptyset(&ended.sa_mask);
    sigaction(SIGCHLD, &ended, nullptr);
    std::fflush(nullptr);
    double startedMs = vprinter::monotonicMs();
    pid_t child = fork();
    if (child < 0)
        return fail(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        execvp(command[0], command.data());
        std::fprintf(stderr, "qor-vm-printer: running %s: %s\n", command[0], std::strerror(errno));
        _exit(kSetupFailure);
    }
    gChild = child;
    struct sigaction forward {};
    forward.sa_handler = forwardSignal;
    sigemptyset(&forward.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(s, &forward, nullptr);
    signal(SIGPIPE, SIG_IGN);
    double endedMs = 0;
    int status = serve(printer, fd, child, endedMs);
    close(fd);
    if (journal)
        std::fclose(journal);
    if (!timesPath.empty()) {
        if (FILE* times = std::fopen(timesPath.c_str(), "w")) {
            std::fprintf(times, "%.3f %.3f\n", startedMs, endedMs);
            std::fclose(times);
        }
    }
    return status;
}
