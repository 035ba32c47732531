// Trace records, levels, markers and the log file, each case in a child
// process with its own passwd file (private mount namespace) and TMPDIR.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "TraceLog.h"

namespace {

// "|MM/DD HH:MM:SS.mmm " + 15-column thread id + "| " + body + "\n" at the start of log.
bool looksLikeRecord(const std::string& log, const std::string& body) {
    const std::string shape = "|dd/dd dd:dd:dd.ddd ";
    if (log.size() < shape.size() + 17 + body.size() + 1)
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = log[i] >= '0' && log[i] <= '9';
        if (shape[i] == 'd' ? !digit : log[i] != shape[i])
            return false;
    }
    std::string thread = log.substr(shape.size(), 15);
    if (thread.find_first_not_of(" 0123456789") != std::string::npos || thread.back() == ' ') {
        return false;
    }
    return log.compare(shape.size() + 15, 2 + body.size() + 1, "| " + body + "\n") == 0;
}

struct Sandbox {
    std::string root, tmp, home;
    Sandbox() {
        char pattern[] = "/tmp/nbtrace.XXXXXX";
        root = mkdtemp(pattern);
        tmp = root + "/tmp";
        home = root + "/home";
        mkdir(tmp.c_str(), 0700);
        mkdir(home.c_str(), 0700);
    }
    ~Sandbox() { std::system(("rm -rf '" + root + "'").c_str()); }
    void touch(const std::string& name) { std::ofstream(tmp + "/" + name) << ""; }

    // Runs body in a child with /etc/passwd giving root the home `home`.
    // Returns the child's pid (the log file name) after it exits 0.
    pid_t run(const std::function<void()>& body) {
        std::string passwd = root + "/passwd";
        std::ofstream(passwd) << "root:x:0:0:root:" << home << ":/bin/sh\n";
        pid_t pid = fork();
        if (pid == 0) {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) {
                _exit(3);
            }
            setenv("TMPDIR", tmp.c_str(), 1);
            log_reset();
            body();
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return pid;
    }
    std::string logPath(pid_t pid) const {
        char self[1024] = {0};
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string name = n > 0 ? std::string(self).substr(std::string(self).rfind('/') + 1) : "";
        return home + "/" + name + "|" + std::to_string(pid) + ".log";
    }
    std::string read(pid_t pid) const {
        std::ifstream in(logPath(pid));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST(TraceLog, OffWithoutMarker) {
    Sandbox box;
    pid_t pid = box.run([] {
        log_write('I', 1, "src/hcp", "discover", "hello");
        if (gLogFD != 0)
            _exit(4);
    });
    struct stat st;
    EXPECT_NE(0, stat(box.logPath(pid).c_str(), &st));
}

TEST(TraceLog, FullMarkerWritesRecordFormatAndMode) {
    Sandbox box;
    box.touch(".slog");
    pid_t pid = box.run([] {
        log_write('F', 234, "src/connector", "Broadcast", "begin data.size=%d port=%d", 41, 5353);
        log_write('I', 7, "src/netbackend", "main", "%s|%c|%u|%x|%X|%f|%%|%q|%s", "t", 'Z',
                  4000000000u, 255, 255, 1.5, static_cast<const char*>(nullptr));
        if (gLogLevel != LOG_FULL)
            _exit(4);
    });
    std::string log = box.read(pid);
    EXPECT_TRUE(looksLikeRecord(log, "begin data.size=41 port=5353 [src/connector-234-Broadcast]"))
        << log;
    EXPECT_NE(log.find("| t|Z|4000000000|ff|FF|1.500000|%||(null) [src/netbackend-7-main]\n"),
              std::string::npos)
        << log;
    struct stat st;
    ASSERT_EQ(0, stat(box.logPath(pid).c_str(), &st));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TraceLog, InfoMarkerDropsLevelF) {
    Sandbox box;
    box.touch(".slog_mura");
    pid_t pid = box.run([] {
        log_write('F', 1, "src/hcp", "discover", "begin");
        log_write('I', 2, "src/hcp", "discover", "wanted");
        uint8_t b[2] = {1, 2};
        log_dump(3, "src/connector", "ReceiveReply", b, 2);
    });
    std::string log = box.read(pid);
    EXPECT_EQ(log.find("begin"), std::string::npos);
    EXPECT_NE(log.find("wanted [src/hcp-2-discover]"), std::string::npos);
    EXPECT_EQ(log.find("01 02"), std::string::npos);
}

TEST(TraceLog, BothMarkersMeanFull) {
    Sandbox box;
    box.touch(".slog");
    box.touch(".slog_mura");
    pid_t pid = box.run([] { log_write('F', 1, "src/hcp", "discover", "begin"); });
    EXPECT_NE(box.read(pid).find("begin"), std::string::npos);
}

TEST(TraceLog, MarkerMustBeRegularFileNotSymlinkOrFifo) {
    Sandbox box;
    std::string real = box.root + "/real";
    std::ofstream(real) << "";
    ASSERT_EQ(0, symlink(real.c_str(), (box.tmp + "/.slog").c_str()));
    ASSERT_EQ(0, mkfifo((box.tmp + "/.slog_mura").c_str(), 0600));
    pid_t pid = box.run([] {
        log_write('I', 1, "src/hcp", "discover", "x");
        if (gLogFD != 0)
            _exit(4);
    });
    struct stat st;
    EXPECT_NE(0, stat(box.logPath(pid).c_str(), &st));
    EXPECT_FALSE(log_marker_present("/dev/null"));
}

TEST(TraceLog, LongBodyIsWrittenWhole) {
    Sandbox box;
    box.touch(".slog");
    std::string body(5000, 'b');
    pid_t pid = box.run([&] { log_write('I', 1, "f", "g", "%s", body.c_str()); });
    EXPECT_NE(box.read(pid).find("| " + body + " [f-1-g]\n"), std::string::npos);
}

TEST(TraceLog, DumpWritesThirtyNineBytesPerLine) {
    Sandbox box;
    box.touch(".slog");
    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    pid_t pid = box.run([&] {
        log_write('F', 1, "f", "g", "start");
        log_dump(5, "src/connector", "ReceiveReply", bytes.data(), bytes.size());
    });
    std::string log = box.read(pid);
    std::string expectedFirst;
    for (int i = 0; i < 39; ++i) {
        char hex[4];
        snprintf(hex, sizeof hex, "%.2X ", i);
        expectedFirst += hex;
    }
    EXPECT_NE(log.find("| " + expectedFirst + "\n27 28 "), std::string::npos) << log;
    EXPECT_NE(log.find("63  [src/connector-5-ReceiveReply]\n"), std::string::npos) << log;
}

TEST(TraceLog, LongTmpdirIsUsedWholeOrNotAtAll) {
    Sandbox box;
    box.touch(".slog");
    // Within the system's path limit the long value names the same folder.
    pid_t pid = box.run([&] {
        setenv("TMPDIR", (std::string(3000, '/') + box.tmp).c_str(), 1);
        log_write('I', 1, "f", "g", "deep");
    });
    EXPECT_NE(box.read(pid).find("deep"), std::string::npos);
    // Beyond it the marker can't be opened: logging stays off, nothing is cut short.
    pid = box.run([&] {
        setenv("TMPDIR", (std::string(5000, '/') + box.tmp).c_str(), 1);
        log_write('I', 1, "f", "g", "deeper");
        if (gLogFD != 0)
            _exit(4);
    });
    struct stat st;
    EXPECT_NE(0, stat(box.logPath(pid).c_str(), &st));
}
