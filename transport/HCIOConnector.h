// A byte pipe to one USB printer: the kernel's device node or libusb.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

enum IoStatus : int32_t {
    IO_OK = 0,
    IO_FAILED = 1,
    IO_BROKEN = 16,
    IO_INTERRUPTED = 17,
    IO_READABLE = 18,
    IO_WRITABLE = 19,
    IO_TIMEOUT = 33,
    IO_AGAIN = 34,
    IO_SHORT_WRITE = 35,
    IO_NOTHING_WRITTEN = 36,
};

enum ConnectorKind : int32_t {
    CONNECTOR_USBLP = 2,
    CONNECTOR_LIBUSB = 3,
};

class HCIOConnector {
  public:
    virtual ~HCIOConnector() = default;
    // 0 on success, 1 on failure.
    virtual int open() = 0;
    virtual int close() = 0;
    virtual int read(uint8_t* buffer, size_t size) = 0;
    virtual int query(uint8_t* buffer, size_t size) = 0;
    // What has arrived already, up to `size` bytes, without waiting: the
    // count (0 when nothing is there), or negative on an error. The node is
    // non-blocking, so its read does exactly that.
    virtual int readAvailable(uint8_t* buffer, size_t size) { return read(buffer, size); }
    virtual int write(const uint8_t* buffer, size_t size) = 0;
    // Timeout in microseconds on the device node, milliseconds over libusb.
    virtual IoStatus waitReadable(uint32_t timeout) = 0;
    virtual IoStatus waitWritable(uint32_t timeout) = 0;

    int32_t status() const { return m_Status; }
    int32_t kind() const { return m_Kind; }
    void setKind(int32_t kind) { m_Kind = kind; }

  protected:
    int32_t m_Status = IO_OK;
    int32_t m_Kind = 0;
};

}  // namespace qor
