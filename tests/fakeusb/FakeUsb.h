// A fake libusb-0.1 for tests: the C functions of <usb.h> over a scripted
// device, or (with QOR_FAKEUSB_NODE set) over a device node.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace fakeusb {

struct Endpoint {
    uint8_t address = 0;     // bit 0x80: IN
    uint8_t attributes = 2;  // 2: bulk
    uint16_t maxPacketSize = 64;
};

struct AltSetting {
    uint8_t interfaceNumber = 0;
    uint8_t interfaceClass = 7;
    std::vector<Endpoint> endpoints;
};

struct Interface {
    std::vector<AltSetting> altSettings;
};

struct Configuration {
    uint8_t value = 1;
    std::vector<Interface> interfaces;
};

struct Device {
    std::string bus = "001";       // directory name, read as a number
    std::string filename = "002";  // file name, read as a number
    std::vector<Configuration> configurations;
    bool failOpen = false;
    std::vector<int> unclaimable;  // interface numbers whose claim fails
};

// One scripted answer of usb_bulk_read: bytes, or an error code when
// `result` is negative (-110 timeout, -32 stall) or 0 for an empty read.
struct ReadStep {
    std::vector<uint8_t> bytes;
    int result = 0;  // used when bytes is empty
};

// What the fake was asked, in order, e.g. "claim 0", "bulk_write 1 64 5000".
struct Recorder {
    std::vector<std::string> calls;
    std::vector<uint8_t> written;  // every byte that a bulk write took
    int openHandles = 0;
};

// Forgets every device, script and record.
void reset();
void addDevice(const Device& device);
// Answers of usb_bulk_read, in order; when empty a read times out (-110).
void queueRead(const ReadStep& step);
// Results of usb_bulk_write, in order; when empty a write takes all it was
// given. A positive number takes at most that many bytes.
void queueWriteResult(int result);
// A read with nothing queued plays a silent device: it times out (-110)
// after its timeout, but waits at most `ms` milliseconds (0 by default, so
// that unit tests do not wait).
void setSilentReadWaitLimit(int ms);
Recorder& recorder();
// A device with one printer interface (class 7), bulk IN 0x81 and OUT 0x01.
Device printerDevice(const std::string& bus, const std::string& filename,
                     uint16_t maxPacketSize = 64);

}  // namespace fakeusb
