// A pseudo-terminal that a child process takes as its controlling terminal,
// watched and typed into from the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace qor::test {

class TestTerminal {
  public:
    TestTerminal() {
        m_Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_Master < 0 || ::grantpt(m_Master) != 0 || ::unlockpt(m_Master) != 0)
            throw std::runtime_error("posix_openpt");
        const char* name = ::ptsname(m_Master);
        if (!name)
            throw std::runtime_error("ptsname");
        m_SlavePath = name;
        // Keep the slave side open here too, so that the terminal keeps its
        // settings after the child is gone and can still be inspected.
        m_Slave = ::open(m_SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_Slave < 0)
            throw std::runtime_error("open slave");
    }
    ~TestTerminal() {
        ::close(m_Master);
        ::close(m_Slave);
    }
    TestTerminal(const TestTerminal&) = delete;
    TestTerminal& operator=(const TestTerminal&) = delete;

    // In the child after fork: a new session with this terminal as its
    // controlling terminal and as standard input. Only system calls.
    void becomeControllingStdin() const {
        ::setsid();
        int fd = ::open(m_SlavePath.c_str(), O_RDWR);
        if (fd < 0)
            ::_exit(126);
        ::ioctl(fd, TIOCSCTTY, 0);
        if (fd != 0) {
            ::dup2(fd, 0);
            ::close(fd);
        }
    }

    bool echoOn() const {
        termios modes{};
        return ::tcgetattr(m_Slave, &modes) == 0 && (modes.c_lflag & ECHO);
    }

    // Waits until echo is `on` (true) or off; false after `seconds`.
    bool waitEcho(bool on, double seconds = 10) const {
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        while (std::chrono::steady_clock::now() < deadline) {
            if (echoOn() == on)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return echoOn() == on;
    }

    // Types `text` as a user would (control characters included).
    void type(const std::string& text) const {
        ssize_t n = ::write(m_Master, text.data(), text.size());
        (void)n;
    }

    // What the terminal has shown since the last call (the echo), waiting
    // up to `ms` for more.
    std::string shown(int ms = 200) const {
        std::string out;
        pollfd p{m_Master, POLLIN, 0};
        while (::poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            ssize_t n = ::read(m_Master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }

    int slave() const { return m_Slave; }
    const std::string& slavePath() const { return m_SlavePath; }

  private:
    int m_Master = -1;
    int m_Slave = -1;
    std::string m_SlavePath;
};

}  // namespace qor::test
