// The qorlist program end to end: run by qor-vprinter against a virtual
// printer of either kind, over the device node /dev/usb/lp0 and over libusb
// (bus:device, through the preloaded libusb fake bound to the same node).
// Standard output and standard error are compared byte for byte; the
// printer's journal shows the request bytes that reached it.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace {

const char kDestroyed[] = "D [QOR] Destroying last instance of usb transport.\n";

std::string repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

// ---- survey texts -----------------------------------------------------------

// The forwarding kind's listing as the lister sees it after cleaning.
const std::string kForwardClean =
    "wlan0     Scan completed :\n"
    "Cell 01 - Address: 00:11:22:33:44:55\n"
    "ESSID:\"HomeNet\"\n"
    "Mode:Master\n"
    "Frequency:2.437 GHz (Channel 6)\n"
    "Quality=70/100  Signal level:-48 dBm  Noise level=-95 dBm\n"
    "Encryption key:on\n"
    "IE:IEEE 802.11i/WPA2 Version 1\n"
    "Extra:wpa_ie=30\n"
    "Cell 02 - Address: 00:11:22:33:44:66\n"
    "ESSID:\"Office\"\n"
    "Mode:Master\n"
    "Frequency:2.462 GHz (Channel 11)\n"
    "Quality=50/100  Signal level:-67 dBm  Noise level=-95 dBm\n"
    "Encryption key:on\n"
    "IE:WPA Version 1\n"
    "Extra:wpa_ie=DD\n"
    "Cell 03 - Address: 00:11:22:33:44:77\n"
    "ESSID:\"OldWep\"\n"
    "Mode:Master\n"
    "Frequency:2.412 GHz (Channel 1)\n"
    "Quality=30/100  Signal level=-80 dBm  Noise level=-95 dBm\n"
    "Encryption key:on\n"
    "Cell 04 - Address: 00:11:22:33:44:88\n"
    "ESSID:\"Cafe\"\n"
    "Mode:Master\n"
    "Frequency:2.422 GHz (Channel 3)\n"
    "Quality=40/100\n"
    "Encryption key:off\n"
    "IE:WPA Version 1\n"
    "Cell 05 - Address: 02:11:22:33:44:99\n"
    "ESSID:\"PeerLink\"\n"
    "Mode:Ad-Hoc\n"
    "Frequency:2.452 GHz (Channel 9)\n"
    "Quality=20/100  Signal level:-85 dBm  Noise level=-95 dBm\n"
    "Encryption key:on\n"
    "IE:WPA Version 1\n"
    "Extra:wpa_ie=00\n"
    "Cell 06 - Address: 00:11:22:33:44:AA\n"
    "ESSID:\"\"\n"
    "Mode:Master\n"
    "Frequency:2.427 GHz (Channel 4)\n"
    "Quality=60/100  Signal level:-55 dBm  Noise level=-95 dBm\n"
    "Encryption key:off\n";

// What the printer sends: the clean listing with the adapter's line noise
// (NUL, DEL, high bytes, "=p", "=q", "=r") inside labels and values.
std::string forwardRaw() {
    std::string raw = kForwardClean;
    auto insertBefore = [&raw](const std::string& marker, const std::string& noise) {
        size_t at = raw.find(marker);
        if (at == std::string::npos)
            std::abort();
        raw.insert(at, noise);
    };
    insertBefore("Net\"", std::string("=p\xC3\xA9", 4));
    insertBefore("ode:Master\nFrequency:2.462", std::string("\x00\x7F", 2));
    insertBefore("Wep", "=q\xFF");
    insertBefore("ell 04", "=r");
    insertBefore("Scan", std::string("\x80\x00", 2));
    return raw;
}

// The cells of kForwardClean as the line output prints them: the text after
// each "Cell", then a newline.
std::string forwardLines() {
    std::string out;
    size_t at = kForwardClean.find("Cell");
    while (at != std::string::npos) {
        size_t next = kForwardClean.find("Cell", at + 4);
        out += kForwardClean.substr(at + 4, next == std::string::npos ? next : next - at - 4);
        out += "\n";
        at = next;
    }
    return out;
}

const char kForwardRows[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=48&&:&&security=WPA2&&::&&\n"
    "ssid=Office&&:&&channel=11&&:&&mode=Managed&&:&&signal=67&&:&&security=WPA/WPA2&&::&&\n"
    "ssid=OldWep&&:&&channel=1&&:&&mode=Managed&&:&&signal=80&&:&&security=WEP&&::&&\n"
    "ssid=Cafe&&:&&channel=3&&:&&mode=Managed&&:&&signal=99&&:&&security=None&&::&&\n"
    "ssid=PeerLink&&:&&channel=9&&:&&mode=Ad-Hoc&&:&&signal=85&&:&&security=WPA&&::&&\n";

const char kForwardRowsNoAdhoc[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=48&&:&&security=WPA2&&::&&\n"
    "ssid=Office&&:&&channel=11&&:&&mode=Managed&&:&&signal=67&&:&&security=WPA/WPA2&&::&&\n"
    "ssid=OldWep&&:&&channel=1&&:&&mode=Managed&&:&&signal=80&&:&&security=WEP&&::&&\n"
    "ssid=Cafe&&:&&channel=3&&:&&mode=Managed&&:&&signal=99&&:&&security=None&&::&&\n";

// The direct kind's listing; it is taken as it comes (a high byte included).
const std::string kDirectText =
    "Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
    "ESSID:\"HomeNet\"\n"
    "Mode:Managed\n"
    "Channel=6\n"
    "Quality:70/100  Signal level=-45 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: IEEE 802.11i/WPA2 Version 1\n"
    "Extra:wpa_ie=30140100000fac04\n"
    "Cell 02 - Address: 00:1A:2B:3C:4D:5F\n"
    "ESSID:\"Caf\xC3\xA9\"\n"
    "Mode:Managed\n"
    "Channel=11\n"
    "Quality:50/100  Signal level=-67 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: WPA Version 1\n"
    "Extra:wpa_ie=DD160050f201\n"
    "Cell 03 - Address: 00:1A:2B:3C:4D:60\n"
    "ESSID:\"OldWep\"\n"
    "Mode:Managed\n"
    "Channel=1\n"
    "Quality:30/100\n"
    "Encryption key:on\n"
    "Cell 04 - Address: 02:11:22:33:44:55\n"
    "ESSID:\"PeerLink\"\n"
    "Mode:Ad-Hoc\n"
    "Channel=9\n"
    "Quality:20/100  Signal level=-85 dBm  Noise level=-92 dBm\n"
    "Encryption key:off\n"
    "Cell 05 - Address: 00:1A:2B:3C:4D:62\n"
    "ESSID:\"\"\n"
    "Mode:Managed\n"
    "Channel=4\n"
    "Quality:60/100  Signal level=-55 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: WPA Version 1\n";

const char kDirectLines[] =
    " 01 - Address: 00:1A:2B:3C:4D:5E\n"
    "ESSID:\"HomeNet\"\n"
    "Mode:Managed\n"
    "Channel=6\n"
    "Quality:70/100  Signal level=-45 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: IEEE 802.11i/WPA2 Version 1\n"
    "Extra:wpa_ie=30140100000fac04\n"
    "\n"
    " 02 - Address: 00:1A:2B:3C:4D:5F\n"
    "ESSID:\"Caf\xC3\xA9\"\n"
    "Mode:Managed\n"
    "Channel=11\n"
    "Quality:50/100  Signal level=-67 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: WPA Version 1\n"
    "Extra:wpa_ie=DD160050f201\n"
    "\n"
    " 03 - Address: 00:1A:2B:3C:4D:60\n"
    "ESSID:\"OldWep\"\n"
    "Mode:Managed\n"
    "Channel=1\n"
    "Quality:30/100\n"
    "Encryption key:on\n"
    "\n"
    " 04 - Address: 02:11:22:33:44:55\n"
    "ESSID:\"PeerLink\"\n"
    "Mode:Ad-Hoc\n"
    "Channel=9\n"
    "Quality:20/100  Signal level=-85 dBm  Noise level=-92 dBm\n"
    "Encryption key:off\n"
    "\n"
    " 05 - Address: 00:1A:2B:3C:4D:62\n"
    "ESSID:\"\"\n"
    "Mode:Managed\n"
    "Channel=4\n"
    "Quality:60/100  Signal level=-55 dBm  Noise level=-92 dBm\n"
    "Encryption key:on\n"
    "IE: WPA Version 1\n"
    "\n";

const char kDirectRows[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=45&&:&&security=WPA2&&::&&\n"
    "ssid=Caf\xC3\xA9&&:&&channel=11&&:&&mode=Managed&&:&&signal=67&&:&&security=WPA/WPA2&&::&&\n"
    "ssid=OldWep&&:&&channel=1&&:&&mode=Managed&&:&&signal=99&&:&&security=WEP&&::&&\n"
    "ssid=PeerLink&&:&&channel=9&&:&&mode=Ad-Hoc&&:&&signal=85&&:&&security=None&&::&&\n";

const char kDirectRowsNoAdhoc[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=45&&:&&security=WPA2&&::&&\n"
    "ssid=Caf\xC3\xA9&&:&&channel=11&&:&&mode=Managed&&:&&signal=67&&:&&security=WPA/WPA2&&::&&\n"
    "ssid=OldWep&&:&&channel=1&&:&&mode=Managed&&:&&signal=99&&:&&security=WEP&&::&&\n";

// ---- requests as the printer's journal shows them ---------------------------

const char kPreambleHex[] = "A5001080A45BA45B10EFA45B11EE00FF13EC2E";
const char kForwardedSurveyHex[] = "A5000F50E063020009A5000650E0D8002839";
const char kDirectSurveyHex[] = "A5000650E0D8002839";
const char kForwardedSupportHex[] = "A5000F50E063020009A5000650E0D8002801";
const char kDirectSupportHex[] = "A5000750E08100020509";

// ---- running ----------------------------------------------------------------

using RunResult = qor::proc::Result;

// What the child sets up before it starts qor-vprinter: optionally a
// private mount namespace whose /usr/local is an empty tmpfs holding one
// qor.conf, which must be unchanged after the run.
struct ConfSetup {
    std::string path;  // empty: no namespace of our own
    std::string text;
};

// In the child, before the exec: the conf file is written in the child's
// own namespace and the run happens in a grandchild (for which this
// returns), so that the child can check afterwards that the lister left the
// file as it was. Exit codes 90-97 are set-up failures.
void confNamespace(const ConfSetup& conf) {
    if (conf.path.empty())
        return;
    struct stat usrLocal {};
    if (stat("/usr/local", &usrLocal) != 0 || !S_ISDIR(usrLocal.st_mode))
        _exit(90);
    if (unshare(CLONE_NEWNS) != 0)
        _exit(91);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        _exit(92);
    if (mount("tmpfs", "/usr/local", "tmpfs", MS_NOSUID, "mode=755,size=1m") != 0)
        _exit(93);
    std::string dir;
    size_t from = std::string("/usr/local/").size();
    for (size_t slash = conf.path.find('/', from); slash != std::string::npos;
         slash = conf.path.find('/', slash + 1)) {
        dir = conf.path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0)
            _exit(94);
    }
    {
        std::ofstream file(conf.path, std::ios::binary);
        file << conf.text;
        if (!file)
            _exit(95);
    }
    pid_t run = fork();
    if (run < 0)
        _exit(96);
    if (run == 0)
        return;
    int status = 0;
    waitpid(run, &status, 0);
    std::ifstream back(conf.path, std::ios::binary);
    std::stringstream now;
    now << back.rdbuf();
    if (now.str() != conf.text)
        _exit(97);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

RunResult run(const std::vector<std::string>& argv, const ConfSetup& conf, int limitSeconds) {
    qor::proc::Options options;
    options.argv = argv;
    options.inChild = [&conf] { confNamespace(conf); };
    return qor::proc::run(options, limitSeconds);
}

enum class Route { Node, LibUsb };

class ListerProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        // CI runs as root; elsewhere the mount namespaces can't be made.
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for the mount namespaces";
        m_Dir = "/tmp/qorlist-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(mkdir(m_Dir.c_str(), 0700), 0) << m_Dir;
    }
    void TearDown() override {
        if (!m_Dir.empty()) {
            std::string cmd = "rm -rf '" + m_Dir + "'";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
        struct stat st {};
        EXPECT_NE(stat("/dev/usb", &st), 0) << "a /dev/usb was left on the machine";
    }

    std::string file(const std::string& name, const std::string& bytes) {
        std::string path = m_Dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // A scenario file of `kind` serving both listings (from files, so that
    // any byte can travel) and the extra `lines`.
    std::string scenario(const std::string& kind, const std::string& lines = "") {
        std::string forward = file("survey-forward", forwardRaw());
        std::string direct = file("survey-direct", kDirectText);
        return file("scenario", "kind = " + kind + "\nsurvey_forward_file = " + forward +
                                    "\nsurvey_direct_file = " + direct + "\n" + lines);
    }
    std::vector<std::string> journal() {
        std::ifstream in(m_Dir + "/journal");
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }
    // The hex of each journal line, in order.
    std::vector<std::string> requestsSeen() {
        std::vector<std::string> hex;
        for (const std::string& line : journal()) {
            size_t at = line.find("\"hex\":\"");
            if (at == std::string::npos)
                continue;
            at += 7;
            hex.push_back(line.substr(at, line.find('"', at) - at));
        }
        return hex;
    }

    // qor-vprinter --scenario S --journal J -- [env fake libusb] qorlist ARGS
    RunResult lister(const std::string& scenarioPath, Route route, std::vector<std::string> args,
                     const ConfSetup& conf = {}, int limit = 50) {
        std::vector<std::string> argv{VPRINTER_BIN, "--scenario",       scenarioPath,
                                      "--journal",  m_Dir + "/journal", "--"};
        if (route == Route::LibUsb) {
            const char* asan = std::getenv("ASAN_OPTIONS");
            std::string asanOptions = asan != nullptr && *asan != '\0' ? asan : "";
            if (!asanOptions.empty())
                asanOptions += ":";
            // The fake is preloaded after the sanitizer runtime.
            asanOptions += "verify_asan_link_order=0";
            argv.insert(argv.end(), {"/usr/bin/env", std::string("LD_PRELOAD=") + FAKEUSB_LIB,
                                     "QOR_FAKEUSB_NODE=/dev/usb/lp0", "QOR_FAKEUSB_BUS=3",
                                     "QOR_FAKEUSB_DEVICE=7", "ASAN_OPTIONS=" + asanOptions});
        }
        argv.push_back(QORLIST_BIN);
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv, conf, limit);
    }

    std::string m_Dir;
};

// ---- the forwarding kind ----------------------------------------------------

TEST_F(ListerProgram, ForwardingKindOverTheNodeListsCleanedCellsInLines) {
    RunResult r = lister(scenario("forward", "survey_packets = 3\n"), Route::Node, {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, forwardLines() + "CTYPE=2&&::&&");
    // Device changes: to the forwarding kind, again to it for the output, and
    // the application's end.
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kPreambleHex, kForwardedSurveyHex}));
    // The answer arrives at once and ends the exchange.
    EXPECT_LT(r.seconds, 1.0);
}

TEST_F(ListerProgram, ForwardingKindOverLibusbGivesTheRowOutput) {
    RunResult r = lister(scenario("forward", "survey_packets = 2\n"), Route::LibUsb, {"-x", "3:7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kForwardRows) + "CTYPE=2&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kPreambleHex, kForwardedSurveyHex}));
}

TEST_F(ListerProgram, FlagsAnywhereAndTheLastOtherArgumentIsThePath) {
    // /dev/usb/lp9 does not exist; the later 3:7 is the one used.
    RunResult r = lister(scenario("forward"), Route::LibUsb, {"/dev/usb/lp9", "3:7", "-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kForwardRows) + "CTYPE=2&&::&&");
}

TEST_F(ListerProgram, WifiSupportOfTheForwardingKind) {
    RunResult r = lister(scenario("forward"), Route::Node, {"-m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wifisupport:2\nCTYPE=2&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kForwardedSupportHex}));
}

TEST_F(ListerProgram, WifiSupportOfTheForwardingKindOverLibusbWithRowFlag) {
    // "-x" changes nothing for the support query.
    RunResult r = lister(scenario("forward"), Route::LibUsb, {"-x", "3:7", "-m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wifisupport:2\nCTYPE=2&&::&&");
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kForwardedSupportHex}));
}

TEST_F(ListerProgram, ForwardedSurveyArrivingByteByByteIsCollected) {
    // 4 ms between bytes: the answer (over 1200 bytes) takes longer than the
    // pause after the request, so the reads really wait for bytes; each
    // arriving byte starts the read's window again.
    RunResult r =
        lister(scenario("forward", "survey_packets = 2\nfault = fwd-read:28:39 split 4\n"),
               Route::Node, {"-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kForwardRows) + "CTYPE=2&&::&&");
    EXPECT_GE(r.seconds, 4.5);
}

TEST_F(ListerProgram, HeadersAreReadThreeBytesAtATimeWithoutResynchronising) {
    // Three stray bytes make one bad header and the answer follows in step.
    RunResult r =
        lister(scenario("forward", "fault = fwd-read:28:39 garbage 001122\n"), Route::Node, {"-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kForwardRows) + "CTYPE=2&&::&&");
    // One puts every later header out of step (the inner answer too, at
    // offset 11): the survey is lost, and this printer does not answer the
    // direct kind.
    r = lister(scenario("forward", "fault = fwd-read:28:39 garbage 00\n"), Route::Node, {"-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CTYPE=1&&::&&");
}

// ---- fallback to the direct kind --------------------------------------------

TEST_F(ListerProgram, DirectKindAfterTheForwardingKindFailedOverTheNode) {
    RunResult r = lister(scenario("direct"), Route::Node, {"-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The success came from the direct kind, yet the type is 2.
    EXPECT_EQ(r.out, std::string(kDirectRows) + "CTYPE=2&&::&&");
    // To the forwarding kind, to the direct kind, back to the forwarding kind,
    // and the application's end.
    EXPECT_EQ(r.err, repeat(kDestroyed, 4));
    EXPECT_EQ(requestsSeen(),
              (std::vector<std::string>{kPreambleHex, kForwardedSurveyHex, kDirectSurveyHex}));
    std::vector<std::string> lines = journal();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find("\"answered\":false"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"answered\":true"), std::string::npos) << lines[2];
    // 2 s pause and a 4 s window of the silent forwarding attempt, then the
    // direct kind's answer at once.
    EXPECT_GE(r.seconds, 5.0);
    EXPECT_LT(r.seconds, 9.0);
}

TEST_F(ListerProgram, DirectKindOverLibusbListsRawCellsInLines) {
    RunResult r = lister(scenario("direct"), Route::LibUsb, {"3:7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kDirectLines) + "CTYPE=2&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 4));
    EXPECT_EQ(requestsSeen(),
              (std::vector<std::string>{kPreambleHex, kForwardedSurveyHex, kDirectSurveyHex}));
}

TEST_F(ListerProgram, WifiSupportOfTheDirectKind) {
    RunResult r = lister(scenario("direct", "support = 1\n"), Route::LibUsb, {"-m", "3:7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wifisupport:1\nCTYPE=2&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 4));
    // One support query: the 12-byte echo ends the attempts.
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kForwardedSupportHex, kDirectSupportHex}));
}

TEST_F(ListerProgram, DirectSupportOfZeroPrintsOnlyTheTypeOne) {
    RunResult r = lister(scenario("direct", "support = 0\n"), Route::Node, {"-m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CTYPE=1&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
    EXPECT_EQ(requestsSeen(), (std::vector<std::string>{kForwardedSupportHex, kDirectSupportHex}));
}

// ---- both kinds failing -----------------------------------------------------

TEST_F(ListerProgram, SilentPrinterGivesOnlyTypeOneAndStatusZero) {
    RunResult r = lister(scenario("forward", "stop_after = 0\n"), Route::Node, {"-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CTYPE=1&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
    EXPECT_EQ(requestsSeen(),
              (std::vector<std::string>{kPreambleHex, kForwardedSurveyHex, kDirectSurveyHex}));
    // Both pauses and both windows ran out.
    EXPECT_GE(r.seconds, 2.0 + 4.0 + 1.5 + 3.0);
}

TEST_F(ListerProgram, ErrorAnswersToBothSurveysGiveOnlyTypeOne) {
    RunResult r =
        lister(scenario("forward", "fault = read:28:39 error D4\n"), Route::LibUsb, {"3:7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CTYPE=1&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));
}

TEST_F(ListerProgram, MissingDeviceFailsBothKindsWithoutWaiting) {
    for (Route route : {Route::Node, Route::LibUsb}) {
        RunResult r =
            lister(scenario("forward"), route, {route == Route::Node ? "/dev/usb/lp4" : "3:8"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "CTYPE=1&&::&&");
        EXPECT_EQ(r.err, repeat(kDestroyed, 3));
        // Nothing was written, so neither pause was taken.
        EXPECT_EQ(requestsSeen(), std::vector<std::string>{});
        EXPECT_LT(r.seconds, 1.5);
    }
}

// ---- the qor.conf filter ----------------------------------------------------

TEST_F(ListerProgram, AdhocZeroInQorConfLeavesOutAdHocRowsOfBothKinds) {
    ConfSetup conf{"/usr/local/tamo/qor_v2/bin/.scripts/qor.conf", "# lister\nADHOC=0\n"};
    RunResult r = lister(scenario("forward"), Route::Node, {"-x"}, conf);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kForwardRowsNoAdhoc) + "CTYPE=2&&::&&");
    EXPECT_EQ(r.err, repeat(kDestroyed, 3));

    r = lister(scenario("direct"), Route::LibUsb, {"-x", "3:7"}, conf);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kDirectRowsNoAdhoc) + "CTYPE=2&&::&&");
}

TEST_F(ListerProgram, QorConfSearchPathsAndValues) {
    struct Case {
        const char* path;
        const char* text;
        bool adhocShown;
    } cases[] = {
        {"/usr/local/corvane/qor_v2/bin/.scripts/qor.conf", "ADHOC=0\n", false},
        {"/usr/local/printer/qor_v2/bin/.scripts/qor.conf", "ADHOC=0\n", false},
        {"/usr/local/corvane/qor_v2/bin/.scripts/qor.conf", "ADHOC=1\n", true},
        // Without a newline the last line is not used.
        {"/usr/local/corvane/qor_v2/bin/.scripts/qor.conf", "ADHOC=0", true},
        // "ADHOC" alone has no value and is ignored; the program goes on.
        {"/usr/local/corvane/qor_v2/bin/.scripts/qor.conf", "ADHOC=0\nADHOC\n", false},
        {"/usr/local/printer/qor_v2/bin/.scripts/qor.conf", "ADHOC\n", true},
        // Not one of the places searched.
        {"/usr/local/other/qor_v2/bin/.scripts/qor.conf", "ADHOC=0\n", true},
    };
    std::string forward = scenario("forward");
    for (const Case& c : cases) {
        RunResult r = lister(forward, Route::Node, {"-x"}, ConfSetup{c.path, c.text});
        ASSERT_EQ(r.status, 0) << c.path << " " << c.text << r.err;
        EXPECT_EQ(r.out,
                  std::string(c.adhocShown ? kForwardRows : kForwardRowsNoAdhoc) + "CTYPE=2&&::&&")
            << c.path << " " << c.text;
    }
}

TEST_F(ListerProgram, LineOutputIgnoresTheAdhocFilter) {
    ConfSetup conf{"/usr/local/printer/qor_v2/bin/.scripts/qor.conf", "ADHOC=0\n"};
    RunResult r = lister(scenario("forward"), Route::Node, {}, conf);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, forwardLines() + "CTYPE=2&&::&&");
}

// ---- usage ------------------------------------------------------------------

TEST_F(ListerProgram, FirstHelpPrintsTheUsageAndAsksNothing) {
    RunResult r = lister(scenario("forward"), Route::Node, {"-h", "-x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "\n"
              "  qorlist \n"
              "      Searches for available wireless network devices.\n"
              "\n"
              "  USAGE:\n"
              "      qorlist -h\n"
              "      qorlist [-x] [USB_PATH]\n"
              "\n"
              "  OPTIONS:\n"
              "      -h           Displays this help.\n"
              "      -x           Dislplays the found site in row.\n"
              "      USB_PATH     Path of the usb of the printer.\n"
              "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(requestsSeen(), std::vector<std::string>{});
}

TEST_F(ListerProgram, LateHelpIsTakenAsTheDevicePath) {
    RunResult r = lister(scenario("forward"), Route::Node, {"-x", "-h"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "CTYPE=1&&::&&");
    EXPECT_EQ(requestsSeen(), std::vector<std::string>{});
}

}  // namespace
