#include "HCUSBTransport.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "LibUsbConnector.h"
#include "USBLPConnector.h"

namespace qor {

HCUSBTransport* HCUSBTransport::m_Instance = nullptr;
int HCUSBTransport::m_RefCount = 0;

namespace {

constexpr int kPrinterInterfaceClass = 7;
constexpr time_t kReadWindowSeconds = 4;
// The longest single readiness wait: a second, so that a step of the clock
// is noticed soon.
constexpr int64_t kLongestWaitMs = 1000;
// The bus part of "bus:device" fits a buffer of 10 characters, the device
// part one of 16 (each with its terminating NUL).
constexpr size_t kMaxBusDigits = 9;
constexpr size_t kMaxDeviceDigits = 15;

// Parses the decimal digits at `text` up to `maxDigits`; false when there is
// no digit or more digits than allowed.
bool parseNumber(const std::string& text, size_t start, size_t end, size_t maxDigits, int& out) {
    if (start >= end || end - start > maxDigits)
        return false;
    long value = 0;
    for (size_t i = start; i < end; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c))
            return false;
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return false;
    }
    out = static_cast<int>(value);
    return true;
}

// The number right after `marker` in `path`: the run of digits there.
bool numberAfter(const std::string& path, const char* marker, int& out) {
    size_t at = path.find(marker);
    if (at == std::string::npos)
        return false;
    size_t start = at + std::strlen(marker);
    size_t end = start;
    while (end < path.size() && std::isdigit(static_cast<unsigned char>(path[end])))
        ++end;
    return parseNumber(path, start, end, 10, out);
}

// The whole seconds of CLOCK_REALTIME. time() may trail them by a tick, and
// a window begun in the tick after a whole second would then close a second
// early: the exchanges' deadlines count on the fine clock, so does this.
time_t wholeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

// Milliseconds from now until `until` (CLOCK_REALTIME), rounded up; 0 or
// less once it has come.
int64_t msUntil(const timespec& until) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    int64_t leftUs = (static_cast<int64_t>(until.tv_sec) - now.tv_sec) * 1000000 +
                     (until.tv_nsec - now.tv_nsec) / 1000;
    return leftUs <= 0 ? 0 : (leftUs + 999) / 1000;
}

// The next readiness wait of a read window that began in the whole second
// `noted`. A wait ends as soon as data come, so it may run up to the second
// at which the window closes: the window then closes on the same second as
// with 1 ms steps, without thousands of wake-ups. The window only has to be
// outlasted, so a connector whose waits are costly waits whole slices.
uint32_t windowWaitMs(const HCIOConnector& connector, time_t noted) {
    const timespec closesAt{noted + kReadWindowSeconds + 1, 0};
    // At least a millisecond, so that the last wait reaches past the second.
    int64_t step = msUntil(closesAt);
    if (step < 1)
        step = 1;
    if (step > kLongestWaitMs)
        step = kLongestWaitMs;
    return std::max(static_cast<uint32_t>(step), connector.waitSliceMs());
}

}  // namespace

HCUSBTransport* HCUSBTransport::getInstance() {
    if (!m_Instance)
        m_Instance = new HCUSBTransport();
    ++m_RefCount;
    return m_Instance;
}

void HCUSBTransport::releaseInstance() {
    --m_RefCount;
    if (m_RefCount == 0) {
        std::fputs("D [QOR] Destroying last instance of usb transport.\n", stderr);
        delete m_Instance;
        m_Instance = nullptr;
    }
}

// The connector's own destructor closes it.
HCUSBTransport::~HCUSBTransport() = default;

bool parseUsbDevicePath(const std::string& path, UsbDevicePath& out) {
    out = UsbDevicePath();
    if (path.find("/dev/usb") != std::string::npos) {
        int number = 0;
        if (!numberAfter(path, "usblp", number) && !numberAfter(path, "/lp", number))
            return false;  // no device number: nothing to open
        out.kind = UsbDevicePath::Node;
        out.number = number;
        return true;
    }
    size_t colon = path.find(':');
    if (colon == std::string::npos)
        return false;
    int bus = 0;
    int device = 0;
    if (!parseNumber(path, 0, colon, kMaxBusDigits, bus) ||
        !parseNumber(path, colon + 1, path.size(), kMaxDeviceDigits, device)) {
        return false;
    }
    out.kind = UsbDevicePath::BusDevice;
    out.bus = bus;
    out.device = device;
    return true;
}

int HCUSBTransport::open(const std::string& path) {
    if (m_Connector) {
        m_Connector->close();
        m_Connector.reset();
    }
    m_OpenFailure.clear();

    UsbDevicePath parsed;
    if (!parseUsbDevicePath(path, parsed)) {
        m_OpenFailure = "not a device path (/dev/usb/lpN or bus:device)";
        return -1;
    }
    // The connector stays, opened or not, until the next open.
    if (parsed.kind == UsbDevicePath::Node) {
        // Numbers outside 0..16 form no path: the connector then fails to open.
        auto node = std::make_unique<USBLPConnector>("/dev/usb/lp", parsed.number);
        const bool opened = node->open() == 0;
        if (!opened) {
            m_OpenFailure = node->openError() != 0 ? std::strerror(node->openError())
                                                   : "device numbers run from 0 to 16";
        }
        m_Connector = std::move(node);
        m_EverOpened = m_EverOpened || opened;
        return opened ? 0 : -1;
    }
    auto usb = std::make_unique<LibUsbConnector>(kPrinterInterfaceClass);
    const bool opened = usb->openDevice(parsed.bus, parsed.device) == 0;
    if (!opened) {
        char text[96];
        std::snprintf(text, sizeof text,
                      usb->deviceFound()
                          ? "no printer interface could be claimed on bus %d, device %d"
                          : "no USB device at bus %d, device %d",
                      parsed.bus, parsed.device);
        m_OpenFailure = text;
    }
    m_Connector = std::move(usb);
    m_EverOpened = m_EverOpened || opened;
    return opened ? 0 : -1;
}

void HCUSBTransport::requireOpenedOnce(const std::string& path) const {
    if (!m_EverOpened)
        throw DeviceUnavailable(path, m_OpenFailure.empty() ? "not opened" : m_OpenFailure);
}

int HCUSBTransport::close() {
    if (!m_Connector)
        return -1;
    return m_Connector->close() == 0 ? 0 : -1;
}

int HCUSBTransport::read(uint8_t* buffer, size_t size) {
    if (!m_Connector || !buffer)
        return 0;
    int n = m_Connector->read(buffer, size);
    if (n >= 0 && static_cast<size_t>(n) == size)
        return n;
    size_t got = n > 0 ? static_cast<size_t>(n) : 0;
    if (got > size)
        got = size;  // a connector never gives more than asked

    while (got < size) {
        // Wait for data; every arrival starts the window again, so a reply
        // shorter than the buffer returns only after the window has passed.
        time_t noted = wholeSeconds();
        IoStatus ready;
        for (;;) {
            ready = m_Connector->waitReadable(windowWaitMs(*m_Connector, noted));
            if (ready != IO_TIMEOUT)
                break;
            if (wholeSeconds() - noted > kReadWindowSeconds)
                return static_cast<int>(got);
        }
        if (ready != IO_READABLE)
            break;
        int more = m_Connector->read(buffer + got, size - got);
        if (more > 0) {
            size_t add = static_cast<size_t>(more);
            got += add > size - got ? size - got : add;
        }
    }
    return static_cast<int>(got);
}

int HCUSBTransport::readArrived(uint8_t* buffer, size_t size, const timespec& until) {
    if (!m_Connector || !buffer || size == 0)
        return 0;
    for (;;) {
        int n = m_Connector->readAvailable(buffer, size);
        if (n > 0)
            return n > static_cast<int>(size) ? static_cast<int>(size) : n;
        // A deadline, not a quiet time: one wait up to it, which ends at the
        // first bytes. Over libusb a bulk read that times out just as bytes
        // come loses them, so no wait ends before the deadline on its own.
        int64_t left = msUntil(until);
        if (left <= 0)
            return 0;
        IoStatus ready =
            m_Connector->waitReadable(static_cast<uint32_t>(left < INT32_MAX ? left : INT32_MAX));
        if (ready != IO_READABLE && ready != IO_TIMEOUT)
            return 0;
    }
}

int HCUSBTransport::write(const uint8_t* buffer, size_t size) {
    if (!m_Connector)
        return -1;
    return static_cast<int32_t>(m_Connector->write(buffer, size));
}

}  // namespace qor

namespace qor {

void HCUSBTransport::adoptConnector(std::unique_ptr<HCIOConnector> connector) {
    if (m_Connector)
        m_Connector->close();
    m_Connector = std::move(connector);
}

}  // namespace qor
