#include "LibUsbConnector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "FakeUsb.h"

using namespace qor;
using Clock = std::chrono::steady_clock;

namespace {
bool called(const std::string& call) {
    const auto& calls = fakeusb::recorder().calls;
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}
int count(const std::string& call) {
    const auto& calls = fakeusb::recorder().calls;
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

class LibUsbConnectorTest : public ::testing::Test {
  protected:
    void SetUp() override { fakeusb::reset(); }
    void TearDown() override { fakeusb::reset(); }
};
}  // namespace

TEST_F(LibUsbConnectorTest, OpenAlwaysFails) {
    LibUsbConnector c(7);
    EXPECT_EQ(c.kind(), CONNECTOR_LIBUSB);
    EXPECT_EQ(c.maxPacketSize(), 32);
    EXPECT_EQ(c.open(), 1);
    EXPECT_EQ(c.status(), IO_FAILED);
}

TEST_F(LibUsbConnectorTest, OpenDeviceMatchesBusAndDeviceNumbers) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "004"));
    fakeusb::addDevice(fakeusb::printerDevice("002", "005", 512));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(2, 5), 0);
    EXPECT_TRUE(called("open 002/005"));
    EXPECT_FALSE(called("open 001/004"));
    EXPECT_TRUE(called("set_configuration 1"));
    EXPECT_EQ(c.inEndpoint(), 0x81);
    EXPECT_EQ(c.outEndpoint(), 0x01);
    EXPECT_EQ(c.maxPacketSize(), 512);
    EXPECT_EQ(c.status(), IO_OK);
}

TEST_F(LibUsbConnectorTest, NoMatchingDeviceFails) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "004"));
    LibUsbConnector c(7);
    EXPECT_EQ(c.openDevice(1, 5), 1);
    EXPECT_EQ(c.status(), IO_FAILED);
    EXPECT_FALSE(c.isClaimed());
}

TEST_F(LibUsbConnectorTest, DeviceWithoutPrinterInterfaceFails) {
    fakeusb::Device d = fakeusb::printerDevice("001", "002");
    d.configurations[0].interfaces[0].altSettings[0].interfaceClass = 8;
    fakeusb::addDevice(d);
    LibUsbConnector c(7);
    EXPECT_EQ(c.openDevice(1, 2), 1);
    EXPECT_EQ(fakeusb::recorder().openHandles, 0);
}

TEST_F(LibUsbConnectorTest, DeviceWithoutConfigurationsIsSkipped) {
    fakeusb::Device d = fakeusb::printerDevice("001", "002");
    d.configurations.clear();
    fakeusb::addDevice(d);
    LibUsbConnector c(7);
    EXPECT_EQ(c.openDevice(1, 2), 1);
    EXPECT_FALSE(called("open 001/002"));
}

TEST_F(LibUsbConnectorTest, ClaimsFirstClaimablePrinterInterface) {
    fakeusb::Device d = fakeusb::printerDevice("001", "002");
    fakeusb::AltSetting second;
    second.interfaceNumber = 1;
    second.interfaceClass = 7;
    second.endpoints = {{0x02, 2, 64}, {0x83, 3, 8} /* interrupt: ignored */, {0x84, 2, 256}};
    d.configurations[0].interfaces.push_back(fakeusb::Interface{{second}});
    d.unclaimable = {0};
    fakeusb::addDevice(d);
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    EXPECT_TRUE(called("claim 0"));
    EXPECT_TRUE(called("claim 1"));
    EXPECT_EQ(c.interfaceNumber(), 1);
    EXPECT_EQ(c.inEndpoint(), 0x84);
    EXPECT_EQ(c.outEndpoint(), 0x02);
    EXPECT_EQ(c.maxPacketSize(), 256);
    EXPECT_EQ(fakeusb::recorder().openHandles, 1);  // the failed claim closed its handle
    EXPECT_EQ(c.close(), 0);
    EXPECT_TRUE(called("release 1"));
    EXPECT_EQ(fakeusb::recorder().openHandles, 0);
    EXPECT_EQ(c.close(), 1);
}

TEST_F(LibUsbConnectorTest, ReadCollectsPacketsUntilSize) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 16));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    std::vector<uint8_t> reply(40);
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<uint8_t>(i);
    fakeusb::queueRead({reply, 0});
    uint8_t buf[40] = {};
    EXPECT_EQ(c.read(buf, 40), 40);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 40), reply);
    EXPECT_EQ(count("bulk_read 129 16 10000"), 3);  // each bounded by the packet size
}

TEST_F(LibUsbConnectorTest, ReadReturnsWhatIsHeldWhenDeviceGoesQuiet) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002"));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueRead({std::vector<uint8_t>(40, 0x11), 0});
    fakeusb::queueRead({{}, -110});
    uint8_t buf[100];
    EXPECT_EQ(c.read(buf, 100), 40);
    EXPECT_EQ(c.status(), IO_TIMEOUT);
}

TEST_F(LibUsbConnectorTest, WaitReadableStatuses) {
    LibUsbConnector closed(7);
    EXPECT_EQ(closed.waitReadable(1000), IO_FAILED);
    fakeusb::addDevice(fakeusb::printerDevice("001", "002"));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueRead({{}, 0});
    EXPECT_EQ(c.waitReadable(1000), IO_TIMEOUT);
    fakeusb::queueRead({{}, -32});
    EXPECT_EQ(c.waitReadable(1000), IO_FAILED);
    fakeusb::queueRead({{5}, 0});
    EXPECT_EQ(c.waitReadable(1000), IO_READABLE);
    EXPECT_EQ(c.ring().used(), 1u);
    EXPECT_EQ(c.waitWritable(1), IO_WRITABLE);
}

TEST_F(LibUsbConnectorTest, WaitReadableDropsBytesWhenRingIsFull) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    std::vector<uint8_t> fill(65536 - 10, 0);
    ASSERT_TRUE(c.ring().put(fill.data(), fill.size()));
    fakeusb::queueRead({std::vector<uint8_t>(10, 1), 0});  // free space is not greater than 10
    EXPECT_EQ(c.waitReadable(1000), IO_FAILED);
    EXPECT_EQ(c.ring().used(), fill.size());
}

TEST_F(LibUsbConnectorTest, WriteSendsPacketSizedChunks) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    std::vector<uint8_t> request(150, 0x5A);
    EXPECT_EQ(c.write(request.data(), request.size()), 150);
    EXPECT_EQ(c.status(), IO_OK);
    EXPECT_EQ(count("bulk_write 1 64 5000"), 2);
    EXPECT_EQ(count("bulk_write 1 22 5000"), 1);
    EXPECT_EQ(fakeusb::recorder().written, request);
}

TEST_F(LibUsbConnectorTest, WriteWithoutHandleReturnsZero) {
    LibUsbConnector c(7);
    const uint8_t b[] = {1};
    EXPECT_EQ(c.write(b, 1), 0);
    EXPECT_EQ(c.status(), IO_OK);
}

TEST_F(LibUsbConnectorTest, StalledPipeStopsWriteBroken) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 4));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueWriteResult(4);
    fakeusb::queueWriteResult(-32);
    std::vector<uint8_t> request(12, 1);
    EXPECT_EQ(c.write(request.data(), request.size()), 4);
    EXPECT_EQ(c.status(), IO_BROKEN);
}

TEST_F(LibUsbConnectorTest, TimedOutChunkIsClearedAndResent) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueWriteResult(-110);
    std::vector<uint8_t> request(10, 3);
    EXPECT_EQ(c.write(request.data(), request.size()), 10);
    EXPECT_EQ(count("clear_halt 1"), 1);
    EXPECT_EQ(count("bulk_write 1 10 5000"), 2);
    EXPECT_EQ(c.status(), IO_OK);
    EXPECT_EQ(fakeusb::recorder().written, request);
}

TEST_F(LibUsbConnectorTest, EndlessTimeoutsAreBoundedThenFail) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    for (int i = 0; i < 100; ++i)
        fakeusb::queueWriteResult(-110);
    std::vector<uint8_t> request(10, 3);
    EXPECT_EQ(c.write(request.data(), request.size()), 0);
    EXPECT_EQ(c.status(), IO_FAILED);
    // Six 5-second tries: 30 seconds with a real printer.
    EXPECT_EQ(count("bulk_write 1 10 5000"), 6);
    EXPECT_EQ(count("clear_halt 1"), 6);
}

TEST_F(LibUsbConnectorTest, RetryBoundIsInjectable) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    c.setWriteRetryBound(2, 30000);
    for (int i = 0; i < 10; ++i)
        fakeusb::queueWriteResult(-110);
    const uint8_t b[] = {1, 2};
    EXPECT_EQ(c.write(b, 2), 0);
    EXPECT_EQ(c.status(), IO_FAILED);
    EXPECT_EQ(count("bulk_write 1 2 5000"), 2);
}

TEST_F(LibUsbConnectorTest, OtherWriteErrorFails) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueWriteResult(-5);
    const uint8_t b[] = {1, 2};
    EXPECT_EQ(c.write(b, 2), 0);
    EXPECT_EQ(c.status(), IO_FAILED);
}

TEST_F(LibUsbConnectorTest, ReadOfMoreThanHeldWaitsOnceThenGivesWhatIsHeld) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::queueRead({std::vector<uint8_t>(40, 0x22), 0});
    ASSERT_EQ(c.waitReadable(1000), IO_READABLE);
    fakeusb::recorder().calls.clear();
    uint8_t buf[100] = {};
    EXPECT_EQ(c.read(buf, 100), 40);  // the silent device times out once
    EXPECT_EQ(count("bulk_read 129 64 10000"), 1);
    EXPECT_EQ(c.status(), IO_TIMEOUT);
    EXPECT_EQ(buf[39], 0x22);
    EXPECT_EQ(buf[40], 0);
    EXPECT_EQ(c.ring().used(), 0u);
}

// A bulk read in progress holds the read lock: close (write lock, then read
// lock) waits for it, so the handle is not closed under the transfer.
TEST_F(LibUsbConnectorTest, CloseWaitsForABulkReadInProgress) {
    fakeusb::addDevice(fakeusb::printerDevice("001", "002", 64));
    LibUsbConnector c(7);
    ASSERT_EQ(c.openDevice(1, 2), 0);
    fakeusb::setSilentReadWaitLimit(800);
    IoStatus waited = IO_OK;
    const Clock::time_point start = Clock::now();
    std::thread reader([&] { waited = c.waitReadable(1000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(c.close(), 0);
    // The silent transfer lasts 0.8 s; close came at 0.2 s.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(750));
    reader.join();
    EXPECT_EQ(waited, IO_TIMEOUT);
    EXPECT_TRUE(called("release 0"));
    EXPECT_EQ(fakeusb::recorder().openHandles, 0);
}
