// The lister's arguments, attempt order, outputs and qor.conf filter, with
// the devices over a scripted transport.
#include "SurveyApplication.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "SurveyReplies.h"
#include "SurveyTexts.h"

namespace qor {
namespace {

using test::directSurveyReply;
using test::FakePrinter;
using test::forwardedSurveyReply;

// Captures what the lister writes to its output stream.
class Capture {
  public:
    Capture() : m_File(std::tmpfile()) {}
    ~Capture() { std::fclose(m_File); }
    std::FILE* file() { return m_File; }
    std::string text() {
        std::fflush(m_File);
        std::rewind(m_File);
        std::string all;
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_File)) > 0)
            all.append(chunk, n);
        return all;
    }

  private:
    std::FILE* m_File;
};

std::string runLister(std::vector<const char*> args, FakePrinter& env) {
    args.insert(args.begin(), "qorlist");
    Capture out;
    EXPECT_EQ(
        runSurveyLister(static_cast<int>(args.size()), args.data(), env.channels(), out.file()), 0);
    return out.text();
}

// A private temporary folder per test and process.
std::string tempDir() {
    std::string name = "/tmp/qorlist-test-" + std::to_string(getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(name.c_str(), 0700);
    return name;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---- arguments --------------------------------------------------------------

TEST(SurveyArguments, FlagsAnywhereAndLastOtherArgumentIsThePath) {
    const char* argv[] = {"qorlist", "-x", "/dev/usb/lp1", "-m", "3:7", "-x"};
    ArgumentList args(6, argv);
    EXPECT_EQ(args.hasFlag("-x"), 1);
    EXPECT_EQ(args.hasFlag("-m"), 1);
    EXPECT_EQ(args.hasFlag("-h"), 0);
    EXPECT_EQ(args.hasFlag("qorlist"), 0);
    EXPECT_EQ(args.devicePath(), "3:7");
    EXPECT_EQ(args.count(), 6);
}

TEST(SurveyArguments, DefaultPathAndLateHelpIsAPath) {
    const char* none[] = {"qorlist"};
    EXPECT_EQ(ArgumentList(1, none).devicePath(), "/dev/usb/lp0");
    const char* flags[] = {"qorlist", "-x", "-m"};
    EXPECT_EQ(ArgumentList(3, flags).devicePath(), "/dev/usb/lp0");
    const char* late[] = {"qorlist", "-x", "-h"};
    ArgumentList lateHelp(3, late);
    EXPECT_FALSE(lateHelp.wantsUsage());
    EXPECT_EQ(lateHelp.devicePath(), "-h");
    const char* first[] = {"qorlist", "-h", "-x"};
    EXPECT_TRUE(ArgumentList(3, first).wantsUsage());
    EXPECT_EQ(ArgumentList(0, nullptr).devicePath(), "/dev/usb/lp0");
}

TEST(SurveyUsage, FirstHelpPrintsTheUsageByteForByteAndTouchesNoDevice) {
    FakePrinter env;
    std::string out = runLister({"-h", "-x"}, env);
    EXPECT_EQ(out,
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
    EXPECT_EQ(env.channelsMade, 0);
}

TEST(SurveyUsage, LateHelpIsTriedAsTheDevicePath) {
    FakePrinter env;
    env.failOpen();
    env.failOpen();
    EXPECT_EQ(runLister({"-x", "-h"}, env), "CTYPE=1&&::&&");
    EXPECT_EQ(env.opened, (std::vector<std::string>{"-h", "-h"}));
}

// ---- attempt order and ctype ------------------------------------------------

TEST(SurveyAttempts, ForwardingKindFirstThenLineOutput) {
    FakePrinter env;
    env.answer(forwardedSurveyReply("xxCell 01\nESSID:\"a\"\nCell 02\nESSID:\"\"\n"));
    std::string out = runLister({}, env);
    EXPECT_EQ(out, " 01\nESSID:\"a\"\n\n 02\nESSID:\"\"\n\nCTYPE=2&&::&&");
    EXPECT_EQ(env.opened, std::vector<std::string>{"/dev/usb/lp0"});
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0].size(), 37u);
    // direct made, replaced by forwarding, forwarding again, then destroyed.
    EXPECT_EQ(env.events, (std::vector<std::string>{"acquire", "release", "acquire", "release",
                                                    "acquire", "release"}));
    EXPECT_EQ(env.holds, 0);
}

TEST(SurveyAttempts, FallbackToTheDirectKindStillReportsCtypeTwo) {
    FakePrinter env;
    env.failOpen();  // forwarding kind
    env.answer(directSurveyReply(test::kDirectSurvey));
    std::string out = runLister({"-x", "/dev/usb/lp3"}, env);
    EXPECT_EQ(out,
              "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=45&&:&&security=WPA2&&::&&\n"
              "ssid=Office Mixed&&:&&channel=11&&:&&mode=Managed&&:&&signal=67&&:&&"
              "security=WPA/WPA2&&::&&\n"
              "ssid=OldWep&&:&&channel=1&&:&&mode=Managed&&:&&signal=80&&:&&security=WEP&&::&&\n"
              "ssid=Cafe&&:&&channel=3&&:&&mode=Managed&&:&&signal=71&&:&&security=None&&::&&\n"
              "ssid=PeerLink&&:&&channel=9&&:&&mode=Ad-Hoc&&:&&signal=85&&:&&security=None&&::&&\n"
              "CTYPE=2&&::&&");
    EXPECT_EQ(env.opened, (std::vector<std::string>{"/dev/usb/lp3", "/dev/usb/lp3"}));
    ASSERT_EQ(env.writes.size(), 1u);
    EXPECT_EQ(env.writes[0].size(), 9u);
    EXPECT_TRUE(env.sleepsMs.empty());  // the answer came at once
    EXPECT_EQ(env.events.size(), 8u);   // four devices over the run
}

TEST(SurveyAttempts, BothKindsFailingPrintsOnlyCtypeOne) {
    FakePrinter env;
    env.failOpen();
    env.failOpen();
    EXPECT_EQ(runLister({"-x"}, env), "CTYPE=1&&::&&");
    EXPECT_EQ(env.holds, 0);
}

TEST(SurveyAttempts, SurveyWithoutCellsPrintsNoSites) {
    FakePrinter env;
    env.answer(forwardedSurveyReply("no cells here"));
    EXPECT_EQ(runLister({}, env), "CTYPE=2&&::&&");
}

TEST(SurveyAttempts, WifiSupportOfTheForwardingKind) {
    FakePrinter env;
    std::vector<uint8_t> reply(20, 0);
    reply.back() = 1;
    env.answer(reply);
    EXPECT_EQ(runLister({"-m", "3:7"}, env), "wifisupport:2\nCTYPE=2&&::&&");
    EXPECT_EQ(env.opened, std::vector<std::string>{"3:7"});
}

TEST(SurveyAttempts, WifiSupportFallbackToTheDirectKind) {
    FakePrinter env;
    env.failOpen();
    env.answer({0xA5, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x03});
    EXPECT_EQ(runLister({"-m"}, env), "wifisupport:3\nCTYPE=2&&::&&");
}

TEST(SurveyAttempts, DirectWifiSupportOfZeroGivesCtypeOneAndNoLine) {
    FakePrinter env;
    env.failOpen();
    env.answer({0xA5, 0x00, 0x09, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09, 0x00, 0x00});
    EXPECT_EQ(runLister({"-m", "-x"}, env), "CTYPE=1&&::&&");
}

// ---- site list --------------------------------------------------------------

TEST(SiteListOutput, CountsEveryCellButKeepsOnlyNamedSites) {
    ISDCells cells;
    SiteList list;
    std::vector<uint8_t> bytes = test::bytesOf(test::kDirectSurvey);
    EXPECT_EQ(list.parse(cells, bytes.data(), static_cast<int>(bytes.size())), 6);
    EXPECT_EQ(list.count(), 6);
    ASSERT_EQ(list.records().size(), 5u);
    EXPECT_EQ(list.records()[4].ssid, "PeerLink");

    Capture lines;
    list.printLines(lines.file());
    std::string text = lines.text();
    size_t count = 0;
    for (size_t at = text.find(" - Address:"); at != std::string::npos;
         at = text.find(" - Address:", at + 1))
        ++count;
    EXPECT_EQ(count, 6u);  // the cell with the empty ESSID is listed too
    EXPECT_NE(text.find("ESSID:\"\"\n"), std::string::npos);
}

TEST(SiteListOutput, AdhocFlagZeroLeavesOutExactlyAdHoc) {
    PSSDCells cells;
    SiteList list;
    std::string survey =
        "Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\nCell 2 ESSID:\"ap\"\nMode:Master\n"
        "Cell 3 ESSID:\"odd\"\nMode:ad-hoc\n";
    list.parse(cells, reinterpret_cast<const uint8_t*>(survey.data()),
               static_cast<int>(survey.size()));
    Capture filtered;
    list.printRow(filtered.file(), kFieldSeparator, 0);
    EXPECT_EQ(filtered.text(),
              "ssid=ap&&:&&channel=&&:&&mode=Managed&&:&&signal=99&&:&&security=&&::&&\n"
              "ssid=odd&&:&&channel=&&:&&mode=ad-hoc&&:&&signal=99&&:&&security=&&::&&\n");
    Capture all;
    list.printRow(all.file(), kFieldSeparator, 1);
    EXPECT_EQ(all.text().find("ssid=peer&&:&&channel=&&:&&mode=Ad-Hoc&&:&&"), 0u);
}

// ---- qor.conf ---------------------------------------------------------------

TEST(QorConf, AdhocValues) {
    std::string dir = tempDir();
    std::string path = dir + "/qor.conf";
    struct Case {
        const char* text;
        int flag;
    } cases[] = {
        {"ADHOC=0\n", 0},
        {"ADHOC=1\n", 1},
        {"OTHER=2\n", 1},
        {"", 1},
        {"ADHOC=0", 1},             // the last line has no newline: unused
        {"ADHOC=0\nADHOC=1\n", 1},  // the last ADHOC line counts
        {"ADHOC=1\nADHOC=0\n", 0},
        {"ADHOC=1 \n", 0},  // exactly "1" only
        {"ADHOC=yes\n", 0},
        {"ADHOC\n", 1},     // no value: ignored
        {"ADHOC=\n", 0},    // an empty value is not "1"
        {"#ADHOC=1\n", 0},  // the value starts at the seventh character
        {"MYADHOC1\n", 0},
        {"ADHOC=0\r\n", 0},
        {"x\nADHOC=0\ny\n", 0},
    };
    for (const Case& c : cases) {
        writeFile(path, c.text);
        EXPECT_EQ(readAdhocFlag({path}), c.flag) << c.text;
    }
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(QorConf, FirstReadableRegularFileWinsAndMissingMeansOne) {
    std::string dir = tempDir();
    std::string first = dir + "/a.conf", second = dir + "/b.conf", sub = dir + "/sub";
    EXPECT_EQ(readAdhocFlag({dir + "/missing"}), 1);
    EXPECT_EQ(readAdhocFlag({}), 1);
    writeFile(second, "ADHOC=0\n");
    EXPECT_EQ(readAdhocFlag({first, second}), 0);
    writeFile(first, "ADHOC=1\n");
    EXPECT_EQ(readAdhocFlag({first, second}), 1);
    // A folder or a FIFO at the path counts as missing (and doesn't block).
    mkdir(sub.c_str(), 0700);
    EXPECT_EQ(readAdhocFlag({sub, second}), 0);
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readAdhocFlag({fifo, second}), 0);
    // Only read: the file is unchanged afterwards.
    struct stat before, after;
    stat(second.c_str(), &before);
    readAdhocFlag({second});
    stat(second.c_str(), &after);
    EXPECT_EQ(before.st_size, after.st_size);
    EXPECT_EQ(before.st_mtime, after.st_mtime);
    for (const std::string& p : {first, second, fifo})
        unlink(p.c_str());
    rmdir(sub.c_str());
    rmdir(dir.c_str());
}

TEST(QorConf, UnreadableFileCountsAsMissing) {
    std::string dir = tempDir();
    std::string locked = dir + "/locked.conf", next = dir + "/next.conf";
    writeFile(locked, "ADHOC=1\n");
    writeFile(next, "ADHOC=0\n");
    chmod(locked.c_str(), 0);
    // Root reads anything; drop to nobody in a child to make the file unreadable.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        chmod(dir.c_str(), 0755);
        chmod(next.c_str(), 0644);
        if (getuid() == 0 && setuid(65534) != 0)
            _exit(3);
        _exit(readAdhocFlag({locked, next}) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    unlink(locked.c_str());
    unlink(next.c_str());
    rmdir(dir.c_str());
}

// Runs `body` in a child with a private mount namespace whose /usr/local is
// a fresh tmpfs, so qor.conf can sit at its real search path.
int inPrivateUsrLocal(const std::function<int()>& body) {
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            _exit(90);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(91);
        // Mounted over, never created: a mkdir here would reach the real /usr.
        struct stat usrLocal {};
        if (stat("/usr/local", &usrLocal) != 0 || !S_ISDIR(usrLocal.st_mode))
            _exit(93);
        if (mount("tmpfs", "/usr/local", "tmpfs", 0, "size=1m") != 0)
            _exit(92);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

int makeConf(const std::string& vendor, const std::string& text) {
    std::string path = "/usr/local/" + vendor;
    for (const char* part : {"", "/qor_v2", "/qor_v2/bin", "/qor_v2/bin/.scripts"}) {
        path = "/usr/local/" + vendor + part;
        mkdir(path.c_str(), 0755);
    }
    std::ofstream(path + "/qor.conf") << text;
    return 0;
}

TEST(QorConf, RowOutputReadsTheConfAtItsSearchPaths) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a mount namespace";
    int rc = inPrivateUsrLocal([] {
        FakePrinter env;
        env.answer(forwardedSurveyReply(
            "Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\nCell 2 ESSID:\"ap\"\nMode:Master\n"));
        std::string expectBoth =
            "ssid=peer&&:&&channel=&&:&&mode=Ad-Hoc&&:&&signal=99&&:&&security=&&::&&\n"
            "ssid=ap&&:&&channel=&&:&&mode=Managed&&:&&signal=99&&:&&security=&&::&&\n"
            "CTYPE=2&&::&&";
        if (runLister({"-x"}, env) != expectBoth)
            return 1;
        // The third path, then the second one in front of it.
        makeConf("printer", "ADHOC=0\n");
        env.answer(forwardedSurveyReply("Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\n"));
        if (runLister({"-x"}, env) != "CTYPE=2&&::&&")
            return 2;
        makeConf("tamo", "ADHOC=1\n");
        env.answer(forwardedSurveyReply("Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\n"));
        if (runLister({"-x"}, env).find("ssid=peer") != 0)
            return 3;
        makeConf("corvane", "ADHOC=0\n");
        env.answer(forwardedSurveyReply("Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\n"));
        if (runLister({"-x"}, env) != "CTYPE=2&&::&&")
            return 4;
        // The line output ignores the filter.
        env.answer(forwardedSurveyReply("Cell 1 ESSID:\"peer\"\nMode:Ad-Hoc\n"));
        if (runLister({}, env) != " 1 ESSID:\"peer\"\nMode:Ad-Hoc\n\nCTYPE=2&&::&&")
            return 5;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace qor
