#include "ConfigFlows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "ConfigCommand.h"
#include "ConfigRig.h"
#include "NpaFile.h"
#include "StatusQueries.h"

namespace qor {
namespace {

using test::bytesOf;
using test::readAnswer;
using test::streamPacket;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Rig {
    ConfigDetails config;
    test::FakePrinter printer;
    std::unique_ptr<WirelessConfigurator> c;
    std::string out, err;
    template <typename F>
    int run(F flow) {
        if (!c)
            c = test::makeFakeConfigurator(config, printer);
        CaptureStdout();
        CaptureStderr();
        int r = flow(*c);
        err = GetCapturedStderr();
        out = GetCapturedStdout();
        return r;
    }
};

const std::vector<uint8_t> kOk = bytesOf({0xA5, 0, 4, 0x50, 0xE0, 0xDA, 0x01});
const std::vector<uint8_t> kError = bytesOf({0xA5, 0, 4, 0xD4, 0xE0, 0xDA, 0x01});

TEST(SendConfig, JudgesTheReply) {
    Rig r;
    test::scriptAnswers(r.printer,
                        {kOk, bytesOf({0x01}), bytesOf({0xA5, 0, 4, 0x50, 0x02}), kError, {}});
    std::vector<uint8_t> req = {0xA5};
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 0);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 0);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 1);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), -1);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), -1);
    ASSERT_EQ(r.printer.writes.size(), 5u);
    EXPECT_EQ(r.printer.firstWaitMs[0], 10000);
    EXPECT_EQ(r.printer.firstReadSize[0], 1000u);
}

TEST(BasicConfig, SendsForwardedRecordsInOrder) {
    Rig r;
    r.config.ssid = "A";
    r.config.security = "WPA";
    r.config.passwd = "p";
    test::scriptAnswers(r.printer, {kOk});
    EXPECT_EQ(r.run(basicConfig), 0);
    ASSERT_EQ(r.printer.writes.size(), 1u);
    auto& req = r.printer.writes[0];
    std::vector<uint8_t> records = bytesOf({0x28, 0x02, 0, 0, 4, 0,   0, 0, 0,  // mode
                                            0x28, 0x22, 0, 0, 4, 0,   0, 0, 2,  // security
                                            0x28, 0x05, 0, 0, 4, 0,   0, 0, 6,  // channel
                                            0x28, 0x08, 0, 0, 2, 'A', 0,        // ssid
                                            0x28, 0x11, 0, 0, 2, 'p', 0});      // password
    std::vector<uint8_t> expect =
        bytesOf({0xA5, 0, static_cast<int>(records.size() + 7 + 6), 0x50, 0xE0, 0x63, 0x02, 0,
                 static_cast<int>(records.size() + 7), 0xA5, 0,
                 static_cast<int>(records.size() + 4), 0x50, 0xE0, 0xDA, 0x01});
    expect.insert(expect.end(), records.begin(), records.end());
    EXPECT_EQ(req, expect);
    EXPECT_EQ(r.out, "npa data going: 2");
    EXPECT_NE(r.err.find("D [QOR] Basic config...\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Basic config ret = 0\n"), std::string::npos);
}

TEST(AdvancedConfig, OtherSecuritySendsNothing) {
    for (const char* s : {"WPA2", "None"}) {
        Rig r;
        r.config.security = s;
        EXPECT_EQ(r.run(advancedConfig), 0);
        EXPECT_TRUE(r.printer.writes.empty());
        EXPECT_EQ(r.err, std::string("D [QOR] Advanced config...\nD [QOR] Master security = '") +
                             s + "'\n");
    }
}

TEST(AdvancedConfig, OpenWithWepStaticSendsNoKeys) {
    Rig r;
    r.config.security = "OPEN";
    r.config.encryption = "WEP-STATIC";
    r.config.wepKey[0] = "abc";
    test::scriptAnswers(r.printer, {kOk});
    EXPECT_EQ(r.run(advancedConfig), 0);
    ASSERT_EQ(r.printer.writes.size(), 1u);
    EXPECT_EQ(r.printer.writes[0].size(), 9u + 7 + 9 + 9 + 9);
    EXPECT_NE(r.err.find("D [QOR] Adv OPEN ret = 0\n"), std::string::npos);
}

TEST(AdvancedConfig, SharedMasksWepKeysInDump) {
    Rig r;
    r.config.security = "SHARED";
    r.config.encryption = "WEP";
    r.config.wepKey[0] = "ZQZQZ";
    test::scriptAnswers(r.printer, {kError});
    EXPECT_EQ(r.run(advancedConfig), -1);
    EXPECT_EQ(r.err.find("ZQZQZ"), std::string::npos);
    EXPECT_EQ(r.err.find("5A 51"), std::string::npos);
    EXPECT_NE(r.err.find("**"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Adv SHARED ret = -1\n"), std::string::npos);
}

TEST(Configure8021x, RejectedOptionsSkipSecondMessageButQueryStatus) {
    Rig r;
    r.config.security = "802.1x";
    r.config.encryption = "WEP-STATIC";
    test::scriptAnswers(r.printer, {bytesOf({0x02})});
    EXPECT_EQ(r.run(advancedConfig), 1);
    ASSERT_EQ(r.printer.writes.size(), 2u);
    // A write with its 5 s sleep, then the status query's stream with its
    // 2 s pause.
    EXPECT_EQ(r.printer.firstWaitMs[0], 10000);
    EXPECT_EQ(r.printer.firstWaitMs[1], 2000);
    EXPECT_EQ(r.printer.firstReadSize[1], 1u);
    EXPECT_NE(r.err.find("D [QOR] Setting 802.1x ret = 1\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = 1\n"), std::string::npos);
}

TEST(ShowSsid, NameIsTheDataUpToItsNul) {
    Rig r;
    // The inner answer starts at byte 10 of the forwarded one; its data
    // (after the 9 echoed request bytes and a 2-byte length) at byte 21.
    test::scriptAnswers(r.printer, {readAnswer(0x28, 0x08, bytesOf({'N', 'e', 't', 0, 'x'}))});
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "Net\n");
    r.c->setForward(0);
    test::scriptAnswers(r.printer, {readAnswer(0x28, 0x08, bytesOf({'H', 'i'}), false)});
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "Hi\n");
    EXPECT_EQ(r.printer.writes.back().size(), 9u);
}

TEST(ShowSsid, ForwardedReplyWithoutDataIsAnEmptyName) {
    // 21 bytes: more than the 18-byte request plus 2, with a data length of 0.
    Rig r;
    test::scriptAnswers(r.printer,
                        {bytesOf({0xA5, 0, 0x12, 0x50, 0xE0, 0x63, 0x02, 0,    0, 0x0B, 0xA5,
                                  0,    8, 0x50, 0xE0, 0xD8, 0,    0x28, 0x08, 0, 0})});
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.printer.writes.size(), 1u);
    // 20 bytes are not enough: every try fails.
    Rig s;
    std::vector<uint8_t> twenty(20, 0x01);
    test::scriptAnswers(s.printer, {twenty, twenty, twenty, twenty, twenty, twenty, twenty});
    EXPECT_EQ(s.run(showSsid), 1);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.printer.writes.size(), 7u);
}

TEST(ShowSsid, ErrorAndSilence) {
    Rig r;
    test::scriptAnswers(r.printer, {kError});
    EXPECT_EQ(r.run(showSsid), -1);
    EXPECT_EQ(r.c->outcome().failure, Failure::ErrorAnswer);
    // Silence on every try is -1 too, so that the command tries unwrapped.
    Rig s;
    EXPECT_EQ(s.run(showSsid), -1);
    EXPECT_EQ(s.c->outcome().failure, Failure::NoAnswer);
    EXPECT_EQ(s.printer.writes.size(), 7u);
    EXPECT_EQ(s.out, "");
}

// Answers that are not of the promised form are failed tries: nothing of
// them is printed, and the command says so.
TEST(StatusCommands, AnswersOfAnotherFormAreFailedTries) {
    std::vector<uint8_t> ssid = readAnswer(0x28, 0x08, bytesOf({'N', 'e', 't'}));
    std::vector<uint8_t> address = readAnswer(0x0A, 0x02, bytesOf({10, 0, 0, 7}));
    std::vector<uint8_t> otherItem = readAnswer(0x28, 0x09, bytesOf({'N', 'e', 't'}));
    std::vector<uint8_t> longData = ssid;
    longData[20] = 9;  // data length 9 where 3 came
    std::vector<uint8_t> shortOuter = address;
    shortOuter[2] -= 1;  // the outer packet no longer holds the inner one
    std::vector<uint8_t> cut(address.begin(), address.end() - 1);
    struct Row {
        const char* name;
        int (*flow)(WirelessConfigurator&);
        std::vector<uint8_t> reply;
        int tries;
    } rows[] = {
        {"other setting echoed", showSsid, otherItem, 7},
        {"data length beyond the packet", showSsid, longData, 7},
        {"outer length short", showIpAddress, shortOuter, 7},
        {"cut by a byte", showIpAddress, cut, 7},
        {"direct form to a forwarded request", showIpAddress,
         readAnswer(0x0A, 0x02, bytesOf({10, 0, 0, 7}), false), 7},
        {"no data byte", waitConnected, readAnswer(0x28, 0x15, {}), 4},
    };
    for (const Row& row : rows) {
        Rig r;
        for (int i = 0; i < row.tries; ++i)
            r.printer.answer(row.reply);
        EXPECT_EQ(r.run(row.flow), 1) << row.name;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_EQ(r.printer.writes.size(), static_cast<size_t>(row.tries)) << row.name;
        EXPECT_EQ(r.c->outcome().failure, Failure::BadAnswer) << row.name;
        EXPECT_EQ(describeOutcome(r.c->outcome(), "x"),
                  "the printer's answers were cut short or malformed")
            << row.name;
    }
}

TEST(WaitConnected, ReturnsLastByteAfterFourTries) {
    Rig r;
    std::vector<uint8_t> notYet = readAnswer(0x28, 0x15, bytesOf({0, 0, 0, 3}));
    test::scriptAnswers(r.printer,
                        {notYet, notYet, notYet, readAnswer(0x28, 0x15, bytesOf({0, 0, 0, 5}))});
    EXPECT_EQ(r.run(waitConnected), 5);
    EXPECT_EQ(r.printer.writes.size(), 4u);
    EXPECT_EQ(r.printer.firstWaitMs[0], 7000);
    EXPECT_EQ(describeOutcome(r.c->outcome(), "x"),
              "the printer did not join the network after 4 polls (state 5)");
}

TEST(WaitConnected, ShortRepliesAreFailedTries) {
    Rig r;
    r.printer.failOpen();
    test::scriptAnswers(r.printer, {bytesOf({0}), bytesOf({0xA5, 0}), {}});
    EXPECT_EQ(r.run(waitConnected), 1);
    Rig z;
    test::scriptAnswers(z.printer, {readAnswer(0x28, 0x15, bytesOf({0, 0, 0, 0}))});
    EXPECT_EQ(z.run(waitConnected), 0);
    Rig e;
    test::scriptAnswers(e.printer, {kError});
    EXPECT_EQ(e.run(waitConnected), -1);
}

TEST(ShowIpAddress, PrintsLastFourBytes) {
    Rig r;
    test::scriptAnswers(r.printer, {readAnswer(0x0A, 0x02, bytesOf({0xC0, 0xA8, 0x01, 0x14}))});
    EXPECT_EQ(r.run(showIpAddress), 0);
    EXPECT_EQ(r.out, "192.168.1.20\n");
    Rig z;
    for (int i = 0; i < 7; ++i)
        z.printer.answer(readAnswer(0x0A, 0x02, bytesOf({0, 0, 0, 0})));
    EXPECT_EQ(z.run(showIpAddress), 1);
    EXPECT_EQ(z.out, "");
    EXPECT_EQ(z.printer.writes.size(), 7u);
    EXPECT_EQ(z.printer.firstWaitMs[0], 8000);
    EXPECT_EQ(describeOutcome(z.c->outcome(), "x"),
              "the printer got no network address after 7 polls");
}

TEST(WaitAdapter, PausesTenSecondsBetweenTries) {
    Rig r;
    EXPECT_EQ(r.run(waitAdapter), 1);
    EXPECT_EQ(r.printer.writes.size(), 6u);
    EXPECT_EQ(r.printer.sleepsMs, (std::vector<unsigned>{10000, 10000, 10000, 10000, 10000}));
    EXPECT_EQ(r.printer.firstWaitMs[0], 5000);
    EXPECT_EQ(r.printer.firstReadSize[0], 255u);
    EXPECT_EQ(describeOutcome(r.c->outcome(), "/dev/usb/lp0"),
              "no answer from the printer at '/dev/usb/lp0'");
    Rig d;
    test::scriptAnswers(d.printer, {readAnswer(0x06, 0x1F, bytesOf({'B'})),
                                    readAnswer(0x06, 0x1F, bytesOf({'-'}))});
    EXPECT_EQ(d.run(waitAdapter), 0);
    Rig b;
    for (int i = 0; i < 6; ++i)
        b.printer.answer(readAnswer(0x06, 0x1F, bytesOf({'B'})));
    EXPECT_EQ(b.run(waitAdapter), 1);
    EXPECT_EQ(describeOutcome(b.c->outcome(), "x"),
              "the printer's wireless adapter was not ready after 6 polls");
}

TEST(ResetPrinter, FixedRequestAndFiftySecondPause) {
    Rig r;
    r.config.usbPath = "1:2";
    test::scriptAnswers(r.printer, {kError, kError});
    EXPECT_EQ(r.run(resetPrinter), 0);  // an error reply ends in 0x01 too; no 0xD4 test
    Rig s;
    s.c = test::makeFakeConfigurator(s.config, s.printer);
    s.c->setForward(0);
    test::scriptAnswers(s.printer, {bytesOf({0x02}), bytesOf({0x02})});
    EXPECT_EQ(s.run(resetPrinter), 1);
    EXPECT_EQ(describeOutcome(s.c->outcome(), "x"),
              "the printer did not confirm the reset after 2 tries");
    EXPECT_EQ(s.printer.sleepsMs, (std::vector<unsigned>{50000}));
    EXPECT_EQ(s.printer.writes[0], bytesOf({0xA5, 0x00, 0x0A, 0x50, 0xE0, 0xDA, 0x01, 0x06, 0x14,
                                            0x00, 0x00, 0x01, 0x01}));
}

TEST(ConfigurePrinter, InterleavedOutputAndRetryWithoutForwarding) {
    Rig r;
    r.config.ssid = "A";
    test::scriptAnswers(r.printer, {kError, kOk, readAnswer(0x28, 0x15, bytesOf({0}), false),
                                    readAnswer(0x0A, 0x02, bytesOf({10, 0, 0, 7}), false)});
    EXPECT_EQ(r.run(configurePrinter), 0);
    EXPECT_EQ(r.out,
              "npa data going: 0Configuring the printer....\nResetting the printer....\n"
              "Connecting to wireless network....npa data going: 0npa data going: 0"
              "Acquiring network address....\nIP-ADDRESS : 10.0.0.7\n");
    EXPECT_NE(r.err.find("SSID = A\na5 0 2f 50 e0 63 2 0 29 a5 0 26 50 e0 da 1 28 2 "),
              std::string::npos)
        << r.err;
    ASSERT_EQ(r.printer.writes.size(), 4u);
    EXPECT_EQ(r.printer.writes[1][0], 0xA5);
    EXPECT_EQ(r.printer.writes[1][5], 0xDA);  // unwrapped retry
    EXPECT_EQ(r.printer.writes[2].size(), 9u);
}

// The top-level flow stops at the first step that fails, ends its progress
// line and prints no address line; the result tells the exit status.
TEST(ConfigurePrinter, ReportsWhatWentWrong) {
    const std::vector<uint8_t> joined = readAnswer(0x28, 0x15, bytesOf({0}));
    const std::vector<uint8_t> notJoined = readAnswer(0x28, 0x15, bytesOf({3}));
    const std::vector<uint8_t> none = readAnswer(0x0A, 0x02, bytesOf({0, 0, 0, 0}));
    const std::string head =
        "npa data going: 0Configuring the printer....\nResetting the printer....\n"
        "Connecting to wireless network....npa data going: 0";
    struct Row {
        const char* name;
        std::vector<std::vector<uint8_t>> replies;
        int result;
        std::string outTail;
        std::string why;
    } rows[] = {
        {"refused", {bytesOf({0x02})}, 1, "\n", "the printer refused the configuration"},
        {"unanswered", {}, -1, "npa data going: 0\n", "no answer from the printer at '1:4'"},
        {"error answers",
         {kError, kError},
         1,
         "npa data going: 0\n",
         "the printer answered with an error"},
        {"silent after configuring", {kOk}, 1, "\n", "no answer from the printer at '1:4'"},
        {"never joins",
         {kOk, notJoined, notJoined, notJoined, notJoined},
         1,
         "\n",
         "the printer did not join the network after 4 polls (state 3)"},
        {"no address",
         {kOk, joined, none, none, none, none, none, none, none},
         1,
         "Acquiring network address....\n",
         "the printer got no network address after 7 polls"},
    };
    for (const Row& row : rows) {
        Rig r;
        r.config.ssid = "A";
        r.config.usbPath = "1:4";
        test::scriptAnswers(r.printer, row.replies);
        EXPECT_EQ(r.run(configurePrinter), row.result) << row.name;
        EXPECT_EQ(r.out, head + row.outTail) << row.name;
        EXPECT_EQ(describeOutcome(r.c->outcome(), "1:4"), row.why) << row.name;
    }
}

TEST(Query8021xStatus, StatusLineAndResult) {
    Rig r;
    r.printer.answer(streamPacket(bytesOf({0xE0, 0x63, 0x02, 0x00, 0x00, 0x0C, 0xA5, 0x00, 0x09,
                                           0x50, 0xE0, 0xD8, 0x00, 0x2A, 0x1D, 0x00, 0x01, 0x02})));
    EXPECT_EQ(r.run(query8021xStatus), 2);
    EXPECT_EQ(r.err.substr(0, 40), "D [QOR] 802.1x Authentication status...\n");
    EXPECT_NE(r.err.find("D [QOR] Auth status response (18 bytes)\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Status: 2 (Authenticated)\n"), std::string::npos);
    Rig none;
    none.printer.answer(streamPacket(bytesOf({0x01, 0x02})));
    EXPECT_EQ(none.run(query8021xStatus), -1);
    EXPECT_EQ(none.err.find("Status:"), std::string::npos);
    EXPECT_STREQ(authStatusText(11), "CA Certificate Not Installed");
    EXPECT_STREQ(authStatusText(12), "Unknown status");
}

TEST(CertSettings, LogsOrganisationAndAlwaysZero) {
    Rig r;
    r.printer.answer(readAnswer(0x2A, 0x06, bytesOf({'O', 'r', 'g'})));
    EXPECT_EQ(r.run(certSettings), 0);
    EXPECT_NE(r.err.find("D [QOR] Certifcate settings...\nD [QOR] Cert Organization...\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Organization (3 bytes): Org\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Cert common name...\nD [QOR] Common name resp (0 bytes)\n"),
              std::string::npos);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.c->outcome().failure, Failure::None);
    // Neither query answered: reported (and worth an unwrapped try), still 0.
    Rig s;
    EXPECT_EQ(s.run(certSettings), 0);
    EXPECT_EQ(s.c->outcome().failure, Failure::NoAnswer);
}

TEST(NpaData, DecodesAndSendsUnwrapped) {
    Rig r;
    r.config.npaData = hexDigitsOf("0xA5, 0x00");
    EXPECT_EQ(r.config.npaData, "0A5000");  // the 0 of each 0x prefix stays
    r.config.npaData = "a5000650e0d8002808";
    r.printer.answer(streamPacket(bytesOf({0x50, 0x01})));
    EXPECT_EQ(r.run(sendNpaData), 0);
    ASSERT_EQ(r.printer.writes.size(), 1u);
    EXPECT_EQ(r.printer.writes[0], bytesOf({0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
    EXPECT_EQ(r.printer.firstWaitMs[0], 2000);
    EXPECT_NE(r.err.find("D [QOR] NPA data: 9 bytes\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] sendNPA response (2 bytes)\n"), std::string::npos);
}

// ConfigCommand over a scripted configurator.
struct CommandRig {
    test::FakePrinter printer;
    ConfigDetails seen;
    std::string out, err;
    int run(std::vector<const char*> args) {
        CaptureStdout();
        CaptureStderr();
        ConfigCommand command(
            static_cast<int>(args.size()), args.data(),
            [this](const ConfigDetails& c) { return test::makeFakeConfigurator(c, printer); },
            [](const std::string&, const ConfigDetails&) { return 7; });
        err = GetCapturedStderr();
        out = GetCapturedStdout();
        seen = command.configuration();
        return command.result();
    }
};

TEST(ConfigCommand, RetriesWithoutForwardingAfterMinusOne) {
    CommandRig r;
    test::scriptAnswers(r.printer, {kError, kError});
    EXPECT_EQ(r.run({"qorconfig", "-802s"}), -1);
    ASSERT_EQ(r.printer.writes.size(), 2u);
    EXPECT_EQ(r.printer.writes[0].size(), 18u);
    EXPECT_EQ(r.printer.writes[1].size(), 9u);
}

TEST(ConfigCommand, Unanswered8021xOptionsAreRetriedWithoutForwarding) {
    CommandRig r;
    // Wrapped options: error answer; status query; unwrapped: options and
    // network message accepted; status query.
    test::scriptAnswers(r.printer, {kError, {}, kOk, kOk, {}});
    EXPECT_EQ(r.run({"qorconfig", "-ca", "--security=802.1x", "--ssid=A", "--802-auth-ext=PEAP",
                     "--802-user=u", "--802-pwd=p"}),
              0)
        << r.err;
    ASSERT_EQ(r.printer.writes.size(), 5u);
    EXPECT_EQ(r.printer.writes[0][5], 0x63);
    EXPECT_EQ(r.printer.writes[2][5], 0xDA);
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = -1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = 0\n"), std::string::npos) << r.err;
}

TEST(ConfigCommand, NoRetryForAdapterAndReset) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-r"}), 1);
    EXPECT_EQ(r.printer.writes.size(), 2u);
    EXPECT_EQ(r.err, "qorconfig: no answer from the printer at '/dev/usb/lp0'\n");
}

// Forwarded tries that got no answer at all are made once more unwrapped,
// and the command ends with one line saying why it gave up.
TEST(ConfigCommand, SilentToForwardedRequestsIsRetriedUnwrapped) {
    struct Row {
        const char* word;
        size_t forwardedTries;
        std::vector<uint8_t> direct;
        int result;
        std::string out, err;
    } rows[] = {
        {"-s", 7, readAnswer(0x28, 0x08, bytesOf({'O', 'f', 'f', 0}), false), 0, "Off\n", ""},
        {"-ip", 7, readAnswer(0x0A, 0x02, bytesOf({10, 0, 0, 9}), false), 0, "10.0.0.9\n", ""},
        {"-t", 4, readAnswer(0x28, 0x15, bytesOf({0}), false), 0, "", ""},
        {"-802s", 1, readAnswer(0x2A, 0x1D, bytesOf({2}), false), 2, "", ""},
        {"-c", 1, kOk, 0, "npa data going: 0npa data going: 0", ""},
        {"-t", 4, {}, -1, "", "qorconfig: no answer from the printer at '/dev/usb/lp0'\n"},
    };
    for (const Row& row : rows) {
        CommandRig r;
        for (size_t i = 0; i < row.forwardedTries; ++i)
            r.printer.silent();
        test::scriptAnswers(r.printer, {row.direct});
        // -c needs a network name to pass its input checks.
        std::vector<const char*> args = {"qorconfig", row.word};
        if (std::string(row.word) == "-c")
            args.push_back("--ssid=A");
        EXPECT_EQ(r.run(args), row.result) << row.word;
        EXPECT_EQ(r.out, row.out) << row.word;
        EXPECT_EQ(r.err.find("qorconfig:") == std::string::npos
                      ? ""
                      : r.err.substr(r.err.find("qorconfig:")),
                  row.err)
            << row.word;
        ASSERT_GT(r.printer.writes.size(), row.forwardedTries) << row.word;
        EXPECT_EQ(r.printer.writes[row.forwardedTries - 1][5], 0x63) << row.word;
        EXPECT_NE(r.printer.writes[row.forwardedTries][5], 0x63) << row.word;
    }
}

TEST(ConfigCommand, CertificateWordsUseTheProcessor) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-csr", "--cer-org=X"}), 7);
    EXPECT_EQ(r.seen.cerOrg, "X");
    EXPECT_TRUE(r.printer.writes.empty());
}

TEST(ConfigCommand, MissingOptionsFileFails) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-c", "-file", "/nonexistent/qor/opts"}), 1);
    EXPECT_EQ(r.err, "qorconfig: cannot open options file '/nonexistent/qor/opts'\n");
    EXPECT_TRUE(r.printer.writes.empty());
}

TEST(ConfigCommand, StatusWordsReadOnlyTheDevice) {
    CommandRig r;
    test::scriptAnswers(r.printer, {readAnswer(0x0A, 0x02, bytesOf({1, 2, 3, 4}))});
    EXPECT_EQ(r.run({"qorconfig", "-ip", "--ssid=x", "2:3"}), 0);
    EXPECT_EQ(r.seen.usbPath, "2:3");
    EXPECT_EQ(r.seen.ssid, "");
    EXPECT_EQ(r.out, "1.2.3.4\n");
}

TEST(ConfigCommand, TopLevelFlowReadsNetworkOptions) {
    CommandRig r;
    test::scriptAnswers(r.printer, {kOk, readAnswer(0x28, 0x15, bytesOf({0})),
                                    readAnswer(0x0A, 0x02, bytesOf({1, 2, 3, 4}))});
    EXPECT_EQ(r.run({"qorconfig", "--ssid=Home", "--security=None", "1:4"}), 0);
    EXPECT_EQ(r.seen.ssid, "Home");
    EXPECT_EQ(r.seen.usbPath, "1:4");
    EXPECT_NE(r.out.find("Configuring the printer....\n"), std::string::npos);
}

TEST(ConfigCommand, NpaWithoutFileSendsNothingAndExitsZero) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-npa"}), 0);
    ASSERT_EQ(r.printer.writes.size(), 1u);
    EXPECT_TRUE(r.printer.writes[0].empty());
}

TEST(ConfigCommand, HelpPrintsUsage) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-h"}), 0);
    EXPECT_EQ(r.out.substr(0, 13), "\n  qorconfig\n");
}

// A file of its own for one test, removed at the end.
struct ScratchFile {
    std::string path;
    ScratchFile(const std::string& name, const std::string& content)
        : path("/tmp/qorconfig_cmd_" + std::to_string(getpid()) + "_" + name) {
        FILE* f = std::fopen(path.c_str(), "w");
        std::fputs(content.c_str(), f);
        std::fclose(f);
    }
    ~ScratchFile() { std::remove(path.c_str()); }
};

TEST(ConfigCommand, OptionsFileWithAndWithoutDevice) {
    ScratchFile opts("opts", "#--ssid=x\n--ssid=\"a b\"\n--security=WPA\n--passwd=pw123456\n");
    CommandRig withDevice;
    test::scriptAnswers(withDevice.printer, {kOk});
    EXPECT_EQ(withDevice.run({"qorconfig", "-c", "-file", opts.path.c_str(), "1:4"}), 0);
    EXPECT_EQ(withDevice.seen.ssid, "a b");
    EXPECT_EQ(withDevice.seen.security, "WPA");
    EXPECT_EQ(withDevice.seen.usbPath, "1:4");
    CommandRig without;
    test::scriptAnswers(without.printer, {kOk});
    EXPECT_EQ(without.run({"qorconfig", "-c", "-file", opts.path.c_str()}), 0);
    EXPECT_EQ(without.seen.usbPath, "/dev/usb/lp0");
    EXPECT_EQ(without.seen.ssid, "a b");
}

TEST(ConfigCommand, FileWordWithoutFileNameFailsBeforeSending) {
    CommandRig r;
    test::scriptAnswers(r.printer, {kOk});
    EXPECT_EQ(r.run({"qorconfig", "-c", "-file"}), 1);
    EXPECT_EQ(r.err, "qorconfig: -file needs the name of an options file\n");
    EXPECT_TRUE(r.printer.writes.empty());
}

TEST(ConfigCommand, NpaFileNameIsAlsoTheDeviceUnlessOneFollows) {
    ScratchFile hex("hex", "a5000650e0d8002808\n");
    CommandRig alone;
    EXPECT_EQ(alone.run({"qorconfig", "-npa", "-file", hex.path.c_str()}), 0);
    EXPECT_EQ(alone.seen.usbPath, hex.path);
    EXPECT_EQ(alone.seen.npaData, "a5000650e0d8002808");
    EXPECT_EQ(alone.out, "npaFileData: (18 bytes) a5000650e0d8002808\n");
    CommandRig followed;
    EXPECT_EQ(followed.run({"qorconfig", "-npa", "-file", hex.path.c_str(), "/dev/usb/lp0"}), 0);
    EXPECT_EQ(followed.seen.usbPath, "/dev/usb/lp0");
    ASSERT_EQ(followed.printer.writes.size(), 1u);
    EXPECT_EQ(followed.printer.writes[0], bytesOf({0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
}

TEST(ConfigCommand, MissingNpaFileSendsNothing) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-npa", "-file", "/nonexistent/qor/req", "/dev/usb/lp0"}), 0);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.printer.writes.size(), 1u);
    EXPECT_TRUE(r.printer.writes[0].empty());
}

TEST(NpaData, OddLastDigitAndMisalignedPrefixes) {
    EXPECT_EQ(decodeNpaData("a5b"), bytesOf({0xA5}));
    EXPECT_EQ(decodeNpaData("b"), bytesOf({}));
    EXPECT_EQ(decodeNpaData(hexDigitsOf("0xA5, 0x00, 0x06")), bytesOf({0x0A, 0x50, 0x00, 0x00}));
}

TEST(ConfigCommand, DefaultDeviceForStatusWords) {
    CommandRig r;
    test::scriptAnswers(r.printer, {readAnswer(0x0A, 0x02, bytesOf({1, 2, 3, 4}))});
    EXPECT_EQ(r.run({"qorconfig", "-ip"}), 0);
    EXPECT_EQ(r.seen.usbPath, "/dev/usb/lp0");
}

}  // namespace
}  // namespace qor
