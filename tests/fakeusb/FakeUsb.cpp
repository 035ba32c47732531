// The fake libusb-0.1. Builds its usb_bus / usb_device lists from the
// scripted devices, or, when QOR_FAKEUSB_NODE names a device node and no
// device was scripted, one printer whose bulk transfers go to that node.
#include "FakeUsb.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <usb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace fakeusb {
namespace {

struct Built {
    // Storage that the libusb structures point into.
    std::vector<std::unique_ptr<usb_bus>> buses;
    std::vector<std::unique_ptr<struct usb_device>> devices;
    std::vector<std::unique_ptr<usb_config_descriptor[]>> configs;
    std::vector<std::unique_ptr<usb_interface[]>> interfaces;
    std::vector<std::unique_ptr<usb_interface_descriptor[]>> alts;
    std::vector<std::unique_ptr<usb_endpoint_descriptor[]>> endpoints;
};

struct Handle {
    const Device* device = nullptr;
    int fd = -1;
};

struct State {
    std::mutex lock;
    std::vector<Device> devices;
    std::deque<ReadStep> reads;
    std::deque<int> writes;
    Recorder recorder;
    Built built;
    bool nodeMode = false;
    int silentWaitLimitMs = 0;
};

State& state() {
    static State* s = new State();  // never destroyed: used from exit paths
    return *s;
}

void record(const std::string& call) {
    state().recorder.calls.push_back(call);
}

void build() {
    State& s = state();
    s.built = Built();
    // Group devices by bus directory name.
    std::vector<std::string> busNames;
    for (const Device& d : s.devices) {
        if (std::find(busNames.begin(), busNames.end(), d.bus) == busNames.end())
            busNames.push_back(d.bus);
    }
    usb_bus* previousBus = nullptr;
    for (const std::string& name : busNames) {
        auto bus = std::make_unique<usb_bus>();
        std::memset(bus.get(), 0, sizeof(usb_bus));
        std::snprintf(bus->dirname, sizeof bus->dirname, "%s", name.c_str());
        struct usb_device* previousDevice = nullptr;
        for (const Device& d : s.devices) {
            if (d.bus != name)
                continue;
            auto dev = std::make_unique<struct usb_device>();
            std::memset(dev.get(), 0, sizeof(struct usb_device));
            std::snprintf(dev->filename, sizeof dev->filename, "%s", d.filename.c_str());
            dev->bus = bus.get();
            dev->dev = const_cast<Device*>(&d);
            dev->descriptor.bNumConfigurations = static_cast<uint8_t>(d.configurations.size());
            if (!d.configurations.empty()) {
                std::unique_ptr<usb_config_descriptor[]> cfgs(
                    new usb_config_descriptor[d.configurations.size()]());
                for (size_t c = 0; c < d.configurations.size(); ++c) {
                    const Configuration& cfg = d.configurations[c];
                    cfgs[c].bConfigurationValue = cfg.value;
                    cfgs[c].bNumInterfaces = static_cast<uint8_t>(cfg.interfaces.size());
                    std::unique_ptr<usb_interface[]> ifs(
                        new usb_interface[cfg.interfaces.size() + 1]());
                    for (size_t i = 0; i < cfg.interfaces.size(); ++i) {
                        const Interface& intf = cfg.interfaces[i];
                        std::unique_ptr<usb_interface_descriptor[]> as(
                            new usb_interface_descriptor[intf.altSettings.size() + 1]());
                        for (size_t a = 0; a < intf.altSettings.size(); ++a) {
                            const AltSetting& alt = intf.altSettings[a];
                            as[a].bInterfaceNumber = alt.interfaceNumber;
                            as[a].bInterfaceClass = alt.interfaceClass;
                            as[a].bNumEndpoints = static_cast<uint8_t>(alt.endpoints.size());
                            std::unique_ptr<usb_endpoint_descriptor[]> eps(
                                new usb_endpoint_descriptor[alt.endpoints.size() + 1]());
                            for (size_t e = 0; e < alt.endpoints.size(); ++e) {
                                eps[e].bEndpointAddress = alt.endpoints[e].address;
                                eps[e].bmAttributes = alt.endpoints[e].attributes;
                                eps[e].wMaxPacketSize = alt.endpoints[e].maxPacketSize;
                            }
                            as[a].endpoint = eps.get();
                            s.built.endpoints.push_back(std::move(eps));
                        }
                        ifs[i].altsetting = as.get();
                        ifs[i].num_altsetting = static_cast<int>(intf.altSettings.size());
                        s.built.alts.push_back(std::move(as));
                    }
                    cfgs[c].interface = ifs.get();
                    s.built.interfaces.push_back(std::move(ifs));
                }
                dev->config = cfgs.get();
                s.built.configs.push_back(std::move(cfgs));
            }
            if (previousDevice) {
                previousDevice->next = dev.get();
                dev->prev = previousDevice;
            } else {
                bus->devices = dev.get();
            }
            previousDevice = dev.get();
            s.built.devices.push_back(std::move(dev));
        }
        if (previousBus) {
            previousBus->next = bus.get();
            bus->prev = previousBus;
        }
        previousBus = bus.get();
        s.built.buses.push_back(std::move(bus));
    }
}

// With no scripted device, QOR_FAKEUSB_NODE makes one printer over a node.
void deviceFromEnvironment() {
    State& s = state();
    if (!s.devices.empty() || s.nodeMode)
        return;
    const char* node = std::getenv("QOR_FAKEUSB_NODE");
    if (!node || !*node)
        return;
    const char* bus = std::getenv("QOR_FAKEUSB_BUS");
    const char* device = std::getenv("QOR_FAKEUSB_DEVICE");
    const char* packet = std::getenv("QOR_FAKEUSB_PACKET");
    int packetSize = packet ? std::atoi(packet) : 64;
    if (packetSize <= 0 || packetSize > 4096)
        packetSize = 64;
    s.devices.push_back(printerDevice(bus && *bus ? bus : "1", device && *device ? device : "2",
                                      static_cast<uint16_t>(packetSize)));
    s.nodeMode = true;
}

int waitFd(int fd, short events, int timeoutMs) {
    struct pollfd p = {fd, events, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.devices.clear();
    s.reads.clear();
    s.writes.clear();
    s.recorder = Recorder();
    s.built = Built();
    s.nodeMode = false;
    s.silentWaitLimitMs = 0;
}

void setSilentReadWaitLimit(int ms) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.silentWaitLimitMs = ms;
}

void addDevice(const Device& device) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.devices.push_back(device);
}

void queueRead(const ReadStep& step) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.reads.push_back(step);
}

void queueWriteResult(int result) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.writes.push_back(result);
}

Recorder& recorder() {
    return state().recorder;
}

Device printerDevice(const std::string& bus, const std::string& filename, uint16_t maxPacketSize) {
    Device d;
    d.bus = bus;
    d.filename = filename;
    AltSetting alt;
    alt.interfaceNumber = 0;
    alt.interfaceClass = 7;
    alt.endpoints = {Endpoint{0x01, 2, maxPacketSize}, Endpoint{0x81, 2, maxPacketSize}};
    Interface intf;
    intf.altSettings = {alt};
    Configuration cfg;
    cfg.value = 1;
    cfg.interfaces = {intf};
    d.configurations = {cfg};
    return d;
}

}  // namespace fakeusb

using fakeusb::state;

extern "C" {

void usb_init(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record("init");
}

int usb_find_busses(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::deviceFromEnvironment();
    fakeusb::record("find_busses");
    return 0;
}

int usb_find_devices(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record("find_devices");
    fakeusb::build();
    return 0;
}

struct usb_bus* usb_get_busses(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return state().built.buses.empty() ? nullptr : state().built.buses.front().get();
}

usb_dev_handle* usb_open(struct usb_device* dev) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record(std::string("open ") + dev->bus->dirname + "/" + dev->filename);
    const fakeusb::Device* d = static_cast<const fakeusb::Device*>(dev->dev);
    if (!d || d->failOpen)
        return nullptr;
    auto* h = new fakeusb::Handle();
    h->device = d;
    if (state().nodeMode) {
        const char* node = std::getenv("QOR_FAKEUSB_NODE");
        h->fd = ::open(node, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (h->fd < 0) {
            delete h;
            return nullptr;
        }
    }
    ++state().recorder.openHandles;
    return reinterpret_cast<usb_dev_handle*>(h);
}

int usb_close(usb_dev_handle* dev) {
    std::lock_guard<std::mutex> hold(state().lock);
    auto* h = reinterpret_cast<fakeusb::Handle*>(dev);
    fakeusb::record("close");
    if (h->fd >= 0)
        ::close(h->fd);
    delete h;
    --state().recorder.openHandles;
    return 0;
}

int usb_set_configuration(usb_dev_handle*, int configuration) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record("set_configuration " + std::to_string(configuration));
    return 0;
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
    std::lock_guard<std::mutex> hold(state().lock);
    auto* h = reinterpret_cast<fakeusb::Handle*>(dev);
    fakeusb::record("claim " + std::to_string(interface));
    const auto& bad = h->device->unclaimable;
    if (std::find(bad.begin(), bad.end(), interface) != bad.end())
        return -16;  // -EBUSY
    return 0;
}

int usb_release_interface(usb_dev_handle*, int interface) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record("release " + std::to_string(interface));
    return 0;
}

int usb_clear_halt(usb_dev_handle*, unsigned int ep) {
    std::lock_guard<std::mutex> hold(state().lock);
    fakeusb::record("clear_halt " + std::to_string(ep));
    return 0;
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    auto* h = reinterpret_cast<fakeusb::Handle*>(dev);
    {
        std::lock_guard<std::mutex> hold(state().lock);
        fakeusb::record("bulk_read " + std::to_string(ep) + " " + std::to_string(size) + " " +
                        std::to_string(timeout));
    }
    if (h->fd >= 0) {
        if (fakeusb::waitFd(h->fd, POLLIN, timeout) <= 0)
            return -110;
        ssize_t n = ::read(h->fd, bytes, static_cast<size_t>(size));
        if (n < 0)
            return errno == EAGAIN ? -110 : -5;
        return static_cast<int>(n);
    }
    std::unique_lock<std::mutex> hold(state().lock);
    auto& reads = state().reads;
    if (reads.empty()) {
        int wait = std::min(timeout, state().silentWaitLimitMs);
        hold.unlock();
        if (wait > 0)
            poll(nullptr, 0, wait);
        return -110;
    }
    fakeusb::ReadStep& step = reads.front();
    if (step.bytes.empty()) {
        int r = step.result;
        reads.pop_front();
        return r;
    }
    // A step longer than the transfer is delivered over several reads.
    size_t n = std::min(step.bytes.size(), static_cast<size_t>(size));
    std::memcpy(bytes, step.bytes.data(), n);
    step.bytes.erase(step.bytes.begin(), step.bytes.begin() + static_cast<long>(n));
    if (step.bytes.empty())
        reads.pop_front();
    return static_cast<int>(n);
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    auto* h = reinterpret_cast<fakeusb::Handle*>(dev);
    {
        std::lock_guard<std::mutex> hold(state().lock);
        fakeusb::record("bulk_write " + std::to_string(ep) + " " + std::to_string(size) + " " +
                        std::to_string(timeout));
    }
    if (h->fd >= 0) {
        if (fakeusb::waitFd(h->fd, POLLOUT, timeout) <= 0)
            return -110;
        ssize_t n = ::write(h->fd, bytes, static_cast<size_t>(size));
        if (n < 0)
            return errno == EAGAIN ? -110 : -5;
        return static_cast<int>(n);
    }
    std::lock_guard<std::mutex> hold(state().lock);
    int result = size;
    if (!state().writes.empty()) {
        result = state().writes.front();
        state().writes.pop_front();
        if (result > size)
            result = size;
    }
    if (result > 0) {
        auto& w = state().recorder.written;
        w.insert(w.end(), bytes, bytes + result);
    }
    return result;
}

}  // extern "C"
