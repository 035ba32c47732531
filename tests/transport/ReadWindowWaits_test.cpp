// How a transport read waits out its window on the device node: a few long
// readiness waits that still wake as soon as the printer sends, and a
// window that closes on the same whole second as before.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "HCUSBTransport.h"
#include "PtyNode.h"
#include "USBLPConnector.h"

using namespace qor;
using qortest::Pty;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Clock = std::chrono::steady_clock;

namespace {

// The node connector, recording the timeout of every readiness wait.
class RecordingNode : public USBLPConnector {
  public:
    RecordingNode() : USBLPConnector("/dev/usb/lp", 0) {}
    IoStatus waitReadable(uint32_t timeoutMs) override {
        m_Timeouts.push_back(timeoutMs);
        return USBLPConnector::waitReadable(timeoutMs);
    }
    std::vector<uint32_t> m_Timeouts;
};

double realtimeNow() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Sleeps until `offset` seconds past the next whole second.
void startAtSecondOffset(double offset) {
    double target = std::floor(realtimeNow()) + 1 + offset;
    timespec at{static_cast<time_t>(target),
                static_cast<long>((target - std::floor(target)) * 1e9)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

class NodeReadWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        m_Transport = HCUSBTransport::getInstance();
        ASSERT_TRUE(m_Pty.openPair());
        auto node = std::make_unique<RecordingNode>();
        ASSERT_TRUE(node->setDevicePath(m_Pty.slavePath.c_str()));
        ASSERT_EQ(node->open(), 0);
        m_Node = node.get();
        m_Transport->adoptConnector(std::move(node));
    }
    void TearDown() override {
        CaptureStderr();
        HCUSBTransport::releaseInstance();
        GetCapturedStderr();
    }
    HCUSBTransport* m_Transport = nullptr;
    RecordingNode* m_Node = nullptr;  // owned by the transport
    Pty m_Pty;
};

}  // namespace

TEST_F(NodeReadWindow, ShortReplyWindowClosesOnTheFifthWholeSecondWithFewWaits) {
    // Begun 0.3 s into a second, the window lasts until the whole-second
    // clock has advanced by 5 (more than 4): 4.7 s.
    ASSERT_TRUE(m_Pty.send(std::vector<uint8_t>(40, 0x42)));
    startAtSecondOffset(0.3);
    time_t noted = std::time(nullptr);
    uint8_t buf[255] = {};
    EXPECT_EQ(m_Transport->read(buf, sizeof buf), 40);
    double end = realtimeNow();
    EXPECT_EQ(static_cast<time_t>(std::floor(end)), noted + 5);
    EXPECT_LT(end - std::floor(end), 0.2) << "the read ran on past the closing second";
    EXPECT_EQ(buf[39], 0x42);
    EXPECT_EQ(buf[40], 0);

    // Each wait (in milliseconds) runs to the closing second or at most a
    // second, never longer; together only a handful of them.
    ASSERT_FALSE(m_Node->m_Timeouts.empty());
    EXPECT_LE(m_Node->m_Timeouts.size(), 40u);
    for (uint32_t t : m_Node->m_Timeouts) {
        EXPECT_GE(t, 1u);
        EXPECT_LE(t, 1000u);
    }
    EXPECT_GT(m_Node->m_Timeouts.front(), 500u) << "the first wait should be a long one";
}

TEST_F(NodeReadWindow, DataDuringALongWaitAreReadAtOnce) {
    // Two bytes, then the other two 1.5 s later: the read fills its buffer
    // and returns as soon as they come, not when a long wait would end.
    std::atomic<double> secondSentAt{0};
    startAtSecondOffset(0.1);
    std::thread printer([&] {
        m_Pty.send({1, 2});
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        secondSentAt = realtimeNow();
        m_Pty.send({3, 4});
    });
    uint8_t buf[4] = {};
    int n = m_Transport->read(buf, sizeof buf);
    double end = realtimeNow();
    printer.join();
    EXPECT_EQ(n, 4);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[3], 4);
    EXPECT_LT(end - secondSentAt, 0.25);
}

TEST_F(NodeReadWindow, ArrivalMidWindowStartsItAgainFromItsOwnSecond) {
    // 10 bytes now, 10 more 2.5 s later: the window closes on the fifth
    // whole second after the second arrival.
    startAtSecondOffset(0.2);
    std::atomic<time_t> secondSecond{0};
    std::thread printer([&] {
        m_Pty.send(std::vector<uint8_t>(10, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        secondSecond = std::time(nullptr);
        m_Pty.send(std::vector<uint8_t>(10, 2));
    });
    uint8_t buf[255] = {};
    int n = m_Transport->read(buf, sizeof buf);
    double end = realtimeNow();
    printer.join();
    EXPECT_EQ(n, 20);
    EXPECT_EQ(buf[19], 2);
    EXPECT_EQ(static_cast<time_t>(std::floor(end)), secondSecond + 5);
}
