#include "ConfigFlows.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "ConfigCommand.h"
#include "FakeLink.h"
#include "NpaFile.h"
#include "StatusQueries.h"

namespace qor {
namespace {

using test::bytesOf;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Rig {
    ConfigDetails config;
    std::shared_ptr<test::FakeLinkLog> log = std::make_shared<test::FakeLinkLog>();
    std::unique_ptr<WirelessConfigurator> c;
    std::string out, err;
    template <typename F>
    int run(F flow) {
        if (!c)
            c = test::makeFakeConfigurator(config, log);
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
    r.log->replies = {kOk, bytesOf({0x01}), bytesOf({0xA5, 0, 4, 0x50, 0x02}), kError, {}};
    std::vector<uint8_t> req = {0xA5};
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 0);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 0);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), 1);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), -1);
    EXPECT_EQ(r.run([&](auto& c) { return sendConfig(c, req); }), -1);
    ASSERT_EQ(r.log->exchanges.size(), 5u);
    EXPECT_EQ(r.log->exchanges[0].sleepSeconds, 5u);
    EXPECT_EQ(r.log->exchanges[0].capacity, 1000u);
}

TEST(BasicConfig, SendsForwardedRecordsInOrder) {
    Rig r;
    r.config.ssid = "A";
    r.config.security = "WPA";
    r.config.passwd = "p";
    r.log->replies = {kOk};
    EXPECT_EQ(r.run(basicConfig), 0);
    ASSERT_EQ(r.log->exchanges.size(), 1u);
    auto& req = r.log->exchanges[0].request;
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
        EXPECT_TRUE(r.log->exchanges.empty());
        EXPECT_EQ(r.err, std::string("D [QOR] Advanced config...\nD [QOR] Master security = '") +
                             s + "'\n");
    }
}

TEST(AdvancedConfig, OpenWithWepStaticSendsNoKeys) {
    Rig r;
    r.config.security = "OPEN";
    r.config.encryption = "WEP-STATIC";
    r.config.wepKey[0] = "abc";
    r.log->replies = {kOk};
    EXPECT_EQ(r.run(advancedConfig), 0);
    ASSERT_EQ(r.log->exchanges.size(), 1u);
    EXPECT_EQ(r.log->exchanges[0].request.size(), 9u + 7 + 9 + 9 + 9);
    EXPECT_NE(r.err.find("D [QOR] Adv OPEN ret = 0\n"), std::string::npos);
}

TEST(AdvancedConfig, SharedMasksWepKeysInDump) {
    Rig r;
    r.config.security = "SHARED";
    r.config.encryption = "WEP";
    r.config.wepKey[0] = "ZQZQZ";
    r.log->replies = {kError};
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
    r.log->replies = {bytesOf({0x02})};
    EXPECT_EQ(r.run(advancedConfig), 1);
    ASSERT_EQ(r.log->exchanges.size(), 2u);
    EXPECT_FALSE(r.log->exchanges[0].stream);
    EXPECT_TRUE(r.log->exchanges[1].stream);
    EXPECT_EQ(r.log->exchanges[1].sleepSeconds, 3u);
    EXPECT_NE(r.err.find("D [QOR] Setting 802.1x ret = 1\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = 1\n"), std::string::npos);
}

TEST(ShowSsid, NameOffsetDependsOnForwarding) {
    Rig r;
    // The inner reply starts at byte 10 of the forwarded one; its data (after
    // the 9 echoed request bytes and a 2-byte length) at byte 21.
    std::vector<uint8_t> fwd =
        bytesOf({0xA5, 0,    0x11, 0x50, 0xE0, 0x63, 0x02, 0, 0,   0x0C, 0xA5, 0, 9,
                 0x50, 0xE0, 0xD8, 0,    0x28, 0x08, 0,    4, 'N', 'e',  't',  0, 'x'});
    r.log->replies = {fwd};
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "Net\n");
    r.c->setForward(0);
    r.log->replies = {bytesOf({0xA5, 0, 9, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08, 0, 3, 'H', 'i'})};
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "Hi\n");
    EXPECT_EQ(r.log->exchanges.back().request.size(), 9u);
}

TEST(ShowSsid, ForwardedReplyWithoutDataIsAnEmptyName) {
    // 21 bytes: more than the 18-byte request plus 2, with a data length of 0.
    Rig r;
    r.log->replies = {bytesOf({0xA5, 0, 0x12, 0x50, 0xE0, 0x63, 0x02, 0,    0, 0x0B, 0xA5,
                               0,    8, 0x50, 0xE0, 0xD8, 0,    0x28, 0x08, 0, 0})};
    EXPECT_EQ(r.run(showSsid), 0);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.log->exchanges.size(), 1u);
    // 20 bytes are not enough: every try fails.
    Rig s;
    std::vector<uint8_t> twenty(20, 0x01);
    s.log->replies = {twenty, twenty, twenty, twenty, twenty, twenty, twenty};
    EXPECT_EQ(s.run(showSsid), 1);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.log->exchanges.size(), 7u);
}

TEST(ShowSsid, ErrorAndSilence) {
    Rig r;
    r.log->replies = {kError};
    EXPECT_EQ(r.run(showSsid), -1);
    Rig s;
    EXPECT_EQ(s.run(showSsid), 1);
    EXPECT_EQ(s.log->exchanges.size(), 7u);
    EXPECT_EQ(s.out, "");
}

TEST(WaitConnected, ReturnsLastByteAfterFourTries) {
    Rig r;
    r.log->replies = {bytesOf({0xA5, 0, 1, 0x50, 3}), bytesOf({0xA5, 0, 1, 0x50, 3}),
                      bytesOf({0xA5, 0, 1, 0x50, 3}), bytesOf({0xA5, 0, 1, 0x50, 5})};
    EXPECT_EQ(r.run(waitConnected), 5);
    EXPECT_EQ(r.log->exchanges.size(), 4u);
    EXPECT_EQ(r.log->exchanges[0].sleepSeconds, 2u);
}

TEST(WaitConnected, ShortRepliesAreFailedTries) {
    Rig r;
    r.log->failedOpen = {true, false, false, false};
    r.log->replies = {{}, bytesOf({0}), bytesOf({0xA5, 0}), {}};
    EXPECT_EQ(r.run(waitConnected), 1);
    Rig z;
    z.log->replies = {bytesOf({0xA5, 0, 1, 0x50, 0})};
    EXPECT_EQ(z.run(waitConnected), 0);
    Rig e;
    e.log->replies = {kError};
    EXPECT_EQ(e.run(waitConnected), -1);
}

TEST(ShowIpAddress, PrintsLastFourBytes) {
    Rig r;
    r.log->replies = {bytesOf({0xA5, 0, 8, 0x50, 0xE0, 0xD8, 0, 0xC0, 0xA8, 0x01, 0x14})};
    EXPECT_EQ(r.run(showIpAddress), 0);
    EXPECT_EQ(r.out, "192.168.1.20\n");
    Rig z;
    for (int i = 0; i < 7; ++i)
        z.log->replies.push_back(bytesOf({0xA5, 0, 8, 0x50, 0, 0, 0, 0}));
    EXPECT_EQ(z.run(showIpAddress), 1);
    EXPECT_EQ(z.out, "");
    EXPECT_EQ(z.log->exchanges.size(), 7u);
    EXPECT_EQ(z.log->exchanges[0].sleepSeconds, 3u);
}

TEST(WaitAdapter, PausesTenSecondsBetweenTries) {
    Rig r;
    EXPECT_EQ(r.run(waitAdapter), 1);
    EXPECT_EQ(r.log->exchanges.size(), 6u);
    EXPECT_EQ(r.log->pauses, (std::vector<unsigned>{10, 10, 10, 10, 10}));
    EXPECT_EQ(r.log->exchanges[0].sleepSeconds, 0u);
    EXPECT_EQ(r.log->exchanges[0].capacity, 255u);
    Rig d;
    d.log->replies = {bytesOf({'x'}), bytesOf({'-'})};
    EXPECT_EQ(d.run(waitAdapter), 0);
}

TEST(ResetPrinter, FixedRequestAndFiftySecondPause) {
    Rig r;
    r.config.usbPath = "1:2";
    r.log->replies = {kError, kError};
    EXPECT_EQ(r.run(resetPrinter), 0);  // an error reply ends in 0x01 too; no 0xD4 test
    Rig s;
    s.c = test::makeFakeConfigurator(s.config, s.log);
    s.c->setForward(0);
    EXPECT_EQ(s.run(resetPrinter), 1);
    EXPECT_EQ(s.log->pauses, (std::vector<unsigned>{50}));
    EXPECT_EQ(s.log->exchanges[0].request, bytesOf({0xA5, 0x00, 0x0A, 0x50, 0xE0, 0xDA, 0x01, 0x06,
                                                    0x14, 0x00, 0x00, 0x01, 0x01}));
}

TEST(ConfigurePrinter, InterleavedOutputAndRetryWithoutForwarding) {
    Rig r;
    r.config.ssid = "A";
    r.log->replies = {kError, kOk, bytesOf({0xA5, 0, 1, 0x50, 0}),
                      bytesOf({0xA5, 0, 8, 0x50, 0, 10, 0, 0, 7})};
    int len = r.run(configurePrinter);
    EXPECT_EQ(len, 9 + 7 + 9 + 9 + 9 + 7);
    EXPECT_EQ(r.out,
              "npa data going: 0Configuring the printer....\nResetting the printer....\n"
              "Connecting to wireless network....npa data going: 0npa data going: 0"
              "Acquiring network address....\nIP-ADDRESS : 10.0.0.7\n");
    EXPECT_NE(r.err.find("SSID = A\na5 0 2f 50 e0 63 2 0 29 a5 0 26 50 e0 da 1 28 2 "),
              std::string::npos)
        << r.err;
    ASSERT_EQ(r.log->exchanges.size(), 4u);
    EXPECT_EQ(r.log->exchanges[1].request[0], 0xA5);
    EXPECT_EQ(r.log->exchanges[1].request[5], 0xDA);  // unwrapped retry
    EXPECT_EQ(r.log->exchanges[2].request.size(), 9u);
}

TEST(FindReplyRecord, FindsForwardedStatus) {
    std::vector<uint8_t> bytes = bytesOf({0xE0, 0x63, 0x02, 0x00, 0x00, 0x0C, 0xA5, 0x00, 0x09,
                                          0x50, 0xE0, 0xD8, 0x00, 0x2A, 0x1D, 0x00, 0x01, 0x02});
    auto rec = findReplyRecord(bytes, 0x2A, 0x1D, 1);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->position, 6u);
    EXPECT_EQ(rec->dataLength, 1);
    EXPECT_EQ(rec->data.data[0], 2);
    // Cut at every length: never found unless the status byte is present.
    for (size_t n = 0; n < bytes.size(); ++n) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
        EXPECT_FALSE(findReplyRecord(cut, 0x2A, 0x1D, 1)) << n;
    }
    EXPECT_FALSE(findReplyRecord(bytes, 0x2A, 0x06, 0));
}

TEST(FindReplyRecord, WholeDataMustBePresent) {
    std::vector<uint8_t> bytes =
        bytesOf({0xA5, 0, 0, 0x50, 0xE0, 0xD8, 0, 0x2A, 0x06, 0, 5, 'A', 'c'});
    EXPECT_FALSE(findReplyRecord(bytes, 0x2A, 0x06, kWholeData));
    EXPECT_TRUE(findReplyRecord(bytes, 0x2A, 0x06, 0));
}

TEST(Query8021xStatus, StatusLineAndResult) {
    Rig r;
    r.log->replies = {bytesOf({0xE0, 0x63, 0x02, 0x00, 0x00, 0x0C, 0xA5, 0x00, 0x09, 0x50, 0xE0,
                               0xD8, 0x00, 0x2A, 0x1D, 0x00, 0x01, 0x02})};
    EXPECT_EQ(r.run(query8021xStatus), 2);
    EXPECT_EQ(r.err.substr(0, 40), "D [QOR] 802.1x Authentication status...\n");
    EXPECT_NE(r.err.find("D [QOR] Auth status response (18 bytes)\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Status: 2 (Authenticated)\n"), std::string::npos);
    Rig none;
    none.log->replies = {bytesOf({0x01, 0x02})};
    EXPECT_EQ(none.run(query8021xStatus), -1);
    EXPECT_EQ(none.err.find("Status:"), std::string::npos);
    EXPECT_STREQ(authStatusText(11), "CA Certificate Not Installed");
    EXPECT_STREQ(authStatusText(12), "Unknown status");
}

TEST(CertSettings, LogsOrganisationAndAlwaysZero) {
    Rig r;
    r.log->replies = {bytesOf({0xA5, 0, 0, 0x50, 0xE0, 0xD8, 0, 0x2A, 0x06, 0, 3, 'O', 'r', 'g'})};
    EXPECT_EQ(r.run(certSettings), 0);
    EXPECT_NE(r.err.find("D [QOR] Certifcate settings...\nD [QOR] Cert Organization...\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Organization (3 bytes): Org\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] Cert common name...\nD [QOR] Common name resp (0 bytes)\n"),
              std::string::npos);
    EXPECT_EQ(r.out, "");
}

TEST(NpaData, DecodesAndSendsUnwrapped) {
    Rig r;
    r.config.npaData = hexDigitsOf("0xA5, 0x00");
    EXPECT_EQ(r.config.npaData, "0A5000");  // the 0 of each 0x prefix stays
    r.config.npaData = "a5000650e0d8002808";
    r.log->replies = {bytesOf({0x50, 0x01})};
    EXPECT_EQ(r.run(sendNpaData), 0);
    ASSERT_EQ(r.log->exchanges.size(), 1u);
    EXPECT_EQ(r.log->exchanges[0].request, bytesOf({0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
    EXPECT_EQ(r.log->exchanges[0].sleepSeconds, 10u);
    EXPECT_NE(r.err.find("D [QOR] NPA data: 9 bytes\n"), std::string::npos);
    EXPECT_NE(r.err.find("D [QOR] sendNPA response (2 bytes)\n"), std::string::npos);
}

// ConfigCommand over a scripted configurator.
struct CommandRig {
    std::shared_ptr<test::FakeLinkLog> log = std::make_shared<test::FakeLinkLog>();
    ConfigDetails seen;
    std::string out, err;
    int run(std::vector<const char*> args) {
        CaptureStdout();
        CaptureStderr();
        ConfigCommand command(
            static_cast<int>(args.size()), args.data(),
            [this](const ConfigDetails& c) { return test::makeFakeConfigurator(c, log); },
            [](const std::string&, const ConfigDetails&) { return 7; });
        err = GetCapturedStderr();
        out = GetCapturedStdout();
        seen = command.configuration();
        return command.result();
    }
};

TEST(ConfigCommand, RetriesWithoutForwardingAfterMinusOne) {
    CommandRig r;
    r.log->replies = {kError, kError};
    EXPECT_EQ(r.run({"qorconfig", "-802s"}), -1);
    ASSERT_EQ(r.log->exchanges.size(), 2u);
    EXPECT_EQ(r.log->exchanges[0].request.size(), 18u);
    EXPECT_EQ(r.log->exchanges[1].request.size(), 9u);
}

TEST(ConfigCommand, Unanswered8021xOptionsAreRetriedWithoutForwarding) {
    CommandRig r;
    // Wrapped options: error answer; status query; unwrapped: options and
    // network message accepted; status query.
    r.log->replies = {kError, {}, kOk, kOk, {}};
    EXPECT_EQ(r.run({"qorconfig", "-ca", "--security=802.1x", "--ssid=A", "--802-auth-ext=PEAP",
                     "--802-user=u", "--802-pwd=p"}),
              0)
        << r.err;
    ASSERT_EQ(r.log->exchanges.size(), 5u);
    EXPECT_EQ(r.log->exchanges[0].request[5], 0x63);
    EXPECT_EQ(r.log->exchanges[2].request[5], 0xDA);
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = -1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("D [QOR] Adv 8021x ret = 0\n"), std::string::npos) << r.err;
}

TEST(ConfigCommand, NoRetryForAdapterAndReset) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-r"}), 1);
    EXPECT_EQ(r.log->exchanges.size(), 2u);
}

TEST(ConfigCommand, CertificateWordsUseTheProcessor) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-csr", "--cer-org=X"}), 7);
    EXPECT_EQ(r.seen.cerOrg, "X");
    EXPECT_TRUE(r.log->exchanges.empty());
}

TEST(ConfigCommand, MissingOptionsFileFails) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-c", "-file", "/nonexistent/qor/opts"}), 1);
    EXPECT_EQ(r.err, "qorconfig: cannot open options file '/nonexistent/qor/opts'\n");
    EXPECT_TRUE(r.log->exchanges.empty());
}

TEST(ConfigCommand, StatusWordsReadOnlyTheDevice) {
    CommandRig r;
    r.log->replies = {bytesOf({0xA5, 0, 8, 0x50, 0, 1, 2, 3, 4})};
    EXPECT_EQ(r.run({"qorconfig", "-ip", "--ssid=x", "2:3"}), 0);
    EXPECT_EQ(r.seen.usbPath, "2:3");
    EXPECT_EQ(r.seen.ssid, "");
    EXPECT_EQ(r.out, "1.2.3.4\n");
}

TEST(ConfigCommand, TopLevelFlowReadsNetworkOptions) {
    CommandRig r;
    r.log->replies = {kOk};
    EXPECT_EQ(r.run({"qorconfig", "--ssid=Home", "--security=None", "1:4"}), 0);
    EXPECT_EQ(r.seen.ssid, "Home");
    EXPECT_EQ(r.seen.usbPath, "1:4");
    EXPECT_NE(r.out.find("Configuring the printer....\n"), std::string::npos);
}

TEST(ConfigCommand, NpaWithoutFileSendsNothingAndExitsZero) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-npa"}), 0);
    ASSERT_EQ(r.log->exchanges.size(), 1u);
    EXPECT_TRUE(r.log->exchanges[0].request.empty());
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
    withDevice.log->replies = {kOk};
    EXPECT_EQ(withDevice.run({"qorconfig", "-c", "-file", opts.path.c_str(), "1:4"}), 0);
    EXPECT_EQ(withDevice.seen.ssid, "a b");
    EXPECT_EQ(withDevice.seen.security, "WPA");
    EXPECT_EQ(withDevice.seen.usbPath, "1:4");
    CommandRig without;
    without.log->replies = {kOk};
    EXPECT_EQ(without.run({"qorconfig", "-c", "-file", opts.path.c_str()}), 0);
    EXPECT_EQ(without.seen.usbPath, "/dev/usb/lp0");
    EXPECT_EQ(without.seen.ssid, "a b");
}

TEST(ConfigCommand, FileWordWithoutFileNameFailsBeforeSending) {
    CommandRig r;
    r.log->replies = {kOk};
    EXPECT_EQ(r.run({"qorconfig", "-c", "-file"}), 1);
    EXPECT_EQ(r.err, "qorconfig: -file needs the name of an options file\n");
    EXPECT_TRUE(r.log->exchanges.empty());
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
    ASSERT_EQ(followed.log->exchanges.size(), 1u);
    EXPECT_EQ(followed.log->exchanges[0].request,
              bytesOf({0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
}

TEST(ConfigCommand, MissingNpaFileSendsNothing) {
    CommandRig r;
    EXPECT_EQ(r.run({"qorconfig", "-npa", "-file", "/nonexistent/qor/req", "/dev/usb/lp0"}), 0);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.log->exchanges.size(), 1u);
    EXPECT_TRUE(r.log->exchanges[0].request.empty());
}

TEST(NpaData, OddLastDigitAndMisalignedPrefixes) {
    EXPECT_EQ(decodeNpaData("a5b"), bytesOf({0xA5}));
    EXPECT_EQ(decodeNpaData("b"), bytesOf({}));
    EXPECT_EQ(decodeNpaData(hexDigitsOf("0xA5, 0x00, 0x06")), bytesOf({0x0A, 0x50, 0x00, 0x00}));
}

TEST(ConfigCommand, DefaultDeviceForStatusWords) {
    CommandRig r;
    r.log->replies = {bytesOf({0xA5, 0, 8, 0x50, 0, 1, 2, 3, 4})};
    EXPECT_EQ(r.run({"qorconfig", "-ip"}), 0);
    EXPECT_EQ(r.seen.usbPath, "/dev/usb/lp0");
}

}  // namespace
}  // namespace qor
