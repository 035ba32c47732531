#include "USBLPConnector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "PtyNode.h"

using namespace qor;
using qortest::Pty;
using Clock = std::chrono::steady_clock;

TEST(USBLPConnectorPath, FormsBasePlusNumber) {
    USBLPConnector lp3("/dev/usb/lp", 3);
    EXPECT_STREQ(lp3.devicePath(), "/dev/usb/lp3");
    EXPECT_EQ(lp3.kind(), CONNECTOR_USBLP);
    EXPECT_EQ(lp3.status(), IO_OK);
    EXPECT_EQ(lp3.fd(), -1);
    USBLPConnector lp16("/dev/usb/lp", 16);
    EXPECT_STREQ(lp16.devicePath(), "/dev/usb/lp16");
}

TEST(USBLPConnectorPath, OutOfRangeFormsNoPathAndOpenFails) {
    USBLPConnector lp17("/dev/usb/lp", 17);
    EXPECT_STREQ(lp17.devicePath(), "");
    EXPECT_EQ(lp17.open(), 1);
    EXPECT_EQ(lp17.status(), IO_FAILED);
    USBLPConnector negative("/dev/usb/lp", -1);
    EXPECT_STREQ(negative.devicePath(), "");
    USBLPConnector longBase(std::string(63, 'x').c_str(), 1);
    EXPECT_STREQ(longBase.devicePath(), "");
    USBLPConnector noBase(nullptr, 1);
    EXPECT_STREQ(noBase.devicePath(), "");
    USBLPConnector edge(std::string(62, 'y').c_str(), 9);  // 63 characters fit
    EXPECT_EQ(std::string(edge.devicePath()), std::string(62, 'y') + "9");
}

class USBLPConnectorPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_Pty.openPair());
        ASSERT_TRUE(m_Connector.setDevicePath(m_Pty.slavePath.c_str()));
        ASSERT_EQ(m_Connector.open(), 0);
        ASSERT_GT(m_Connector.fd(), 0);
    }
    Pty m_Pty;
    USBLPConnector m_Connector{"/dev/usb/lp", 0};
};

TEST_F(USBLPConnectorPty, ReadWithNoDataIsAgain) {
    uint8_t buf[16];
    EXPECT_EQ(m_Connector.read(buf, sizeof buf), -1);
    EXPECT_EQ(m_Connector.status(), IO_AGAIN);
}

TEST_F(USBLPConnectorPty, ReadReturnsWhatArrivedAndKeepsStatus) {
    ASSERT_TRUE(m_Pty.send({1, 2, 3}));
    EXPECT_EQ(m_Connector.waitReadable(500), IO_READABLE);
    uint8_t buf[16];
    EXPECT_EQ(m_Connector.read(buf, sizeof buf), 3);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(m_Connector.status(), IO_READABLE);  // a successful read leaves it
}

TEST_F(USBLPConnectorPty, WaitsReportTimeoutAndWritable) {
    auto start = Clock::now();
    EXPECT_EQ(m_Connector.waitReadable(20), IO_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(m_Connector.status(), IO_TIMEOUT);
    EXPECT_EQ(m_Connector.waitWritable(1000), IO_WRITABLE);
}

TEST_F(USBLPConnectorPty, WriteWholeIsOk) {
    const uint8_t req[] = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};
    EXPECT_EQ(m_Connector.write(req, sizeof req), 9);
    EXPECT_EQ(m_Connector.status(), IO_OK);
    EXPECT_EQ(m_Pty.receive(9, 2000), std::vector<uint8_t>(req, req + 9));
}

TEST_F(USBLPConnectorPty, LargeWriteIsCompletedAfterShortWrites) {
    // A certificate upload is 16 KiB; the terminal takes far less per write.
    std::vector<uint8_t> request(16384);
    for (size_t i = 0; i < request.size(); ++i)
        request[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> received;
    std::thread printer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        received = m_Pty.receive(request.size(), 10000);
    });
    int n = m_Connector.write(request.data(), request.size());
    printer.join();
    EXPECT_EQ(n, 16384);
    EXPECT_EQ(m_Connector.status(), IO_OK);
    EXPECT_EQ(received, request);
}

TEST_F(USBLPConnectorPty, WriteGivesUpAfterNoProgressAsShortWrite) {
    m_Connector.setWriteStallLimitMs(300);
    std::vector<uint8_t> request(1 << 20, 0x41);  // far more than the terminal holds
    auto start = Clock::now();
    int n = m_Connector.write(request.data(), request.size());
    auto took = Clock::now() - start;
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(request.size()));
    EXPECT_EQ(m_Connector.status(), IO_SHORT_WRITE);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(USBLPConnectorPty, QueryIsUnsupported) {
    uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(m_Connector.query(buf, sizeof buf), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(m_Connector.status(), IO_BROKEN);
}

TEST_F(USBLPConnectorPty, CloseThenReadIsBroken) {
    EXPECT_EQ(m_Connector.close(), 0);
    EXPECT_EQ(m_Connector.fd(), -1);
    EXPECT_EQ(m_Connector.close(), 1);
    EXPECT_EQ(m_Connector.status(), IO_FAILED);
    uint8_t buf[4];
    EXPECT_EQ(m_Connector.read(buf, sizeof buf), -1);
    EXPECT_EQ(m_Connector.status(), IO_BROKEN);
    EXPECT_EQ(m_Connector.waitReadable(1000), IO_FAILED);
    // It can be opened again.
    EXPECT_EQ(m_Connector.open(), 0);
}

TEST(USBLPConnectorOpen, DescriptorZeroCountsAsFailure) {
    Pty pty;
    ASSERT_TRUE(pty.openPair());
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(10);
        ::close(0);  // the next descriptor is 0
        USBLPConnector c("/dev/usb/lp", 0);
        c.setDevicePath(pty.slavePath.c_str());
        int r = c.open();
        _exit(r == 1 && c.status() == IO_FAILED && c.fd() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(USBLPConnectorOpen, MissingNodeFails) {
    USBLPConnector c("/dev/usb/lp", 0);
    ASSERT_TRUE(c.setDevicePath("/nonexistent-qor-node"));
    EXPECT_EQ(c.open(), 1);
    EXPECT_EQ(c.status(), IO_FAILED);
}

TEST(USBLPConnectorOpen, OpensTheFormedPathInAPrivateNamespace) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a mount namespace";
    Pty pty;
    ASSERT_TRUE(pty.openPair());
    int rc = qortest::runWithDeviceNode(pty.slave, 3, [] {
        USBLPConnector c("/dev/usb/lp", 3);
        if (c.open() != 0)
            return false;
        const uint8_t hello[] = {'h', 'i'};
        return c.write(hello, 2) == 2;
    });
    ASSERT_NE(rc, 77) << "could not put the node at /dev/usb in a private mount namespace";
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(pty.receive(2, 2000), (std::vector<uint8_t>{'h', 'i'}));
}

TEST_F(USBLPConnectorPty, WriteStatusesFollowTheCallsResult) {
    const uint8_t req[] = {0xA5};
    EXPECT_EQ(m_Connector.write(req, 0), 0);  // write(2) returned 0
    EXPECT_EQ(m_Connector.status(), IO_NOTHING_WRITTEN);
    ASSERT_EQ(m_Connector.close(), 0);
    EXPECT_EQ(m_Connector.write(req, 1), -1);  // EBADF
    EXPECT_EQ(m_Connector.status(), IO_BROKEN);
}

// A write that is waiting for the node holds the write lock only: a read
// goes on meanwhile, and close waits until the write is over (it takes both
// locks), so the descriptor never disappears under a write.
TEST_F(USBLPConnectorPty, ReadRunsBesideAWriteAndCloseWaitsForIt) {
    m_Connector.setWriteStallLimitMs(1500);
    std::vector<uint8_t> request(1 << 20, 0x41);  // more than the terminal takes
    std::atomic<bool> writing{true};
    int written = 0;
    const Clock::time_point start = Clock::now();
    std::thread writer([&] {
        written = m_Connector.write(request.data(), request.size());
        writing = false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(m_Pty.send({7, 8, 9}));
    ASSERT_EQ(m_Connector.waitReadable(500), IO_READABLE);
    uint8_t buf[8] = {};
    EXPECT_EQ(m_Connector.read(buf, sizeof buf), 3);
    EXPECT_TRUE(writing.load()) << "the read had to wait for the write";
    EXPECT_EQ(m_Connector.close(), 0);
    // The write gives up 1.5 s after its last progress; close came at 0.2 s.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1400));
    writer.join();
    EXPECT_GT(written, 0);
    EXPECT_EQ(m_Connector.fd(), -1);
}
