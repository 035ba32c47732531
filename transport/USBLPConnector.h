// The connector over the kernel's USB printer device node (/dev/usb/lpN).
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>

#include "HCIOConnector.h"

namespace qor {

class USBLPConnector : public HCIOConnector {
  public:
    // Forms the path base + number ("%s%d") when the base is at most 62
    // characters and 0 <= number <= 16; otherwise no path is formed and open
    // fails.
    USBLPConnector(const char* base, int number);
    ~USBLPConnector() override;
    USBLPConnector(const USBLPConnector&) = delete;
    USBLPConnector& operator=(const USBLPConnector&) = delete;

    // open(2) with O_RDWR|O_EXCL|O_NOCTTY|O_NONBLOCK; a descriptor of 0 or
    // less counts as failure. Returns 0, or 1 on failure.
    int open() override;
    // Closes the descriptor under both locks (write lock first). Returns 0,
    // or 1 when nothing was open or close(2) failed (the descriptor is kept).
    int close() override;
    // One non-blocking read(2); returns its result. On -1 the status becomes
    // IO_AGAIN (nothing waiting), IO_BROKEN (EBADF) or IO_INTERRUPTED
    // (EINTR); other errors leave the status as it was.
    int read(uint8_t* buffer, size_t size) override;
    // The same read, but nothing waiting (EAGAIN) returns 0.
    int readAvailable(uint8_t* buffer, size_t size) override;
    // Unsupported: zeroes the buffer, sets IO_BROKEN, returns 0.
    int query(uint8_t* buffer, size_t size) override;
    // Writes the whole buffer. The node takes only part of a large request
    // per write(2) (the driver 8 KiB, a pseudo-terminal less), so after a
    // short write or EAGAIN it waits until the node is writable and writes
    // the rest, until everything is out or no byte has gone out for the
    // stall limit (5 s). Returns the bytes written, or what the last write(2)
    // returned (-1 or 0) when nothing went out at all. Status: IO_OK when
    // complete, IO_SHORT_WRITE when only part went out, IO_NOTHING_WRITTEN
    // when write(2) returned 0, or the errno status as for read.
    int write(const uint8_t* buffer, size_t size) override;
    // select(2) for up to `timeoutMs` milliseconds: IO_READABLE /
    // IO_WRITABLE, IO_TIMEOUT, or IO_FAILED (not open, select failed).
    IoStatus waitReadable(uint32_t timeoutMs) override;
    IoStatus waitWritable(uint32_t timeoutMs) override;

    // Points the connector at another node (a pseudo-terminal in tests).
    // Refuses (false, path unchanged) a null path or one of 64 bytes or more.
    bool setDevicePath(const char* path);
    const char* devicePath() const { return m_DevicePath; }
    int fd() const { return m_Fd; }
    // The errno of the last failed open (0 when the path was not formed).
    int openError() const { return m_OpenError; }
    // How long a short write may make no progress before it is given up
    // (milliseconds; 5000 by default). Tests make it shorter.
    void setWriteStallLimitMs(unsigned ms) { m_WriteStallLimitMs = ms; }

  private:
    IoStatus waitFor(bool forWrite, uint32_t timeoutMs);
    ssize_t readNode(uint8_t* buffer, size_t size, int& error);
    void statusFromErrno(int error);

    char m_DevicePath[64] = {};
    int m_Fd = -1;
    int m_OpenError = 0;
    unsigned m_WriteStallLimitMs = 5000;
    pthread_mutex_t m_WriteLock;
    pthread_mutex_t m_ReadLock;
};

}  // namespace qor
