// The process's single USB transport over a connector.
#pragma once

#include "CommTransport.h"
#include "HCIOConnector.h"

namespace qor {

// What a device path names, as open() reads it.
struct UsbDevicePath {
    enum Kind { None, Node, BusDevice };
    Kind kind = None;
    int number = 0;  // Node: the N of /dev/usb/lpN
    int bus = 0;     // BusDevice: the libusb bus and device numbers
    int device = 0;
};

// Reads a device path: one that holds "/dev/usb" names the node whose number
// follows "usblp" or else "/lp" (so /dev/usb/usblp1 and /dev/usb/lp1 are the
// same node); otherwise "bus:device" in decimal, the bus part at most 9 digits
// and the device part at most 15 (their buffers hold 10 and 16 characters).
// Returns false (kind None) for a /dev/usb path without a number, for a path
// without ":" and for bus or device parts that are empty, not decimal or too
// long.
bool parseUsbDevicePath(const std::string& path, UsbDevicePath& out);

class HCUSBTransport : public CommTransport {
  public:
    // The shared instance: created on first use, one count per holder.
    static HCUSBTransport* getInstance();
    // Drops one count; the last release writes
    // "D [QOR] Destroying last instance of usb transport.\n" to standard
    // error and deletes the instance.
    static void releaseInstance();

    int open(const std::string& path) override;
    int close() override;
    int read(uint8_t* buffer, size_t size) override;
    int write(const uint8_t* buffer, size_t size) override;
    ~HCUSBTransport() override;

    // The current connector (null before the first open or after a path
    // that names no connector).
    HCIOConnector* connector() const { return m_Connector; }
    // Replaces the connector with `connector` (owned from now on; the old
    // one is closed and deleted). For tests that bring their own pipe.
    void adoptConnector(HCIOConnector* connector);

  private:
    HCUSBTransport() = default;
    HCIOConnector* m_Connector = nullptr;
    static HCUSBTransport* m_Instance;
    static int m_RefCount;
};

}  // namespace qor
