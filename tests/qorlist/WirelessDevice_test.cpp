// The survey devices' request bytes, pacing and reply rules, over a scripted
// transport.
#include "WirelessDevice.h"

#include <gtest/gtest.h>

#include <chrono>

#include "ScriptedTransport.h"

namespace qor {
namespace {

using test::concat;
using test::directSurveyReply;
using test::forwardedSurveyReply;
using test::npaPacket;
using test::RecordingEnvironment;

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
    RecordingEnvironment env;
    {
        ISDWirelessDevice direct("/dev/usb/lp0", env);
        EXPECT_EQ(env.m_Holds, 1);
        {
            PSSDWirelessDevice forwarded("3:7", env);
            EXPECT_EQ(env.m_Holds, 2);
        }
        EXPECT_EQ(env.m_Holds, 1);
    }
    EXPECT_EQ(env.m_Holds, 0);
    EXPECT_TRUE(env.m_Transport.m_Opened.empty());
}

// ---- direct kind: survey ----------------------------------------------------

TEST(DirectSurvey, SendsTheQuerySleepsAndKeepsTheDataOfTheEcho) {
    RecordingEnvironment env;
    env.m_Transport.script(concat({directSurveyReply("abc")}));
    ISDWirelessDevice device("/dev/usb/lp2", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("abc"));
    ASSERT_EQ(env.m_Transport.m_Writes.size(), 1u);
    EXPECT_EQ(env.m_Transport.m_Writes[0], kSurveyQuery);
    EXPECT_EQ(env.m_Transport.m_Opened, std::vector<std::string>{"/dev/usb/lp2"});
    // The answer's first byte ends the pause: no sleep.
    EXPECT_TRUE(env.m_Sleeps.empty());
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
    // Whole-header mode: after that first byte, headers are read three
    // bytes at a time.
    ASSERT_GE(env.m_Transport.m_ReadSizes.size(), 3u);
    EXPECT_EQ(env.m_Transport.m_ReadSizes[0], 1u);
    EXPECT_EQ(env.m_Transport.m_ReadSizes[1], 2u);
}

TEST(DirectSurvey, ExampleReplyPacketGivesThreeBytes) {
    RecordingEnvironment env;
    env.m_Transport.script(
        {0xA5, 0x00, 0x0B, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39, 0x00, 0x03, 'x', 'y', 'z'});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("xyz"));
}

TEST(DirectSurvey, SkipsPacketsThatDoNotEchoTheQuery) {
    RecordingEnvironment env;
    std::vector<uint8_t> other = npaPacket({0x50, 0xE0, 0xD8, 0x00, 0x28, 0x01, 0x00, 0x01, 'n'});
    env.m_Transport.script(concat({other, directSurveyReply("Cell 1")}));
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 6);
    EXPECT_EQ(out, bytes("Cell 1"));
}

TEST(DirectSurvey, DataLengthIsClampedToTheBody) {
    RecordingEnvironment env;
    env.m_Transport.script(npaPacket({0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39, 0xFF, 0xFF, 'a', 'b'}));
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 2);
    EXPECT_EQ(out, bytes("ab"));
}

TEST(DirectSurvey, ErrorReplyEndsWithMinusOne) {
    RecordingEnvironment env;
    env.m_Transport.script(concat({directSurveyReply("abc", 0xD0), directSurveyReply("late")}));
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
}

TEST(DirectSurvey, ZeroDataLengthKeepsNothing) {
    RecordingEnvironment env;
    env.m_Transport.script(directSurveyReply(""));
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
}

TEST(DirectSurvey, OpenFailureGivesMinusOneWithoutWritingOrClosing) {
    RecordingEnvironment env;
    env.m_Transport.scriptOpenFailure();
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(env.m_Transport.m_Writes.empty());
    EXPECT_EQ(env.m_Transport.m_Closes, 0);
}

TEST(DirectSurvey, SilentPrinterEndsAfterTheWindow) {
    RecordingEnvironment env;
    env.m_Transport.script({});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.readSurvey(out), -1);
    auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count() /
                   1000.0;
    // A window of 3 whole seconds of the clock: between 2 and 4 s.
    EXPECT_GE(seconds, 1.9);
    EXPECT_LE(seconds, 4.5);
}

// ---- direct kind: support query ---------------------------------------------

TEST(DirectWifiSupport, TwelveByteEchoGivesItsLastByte) {
    RecordingEnvironment env;
    env.m_Transport.script(
        {0xA5, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x00});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), 0);
    ASSERT_EQ(env.m_Transport.m_Writes.size(), 1u);
    EXPECT_EQ(env.m_Transport.m_Writes[0], kDirectSupport);
    EXPECT_TRUE(env.m_Sleeps.empty());
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
}

TEST(DirectWifiSupport, LastByteOfALongerEcho) {
    RecordingEnvironment env;
    // Any length field is fine; five attempts when the reply is not 12 bytes.
    env.m_Transport.script(
        {0xA5, 0x12, 0x34, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x01, 0xC8});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);  // later reads came back empty
    EXPECT_EQ(env.m_Transport.m_Writes.size(), 5u);
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
        RecordingEnvironment env;
        for (int i = 0; i < 5; ++i)
            env.m_Transport.script(c.reply);
        ISDWirelessDevice device("/dev/usb/lp0", env);
        uint8_t buffer[512] = {};
        EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1) << c.what;
    }
}

TEST(DirectWifiSupport, ErrorEchoStopsTheAttempts) {
    RecordingEnvironment env;
    env.m_Transport.script({0xA5, 0x00, 0x09, 0xD4, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0, 1});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_EQ(env.m_Transport.m_Writes.size(), 1u);
}

TEST(DirectWifiSupport, OpenFailureGivesMinusOne) {
    RecordingEnvironment env;
    env.m_Transport.scriptOpenFailure();
    ISDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_TRUE(env.m_Transport.m_Writes.empty());
}

// ---- direct kind: one-shot surveys ------------------------------------------

TEST(DirectSurveyOnce, CountsBytesAndRefusesTheErrorEcho) {
    RecordingEnvironment env;
    env.m_Transport.script(directSurveyReply("abc"));
    env.m_Transport.script(directSurveyReply("abc", 0xD8));
    env.m_Transport.scriptOpenFailure();
    env.m_Transport.script({0xA5, 0x00, 0x01, 0x50});
    ISDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[64] = {};
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 14);
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), -1);
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 0);
    EXPECT_EQ(device.surveyOnceWait(buffer, sizeof buffer), -1);  // fewer than 9 bytes
    // Whole answers end each exchange at once.
    EXPECT_TRUE(env.m_Sleeps.empty());
}

// ---- forwarding kind: survey ------------------------------------------------

TEST(ForwardedSurvey, SendsThreePacketsAndKeepsTheInnerData) {
    RecordingEnvironment env;
    env.m_Transport.script(forwardedSurveyReply("Cell 01"));
    PSSDWirelessDevice device("3:7", env);
    std::vector<uint8_t> out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), 7);
    EXPECT_EQ(out, bytes("Cell 01"));
    ASSERT_EQ(env.m_Transport.m_Writes.size(), 1u);
    EXPECT_EQ(env.m_Transport.m_Writes[0], kForwardedSurvey);
    EXPECT_TRUE(env.m_Sleeps.empty());
    EXPECT_EQ(env.m_Transport.m_Opened, std::vector<std::string>{"3:7"});
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
}

TEST(ForwardedSurvey, MorePacketsFlagConcatenatesBothRules) {
    RecordingEnvironment env;
    std::vector<uint8_t> second = npaPacket(concat({{0x50, 0xE0}, bytes(" more")}));
    env.m_Transport.script(concat({forwardedSurveyReply("first", 0x70), second}));
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 10);
    EXPECT_EQ(out, bytes("first more"));
}

TEST(ForwardedSurvey, ReadingStopsAfterAPacketWithoutTheMoreFlag) {
    RecordingEnvironment env;
    std::vector<uint8_t> late = npaPacket(concat({{0x50, 0xE0}, bytes("late")}));
    env.m_Transport.script(concat({forwardedSurveyReply("one"), late}));
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 3);
    EXPECT_EQ(out, bytes("one"));
}

TEST(ForwardedSurvey, DropsPacketsMatchingNoRule) {
    RecordingEnvironment env;
    std::vector<uint8_t> noise = npaPacket({0x50, 0x11, 0x22});
    env.m_Transport.script(concat({noise, forwardedSurveyReply("ok")}));
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), 2);
    EXPECT_EQ(out, bytes("ok"));
}

TEST(ForwardedSurvey, ErrorReplyAndOpenFailureGiveMinusOne) {
    RecordingEnvironment env;
    env.m_Transport.script(forwardedSurveyReply("x", 0xD0));
    env.m_Transport.scriptOpenFailure();
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    EXPECT_EQ(device.readSurvey(out), -1);
    out = bytes("stale");
    EXPECT_EQ(device.readSurvey(out), -1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(env.m_Transport.m_Writes.size(), 1u);
}

TEST(ForwardedSurvey, SilenceAfterAnnouncedPacketsEndsAfterTheWindowWithWhatCame) {
    RecordingEnvironment env;
    env.m_Transport.script(forwardedSurveyReply("Cell 1 part", 0x70));
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    std::vector<uint8_t> out;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.readSurvey(out), 11);
    double seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count() /
                     1000.0;
    EXPECT_EQ(out, bytes("Cell 1 part"));
    // The 2 s pause that the first byte cut short is added to the window
    // of 4 whole seconds of the clock: between 5 and 7 s, as before.
    EXPECT_GE(seconds, 4.9);
    EXPECT_LE(seconds, 7.5);
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
}

// ---- forwarding kind: support query -----------------------------------------

TEST(ForwardedWifiSupport, LongerThanEighteenEndingInOneGivesTwo) {
    RecordingEnvironment env;
    std::vector<uint8_t> reply(19, 0);
    reply.back() = 1;
    env.m_Transport.script(reply);
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), 2);
    ASSERT_EQ(env.m_Transport.m_Writes.size(), 1u);
    EXPECT_EQ(env.m_Transport.m_Writes[0], kForwardedSupport);
    EXPECT_TRUE(env.m_Sleeps.empty());
    EXPECT_EQ(env.m_Transport.m_Closes, 1);
}

TEST(ForwardedWifiSupport, EighteenBytesOrOtherLastByteGiveMinusOne) {
    for (std::vector<uint8_t> reply :
         {std::vector<uint8_t>(18, 1), std::vector<uint8_t>(40, 2), std::vector<uint8_t>{}}) {
        RecordingEnvironment env;
        env.m_Transport.script(reply);
        PSSDWirelessDevice device("/dev/usb/lp0", env);
        uint8_t buffer[512] = {};
        EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1) << reply.size();
    }
    RecordingEnvironment env;
    env.m_Transport.scriptOpenFailure();
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[512] = {};
    EXPECT_EQ(device.wifiSupport(buffer, sizeof buffer), -1);
    EXPECT_TRUE(env.m_Transport.m_Writes.empty());
}

// ---- forwarding kind: one-shot surveys --------------------------------------

TEST(ForwardedSurveyOnce, RetriesUntilEnoughBytesAndRefusesD4) {
    RecordingEnvironment env;
    env.m_Transport.script(std::vector<uint8_t>(120, 'a'));
    PSSDWirelessDevice device("/dev/usb/lp0", env);
    uint8_t buffer[200] = {};
    EXPECT_EQ(device.surveyOnce(buffer, sizeof buffer), 120);
    EXPECT_EQ(env.m_Transport.m_Writes.size(), 1u);

    RecordingEnvironment refusing;
    refusing.m_Transport.script({0xA5, 0x00, 0x02, 0xD4, 0xE0});
    PSSDWirelessDevice refused("/dev/usb/lp0", refusing);
    EXPECT_EQ(refused.surveyOnce(buffer, sizeof buffer), -1);
    EXPECT_EQ(refusing.m_Transport.m_Writes.size(), 1u);

    RecordingEnvironment shortReply;
    shortReply.m_Transport.script(std::vector<uint8_t>(36, 'a'));
    PSSDWirelessDevice few("/dev/usb/lp0", shortReply);
    EXPECT_EQ(few.surveyOnce(buffer, sizeof buffer), -1);
    EXPECT_EQ(shortReply.m_Transport.m_Writes.size(), 5u);
    // Each short answer keeps its try's whole time before the next try.
    ASSERT_EQ(shortReply.m_Sleeps.size(), 4u);
    EXPECT_GE(shortReply.m_Sleeps[0], 6000u);
    EXPECT_LE(shortReply.m_Sleeps[0], 7000u);

    EXPECT_EQ(few.surveyOnceWait(buffer, sizeof buffer), 0);
    EXPECT_EQ(shortReply.m_Transport.m_Writes.size(), 5u);
}

}  // namespace
}  // namespace qor
