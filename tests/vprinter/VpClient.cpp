// A small test client for the virtual printer: opens the device node the way
// the USB programs do (O_RDWR|O_EXCL|O_NOCTTY|O_NONBLOCK), writes one request
// per argument, reads the answer with select until the line has been quiet
// for the window, closes, and prints one "REPLY <hex>" line per request.
//
//   vp-client [--dev PATH] [--wait-ms N] [--quiet-ms N] [--exit N] [--pieces] HEX...
// A HEX argument may hold several packets; "-" between digits is ignored.
// Exit status: the --exit value (default 0), or 3 when the device cannot be
// opened, 4 on a write error, 2 on bad arguments.
#include <fcntl.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool decodeHex(const std::string& text, std::vector<unsigned char>& out) {
    std::string digits;
    for (char c : text)
        if (c != '-' && c != ' ')
            digits.push_back(c);
    if (digits.size() % 2)
        return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (*end)
            return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

bool waitFd(int fd, bool forWrite, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(fd + 1, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv) > 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dev = "/dev/usb/lp0";
    int waitMs = 100, quietMs = 700, exitStatus = 0;
    bool pieces = false;  // write the request one byte at a time, 20 ms apart
    std::vector<std::string> requests;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--pieces") {
            pieces = true;
        } else if ((a == "--dev" || a == "--wait-ms" || a == "--quiet-ms" || a == "--exit") &&
                   i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--dev")
                dev = v;
            else if (a == "--wait-ms")
                waitMs = std::atoi(v.c_str());
            else if (a == "--quiet-ms")
                quietMs = std::atoi(v.c_str());
            else
                exitStatus = std::atoi(v.c_str());
        } else {
            requests.push_back(a);
        }
    }
    for (const auto& text : requests) {
        std::vector<unsigned char> request;
        if (!decodeHex(text, request)) {
            std::fprintf(stderr, "vp-client: bad hex '%s'\n", text.c_str());
            return 2;
        }
        int fd = open(dev.c_str(), O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK);
        if (fd <= 0) {
            std::fprintf(stderr, "vp-client: open %s: %s\n", dev.c_str(), std::strerror(errno));
            return 3;
        }
        size_t sent = 0;
        long long start = nowMs();
        while (sent < request.size()) {
            ssize_t n = write(fd, request.data() + sent, pieces ? 1 : request.size() - sent);
            if (pieces)
                usleep(20000);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN) {
                std::fprintf(stderr, "vp-client: write: %s\n", std::strerror(errno));
                close(fd);
                return 4;
            } else if (nowMs() - start > 5000) {
                std::fprintf(stderr, "vp-client: write stalled\n");
                close(fd);
                return 4;
            } else {
                waitFd(fd, true, 100);
            }
        }
        usleep(static_cast<useconds_t>(waitMs) * 1000);
        std::string hex;
        unsigned char buffer[4096];
        while (waitFd(fd, false, quietMs)) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EAGAIN)
                continue;
            if (n <= 0)
                break;
            for (ssize_t k = 0; k < n; ++k) {
                char b[3];
                std::snprintf(b, sizeof b, "%02X", buffer[k]);
                hex += b;
            }
        }
        close(fd);
        std::printf("REPLY %s\n", hex.c_str());
        std::fflush(stdout);
    }
    return exitStatus;
}
