#include "USBLPConnector.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace qor {

USBLPConnector::USBLPConnector(const char* base, int number) {
    m_Fd = -1;
    m_Kind = CONNECTOR_USBLP;
    m_Status = IO_OK;
    if (base && std::strlen(base) <= 62 && number >= 0 && number <= 16) {
        // A 62-character base with a two-digit number does not fit the 64
        // bytes; such a path is not formed rather than cut short.
        char formed[96];
        int length = std::snprintf(formed, sizeof formed, "%s%d", base, number);
        if (length > 0 && static_cast<size_t>(length) < sizeof m_DevicePath) {
            std::memcpy(m_DevicePath, formed, static_cast<size_t>(length) + 1);
        }
    }
    pthread_mutex_init(&m_WriteLock, nullptr);
    pthread_mutex_init(&m_ReadLock, nullptr);
}

USBLPConnector::~USBLPConnector() {
    if (m_Fd >= 0)
        m_Status = close();
    pthread_mutex_destroy(&m_WriteLock);
    pthread_mutex_destroy(&m_ReadLock);
}

int USBLPConnector::open() {
    m_OpenError = 0;
    if (m_DevicePath[0] == '\0') {
        m_Status = IO_FAILED;
        return 1;
    }
    m_Fd = ::open(m_DevicePath, O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK);
    if (m_Fd < 0)
        m_OpenError = errno;
    // Descriptor 0 is not a printer node we opened on purpose: count it as
    // failure, as the node's users always have standard input open.
    int result = m_Fd > 0 ? 0 : 1;
    m_Status = result;
    return result;
}

int USBLPConnector::close() {
    pthread_mutex_lock(&m_WriteLock);
    pthread_mutex_lock(&m_ReadLock);
    int result = 1;
    if (m_Fd >= 0 && ::close(m_Fd) == 0) {
        m_Fd = -1;
        result = 0;
    }
    pthread_mutex_unlock(&m_ReadLock);
    pthread_mutex_unlock(&m_WriteLock);
    m_Status = result;
    return result;
}

void USBLPConnector::statusFromErrno(int error) {
    if (error == EAGAIN) {
        m_Status = IO_AGAIN;
    } else if (error == EBADF) {
        m_Status = IO_BROKEN;
    } else if (error == EINTR) {
        m_Status = IO_INTERRUPTED;
    }
}

ssize_t USBLPConnector::readNode(uint8_t* buffer, size_t size, int& error) {
    pthread_mutex_lock(&m_ReadLock);
    ssize_t n = ::read(m_Fd, buffer, size);
    error = errno;
    pthread_mutex_unlock(&m_ReadLock);
    if (n == -1)
        statusFromErrno(error);
    return n;
}

int USBLPConnector::read(uint8_t* buffer, size_t size) {
    int error = 0;
    return static_cast<int>(readNode(buffer, size, error));
}

int USBLPConnector::readAvailable(uint8_t* buffer, size_t size) {
    int error = 0;
    ssize_t n = readNode(buffer, size, error);
    return n == -1 && error == EAGAIN ? 0 : static_cast<int>(n);
}

int USBLPConnector::query(uint8_t* buffer, size_t size) {
    if (buffer)
        std::memset(buffer, 0, size);
    m_Status = IO_BROKEN;
    return 0;
}

int USBLPConnector::write(const uint8_t* buffer, size_t size) {
    using Clock = std::chrono::steady_clock;
    pthread_mutex_lock(&m_WriteLock);
    size_t done = 0;
    ssize_t last = 0;
    int lastErrno = 0;
    auto lastProgress = Clock::now();
    const auto stallLimit = std::chrono::milliseconds(m_WriteStallLimitMs);
    for (;;) {
        last = ::write(m_Fd, buffer + done, size - done);
        lastErrno = errno;
        if (last > 0) {
            done += static_cast<size_t>(last);
            lastProgress = Clock::now();
            if (done >= size)
                break;
        } else if (last == 0 || lastErrno != EAGAIN) {
            // A hard error or a node that takes nothing: no point waiting.
            break;
        }
        if (Clock::now() - lastProgress >= stallLimit)
            break;
        // Wait (in short steps, so the stall limit is kept) until the node
        // takes more.
        waitFor(true, 100);
    }
    pthread_mutex_unlock(&m_WriteLock);

    if (done == size && size > 0) {
        m_Status = IO_OK;
        return static_cast<int>(done);
    }
    if (done > 0) {
        m_Status = IO_SHORT_WRITE;
        return static_cast<int>(done);
    }
    if (last == 0) {
        m_Status = IO_NOTHING_WRITTEN;
        return 0;
    }
    statusFromErrno(lastErrno);
    return -1;
}

IoStatus USBLPConnector::waitFor(bool forWrite, uint32_t timeoutMs) {
    if (m_Fd < 0 || m_Fd >= FD_SETSIZE)
        return IO_FAILED;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(m_Fd, &set);
    // select takes seconds and microseconds; tv_usec must stay below a
    // second on some systems.
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    int ready = forWrite ? select(m_Fd + 1, nullptr, &set, nullptr, &tv)
                         : select(m_Fd + 1, &set, nullptr, nullptr, &tv);
    if (ready > 0)
        return FD_ISSET(m_Fd, &set) ? (forWrite ? IO_WRITABLE : IO_READABLE) : IO_FAILED;
    if (ready == 0)
        return IO_TIMEOUT;
    return IO_FAILED;
}

IoStatus USBLPConnector::waitReadable(uint32_t timeoutMs) {
    IoStatus result = waitFor(false, timeoutMs);
    m_Status = result;
    return result;
}

IoStatus USBLPConnector::waitWritable(uint32_t timeoutMs) {
    IoStatus result = waitFor(true, timeoutMs);
    m_Status = result;
    return result;
}

}  // namespace qor

namespace qor {

bool USBLPConnector::setDevicePath(const char* path) {
    if (!path || std::strlen(path) >= sizeof m_DevicePath)
        return false;
    std::memcpy(m_DevicePath, path, std::strlen(path) + 1);
    return true;
}

}  // namespace qor
