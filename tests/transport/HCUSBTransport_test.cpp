#include "HCUSBTransport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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
    for (const char* path : {"/dev/usb", "/dev/usb/", "/dev/usb/lp", "/dev/usb/usblp", "/dev/usb/foo1"}) {
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
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    Pty pty;
    ASSERT_TRUE(pty.openPair());
    HCUSBTransport* transport = m_Transport;
    int rc = qortest::runWithDeviceNode(pty.slave, 0, [transport] {
        if (transport->open("/dev/usb/usblp0") != 0) return false;
        auto* c = dynamic_cast<USBLPConnector*>(transport->connector());
        if (!c || std::string(c->devicePath()) != "/dev/usb/lp0") return false;
        const uint8_t req[] = {0xA5, 0x00, 0x01, 0x50};
        if (transport->write(req, sizeof req) != 4) return false;
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
        auto* c = new USBLPConnector("/dev/usb/lp", 0);
        ASSERT_TRUE(c->setDevicePath(m_Pty.slavePath.c_str()));
        ASSERT_EQ(c->open(), 0);
        m_Transport->adoptConnector(c);
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
