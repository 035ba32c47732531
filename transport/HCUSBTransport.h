// The process's single USB transport over a connector.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

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

// Thrown by the users of the shared transport when its device path could
// not be opened even once in this run: nothing can reach the printer, so
// the command stops at once instead of spending its tries.
class DeviceUnavailable : public std::runtime_error {
  public:
    DeviceUnavailable(const std::string& path, const std::string& reason)
        : std::runtime_error("cannot open the printer at '" + path + "': " + reason) {}
};

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
    int readArrived(uint8_t* buffer, size_t size, const timespec& until) override;
    int write(const uint8_t* buffer, size_t size) override;
    ~HCUSBTransport() override;

    // Why the last open failed, for the user ("No such file or directory",
    // "no USB device at bus 2, device 5", ...); empty after a successful open.
    const std::string& openFailure() const { return m_OpenFailure; }
    // Whether any open has succeeded since the instance was made.
    bool everOpened() const { return m_EverOpened; }
    // Throws DeviceUnavailable for `path` unless an open has ever succeeded.
    void requireOpenedOnce(const std::string& path) const override;

    // The current connector, still owned by the transport (null before the
    // first open or after a path that names no connector).
    HCIOConnector* connector() const { return m_Connector.get(); }
    // Replaces the connector with `connector` (null leaves none); the old
    // one is closed and destroyed. For tests that bring their own pipe.
    void adoptConnector(std::unique_ptr<HCIOConnector> connector);

  private:
    HCUSBTransport() = default;
    std::unique_ptr<HCIOConnector> m_Connector;
    std::string m_OpenFailure;
    bool m_EverOpened = false;
    static HCUSBTransport* m_Instance;
    static int m_RefCount;
};

}  // namespace qor
