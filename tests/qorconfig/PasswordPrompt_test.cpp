// The hidden password reader on a real pseudo-terminal: echo goes off while
// the user types and comes back on every way out.
#include "PasswordPrompt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>

#include "TestTerminal.h"

namespace qor::test {
namespace {

// A child reading one hidden line from the terminal; the line comes back
// through a pipe.
struct Reader {
    pid_t pid = -1;
    int result = -1;  // read end: the line the child read

    std::string line() {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(result, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    // The wait status once the child is gone.
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
    ~Reader() {
        if (result >= 0)
            ::close(result);
    }
};

void sendBack(int fd, const std::string& text) {
    ssize_t n = ::write(fd, text.data(), text.size());
    (void)n;
}

// Starts a child in a session of its own with the terminal as controlling
// terminal and standard input, reading with readHiddenLine(0).
void startReader(TestTerminal& terminal, Reader& reader) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    reader.pid = ::fork();
    ASSERT_GE(reader.pid, 0);
    if (reader.pid == 0) {
        ::close(pipeFds[0]);
        terminal.becomeControllingStdin();
        sendBack(pipeFds[1], readHiddenLine(0));
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    reader.result = pipeFds[0];
}

TEST(HiddenLine, TypedLineIsNotEchoedAndEchoComesBack) {
    TestTerminal terminal;
    ASSERT_TRUE(terminal.echoOn());
    Reader reader;
    startReader(terminal, reader);
    ASSERT_TRUE(terminal.waitEcho(false)) << "echo never went off";
    terminal.type("hunter2\n");
    EXPECT_EQ(reader.line(), "hunter2");
    int status = reader.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(terminal.echoOn());
    EXPECT_EQ(terminal.shown().find("hunter2"), std::string::npos);
}

TEST(HiddenLine, EndOfInputEndsThePassword) {
    TestTerminal terminal;
    Reader reader;
    startReader(terminal, reader);
    ASSERT_TRUE(terminal.waitEcho(false));
    // ^D after text hands over "abc"; a second ^D at the line start is end of input.
    terminal.type("abc\x04");
    terminal.type("\x04");
    EXPECT_EQ(reader.line(), "abc");
    int status = reader.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(terminal.echoOn());
}

TEST(HiddenLine, InterruptFromTheKeyboardRestoresEcho) {
    TestTerminal terminal;
    Reader reader;
    startReader(terminal, reader);
    ASSERT_TRUE(terminal.waitEcho(false));
    terminal.type("hal");
    terminal.type("\x03");  // ^C: SIGINT to the reader
    EXPECT_EQ(reader.line(), "");
    int status = reader.wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(terminal.echoOn());
}

TEST(HiddenLine, TerminationAndHangupRestoreEcho) {
    for (int signo : {SIGTERM, SIGHUP, SIGQUIT}) {
        TestTerminal terminal;
        Reader reader;
        startReader(terminal, reader);
        ASSERT_TRUE(terminal.waitEcho(false)) << strsignal(signo);
        ::kill(reader.pid, signo);
        int status = reader.wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << strsignal(signo);
        EXPECT_EQ(WTERMSIG(status), signo);
        EXPECT_TRUE(terminal.echoOn()) << strsignal(signo);
    }
}

// The process state letter from /proc (T when stopped).
char processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

bool waitState(pid_t pid, char state) {
    for (int i = 0; i < 2000; ++i) {
        if (processState(pid) == state)
            return true;
        ::usleep(5000);
    }
    return false;
}

TEST(HiddenLine, StopRestoresEchoAndContinueHidesItAgain) {
    // A stop from the keyboard is only carried out in a process group that
    // is not orphaned, so the reader runs in a group of its own under a
    // session leader that hands it the terminal.
    TestTerminal terminal;
    int resultPipe[2], pidPipe[2];
    ASSERT_EQ(::pipe(resultPipe), 0);
    ASSERT_EQ(::pipe(pidPipe), 0);
    pid_t leader = ::fork();
    ASSERT_GE(leader, 0);
    if (leader == 0) {
        terminal.becomeControllingStdin();
        int go[2];
        if (::pipe(go) != 0)
            ::_exit(126);
        pid_t reader = ::fork();
        if (reader == 0) {
            ::setpgid(0, 0);
            char c;
            if (::read(go[0], &c, 1) != 1)
                ::_exit(126);
            sendBack(resultPipe[1], readHiddenLine(0));
            ::_exit(0);
        }
        ::setpgid(reader, reader);
        ::tcsetpgrp(0, reader);
        ssize_t n = ::write(pidPipe[1], &reader, sizeof reader);
        n = ::write(go[1], "g", 1);
        (void)n;
        int status = 0;
        ::waitpid(reader, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status));
    }
    ::close(resultPipe[1]);
    ::close(pidPipe[1]);
    pid_t reader = -1;
    ASSERT_EQ(::read(pidPipe[0], &reader, sizeof reader), static_cast<ssize_t>(sizeof reader));
    ::close(pidPipe[0]);

    ASSERT_TRUE(terminal.waitEcho(false));
    terminal.type("\x1a");  // ^Z: SIGTSTP to the reader's group
    EXPECT_TRUE(waitState(reader, 'T')) << "reader did not stop";
    EXPECT_TRUE(terminal.waitEcho(true)) << "echo left off while stopped";
    ::kill(reader, SIGCONT);
    EXPECT_TRUE(terminal.waitEcho(false)) << "echo not off again after continue";
    terminal.type("after\n");

    std::string line;
    char buffer[64];
    ssize_t n;
    while ((n = ::read(resultPipe[0], buffer, sizeof buffer)) > 0)
        line.append(buffer, static_cast<size_t>(n));
    ::close(resultPipe[0]);
    int status = 0;
    ::waitpid(leader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(line, "after");
    EXPECT_TRUE(terminal.echoOn());
}

TEST(HiddenLine, PipeIsReadWithoutTouchingTheTerminal) {
    // Standard input a pipe, the terminal still the controlling one: its
    // settings stay as they are, and only the first line is consumed.
    TestTerminal terminal;
    int input[2], result[2];
    ASSERT_EQ(::pipe(input), 0);
    ASSERT_EQ(::pipe(result), 0);
    sendBack(input[1], "pw\nrest");
    ::close(input[1]);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        terminal.becomeControllingStdin();
        ::dup2(input[0], 0);
        std::string line = readHiddenLine(0);
        char rest[16] = {};
        ssize_t n = ::read(0, rest, sizeof rest - 1);
        sendBack(result[1], line + "|" + (n > 0 ? std::string(rest, static_cast<size_t>(n)) : ""));
        ::_exit(0);
    }
    ::close(input[0]);
    ::close(result[1]);
    // Echo must stay on the whole time.
    bool alwaysOn = true;
    std::string text;
    char buffer[64];
    for (int polls = 0; polls < 2000; ++polls) {
        alwaysOn = alwaysOn && terminal.echoOn();
        pollfd p{result[0], POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0)
            continue;
        ssize_t n = ::read(result[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(result[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(text, "pw|rest");
    EXPECT_TRUE(alwaysOn);
    EXPECT_TRUE(terminal.echoOn());
}

TEST(HiddenLine, EndOfPipeEndsThePassword) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    sendBack(input[1], "tail-without-newline");
    ::close(input[1]);
    EXPECT_EQ(readHiddenLine(input[0]), "tail-without-newline");
    EXPECT_EQ(readHiddenLine(input[0]), "");
    ::close(input[0]);
}

}  // namespace
}  // namespace qor::test
