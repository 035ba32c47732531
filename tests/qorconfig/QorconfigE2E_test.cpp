// Every qorconfig command word end to end against the virtual printer of
// both kinds, checking the requests the printer received, the output and
// the exit status. The program's own sleeps and read windows pace each
// exchange, so these run for seconds each; ctest runs them in parallel.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "E2eRig.h"
#include "Options.h"

namespace qor::test {
namespace {

// Setting records as the printer receives them (hex).
const std::string kManaged = "280200000400000000";
std::string security(int s) {
    char text[24];
    std::snprintf(text, sizeof text, "28220000040000000%X", s);
    return text;
}
const std::string kChannel6 = "280500000400000006";
const std::string kSsidHome = "2808000005486F6D6500";
const std::string kPassword =
    "28110000097077313233343536"
    "00";  // item 11, "pw123456" + 00
const std::string kBasicRecords = kManaged + security(2) + kChannel6 + kSsidHome + kPassword;

const std::string kForward = "";
const std::string kDirect = "kind = direct\n";
// A direct printer that refuses forwarded requests with an error answer.
const std::string kDirectRefusing = "kind = direct\nforeign = error\n";

const std::vector<std::string> kBasicArgs = {"--ssid=Home", "--security=WPA", "--passwd=pw123456"};

std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The kind/forwarded/hex of each setting request, for readable failures.
std::string describe(const std::vector<JournalEntry>& entries) {
    std::string out;
    for (const JournalEntry& e : entries)
        out += e.line + "\n";
    return out;
}

struct QorconfigE2E : ::testing::Test {
    PrinterRig rig;
};

// The lines a run wrote for the user on standard error (not the "D [QOR]"
// diagnostics): why it gave up, one line.
std::string userLines(const std::string& err) {
    std::string out;
    size_t at = 0;
    while ((at = err.find("qorconfig: ", at)) != std::string::npos) {
        size_t end = err.find('\n', at);
        out += err.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        at = end == std::string::npos ? err.size() : end + 1;
    }
    return out;
}

TEST_F(QorconfigE2E, FramingHelpersMatchTheKnownSsidRequest) {
    // A write request holding only an SSID record for "A", and its wrapper.
    EXPECT_EQ(writeRequest("280800000241"
                           "00"),
              "A5000B50E0DA0128080000024100");
    EXPECT_EQ(forwarded(writeRequest("280800000241"
                                     "00")),
              "A5001450E063020"
              "00E"
              "A5000B50E0DA0128080000024100");
}

// --- -c -------------------------------------------------------------------

TEST_F(QorconfigE2E, BasicConfigSendsOneForwardedWrite) {
    RunResult r = rig.run(kForward, with({"-c"}, kBasicArgs));
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded);
    EXPECT_EQ(requests[0].hex, "A5004050E06302003AA5003750E0DA01" + kBasicRecords);
    EXPECT_EQ(r.out, "npa data going: 2");
    EXPECT_TRUE(contains(r.err,
                         "D [QOR] Basic config...\nD [QOR] Mode = 'Managed'\n"
                         "D [QOR] Security = 'WPA'\n"
                         "D [QOR] Security mode: 2 (WPA PSK (Auto 1 or 2))\n"
                         "D [QOR] SSID = Home\nD [QOR] Basic config ret = 0\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Destroying last instance of usb transport.\n"));
    EXPECT_FALSE(contains(r.err + r.out, "pw123"));
}

TEST_F(QorconfigE2E, BasicConfigRetriesUnwrappedOnDirectPrinter) {
    RunResult r = rig.run(kDirect, with({"-c"}, kBasicArgs));
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded);
    EXPECT_FALSE(requests[0].answered);
    EXPECT_FALSE(requests[1].forwarded);
    EXPECT_EQ(requests[1].hex, writeRequest(kBasicRecords));
    EXPECT_TRUE(contains(r.err, "D [QOR] Basic config ret = -1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Basic config ret = 0\n")) << r.err;
    EXPECT_EQ(r.out, "npa data going: 2npa data going: 2");
}

TEST_F(QorconfigE2E, BasicConfigErrorRepliesExit255) {
    RunResult r = rig.run(kDirectRefusing + "fault = write error\n", with({"-c"}, kBasicArgs));
    EXPECT_EQ(r.status, 255) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded && requests[0].answered);
    EXPECT_TRUE(!requests[1].forwarded && requests[1].answered);
}

TEST_F(QorconfigE2E, BasicConfigRejectedExits1WithoutRetry) {
    RunResult r = rig.run("write_status = 0\n", with({"-c"}, kBasicArgs));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(settingRequests(r.journal).size(), 1u) << describe(r.journal);
    EXPECT_TRUE(contains(r.err, "D [QOR] Basic config ret = 1\n")) << r.err;
}

TEST_F(QorconfigE2E, BasicConfigSilentPrinterExits255) {
    RunResult r = rig.run("fault = any silent\n", with({"-c"}, kBasicArgs));
    EXPECT_EQ(r.status, 255) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded);
    EXPECT_FALSE(requests[1].forwarded);
}

TEST_F(QorconfigE2E, BasicConfigFromOptionsFile) {
    std::string options = rig.dir.path("opts.txt");
    writeText(options, "#--ssid=Wrong\n--ssid=\"Home\"\n--security=WPA\n\n--passwd=pw123456\n");
    RunResult r = rig.run(kForward, {"-c", "-file", options, "/dev/usb/lp0"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(kBasicRecords)));
}

TEST_F(QorconfigE2E, MissingOptionsFileFailsWithOneLine) {
    std::string options = rig.dir.path("absent.txt");
    RunResult r = rig.run(kForward, {"-c", "-file", options});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qorconfig: cannot open options file '" + options + "'\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.journal.empty()) << describe(r.journal);
}

// --- -ca, every master security ---------------------------------------------

TEST_F(QorconfigE2E, AdvancedOpenWithWepSendsKeysMasked) {
    RunResult r = rig.run(kForward, {"-ca", "--security=OPEN", "--encryption=WEP",
                                     "--WEP-key1=abcde", "--WEP-transmit=1", "--ssid=Home"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    std::string records =
        "28090000056162636465"
        "28"
        "0B000000"
        "280D000000"
        "280F000000"
        "281F00000400000001"
        "282300000400000001" +
        kManaged + security(1) + kChannel6 + kSsidHome;
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(records)));
    EXPECT_EQ(r.out, "npa data going: 1");
    EXPECT_TRUE(contains(r.err,
                         "D [QOR] Advanced config...\nD [QOR] Master security = 'OPEN'\n"
                         "D [QOR] Configuring Open Mode...\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] WEP Key 1 = '*****' (5 bytes)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] WEP auth mode: 1 (Open)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv OPEN ret = 0\n")) << r.err;
    // The dump shows the key as "** " per byte and '*' in the text column.
    EXPECT_TRUE(contains(r.err, "28 09 00 00 05 ** ** ** ** ** 28 0B")) << r.err;
    EXPECT_TRUE(contains(r.err, "|(....*****(....(\n")) << r.err;
    EXPECT_FALSE(contains(r.err + r.out, "abcde"));
    EXPECT_FALSE(contains(r.err, "61 62 63 64 65"));
}

TEST_F(QorconfigE2E, AdvancedSharedSendsAllKeys) {
    RunResult r = rig.run(kForward, {"-ca", "--security=SHARED", "--encryption=WEP",
                                     "--WEP-key1=key01", "--WEP-key2=key02", "--WEP-key3=key03",
                                     "--WEP-key4=key04", "--WEP-transmit=2", "--ssid=Home"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    std::string records =
        "2809000005"
        "6B65793031"
        "280B000005"
        "6B65793032"
        "280D000005"
        "6B65793033"
        "280F000005"
        "6B65793034"
        "281F00000400000002"
        "282300000400000002" +
        kManaged + security(1) + kChannel6 + kSsidHome;
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(records)));
    EXPECT_TRUE(contains(r.err, "D [QOR] Configuring Shared Mode...\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] WEP auth mode: 2 (Shared)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv SHARED ret = 0\n")) << r.err;
    EXPECT_FALSE(contains(r.err, "6B 65 79 30 31")) << r.err;
}

TEST_F(QorconfigE2E, AdvancedWpaPersonalSendsPskFirst) {
    RunResult r = rig.run(kForward, {"-ca", "--security=WPA-PER", "--encryption=AES",
                                     "--psk=secretpsk1", "--ssid=Home"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    std::string records =
        "281100000A"
        "73656372657470736B31"
        "282600000400000004" +
        kManaged + security(2) + kChannel6 + kSsidHome;
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(records)));
    EXPECT_TRUE(contains(r.err, "D [QOR] Configuring WPA Personal...\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] PSK (Pre-shared key) = ********** (10 bytes)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv WPA-Personal ret = 0\n")) << r.err;
    EXPECT_FALSE(contains(r.err + r.out, "secretpsk1"));
}

TEST_F(QorconfigE2E, AdvancedWpaEnterpriseOnDirectPrinterRetriesUnwrapped) {
    RunResult r = rig.run(kDirect, {"-ca", "--security=WPA-ENT", "--encryption=TKIP",
                                    "--psk=kkkkkkkk", "--ssid=Home", "--channel=11"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    std::string records =
        "2811000008"
        "6B6B6B6B6B6B6B6B"
        "282600000400000003" +
        kManaged + security(4) + "28050000040000000B" + kSsidHome;
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(records)));
    EXPECT_EQ(requests[1].hex, writeRequest(records));
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv WPA-Ent ret = -1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv WPA-Ent ret = 0\n")) << r.err;
}

TEST_F(QorconfigE2E, Advanced8021xWithWepStaticThenNetworkThenStatus) {
    RunResult r =
        rig.run("cert = one\ncert = two\n",
                {"-ca", "--security=802.1x", "--encryption=WEP-STATIC",
                 "--802-auth-ext=PEAP|EAP-TTLS", "--802-auth-inner=MSCHAPv2", "--802-user=bob",
                 "--802-pwd=s3cret", "--WEP-key1=abcde", "--ssid=Home"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 3u) << describe(r.journal);
    std::string options =
        "282600000400000002"
        "2A1400000100"
        "2A1500000100"
        "2A1600000100"
        "2A1700000101"
        "2A1800000100"
        "2A1900000101"
        "2A1A00000400000002"
        "2A020000"
        "04"
        "626F6200"
        "2A030000"
        "07"
        "73336372657400"
        "2A24000001"
        "01"
        "28090000056162636465"
        "280B000000"
        "280D000000"
        "280F000000"
        "281F00000400000001";
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(options)));
    EXPECT_EQ(requests[1].hex,
              forwarded(writeRequest(kManaged + security(3) + kSsidHome + kChannel6)));
    EXPECT_EQ(requests[2].hex, forwarded(readRequest("2A1D")));
    EXPECT_TRUE(contains(r.err,
                         "D [QOR] Configuring for 8021x...\n"
                         "D [QOR] Setting 8021x Options...\n"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Validate certificate? 1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] 802.1x password = ****** (6 bytes)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Setting 802.1x ret = 0\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Status: 2 (Authenticated)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv 8021x ret = 0\n")) << r.err;
    EXPECT_FALSE(contains(r.err + r.out, "s3cret"));
    EXPECT_FALSE(contains(r.err + r.out, "abcde"));
}

TEST_F(QorconfigE2E, Advanced8021xRejectedOptionsStillQueryStatus) {
    RunResult r = rig.run("write_status = 2\n",
                          {"-ca", "--security=802.1x", "--ssid=Home", "--802-auth-ext=PEAP",
                           "--802-user=bob", "--802-pwd=s3cret"});
    EXPECT_EQ(r.status, 1) << "a refused options message is no success\n" << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_EQ(requests[0].kind, "write");
    EXPECT_EQ(requests[1].hex, forwarded(readRequest("2A1D")));
    EXPECT_TRUE(contains(r.err, "D [QOR] Setting 802.1x ret = 1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Adv 8021x ret = 1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Validate certificate? 0\n")) << r.err;
}

TEST_F(QorconfigE2E, AdvancedWithOtherSecurityIsRefused) {
    // Nothing to configure is no success: one line, status 1, nothing sent.
    for (const char* master : {"--security=None", "--security=WPA2"}) {
        RunResult r = rig.run(kForward, {"-ca", master, "--ssid=Home"}, 30);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(r.journal.empty()) << describe(r.journal);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.rfind("qorconfig: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1)
            << r.err;
    }
}

// --- status commands -----------------------------------------------------------

TEST_F(QorconfigE2E, ResetSendsFixedForwardedWrite) {
    RunResult r = rig.run(kForward, {"-r"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex,
              "A5001350E063020"
              "00D"
              "A5000A50E0DA01061400000101");
}

TEST_F(QorconfigE2E, ResetRejectedTriesTwiceFiftySecondsApart) {
    RunResult r = rig.run("write_status = 0\n", {"-r"}, 150);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(userLines(r.err), "qorconfig: the printer did not confirm the reset after 2 tries\n");
    EXPECT_EQ(settingRequests(r.journal).size(), 2u) << describe(r.journal);
    // The first try keeps its whole time before the pause; the second ends
    // at its answer.
    EXPECT_GE(r.seconds, 59.0);
    EXPECT_LT(r.seconds, 62.0);
}

TEST_F(QorconfigE2E, AdapterReadyOnSecondPollAfterTenSeconds) {
    RunResult r = rig.run("adapter_after = 1\n", {"-a"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    for (const JournalEntry& e : requests)
        EXPECT_EQ(e.hex, forwarded(readRequest("061F")));
    EXPECT_GE(r.seconds, 10.0);
}

TEST_F(QorconfigE2E, AdapterOnDirectPrinterIsNotRetried) {
    // Six forwarded polls, none answered, and no unwrapped round.
    RunResult r = rig.run(kDirect, {"-a"}, 150);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(userLines(r.err), "qorconfig: no answer from the printer at '/dev/usb/lp0'\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 6u) << describe(r.journal);
    for (const JournalEntry& e : requests)
        EXPECT_TRUE(e.forwarded);
    EXPECT_GE(r.seconds, 50.0);
}

TEST_F(QorconfigE2E, ConnectedAtFirstPoll) {
    RunResult r = rig.run(kForward, {"-t"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("2815")));
}

TEST_F(QorconfigE2E, NeverConnectedExitsWithLastState) {
    RunResult r = rig.run("connect_after = never\nnot_connected_state = 5\n", {"-t"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(settingRequests(r.journal).size(), 4u) << describe(r.journal);
    EXPECT_EQ(userLines(r.err),
              "qorconfig: the printer did not join the network after 4 polls (state 5)\n");
}

TEST_F(QorconfigE2E, ConnectedOnRefusingDirectPrinterAfterRetry) {
    RunResult r = rig.run(kDirectRefusing, {"-t"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("2815")));
    EXPECT_EQ(requests[1].hex, readRequest("2815"));
}

TEST_F(QorconfigE2E, ConnectionPollOfSilentPrinterIsRetriedUnwrappedAndExits255) {
    // Four forwarded tries without a byte back, then four unwrapped ones.
    RunResult r = rig.run("fault = any silent\n", {"-t"});
    EXPECT_EQ(r.status, 255) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 8u) << describe(r.journal);
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].forwarded, i < 4) << i;
    EXPECT_EQ(userLines(r.err), "qorconfig: no answer from the printer at '/dev/usb/lp0'\n");
}

TEST_F(QorconfigE2E, ConnectionRepliesTooShortToJudgeAreFailedTries) {
    // Three bytes hold no flags byte to test: each try fails, the last gives 1.
    RunResult r = rig.run("fault = read:28:15 truncate 3\n", {"-t"});
    EXPECT_EQ(r.status, 1) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 4u) << describe(r.journal);
    for (const JournalEntry& e : requests)
        EXPECT_TRUE(e.answered && e.forwarded);
}

TEST_F(QorconfigE2E, ShowsAddressAfterTwoEmptyPolls) {
    RunResult r = rig.run("ip = 10.1.2.3\nip_after = 2\n", {"-ip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "10.1.2.3\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 3u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("0A02")));
    // Each empty address keeps its try's whole time (3 s and the read
    // window); the address itself ends the command at once.
    EXPECT_GE(r.seconds, 15.0);
    EXPECT_LT(r.seconds, 17.5);
}

TEST_F(QorconfigE2E, ShowsAddressOfRefusingDirectPrinterAfterRetry) {
    RunResult r = rig.run(kDirectRefusing, {"-ip"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "192.168.1.20\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_EQ(requests[1].hex, readRequest("0A02"));
}

TEST_F(QorconfigE2E, AddressErrorRepliesExit255AndPrintNothing) {
    RunResult r = rig.run(kDirectRefusing + "fault = read:0A:02 error\n", {"-ip"});
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(settingRequests(r.journal).size(), 2u) << describe(r.journal);
}

TEST_F(QorconfigE2E, ShowsForwardedSsidWithoutStrayByte) {
    RunResult r = rig.run("ssid = Cafe Net\n", {"-s"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Cafe Net\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("2808")));
}

TEST_F(QorconfigE2E, ShowsDirectSsidAfterRetry) {
    RunResult r = rig.run(kDirectRefusing + "ssid = Office\n", {"-s"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Office\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_EQ(requests[1].hex, readRequest("2808"));
}

TEST_F(QorconfigE2E, SsidErrorRepliesExit255) {
    RunResult r = rig.run(kDirectRefusing + "fault = read:28:08 error\n", {"-s"});
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(r.out, "");
}

// --- 802.1x and certificate queries ------------------------------------------

TEST_F(QorconfigE2E, Dot1xStatusIsTheExitStatus) {
    RunResult r = rig.run("status_8021x = 11\n", {"-802s"});
    EXPECT_EQ(r.status, 11) << r.err;
    EXPECT_TRUE(contains(r.err,
                         "D [QOR] 802.1x Authentication status...\n"
                         "D [QOR] Auth status response ("))
        << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Status: 11 (CA Certificate Not Installed)\n")) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("2A1D")));
}

TEST_F(QorconfigE2E, Dot1xStatusAboveTableHasFixedText) {
    RunResult r = rig.run("status_8021x = 200\n", {"-802s"});
    EXPECT_EQ(r.status, 200) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Status: 200 (Unknown status)\n")) << r.err;
}

TEST_F(QorconfigE2E, Dot1xStatusOfDirectPrinterIsReadUnwrapped) {
    // The direct answer, as the stream collects it, begins at its class byte.
    RunResult r = rig.run(kDirect, {"-802s"});
    EXPECT_EQ(r.status, 2) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded);
    EXPECT_EQ(requests[1].hex, readRequest("2A1D"));
    EXPECT_TRUE(requests[1].answered);
    EXPECT_TRUE(contains(r.err, "D [QOR] Status: 2 (Authenticated)\n")) << r.err;
    EXPECT_EQ(userLines(r.err), "");
}

TEST_F(QorconfigE2E, Dot1xStatusOfSilentPrinterExits255) {
    RunResult r = rig.run("fault = any silent\n", {"-802s"});
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Auth status response (0 bytes)\n")) << r.err;
    EXPECT_EQ(settingRequests(r.journal).size(), 2u) << describe(r.journal);
}

TEST_F(QorconfigE2E, Dot1xStatusErrorReplyIsRetriedUnwrapped) {
    RunResult r = rig.run("fault = read:2A:1D error\n", {"-802s"});
    EXPECT_EQ(r.status, 255) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_TRUE(requests[0].forwarded && requests[0].answered);
    EXPECT_EQ(requests[1].hex, readRequest("2A1D"));
    EXPECT_FALSE(contains(r.err, "D [QOR] Status:")) << r.err;
}

TEST_F(QorconfigE2E, CertificateSettingsLogOrganisation) {
    RunResult r = rig.run("cert_org = Acme Printing\n", {"-cer"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err,
                         "D [QOR] Certifcate settings...\nD [QOR] Cert Organization...\n"
                         "D [QOR] Cert org ("))
        << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Organization (13 bytes): Acme Printing\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] Cert common name...\nD [QOR] Common name resp ("))
        << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 2u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(readRequest("2A06")));
    EXPECT_EQ(requests[1].hex, forwarded(readRequest("2A0A")));
}

TEST_F(QorconfigE2E, CertificateSettingsOfSilentPrinterExit0) {
    // Both queries forwarded, then both unwrapped; the run says it got nothing.
    RunResult r = rig.run("fault = any silent\n", {"-cer"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "D [QOR] Organization")) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 4u) << describe(r.journal);
    EXPECT_EQ(requests[3].hex, readRequest("2A0A"));
    EXPECT_EQ(userLines(r.err), "qorconfig: no answer from the printer at '/dev/usb/lp0'\n");
}

// --- -npa -------------------------------------------------------------------------

TEST_F(QorconfigE2E, RawRequestFromHexFileIsSentUnwrapped) {
    std::string file = rig.dir.path("req.hex");
    writeText(file, "a5000650e0d8002808\n");
    RunResult r = rig.run(kDirect, {"-npa", "-file", file, "/dev/usb/lp0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "npaFileData: (18 bytes) a5000650e0d8002808\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_FALSE(requests[0].forwarded);
    EXPECT_EQ(requests[0].hex, "A5000650E0D8002808");
    EXPECT_TRUE(contains(r.err, "D [QOR] NPA data: 9 bytes\n")) << r.err;
    // Flags dropped: E0 D8 00 28 08, the length 00 08 and "HomeNet" with its 00.
    EXPECT_TRUE(contains(r.err, "D [QOR] sendNPA response (15 bytes)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "|...(...HomeNet.\n")) << r.err;
}

TEST_F(QorconfigE2E, RawRequestToSilentPrinterExits0) {
    std::string file = rig.dir.path("req.hex");
    writeText(file, "A5 00 06 50 E0 D8 00 28 08\n");
    RunResult r = rig.run("fault = any silent\n", {"-npa", "-file", file, "/dev/usb/lp0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] sendNPA response (0 bytes)\n")) << r.err;
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 1u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, "A5000650E0D8002808");
}

TEST_F(QorconfigE2E, RawWithoutFileSendsNothing) {
    RunResult r = rig.run(kDirect, {"-npa"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "D [QOR] NPA data: 0 bytes\n")) << r.err;
    EXPECT_TRUE(r.journal.empty()) << describe(r.journal);
}

// --- the top-level flow and the usage -----------------------------------------

// The basic message as the top-level flow writes it: "%x " per byte, the
// password's bytes as "** ".
std::string lowerHexDump(const std::string& hex, size_t secretFrom, size_t secretCount) {
    std::string out;
    for (size_t i = 0; i * 2 < hex.size(); ++i) {
        if (i >= secretFrom && i < secretFrom + secretCount) {
            out += "** ";
            continue;
        }
        char text[8];
        std::snprintf(text, sizeof text, "%x ",
                      static_cast<unsigned>(std::stoul(hex.substr(i * 2, 2), nullptr, 16)));
        out += text;
    }
    return out;
}

TEST_F(QorconfigE2E, TopLevelFlowConfiguresWaitsAndShowsAddress) {
    RunResult r = rig.run("ip = 192.168.7.9\n", kBasicArgs);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "npa data going: 2Configuring the printer....\nResetting the printer....\n"
              "Connecting to wireless network....npa data going: 2"
              "Acquiring network address....\nIP-ADDRESS : 192.168.7.9\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 3u) << describe(r.journal);
    std::string message = forwarded(writeRequest(kBasicRecords));
    EXPECT_EQ(requests[0].hex, message);
    EXPECT_EQ(requests[1].hex, forwarded(readRequest("2815")));
    EXPECT_EQ(requests[2].hex, forwarded(readRequest("0A02")));
    // Password bytes: after the 9 + 7 header bytes and four records plus the
    // password record's own 5-byte header.
    size_t passwordAt = 9 + 7 + 9 + 9 + 9 + 10 + 5;
    EXPECT_TRUE(contains(r.err, lowerHexDump(message, passwordAt, 8) + "D [QOR] Basic config...\n"))
        << r.err;
    EXPECT_FALSE(contains(r.err + r.out, "pw123"));
}

TEST_F(QorconfigE2E, TopLevelFlowOnDirectPrinterContinuesUnwrapped) {
    RunResult r = rig.run(kDirect, kBasicArgs);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "npa data going: 2Configuring the printer....\nResetting the printer....\n"
              "Connecting to wireless network....npa data going: 2npa data going: 2"
              "Acquiring network address....\nIP-ADDRESS : 192.168.1.20\n");
    auto requests = settingRequests(r.journal);
    ASSERT_EQ(requests.size(), 4u) << describe(r.journal);
    EXPECT_EQ(requests[0].hex, forwarded(writeRequest(kBasicRecords)));
    EXPECT_EQ(requests[1].hex, writeRequest(kBasicRecords));
    EXPECT_EQ(requests[2].hex, readRequest("2815"));
    EXPECT_EQ(requests[3].hex, readRequest("0A02"));
}

TEST_F(QorconfigE2E, UsageWithoutArgumentsAndWithHelp) {
    // The usage text as it always was, then the command words.
    RunResult bare = rig.run(kForward, {}, 30);
    EXPECT_EQ(bare.status, 0);
    EXPECT_EQ(bare.out, std::string(usageText()) + commandWordsText());
    EXPECT_EQ(bare.err, "");
    for (const char* word : {"-h", "--help"}) {
        RunResult help = rig.run(kForward, {word}, 30);
        EXPECT_EQ(help.status, 0) << word;
        EXPECT_EQ(help.out, bare.out) << word;
        EXPECT_EQ(help.err, "D [QOR] Destroying last instance of usb transport.\n");
        EXPECT_TRUE(help.journal.empty()) << describe(help.journal);
    }
}

// --- what a run reports when the printer misbehaves -----------------------------

// The progress lines of the top-level flow up to the configuration message.
const std::string kFlowHead =
    "npa data going: 2Configuring the printer....\nResetting the printer....\n"
    "Connecting to wireless network....npa data going: 2";

struct ReportRow {
    const char* name;
    std::string scenario;
    std::vector<std::string> args;  // "@DIR@" stands for the run's scratch directory
    int status;
    std::string out;           // standard output, exactly
    std::string line;          // the one "qorconfig: " line on standard error, or ""
    bool nothingSent = false;  // the printer's journal stays empty
    bool overLibusb = false;   // with the fake libusb preloaded (bus:device paths)
};

std::ostream& operator<<(std::ostream& os, const ReportRow& row) {
    return os << row.name;
}

struct Reports : ::testing::TestWithParam<ReportRow> {
    PrinterRig rig;
};

TEST_P(Reports, StatusOutputAndTheLineSayingWhy) {
    const ReportRow& row = GetParam();
    std::vector<std::string> args;
    for (std::string a : row.args) {
        size_t at = a.find("@DIR@");
        if (at != std::string::npos)
            a.replace(at, 5, rig.dir.path(""));
        args.push_back(a);
    }
    writeText(rig.dir.path("notes.pem"), "-----BEGIN CERTIFICATE-----\nnot one\n");
    const char* asan = ::getenv("ASAN_OPTIONS");
    const std::string asanBefore = asan ? asan : "";
    if (row.overLibusb) {
        // One fake printer on bus 1, device 2; the run reaches no real device.
        ::setenv("LD_PRELOAD", FAKEUSB_LIB, 1);
        ::setenv("QOR_FAKEUSB_NODE", "/dev/usb/lp0", 1);
        ::setenv("ASAN_OPTIONS", (asanBefore + ":verify_asan_link_order=0").c_str(), 1);
    }
    RunResult r = rig.run(row.scenario, args);
    if (row.overLibusb) {
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("QOR_FAKEUSB_NODE");
        if (asan)
            ::setenv("ASAN_OPTIONS", asanBefore.c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
    }
    std::string line = row.line;
    size_t at = line.find("@DIR@");
    if (at != std::string::npos)
        line.replace(at, 5, rig.dir.path(""));
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(userLines(r.err), line.empty() ? "" : "qorconfig: " + line + "\n") << r.err;
    if (row.nothingSent) {
        EXPECT_TRUE(r.journal.empty()) << describe(r.journal);
    }
}

const std::vector<std::string> kFlowArgs = {"--ssid=Home", "--security=WPA", "--passwd=pw123456"};

INSTANTIATE_TEST_SUITE_P(
    Faults, Reports,
    ::testing::Values(
        ReportRow{"FlowRefused", "write_status = 0\n", kFlowArgs, 1, kFlowHead + "\n",
                  "the printer refused the configuration"},
        ReportRow{"FlowNeverJoins", "connect_after = never\n", kFlowArgs, 1, kFlowHead + "\n",
                  "the printer did not join the network after 4 polls (state 3)"},
        ReportRow{"FlowSilent", "fault = any silent\n", kFlowArgs, 255,
                  kFlowHead + "npa data going: 2\n",
                  "no answer from the printer at '/dev/usb/lp0'"},
        ReportRow{"FlowNoAddress", "ip_after = never\n", kFlowArgs, 1,
                  kFlowHead + "Acquiring network address....\n",
                  "the printer got no network address after 7 polls"},
        ReportRow{"AddressTruncated",
                  "fault = read:0A:02 truncate 20\n",
                  {"-ip"},
                  1,
                  "",
                  "the printer's answers were cut short or malformed"},
        ReportRow{"SsidGarbled",
                  "fault = read:28:08 garble\n",
                  {"-s"},
                  1,
                  "",
                  "the printer's answers were cut short or malformed"},
        ReportRow{"SsidOfDirectPrinterSilentToForwarded",
                  "kind = direct\nssid = Office\n",
                  {"-s"},
                  0,
                  "Office\n",
                  ""},
        ReportRow{
            "ConnectedOnDirectPrinterSilentToForwarded", "kind = direct\n", {"-t"}, 0, "", ""},
        ReportRow{"MissingNode",
                  "",
                  {"-s", "/dev/usb/lp7"},
                  1,
                  "",
                  "cannot open the printer at '/dev/usb/lp7': No such file or directory",
                  true},
        ReportRow{"MissingNodeInTheFlow",
                  "",
                  {"--ssid=Home", "/dev/usb/lp7"},
                  1,
                  "npa data going: 0Configuring the printer....\nResetting the printer....\n"
                  "Connecting to wireless network....npa data going: 0\n",
                  "cannot open the printer at '/dev/usb/lp7': No such file or directory",
                  true},
        ReportRow{"MissingBusDevice",
                  "",
                  {"-c", "--ssid=Home", "99:99"},
                  1,
                  "npa data going: 0",
                  "cannot open the printer at '99:99': no USB device at bus 99, device 99",
                  true,
                  true},
        ReportRow{"CsrPathNotWritable",
                  "",
                  {"-csr", "--cer-common=prn", "--cer-path=/nonexistent/qor/req.csr"},
                  1,
                  "",
                  "cannot write the certificate request to '/nonexistent/qor/req.csr': No such "
                  "file or directory",
                  true},
        ReportRow{"InstallOfNonCertificate",
                  "",
                  {"-icer", "--802-CA-cer-file=@DIR@notes.pem"},
                  1,
                  "",
                  "'@DIR@notes.pem' is not a PEM certificate; nothing was installed",
                  true}),
    [](const ::testing::TestParamInfo<ReportRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor::test
