#include "PasswordPrompt.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace qor {

namespace {

// State the signal handler needs: plain globals of lock-free types, written
// before the handlers are installed.
volatile sig_atomic_t gPromptFd = -1;
struct termios gSavedModes;
const int kCaughtSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP};
struct sigaction gOldActions[sizeof kCaughtSignals / sizeof kCaughtSignals[0]];

void echoOff(int fd) {
    struct termios quiet = gSavedModes;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
}

void installHandlers();

// Puts the terminal back, then lets the signal do what it would have done.
// tcsetattr, sigaction and raise are async-signal-safe.
void onSignal(int signo) {
    int saved = errno;
    int fd = gPromptFd;
    if (fd >= 0)
        tcsetattr(fd, TCSAFLUSH, &gSavedModes);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signo, &dfl, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signo);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signo);
    // Only a stop comes back here (after SIGCONT): quiet again, catch again.
    if (signo == SIGTSTP && fd >= 0) {
        echoOff(fd);
        installHandlers();
    }
    errno = saved;
}

void installHandlers() {
    struct sigaction act = {};
    act.sa_handler = onSignal;
    sigemptyset(&act.sa_mask);
    for (size_t i = 0; i < sizeof kCaughtSignals / sizeof kCaughtSignals[0]; ++i)
        sigaction(kCaughtSignals[i], &act, nullptr);
}

std::string readLine(int fd) {
    std::string line;
    char c;
    for (;;) {
        ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            break;
        line.push_back(c);
    }
    return line;
}

}  // namespace

std::string readHiddenLine(int fd) {
    if (tcgetattr(fd, &gSavedModes) != 0)
        return readLine(fd);

    struct sigaction act = {};
    act.sa_handler = onSignal;
    sigemptyset(&act.sa_mask);
    gPromptFd = fd;
    for (size_t i = 0; i < sizeof kCaughtSignals / sizeof kCaughtSignals[0]; ++i)
        sigaction(kCaughtSignals[i], &act, &gOldActions[i]);
    echoOff(fd);

    std::string line = readLine(fd);

    tcsetattr(fd, TCSAFLUSH, &gSavedModes);
    gPromptFd = -1;
    for (size_t i = 0; i < sizeof kCaughtSignals / sizeof kCaughtSignals[0]; ++i)
        sigaction(kCaughtSignals[i], &gOldActions[i], nullptr);
    return line;
}

}  // namespace qor
