// The survey devices' request bytes, pacing and reply rules, over a scripted
// transport.
#include "WirelessDevice.h"

#include <gtest/gtest.h>

#include "SurveyReplies.h"

namespace qor {
namespace {

using test::concat;
using test::directSurveyReply;
using test::FakePrinter;
using test::forwardedSurveyReply;
using test::wirePacket;

std::vector<uint8_t> bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

const std::vector<uint8_t> kSurveyQuery = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};
const std::vector<uint8_t> kDirectSupport = {0xA5, 0x00, 0x07, 0x50, 0xE0,
                                             0x81, 0x00, 0x02, 0x05, 0x09};
const std::vector<uint8_t> kForwardedSupport = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63,
                                                0x02, 0x00, 0x09, 0xA5, 0x00, 0x06,
                                                0x50, 0xE0, 0xD8, 0x00, 0x28, 0x01};
const std::vector<uint8_t> kForwardedSurvey = {
    0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF, 0xA4, 0x5B, 0x11,
    0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E, 0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02,
    0x00, 0x09, 0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};

// ---- holds on the transport -------------------------------------------------

TEST(WirelessDeviceLifetime, HoldsTheTransportForItsWholeLife) {
    FakePrinter env;
    {
        ISDWirelessDevice direct(env.channel("/dev/usb/lp0"));
        EXPECT_EQ(env.holds, 1);
        {
            PSSDWirelessDevice forwarded(env.channel("3:7"));
            EXPECT_EQ(env.holds, 2);
        }
        EXPECT_EQ(env.holds, 1);
    }
    EXPECT_EQ(env.holds, 0);
    EXPECT_TRUE(env.opened.empty());
}

// ---- direct kind: survey ----------------------------------------------------

TEST(DirectSurvey, SendsTheQuerySleepsAndKeepsTheDataOfTheEcho) {
    FakePrinter env;
    env.answer(concat({directSurveyReply("abc")}));
    ISDWirelessDevice device(env.channel("/dev/usb/lp2"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("abc"));
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0], kSurveyQuery);
    EXPECT_EQ(env.opened, std::vector<std::string>{"/dev/usb/lp2"});
    // The answer's first byte ends the pause: no sleep.
    EXPECT_TRUE(env.sleepsMs.empty());
    EXPECT_EQ(env.closes, 1);
    // Whole-header mode: after that first byte, headers are read three
    // bytes at a time.
    ASSERT_GE(env.readSizes.size(), 3u);
    EXPECT_EQ(env.readSizes[0], 1u);
    EXPECT_EQ(env.readSizes[1], 2u);
}

TEST(DirectSurvey, ExampleReplyPacketGivesThreeBytes) {
    FakePrinter env;
    env.answer({0xA5, 0x00, 0x0B, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39, 0x00, 0x03, 'x', 'y', 'z'});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("xyz"));
}

TEST(DirectSurvey, SkipsPacketsThatDoNotEchoTheQuery) {
    FakePrinter env;
    std::vector<uint8_t> other = wirePacket({0x50, 0xE0, 0xD8, 0x00, 0x28, 0x01, 0x00, 0x01, 'n'});
    env.answer(concat({other, directSurveyReply("Cell 1")}));
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 6);
    EXPECT_EQ(out, bytes("Cell 1"));
}

TEST(DirectSurvey, DataLengthIsClampedToTheBody) {
    FakePrinter env;
    env.answer(wirePacket({0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39, 0xFF, 0xFF, 'a', 'b'}));
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 2);
    EXPECT_EQ(out, bytes("ab"));
}

TEST(DirectSurvey, ErrorReplyEndsWithMinusOne) {
    FakePrinter env;
    env.answer(concat({directSurveyReply("abc", 0xD0), directSurveyReply("late")}));
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(env.closes, 1);
}

TEST(DirectSurvey, ZeroDataLengthKeepsNothing) {
    FakePrinter env;
    env.answer(directSurveyReply(""));
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
}

TEST(DirectSurvey, OpenFailureGivesMinusOneWithoutWritingOrClosing) {
    FakePrinter env;
    env.failOpen();
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(env.writes.empty());
    EXPECT_EQ(env.closes, 0);
}

TEST(DirectSurvey, SilentPrinterEndsAfterTheWindow) {
    FakePrinter env;
    env.answer({});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
    // The 1.5 s pause, then a window of 3 whole seconds whose last read
    // waits out the transport's quiet time.
    EXPECT_GE(env.elapsedMs(), 4500);
    EXPECT_LE(env.elapsedMs(), 7000);
}

// ---- direct kind: support query ---------------------------------------------

TEST(DirectWifiSupport, TwelveByteEchoGivesItsLastByte) {
    FakePrinter env;
    env.answer({0xA5, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x00});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), 0);
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0], kDirectSupport);
    EXPECT_TRUE(env.sleepsMs.empty());
    EXPECT_EQ(env.closes, 1);
}

TEST(DirectWifiSupport, LastByteOfALongerEcho) {
    FakePrinter env;
    // Any length field is fine; five attempts when the reply is not 12 bytes.
    env.answer({0xA5, 0x12, 0x34, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x01, 0xC8});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);  // later reads came back empty
    EXPECT_EQ(env.writes.size(), 5u);
}

TEST(DirectWifiSupport, RepliesThatFail) {
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
    } cases[] = {
        {"error echo D4 E0", {0xA5, 0x00, 0x09, 0xD4, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0, 1}},
        {"ten bytes", {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09}},
        {"wrong start", {0xA4, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0, 1}},
        {"wrong command", {0xA5, 0x00, 0x09, 0x50, 0xE0, 0x82, 0x00, 0x02, 0x05, 0x09, 0, 1}},
        {"wrong last param", {0xA5, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x08, 0, 1}},
        {"nothing", {}},
    };
    for (const Case& c : cases) {
        FakePrinter env;
        for (int i = 0; i < 5; ++i)
            env.answer(c.reply);
        ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
        uint8_t buffer[512] = {};
        EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1) << c.what;
    }
}

TEST(DirectWifiSupport, ErrorEchoStopsTheAttempts) {
    FakePrinter env;
    env.answer({0xA5, 0x00, 0x09, 0xD4, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0, 1});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_EQ(env.writes.size(), 1u);
}

TEST(DirectWifiSupport, OpenFailureGivesMinusOne) {
    FakePrinter env;
    env.failOpen();
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_TRUE(env.writes.empty());
}

// ---- direct kind: one-shot surveys ------------------------------------------

TEST(DirectSurveyOnce, CountsBytesAndRefusesTheErrorEcho) {
    FakePrinter env;
    env.answer(directSurveyReply("abc"));
    env.answer(directSurveyReply("abc", 0xD8));
    env.failOpen();
    env.answer({0xA5, 0x00, 0x01, 0x50});
    ISDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[64] = {};
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 14);
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), -1);
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 0);
    EXPECT_EQ(device.surveyOnceWait(buffer, sizeof buffer), -1);  // fewer than 9 bytes
    // Whole answers end each exchange at once.
    EXPECT_TRUE(env.sleepsMs.empty());
}

// ---- forwarding kind: survey ------------------------------------------------

TEST(ForwardedSurvey, SendsThreePacketsAndKeepsTheInnerData) {
    FakePrinter env;
    env.answer(forwardedSurveyReply("Cell 01"));
    PSSDWirelessDevice device(env.channel("3:7"));
    std::vector<uint8_t> out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), 7);
    EXPECT_EQ(out, bytes("Cell 01"));
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0], kForwardedSurvey);
    EXPECT_TRUE(env.sleepsMs.empty());
    EXPECT_EQ(env.opened, std::vector<std::string>{"3:7"});
    EXPECT_EQ(env.closes, 1);
}

TEST(ForwardedSurvey, MorePacketsFlagConcatenatesBothRules) {
    FakePrinter env;
    std::vector<uint8_t> second = wirePacket(concat({{0x50, 0xE0}, bytes(" more")}));
    env.answer(concat({forwardedSurveyReply("first", 0x70), second}));
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 10);
    EXPECT_EQ(out, bytes("first more"));
}

TEST(ForwardedSurvey, ReadingStopsAfterAPacketWithoutTheMoreFlag) {
    FakePrinter env;
    std::vector<uint8_t> late = wirePacket(concat({{0x50, 0xE0}, bytes("late")}));
    env.answer(concat({forwardedSurveyReply("one"), late}));
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("one"));
}

TEST(ForwardedSurvey, DropsPacketsMatchingNoRule) {
    FakePrinter env;
    std::vector<uint8_t> noise = wirePacket({0x50, 0x11, 0x22});
    env.answer(concat({noise, forwardedSurveyReply("ok")}));
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 2);
    EXPECT_EQ(out, bytes("ok"));
}

TEST(ForwardedSurvey, ErrorReplyAndOpenFailureGiveMinusOne) {
    FakePrinter env;
    env.answer(forwardedSurveyReply("x", 0xD0));
    env.failOpen();
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
    out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(env.writes.size(), 1u);
}

TEST(ForwardedSurvey, SilenceAfterAnnouncedPacketsEndsAfterTheWindowWithWhatCame) {
    FakePrinter env;
    env.answer(forwardedSurveyReply("Cell 1 part", 0x70));
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 11);
    EXPECT_EQ(out, bytes("Cell 1 part"));
    // The 2 s pause that the first byte cut short is added to the window
    // of 4 whole seconds: no earlier than after a full pause and window.
    EXPECT_GE(env.elapsedMs(), 5000);
    EXPECT_LE(env.elapsedMs(), 10000);
    EXPECT_EQ(env.closes, 1);
}

// ---- forwarding kind: support query -----------------------------------------

TEST(ForwardedWifiSupport, LongerThanEighteenEndingInOneGivesTwo) {
    FakePrinter env;
    std::vector<uint8_t> reply(19, 0);
    reply.back() = 1;
    env.answer(reply);
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), 2);
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0], kForwardedSupport);
    EXPECT_TRUE(env.sleepsMs.empty());
    EXPECT_EQ(env.closes, 1);
}

TEST(ForwardedWifiSupport, EighteenBytesOrOtherLastByteGiveMinusOne) {
    for (std::vector<uint8_t> reply :
         {std::vector<uint8_t>(18, 1), std::vector<uint8_t>(40, 2), std::vector<uint8_t>{}}) {
        FakePrinter env;
        env.answer(reply);
        PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
        uint8_t buffer[512] = {};
        EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1) << reply.size();
    }
    FakePrinter env;
    env.failOpen();
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_TRUE(env.writes.empty());
}

// ---- forwarding kind: one-shot surveys --------------------------------------

TEST(ForwardedSurveyOnce, RetriesUntilEnoughBytesAndRefusesD4) {
    FakePrinter env;
    env.answer(std::vector<uint8_t>(120, 'a'));
    PSSDWirelessDevice device(env.channel("/dev/usb/lp0"));
    uint8_t buffer[200] = {};
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 120);
    EXPECT_EQ(env.writes.size(), 1u);

    FakePrinter refusing;
    refusing.answer({0xA5, 0x00, 0x02, 0xD4, 0xE0});
    PSSDWirelessDevice refused(refusing.channel("/dev/usb/lp0"));
    EXPECT_EQ(refused.surveyOnce(buffer, sizeof buffer), -1);
    EXPECT_EQ(refusing.writes.size(), 1u);

    // Whole answers that are too short: each try ends at its answer, yet
    // the next one keeps the earlier try's whole time.
    FakePrinter shortReply;
    std::vector<uint8_t> shortBody(33, 'a');
    shortBody[0] = 0x50;
    for (int i = 0; i < 5; ++i)
        shortReply.answer(wirePacket(shortBody));
    PSSDWirelessDevice few(shortReply.channel("/dev/usb/lp0"));
    EXPECT_EQ(few.surveyOnce(buffer, sizeof buffer), -1);
    ASSERT_EQ(shortReply.writes.size(), 5u);
    EXPECT_EQ(shortReply.sleepsMs.size(), 4u);
    for (size_t i = 1; i < 5; ++i) {
        long long gap = shortReply.writeTimesMs[i] - shortReply.writeTimesMs[i - 1];
        EXPECT_GE(gap, 6000) << i;
        EXPECT_LE(gap, 7000) << i;
    }

    EXPECT_EQ(few.surveyOnceWait(buffer, sizeof buffer), 0);
    EXPECT_EQ(shortReply.writes.size(), 5u);
}

}  // namespace
}  // namespace qor
