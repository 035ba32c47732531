#include "HCUSBTransport.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "FakeUsb.h"
#include "LibUsbConnector.h"
#include "PtyNode.h"
#include "USBLPConnector.h"

using namespace qor;
using qortest::Pty;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Clock = std::chrono::steady_clock;

namespace {
// One hold on the shared transport for the length of a test.
class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakeusb::reset();
        m_Transport = HCUSBTransport::getInstance();
    }
    void TearDown() override {
        CaptureStderr();
        HCUSBTransport::releaseInstance();
        GetCapturedStderr();
        fakeusb::reset();
    }
    HCUSBTransport* m_Transport = nullptr;
};
}  // namespace

TEST(SharedTransport, SecondGetReturnsSameAndLastReleasePrintsOnce) {
    HCUSBTransport* first = HCUSBTransport::getInstance();
    HCUSBTransport* second = HCUSBTransport::getInstance();
    EXPECT_EQ(first, second);
    CaptureStderr();
    HCUSBTransport::releaseInstance();
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    HCUSBTransport::releaseInstance();
    EXPECT_EQ(GetCapturedStderr(), "D [QOR] Destroying last instance of usb transport.\n");
}

TEST_F(TransportTest, BusDevicePathMakesLibUsbConnector) {
    fakeusb::addDevice(fakeusb::printerDevice("002", "005"));
    EXPECT_EQ(m_Transport->open("2:5"), 0);
    ASSERT_NE(m_Transport->connector(), nullptr);
    EXPECT_EQ(m_Transport->connector()->kind(), CONNECTOR_LIBUSB);
    const auto& calls = fakeusb::recorder().calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "open 002/005"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "claim 0"), calls.end());
    EXPECT_EQ(m_Transport->close(), 0);
    EXPECT_EQ(fakeusb::recorder().openHandles, 0);
}

TEST_F(TransportTest, FailedLibUsbOpenKeepsConnector) {
    fakeusb::addDevice(fakeusb::printerDevice("002", "005"));
    EXPECT_EQ(m_Transport->open("2:6"), -1);
    ASSERT_NE(m_Transport->connector(), nullptr);
    EXPECT_EQ(m_Transport->connector()->kind(), CONNECTOR_LIBUSB);
    EXPECT_EQ(m_Transport->close(), -1);
}

TEST_F(TransportTest, PathWithoutColonOrDevUsbIsRefused) {
    EXPECT_EQ(m_Transport->open("usb0"), -1);
    EXPECT_EQ(m_Transport->connector(), nullptr);
    uint8_t buf[4];
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 0);
    EXPECT_EQ(m_Transport->write(buf, sizeof buf), -1);
    EXPECT_EQ(m_Transport->close(), -1);
}

TEST_F(TransportTest, DevUsbWithoutNumberIsRefused) {
    for (const char* path :
         {"/dev/usb", "/dev/usb/", "/dev/usb/lp", "/dev/usb/usblp", "/dev/usb/foo1"}) {
        EXPECT_EQ(m_Transport->open(path), -1) << path;
        EXPECT_EQ(m_Transport->connector(), nullptr) << path;
    }
}

TEST_F(TransportTest, OverlongBusOrDevicePartIsRefused) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002"));
    EXPECT_EQ(m_Transport->open("1234567890:2"), -1);  // ten bus digits
    EXPECT_EQ(m_Transport->connector(), nullptr);
    EXPECT_EQ(m_Transport->open("1:0000000000000002"), -1);  // sixteen device digits
    EXPECT_EQ(m_Transport->connector(), nullptr);
    EXPECT_EQ(m_Transport->open("1:x"), -1);
    EXPECT_EQ(m_Transport->open(":2"), -1);
    EXPECT_EQ(m_Transport->open("000000001:000000000000002"), 0);  // at the limits
    EXPECT_EQ(m_Transport->close(), 0);
}

TEST_F(TransportTest, DevUsbOutOfRangeNumberFailsToOpen) {
    EXPECT_EQ(m_Transport->open("/dev/usb/lp17"), -1);
    ASSERT_NE(m_Transport->connector(), nullptr);
    EXPECT_EQ(m_Transport->connector()->kind(), CONNECTOR_USBLP);
    EXPECT_EQ(m_Transport->open("/dev/usb/lp99999999999"), -1);
}

TEST_F(TransportTest, UsblpPathOpensLpNodeInPrivateNamespace) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a mount namespace";
    Pty pty;
    ASSERT_TRUE(pty.openPair());
    HCUSBTransport* transport = m_Transport;
    int rc = qortest::runWithDeviceNode(pty.slave, 0, [transport] {
        if (transport->open("/dev/usb/usblp0") != 0)
            return false;
        auto* c = dynamic_cast<USBLPConnector*>(transport->connector());
        if (!c || std::string(c->devicePath()) != "/dev/usb/lp0")
            return false;
        const uint8_t req[] = {0xA5, 0x00, 0x01, 0x50};
        if (transport->write(req, sizeof req) != 4)
            return false;
        return transport->close() == 0;
    });
    ASSERT_NE(rc, 77) << "could not put the node at /dev/usb in a private mount namespace";
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(pty.receive(4, 2000), (std::vector<uint8_t>{0xA5, 0x00, 0x01, 0x50}));
}

class TransportOverPty : public TransportTest {
  protected:
    void SetUp() override {
        TransportTest::SetUp();
        ASSERT_TRUE(m_Pty.openPair());
        auto c = std::make_unique<USBLPConnector>("/dev/usb/lp", 0);
        ASSERT_TRUE(c->setDevicePath(m_Pty.slavePath.c_str()));
        ASSERT_EQ(c->open(), 0);
        m_Transport->adoptConnector(std::move(c));
    }
    Pty m_Pty;
};

TEST_F(TransportOverPty, ShortReplyReturnsOnlyAfterTheWindow) {
    ASSERT_TRUE(m_Pty.send(std::vector<uint8_t>(40, 0x42)));
    uint8_t buf[255] = {};
    auto start = Clock::now();
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 40);
    auto took = Clock::now() - start;
    // More than 4 whole seconds of the clock: between 4 and 6 s.
    EXPECT_GE(took, std::chrono::milliseconds(3900));
    EXPECT_LT(took, std::chrono::milliseconds(6500));
    EXPECT_EQ(buf[39], 0x42);
    EXPECT_EQ(buf[40], 0);
}

TEST_F(TransportOverPty, FullBufferReturnsAtOnce) {
    ASSERT_TRUE(m_Pty.send(std::vector<uint8_t>(16, 7)));
    uint8_t buf[16];
    auto start = Clock::now();
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 16);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(TransportOverPty, LateDataRestartsTheWindow) {
    std::thread printer([this] {
        m_Pty.send({1, 2});
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        m_Pty.send({3, 4});
    });
    uint8_t buf[4] = {};
    auto start = Clock::now();
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 4);
    printer.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(buf[3], 4);
}

TEST_F(TransportOverPty, ConnectorErrorEndsReadWithWhatCame) {
    m_Transport->connector()->close();  // the descriptor is gone: select fails at once
    uint8_t buf[8];
    auto start = Clock::now();
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST(DevicePath, ReadsNodeNumbersAndBusDevicePairs) {
    struct Case {
        const char* path;
        UsbDevicePath::Kind kind;
        int a, b;  // node number, or bus and device
    } cases[] = {
        {"/dev/usb/lp0", UsbDevicePath::Node, 0, 0},
        {"/dev/usb/usblp1", UsbDevicePath::Node, 1, 0},
        {"/dev/usb/lp16", UsbDevicePath::Node, 16, 0},
        {"/dev/usb/lp17", UsbDevicePath::Node, 17, 0},  // formed by the connector, not here
        {"/dev/usb/lp3x", UsbDevicePath::Node, 3, 0},   // the digits right after the marker
        {"2:5", UsbDevicePath::BusDevice, 2, 5},
        {"002:005", UsbDevicePath::BusDevice, 2, 5},
        {"usb0", UsbDevicePath::None, 0, 0},
        {"", UsbDevicePath::None, 0, 0},
        {"/dev/usb/", UsbDevicePath::None, 0, 0},
        {"/dev/usb/lp", UsbDevicePath::None, 0, 0},
        {"/dev/usb/lp99999999999", UsbDevicePath::None, 0, 0},  // beyond an int
        {"2:", UsbDevicePath::None, 0, 0},
        {"2:5:7", UsbDevicePath::None, 0, 0},
        {"-2:5", UsbDevicePath::None, 0, 0},
        {" 2:5", UsbDevicePath::None, 0, 0},
        {"000000001:000000000000002", UsbDevicePath::BusDevice, 1, 2},  // at the limits
        {"1:123456789012345", UsbDevicePath::None, 0, 0},               // beyond an int
        {"1234567890:1", UsbDevicePath::None, 0, 0},
        {"1:1234567890123456", UsbDevicePath::None, 0, 0},
    };
    for (const Case& c : cases) {
        UsbDevicePath parsed;
        parsed.kind = UsbDevicePath::Node;  // overwritten on failure too
        bool ok = parseUsbDevicePath(c.path, parsed);
        EXPECT_EQ(ok, c.kind != UsbDevicePath::None) << c.path;
        EXPECT_EQ(parsed.kind, c.kind) << c.path;
        if (c.kind == UsbDevicePath::Node) {
            EXPECT_EQ(parsed.number, c.a) << c.path;
        } else if (c.kind == UsbDevicePath::BusDevice) {
            EXPECT_EQ(parsed.bus, c.a) << c.path;
            EXPECT_EQ(parsed.device, c.b) << c.path;
        }
    }
}

TEST_F(TransportOverPty, EveryArrivalStartsTheWindowAgain) {
    // 10 bytes at once, 10 more after 3 s: the read ends more than 4 s after
    // the second arrival, not 4 s after the first.
    std::thread printer([this] {
        m_Pty.send(std::vector<uint8_t>(10, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        m_Pty.send(std::vector<uint8_t>(10, 2));
    });
    uint8_t buf[255] = {};
    auto start = Clock::now();
    int n = m_Transport->read(buf, sizeof buf);
    auto took = Clock::now() - start;
    printer.join();
    EXPECT_EQ(n, 20);
    EXPECT_EQ(buf[19], 2);
    EXPECT_GE(took, std::chrono::milliseconds(6900));
    EXPECT_LT(took, std::chrono::milliseconds(9500));
}

TEST_F(TransportTest, ReadOverLibUsbWaitsInOneSecondStepsForTheWindow) {
    // Over libusb a wait of 1000 lasts 1 s. The reply comes in two bulk
    // packets, the connector's own 10 s wait times out, and the transport
    // then waits in 1 s steps until more than 4 s have passed.
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 8));
    ASSERT_EQ(m_Transport->open("1:2"), 0);
    fakeusb::queueRead({std::vector<uint8_t>(12, 0x33), 0});
    fakeusb::queueRead({{}, -110});
    fakeusb::setSilentReadWaitLimit(1500);
    uint8_t buf[40] = {};
    auto start = Clock::now();
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 12);
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(3900));
    EXPECT_LT(took, std::chrono::milliseconds(6500));
    const auto& calls = fakeusb::recorder().calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "bulk_read 129 8 10000"), 3);
    auto steps = std::count(calls.begin(), calls.end(), "bulk_read 129 8 1000");
    EXPECT_GE(steps, 4);
    EXPECT_LE(steps, 6);
    // The window only has to be outlasted: even its last wait is a whole
    // 1 s transfer, never one cut to the closing second.
    for (const std::string& call : calls) {
        if (call.rfind("bulk_read", 0) == 0) {
            EXPECT_TRUE(call == "bulk_read 129 8 1000" || call == "bulk_read 129 8 10000") << call;
        }
    }
    EXPECT_EQ(buf[11], 0x33);
    EXPECT_EQ(buf[12], 0);
    EXPECT_EQ(m_Transport->close(), 0);
}

// The connector contract, held by both pipes over one pseudo-terminal: the
// node connector on its slave, and the libusb connector through the fake
// libusb, whose bulk transfers then go to the same slave. Waits are real.
class ConnectorContract : public TransportTest, public ::testing::WithParamInterface<bool> {
  protected:
    void TearDown() override {
        TransportTest::TearDown();  // destroys the connector before the fake forgets it
        unsetenv("QOR_FAKEUSB_NODE");
    }
    bool overLibUsb() const { return GetParam(); }
    static long msSince(Clock::time_point start) {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    static timespec realtimeIn(long ms) {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        long ns = t.tv_nsec + ms * 1000000;
        t.tv_sec += ns / 1000000000;
        t.tv_nsec = ns % 1000000000;
        return t;
    }
    // The printer sends `bytes` after 150 ms.
    std::thread sendLater(std::vector<uint8_t> bytes) {
        return std::thread([this, bytes] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            m_Pty.send(bytes);
        });
    }
    Pty m_Pty;
};

TEST_P(ConnectorContract, WaitsInMillisecondsAndWakesWhenBytesArrive) {
    ASSERT_TRUE(m_Pty.openPair());
    if (overLibUsb()) {
        setenv("QOR_FAKEUSB_NODE", m_Pty.slavePath.c_str(), 1);
        auto usb = std::make_unique<LibUsbConnector>(7);
        ASSERT_EQ(usb->openDevice(1, 2), 0);
        m_Transport->adoptConnector(std::move(usb));
    } else {
        auto node = std::make_unique<USBLPConnector>("/dev/usb/lp", 0);
        ASSERT_TRUE(node->setDevicePath(m_Pty.slavePath.c_str()));
        ASSERT_EQ(node->open(), 0);
        m_Transport->adoptConnector(std::move(node));
    }
    HCIOConnector& c = *m_Transport->connector();
    uint8_t buf[8] = {};
    auto start = Clock::now();
    EXPECT_EQ(c.readAvailable(buf, sizeof buf), 0);  // nothing there: 0 at once
    EXPECT_LT(msSince(start), 50);

    // A silent pipe: a wait of N ms, and a wait for arrivals until N ms from
    // now, end after about N ms (not N microseconds, not N seconds).
    for (long ms : {40L, 400L}) {
        SCOPED_TRACE(std::to_string(ms) + " ms");
        start = Clock::now();
        EXPECT_EQ(c.waitReadable(static_cast<uint32_t>(ms)), IO_TIMEOUT);
        EXPECT_GE(msSince(start), ms - 2);
        EXPECT_LT(msSince(start), ms + 250);
        start = Clock::now();
        EXPECT_EQ(m_Transport->readArrived(buf, sizeof buf, realtimeIn(ms)), 0);
        EXPECT_GE(msSince(start), ms - 2);
        EXPECT_LT(msSince(start), ms + 250);
    }

    // Long waits end with the first bytes.
    std::thread printer = sendLater({0xA5, 0x00, 0x01});
    start = Clock::now();
    EXPECT_EQ(c.waitReadable(3000), IO_READABLE);
    EXPECT_LT(msSince(start), 1000);
    printer.join();
    EXPECT_EQ(c.readAvailable(buf, sizeof buf), 3);
    EXPECT_EQ(buf[0], 0xA5);
    EXPECT_EQ(c.readAvailable(buf, sizeof buf), 0);

    printer = sendLater({0x50, 0xE0});
    start = Clock::now();
    EXPECT_EQ(m_Transport->readArrived(buf, sizeof buf, realtimeIn(3000)), 2);
    EXPECT_LT(msSince(start), 1000);
    printer.join();
}

INSTANTIATE_TEST_SUITE_P(NodeAndLibUsb, ConnectorContract, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "LibUsb" : "Node";
                         });

namespace {
// Counts what happens to it, in a record that outlives it.
struct Fate {
    int closes = 0;
    bool destroyed = false;
};
class TrackedConnector : public HCIOConnector {
  public:
    explicit TrackedConnector(Fate& fate) : m_Fate(fate) {}
    ~TrackedConnector() override { m_Fate.destroyed = true; }
    int open() override { return 0; }
    int close() override { return ++m_Fate.closes, 0; }
    int read(uint8_t*, size_t) override { return 0; }
    int query(uint8_t*, size_t) override { return 0; }
    int write(const uint8_t*, size_t size) override { return static_cast<int>(size); }
    IoStatus waitReadable(uint32_t) override { return IO_TIMEOUT; }
    IoStatus waitWritable(uint32_t) override { return IO_WRITABLE; }

  private:
    Fate& m_Fate;
};
}  // namespace

TEST(SharedTransport, EveryReplacedConnectorIsClosedAndDestroyed) {
    Fate a, b, c, d;
    HCUSBTransport* transport = HCUSBTransport::getInstance();
    transport->adoptConnector(std::make_unique<TrackedConnector>(a));
    transport->adoptConnector(std::make_unique<TrackedConnector>(b));
    EXPECT_EQ(a.closes, 1);
    EXPECT_TRUE(a.destroyed);
    EXPECT_FALSE(b.destroyed);

    transport->adoptConnector(nullptr);
    EXPECT_EQ(b.closes, 1);
    EXPECT_TRUE(b.destroyed);
    EXPECT_EQ(transport->connector(), nullptr);

    // A new open replaces it even when the path names nothing.
    transport->adoptConnector(std::make_unique<TrackedConnector>(c));
    EXPECT_EQ(transport->open("usb0"), -1);
    EXPECT_EQ(c.closes, 1);
    EXPECT_TRUE(c.destroyed);

    // The last release destroys the one still held.
    transport->adoptConnector(std::make_unique<TrackedConnector>(d));
    CaptureStderr();
    HCUSBTransport::releaseInstance();
    GetCapturedStderr();
    EXPECT_TRUE(d.destroyed);
}
