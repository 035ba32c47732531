// A byte pipe to one USB printer: the kernel's device node (USBLPConnector)
// or libusb bulk transfers (LibUsbConnector). The transport holds one and
// knows it only through this interface; it never asks which kind it is.
//
// What every connector promises:
//
// Time. Every timeout at this interface is in milliseconds. A connector
// converts inside itself (select(2) microseconds on the node, libusb's own
// millisecond bulk timeouts).
//
// Status. Most calls also store an IoStatus in status(): callers test the
// return value, the status says why.
//
// open() / close()
//   0 on success, 1 on failure; never negative. close() of a pipe that is not
//   open returns 1. Neither waits on the printer; close() waits only for a
//   read or write in progress on another thread (it takes both locks).
//
// read(buffer, size)
//   Places up to `size` bytes. Returns the count placed (1..size), 0 when
//   nothing came and nothing failed, or -1 when the call failed; status() then
//   says why, and IO_AGAIN means only that nothing was waiting. How long it
//   waits is the pipe's own: the node never waits; libusb bulk-reads, each
//   transfer up to 10 s, while it holds fewer than `size` bytes.
//
// readAvailable(buffer, size)
//   Never waits: the bytes that have already arrived, up to `size`. Returns
//   the count, 0 when none are there, -1 when the pipe failed.
//
// write(buffer, size)
//   Returns the count written: `size` when whole (IO_OK), fewer when only
//   part went out (IO_SHORT_WRITE, IO_BROKEN or IO_FAILED), 0 when nothing
//   went out (libusb also when not open), -1 when nothing went out because
//   write(2) failed (node only, also when not open: EBADF, IO_BROKEN).
//   Waits while the printer takes the bytes, bounded: the node gives up
//   after 5 s without progress, libusb after a bounded number of 5 s chunk
//   timeouts.
//
// query(buffer, size)
//   An auxiliary read that no pipe supports: returns 0.
//
// waitReadable(timeoutMs) / waitWritable(timeoutMs)
//   Waits at most `timeoutMs` milliseconds and returns as soon as the pipe is
//   ready: IO_READABLE / IO_WRITABLE, IO_TIMEOUT when the time ran out, or
//   IO_FAILED when the pipe failed or (for reading) is not open. Over libusb
//   the readable wait is itself a bulk read, whose bytes are held for the
//   next read or readAvailable, and the writable wait answers IO_WRITABLE at
//   once, as a bulk write waits for itself. Also stored as status().
//
// waitSliceMs()
//   The shortest readiness wait worth making on this pipe. A caller that only
//   has to outlast a quiet time (not meet a deadline) waits at least this
//   long per call.
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

// Which pipe a connector is; reported, never acted on by the transport.
enum ConnectorKind : int32_t {
    CONNECTOR_USBLP = 2,
    CONNECTOR_LIBUSB = 3,
};

class HCIOConnector {
  public:
    virtual ~HCIOConnector() = default;
    virtual int open() = 0;
    virtual int close() = 0;
    virtual int read(uint8_t* buffer, size_t size) = 0;
    virtual int query(uint8_t* buffer, size_t size) = 0;
    // For a pipe whose read never waits: that read, with "nothing waiting"
    // reported as 0.
    virtual int readAvailable(uint8_t* buffer, size_t size) {
        int n = read(buffer, size);
        return n < 0 && m_Status == IO_AGAIN ? 0 : n;
    }
    virtual int write(const uint8_t* buffer, size_t size) = 0;
    virtual IoStatus waitReadable(uint32_t timeoutMs) = 0;
    virtual IoStatus waitWritable(uint32_t timeoutMs) = 0;
    virtual uint32_t waitSliceMs() const { return 1; }

    int32_t status() const { return m_Status; }
    int32_t kind() const { return m_Kind; }
    void setKind(int32_t kind) { m_Kind = kind; }

  protected:
    int32_t m_Status = IO_OK;
    int32_t m_Kind = 0;
};

}  // namespace qor
