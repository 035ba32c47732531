#include "SharedDiscovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "TraceLog.h"

namespace {

constexpr size_t kMaxDirectoryLength = 1024;

std::string sharedPrefix() {
    const char* tmp = getenv("TMPDIR");
    std::string dir = (tmp && *tmp && strlen(tmp) < kMaxDirectoryLength) ? tmp : "/tmp";
    struct stat ns;
    unsigned long nsId =
        stat("/proc/self/ns/net", &ns) == 0 ? static_cast<unsigned long>(ns.st_ino) : 0;
    return dir + "/.netbackend-" + std::to_string(geteuid()) + "-" + std::to_string(nsId);
}

bool ownedRegular(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

void sleepMs(long ms) {
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&delay, nullptr);
}

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void writeAll(int fd, const void* bytes, size_t length) {
    const char* p = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        length -= static_cast<size_t>(n);
    }
}

void appendRecord(int fd, qor::ByteSpan bytes) {
    size_t length = bytes.size > 0xFFFF ? 0xFFFF : bytes.size;
    std::string record;
    record += static_cast<char>(length >> 8);
    record += static_cast<char>(length & 0xFF);
    record.append(reinterpret_cast<const char*>(bytes.data), length);
    writeAll(fd, record.data(), record.size());  // one write: followers see whole records
}

void lead(int lockFd, const std::string& prefix, Hcp& finder, const Hcp::DeviceHandler& onDevice,
          long windowSeconds, int port) {
    if (ftruncate(lockFd, 0) != 0) {
        // fall through: followers then find no pid and wait for the lock
    }
    std::string pid = std::to_string(getpid());
    std::string recordPath = prefix + "-" + pid + ".rec";
    unlink(recordPath.c_str());
    int recordFd =
        open(recordPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (recordFd >= 0) {
        if (pwrite(lockFd, pid.data(), pid.size(), 0) < 0) {
            // nobody can follow; the discovery itself still runs
        }
    }
    finder.discover(
        onDevice,
        [&](qor::ByteSpan reply) {
            if (recordFd >= 0)
                appendRecord(recordFd, reply);
        },
        port, windowSeconds);
    if (recordFd >= 0) {
        appendRecord(recordFd, qor::ByteSpan());
        if (ftruncate(lockFd, 0) != 0) {
        }
        unlink(recordPath.c_str());
        close(recordFd);
    }
}

// Reads the leader's records until its end marker, or until it is gone.
// Returns false when no leader could be followed (the caller then retries).
bool follow(int lockFd, const std::string& prefix, Hcp& finder, const Hcp::DeviceHandler& onDevice,
            double deadline) {
    char pidText[32] = {0};
    ssize_t n = pread(lockFd, pidText, sizeof pidText - 1, 0);
    if (n <= 0)
        return false;
    std::string pid(pidText, static_cast<size_t>(n));
    if (pid.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int recordFd = open((prefix + "-" + pid + ".rec").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (recordFd < 0)
        return false;
    if (!ownedRegular(recordFd)) {
        close(recordFd);
        return false;
    }
    std::string pending;
    char chunk[4096];
    bool ended = false;
    while (!ended && now() < deadline) {
        ssize_t got = read(recordFd, chunk, sizeof chunk);
        if (got > 0) {
            pending.append(chunk, static_cast<size_t>(got));
            ended = consumeSharedRecords(pending, finder, onDevice);
            continue;
        }
        // No new bytes: is the leader still there?
        if (flock(lockFd, LOCK_SH | LOCK_NB) == 0) {
            flock(lockFd, LOCK_UN);
            while ((got = read(recordFd, chunk, sizeof chunk)) > 0) {
                pending.append(chunk, static_cast<size_t>(got));
            }
            consumeSharedRecords(pending, finder, onDevice);
            break;
        }
        sleepMs(20);
    }
    close(recordFd);
    return true;
}

}  // namespace

bool consumeSharedRecords(std::string& pending, Hcp& finder, const Hcp::DeviceHandler& onDevice) {
    qor::ByteReader reader(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
    bool ended = false;
    size_t used = 0;
    while (!ended) {
        uint16_t length = 0;
        qor::ByteSpan bytes;
        if (!reader.readBE16(length) || !reader.readBytes(length, bytes))
            break;
        used = reader.offset();
        if (length == 0) {
            ended = true;
            break;
        }
        HcpDevice device;
        if (finder.acceptReply(bytes, device) && onDevice)
            onDevice(device);
    }
    pending.erase(0, used);
    return ended;
}

void discoverShared(Hcp& finder, const Hcp::DeviceHandler& onDevice, long windowSeconds, int port) {
    std::string prefix = sharedPrefix();
    int lockFd = open((prefix + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0 || !ownedRegular(lockFd)) {
        if (lockFd >= 0)
            close(lockFd);
        finder.discover(onDevice, nullptr, port, windowSeconds);
        return;
    }
    double deadline = now() + static_cast<double>(windowSeconds) + 5;
    for (;;) {
        if (flock(lockFd, LOCK_EX | LOCK_NB) == 0) {
            lead(lockFd, prefix, finder, onDevice, windowSeconds, port);
            flock(lockFd, LOCK_UN);
            break;
        }
        if (follow(lockFd, prefix, finder, onDevice, deadline))
            break;
        if (now() >= deadline)
            break;
        sleepMs(10);
    }
    close(lockFd);
}
