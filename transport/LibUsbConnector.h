// The connector that talks to the printer interface with libusb-0.1 bulk
// transfers, addressed by USB bus and device number.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "ByteRing.h"
#include "HCIOConnector.h"

struct usb_dev_handle;
struct usb_device;

namespace qor {

class LibUsbConnector : public HCIOConnector {
  public:
    // `interfaceClass`: the USB interface class to claim (7, printer).
    explicit LibUsbConnector(int interfaceClass);
    ~LibUsbConnector() override;
    LibUsbConnector(const LibUsbConnector&) = delete;
    LibUsbConnector& operator=(const LibUsbConnector&) = delete;

    // Finds bus `bus`, device `device`, claims the first interface of the
    // wanted class that can be claimed and learns its bulk endpoints.
    // Returns 0, or 1 when nothing was claimed.
    int openDevice(int bus, int device);
    // This connector opens only through openDevice: always 1.
    int open() override;
    // Releases the interface and closes the handle: 0, or 1 without handle.
    int close() override;
    // Takes `size` bytes from the ring, bulk-reading (10 s waits) while it
    // holds fewer; returns fewer when the device goes quiet or fails.
    int read(uint8_t* buffer, size_t size) override;
    // The bytes already held from earlier bulk reads; no bus traffic.
    int readAvailable(uint8_t* buffer, size_t size) override;
    // Unsupported: returns 0 and changes nothing.
    int query(uint8_t* buffer, size_t size) override;
    // Bulk-writes in chunks of the packet size. A chunk that times out
    // (-110) gets its halt cleared and is sent again, but only within the
    // retry bound (see setWriteRetryBound); beyond it the write stops with
    // IO_FAILED. A stall (-32) stops with IO_BROKEN, other errors with
    // IO_FAILED. Returns the bytes written (0 without handle).
    int write(const uint8_t* buffer, size_t size) override;
    // One bulk read of up to the packet size with a timeout of `timeoutMs`,
    // into the ring: IO_READABLE, IO_TIMEOUT (0 bytes or -110) or IO_FAILED
    // (no handle, another error, or no room in the ring).
    IoStatus waitReadable(uint32_t timeoutMs) override;
    // Always IO_WRITABLE: a bulk write waits for itself.
    IoStatus waitWritable(uint32_t timeoutMs) override;
    // Every readiness wait is a bulk transfer that is submitted and, when
    // the printer is quiet, cancelled: quiet times are waited out in whole
    // 1 s transfers rather than many short ones.
    uint32_t waitSliceMs() const override { return 1000; }

    // Bounds the resending of a timed-out chunk: at most `maxTimeouts`
    // consecutive timeouts and at most `budgetMs` milliseconds from the
    // chunk's first timeout. Defaults 6 and 30000 (six 5 s timeouts).
    void setWriteRetryBound(int maxTimeouts, unsigned budgetMs) {
        m_WriteMaxTimeouts = maxTimeouts;
        m_WriteBudgetMs = budgetMs;
    }

    int interfaceNumber() const { return m_InterfaceNumber; }
    int inEndpoint() const { return m_InEndpoint; }
    int outEndpoint() const { return m_OutEndpoint; }
    int maxPacketSize() const { return m_MaxPacketSize; }
    bool isClaimed() const { return m_Handle != nullptr; }
    // Whether the last openDevice found a device of that bus and number
    // (whatever came of claiming it).
    bool deviceFound() const { return m_DeviceFound; }
    ByteRing& ring() { return m_Ring; }

  private:
    bool claimInterface(struct usb_device* device, int configurationValue, int interfaceNumber);

    ByteRing m_Ring;
    int m_InterfaceClass = 7;
    int m_InterfaceNumber = 0;
    int m_InEndpoint = 0;
    int m_OutEndpoint = 0;
    int m_MaxPacketSize = 32;
    usb_dev_handle* m_Handle = nullptr;
    bool m_DeviceFound = false;
    int m_WriteMaxTimeouts = 6;
    unsigned m_WriteBudgetMs = 30000;
    pthread_mutex_t m_WriteLock;
    pthread_mutex_t m_ReadLock;
};

}  // namespace qor
