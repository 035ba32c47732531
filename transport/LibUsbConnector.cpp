#include "LibUsbConnector.h"

#include <usb.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <vector>

namespace qor {

namespace {
constexpr int kTimedOut = -110;    // -ETIMEDOUT from libusb-0.1
constexpr int kPipeStalled = -32;  // -EPIPE
constexpr int kWriteTimeoutMs = 5000;
constexpr uint32_t kReadWaitMs = 10000;
}  // namespace

LibUsbConnector::LibUsbConnector(int interfaceClass) {
    m_Status = IO_OK;
    m_Ring.init(65536);
    m_InterfaceNumber = 0;
    m_InterfaceClass = interfaceClass;
    m_Handle = nullptr;
    m_InEndpoint = 0;
    m_OutEndpoint = 0;
    m_MaxPacketSize = 32;
    m_Kind = CONNECTOR_LIBUSB;
    pthread_mutex_init(&m_WriteLock, nullptr);
    pthread_mutex_init(&m_ReadLock, nullptr);
}

LibUsbConnector::~LibUsbConnector() {
    close();
    pthread_mutex_destroy(&m_WriteLock);
    pthread_mutex_destroy(&m_ReadLock);
    m_Ring.destroy();
}

bool LibUsbConnector::claimInterface(struct usb_device* device, int configurationValue,
                                     int interfaceNumber) {
    m_Handle = usb_open(device);
    if (!m_Handle)
        return false;
    usb_set_configuration(m_Handle, configurationValue);  // already set on most printers
    if (usb_claim_interface(m_Handle, interfaceNumber) < 0) {
        usb_close(m_Handle);
        m_Handle = nullptr;
        return false;
    }
    m_InterfaceNumber = interfaceNumber;
    return true;
}

int LibUsbConnector::openDevice(int bus, int device) {
    usb_init();
    usb_find_busses();
    usb_find_devices();

    struct usb_interface_descriptor* claimed = nullptr;
    m_DeviceFound = false;
    for (struct usb_bus* b = usb_get_busses(); b && !claimed; b = b->next) {
        if (std::atoi(b->dirname) != bus)
            continue;
        for (struct usb_device* d = b->devices; d && !claimed; d = d->next) {
            if (std::atoi(d->filename) != device)
                continue;
            m_DeviceFound = true;
            if (!d->config)
                continue;
            for (int c = 0; c < d->descriptor.bNumConfigurations && !claimed; ++c) {
                struct usb_config_descriptor& config = d->config[c];
                if (!config.interface)
                    continue;
                for (int i = 0; i < config.bNumInterfaces && !claimed; ++i) {
                    struct usb_interface& intf = config.interface[i];
                    if (!intf.altsetting)
                        continue;
                    for (int a = 0; a < intf.num_altsetting; ++a) {
                        struct usb_interface_descriptor& alt = intf.altsetting[a];
                        if (alt.bInterfaceClass != m_InterfaceClass)
                            continue;
                        // The first alternate setting of the class is the one
                        // tried; then the next interface, whatever the outcome.
                        if (claimInterface(d, config.bConfigurationValue, alt.bInterfaceNumber)) {
                            claimed = &alt;
                        }
                        break;
                    }
                }
            }
        }
    }
    if (!claimed) {
        m_Status = IO_FAILED;
        return 1;
    }
    for (int e = 0; claimed->endpoint && e < claimed->bNumEndpoints; ++e) {
        const struct usb_endpoint_descriptor& ep = claimed->endpoint[e];
        if ((ep.bmAttributes & USB_ENDPOINT_TYPE_MASK) != USB_ENDPOINT_TYPE_BULK)
            continue;
        if (ep.bEndpointAddress & USB_ENDPOINT_DIR_MASK) {
            m_InEndpoint = ep.bEndpointAddress;
            // A zero packet size would make every bulk read empty; keep the
            // default then.
            if (ep.wMaxPacketSize > 0)
                m_MaxPacketSize = ep.wMaxPacketSize;
        } else {
            m_OutEndpoint = ep.bEndpointAddress;
        }
    }
    m_Status = IO_OK;
    return 0;
}

int LibUsbConnector::open() {
    m_Status = IO_FAILED;
    return 1;
}

int LibUsbConnector::close() {
    pthread_mutex_lock(&m_WriteLock);
    pthread_mutex_lock(&m_ReadLock);
    int result = 1;
    if (m_Handle) {
        usb_release_interface(m_Handle, m_InterfaceNumber);
        usb_close(m_Handle);
        m_Handle = nullptr;
        result = 0;
    }
    pthread_mutex_unlock(&m_ReadLock);
    pthread_mutex_unlock(&m_WriteLock);
    m_Status = result;
    return result;
}

IoStatus LibUsbConnector::waitReadable(uint32_t timeoutMs) {
    if (!m_Handle) {
        m_Status = IO_FAILED;
        return IO_FAILED;
    }
    pthread_mutex_lock(&m_ReadLock);
    std::vector<char> temporary(static_cast<size_t>(m_MaxPacketSize));
    int n = usb_bulk_read(m_Handle, m_InEndpoint, temporary.data(), m_MaxPacketSize,
                          timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs));
    IoStatus result;
    if (n > 0 && n <= m_MaxPacketSize && m_Ring.freeSpace() > static_cast<uint64_t>(n)) {
        m_Ring.put(reinterpret_cast<const uint8_t*>(temporary.data()), static_cast<uint64_t>(n));
        result = IO_READABLE;
    } else if (n == 0 || n == kTimedOut) {
        result = IO_TIMEOUT;
    } else {
        result = IO_FAILED;
    }
    pthread_mutex_unlock(&m_ReadLock);
    m_Status = result;
    return result;
}

int LibUsbConnector::read(uint8_t* buffer, size_t size) {
    while (m_Ring.used() < size) {
        if (waitReadable(kReadWaitMs) != IO_READABLE)
            break;
    }
    uint64_t held = m_Ring.used();
    if (held < size)
        size = static_cast<size_t>(held);
    m_Ring.get(buffer, size);
    return static_cast<int>(size);
}

int LibUsbConnector::readAvailable(uint8_t* buffer, size_t size) {
    uint64_t held = m_Ring.used();
    if (held < size)
        size = static_cast<size_t>(held);
    m_Ring.get(buffer, size);
    return static_cast<int>(size);
}

int LibUsbConnector::query(uint8_t*, size_t) {
    return 0;
}

int LibUsbConnector::write(const uint8_t* buffer, size_t size) {
    using Clock = std::chrono::steady_clock;
    if (!m_Handle)
        return 0;
    pthread_mutex_lock(&m_WriteLock);
    size_t remaining = size;
    int timeouts = 0;
    Clock::time_point firstTimeout;
    while (remaining > 0) {
        int chunk = remaining < static_cast<size_t>(m_MaxPacketSize) ? static_cast<int>(remaining)
                                                                     : m_MaxPacketSize;
        const char* next = reinterpret_cast<const char*>(buffer + (size - remaining));
        int n = usb_bulk_write(m_Handle, m_OutEndpoint, next, chunk, kWriteTimeoutMs);
        // A chunk that went nowhere (timeout, or 0 bytes taken) is sent again
        // within the retry bound.
        if (n == kTimedOut || n == 0) {
            usb_clear_halt(m_Handle, static_cast<unsigned>(m_OutEndpoint));
            m_Status = IO_AGAIN;
            if (timeouts == 0)
                firstTimeout = Clock::now();
            ++timeouts;
            // A printer that never takes the chunk must not hold us forever.
            if (timeouts >= m_WriteMaxTimeouts ||
                Clock::now() - firstTimeout >= std::chrono::milliseconds(m_WriteBudgetMs)) {
                m_Status = IO_FAILED;
                break;
            }
            continue;
        }
        if (n == kPipeStalled) {
            m_Status = IO_BROKEN;
            break;
        }
        if (n < 0) {
            m_Status = IO_FAILED;
            break;
        }
        m_Status = IO_OK;
        timeouts = 0;
        size_t taken = static_cast<size_t>(n) > remaining ? remaining : static_cast<size_t>(n);
        remaining -= taken;
    }
    pthread_mutex_unlock(&m_WriteLock);
    return static_cast<int>(size - remaining);
}

IoStatus LibUsbConnector::waitWritable(uint32_t) {
    m_Status = IO_WRITABLE;
    return IO_WRITABLE;
}

}  // namespace qor
