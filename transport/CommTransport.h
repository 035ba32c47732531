// The byte pipe to the printer as the NPA exchanges see it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace qor {

class CommTransport {
  public:
    // Opens the printer named by `path`: a device node under /dev/usb
    // (/dev/usb/lpN or /dev/usb/usblpN) or "bus:device" for libusb.
    // Replaces any earlier connector. Returns 0, or -1 on failure.
    virtual int open(const std::string& path) = 0;
    // Returns 0, or -1 on failure or when there is no connector.
    virtual int close() = 0;
    // Fills up to `size` bytes; returns as soon as the buffer is full, on a
    // connector error, or after more than 4 s without new data. Returns the
    // count placed (0..size), never negative.
    virtual int read(uint8_t* buffer, size_t size) = 0;
    // Returns as soon as some bytes have arrived (up to `size`), or 0 once
    // the CLOCK_REALTIME time `until` has come or the connector failed.
    // Pipes that hand out what they hold at once may just read.
    virtual int readArrived(uint8_t* buffer, size_t size, const timespec& until) {
        (void)until;
        return read(buffer, size);
    }
    // Writes the whole request; returns what the connector reported
    // (bytes written, or a negative value / 0 on failure).
    virtual int write(const uint8_t* buffer, size_t size) = 0;
    virtual void idle() {}
    // Throws when `path` could not be opened even once in this run (the
    // shared USB transport throws DeviceUnavailable); pipes that can't tell
    // return.
    virtual void requireOpenedOnce(const std::string& path) const { (void)path; }
    virtual ~CommTransport() = default;
};

}  // namespace qor
