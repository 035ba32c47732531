// qorconfig's input checks end to end: the real program under the virtual
// printer. A refused input gives status 1 and exactly one "qorconfig: ..."
// line, and the printer receives nothing at all.
#include <gtest/gtest.h>

#include "E2eRig.h"
#include "Options.h"

namespace qor::test {
namespace {

const char kWords[] =
    "the command words are -c, -ca, -s, -ip, -t, -a, -r, -802s, -cer, -npa, -icer, -rcerdefs, "
    "-csr, -h, --help";
const char kWpaRule[] = "8 to 63 printable ASCII characters or 64 hexadecimal digits";

struct Refused {
    std::vector<std::string> args;  // "FILE" stands for the scratch file
    const char* file;               // its content, or null for no file
    std::string line;               // after "qorconfig: "; "FILE" as above
};

std::string replaced(std::string text, const std::string& file) {
    size_t at = text.find("FILE");
    return at == std::string::npos ? text : text.replace(at, 4, file);
}

TEST(QorconfigInput, RefusedInputReachesNothing) {
    const std::string ssid40(40, 's');
    const Refused rows[] = {
        {{"-ips"}, nullptr, "unknown command word '-ips'; " + std::string(kWords)},
        {{"-S", "/dev/usb/lp0"}, nullptr, "unknown command word '-S'; " + std::string(kWords)},
        {{"--xyz=1"}, nullptr, "unknown option '--xyz'; qorconfig --help lists the options"},
        {{"-c", "--ssid=Home", "--xyz"},
         nullptr,
         "unknown option '--xyz'; qorconfig --help lists the options"},
        {{"-c", "--ssid", "Office"},
         nullptr,
         "--ssid needs its value in the same word: use --ssid=VALUE"},
        {{"--ssid", "Office"},
         nullptr,
         "--ssid needs its value in the same word: use --ssid=VALUE"},
        {{"-c", "--ssid=Home", "--security=WPA3", "--passwd=pw123456"},
         nullptr,
         "--security=WPA3 is not known here: use None, WEP, WPA, WPA2 or WPA/WPA2 (-ca configures "
         "802.1x and the other kinds)"},
        {{"/dev/usb/lp0"}, nullptr, "no network name: give it with --ssid=NAME"},
        {{"-c", "-file", "FILE"},
         "# nothing but a comment\n\n",
         "no network name: give it with --ssid=NAME"},
        {{"-c", "-file", "FILE", "/dev/usb/lp0"},
         "--ssid=Home\n--security=None\nssid=Office\n",
         "FILE line 3: holds no option: write --NAME=VALUE, or put '#' first for a comment"},
        {{"-c", "--ssid=Home", "--security=WPA2", "--passwd=pw123"},
         nullptr,
         "a WPA2 password must be " + std::string(kWpaRule)},
        {{"-c", "--ssid=Home", "--security=WPA", "--passwd=" + std::string(70, 'p')},
         nullptr,
         "a WPA password must be " + std::string(kWpaRule)},
        {{"-c", "--ssid=Home", "--security=WEP", "--passwd=abc"},
         nullptr,
         "a WEP key must be 5 or 13 characters or 10 or 26 hexadecimal digits"},
        {{"-c", "--ssid=Home", "--channel=99"},
         nullptr,
         "--channel=99 is no channel: use a number from 1 to 11"},
        {{"-c", "--ssid=Home", "--mode=Infrastructure"},
         nullptr,
         "--mode=Infrastructure is no mode: use --mode=Managed or --mode=Ad-Hoc"},
        {{"-c", "--ssid=" + ssid40},
         nullptr,
         "the network name has 40 bytes; a network name has 1 to 32"},
        {{"-ca", "--ssid=Home"},
         nullptr,
         "-ca has nothing to configure: give --security= with OPEN, SHARED, WPA-PER, WPA-ENT or "
         "802.1x"},
        {{"-ca", "--ssid=Home", "--security=WPA-PER", "--psk=short"},
         nullptr,
         "the pre-shared key (--psk=) must be " + std::string(kWpaRule)},
        {{"-ca", "--ssid=Home", "--security=802.1x", "--802-auth-ext=PEAP", "--802-pwd=x"},
         nullptr,
         "802.1x needs a user name: give it with --802-user=NAME"},
        {{"-npa", "-file", "FILE", "/dev/usb/lp0"},
         "A5 00 06 50\nE0 D8 0x00 28 08\n",
         "FILE line 2, column 8: only hexadecimal digit pairs and white space may be written"},
    };
    PrinterRig rig;
    const std::string file = rig.dir.path("input");
    for (const Refused& row : rows) {
        std::vector<std::string> args;
        for (const std::string& a : row.args)
            args.push_back(a == "FILE" ? file : a);
        if (row.file)
            writeText(file, row.file);
        RunResult r = rig.run("", args, 30);
        std::string where = args[0] + (args.size() > 1 ? " " + args[1] : "");
        EXPECT_EQ(r.status, 1) << where;
        EXPECT_EQ(r.err, "qorconfig: " + replaced(row.line, file) + "\n") << where;
        EXPECT_EQ(r.out, "") << where;
        EXPECT_TRUE(r.journal.empty()) << where;
    }
}

// Spellings the usage text shows, sent as the setting records encode them.
TEST(QorconfigInput, UsageSpellingsAreTakenAsMeant) {
    const std::string kSsidHome = "2808000005486F6D6500";
    struct Row {
        std::vector<std::string> args;
        std::string record;  // hex the write request must hold
    } rows[] = {
        {{"--password=pw123456", "--security=WPA"}, "2811000009707731323334353600"},
        {{"--mode=Ad-hoc"}, "280200000400000001"},
        {{"--mode=adhoc", "--channel=07"},
         "280200000400000001"    // mode Ad-Hoc
         "282200000400000000"    // security None
         "280500000400000007"},  // channel 7
    };
    for (const Row& row : rows) {
        PrinterRig rig;
        std::vector<std::string> args = {"-c", "--ssid=Home"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        RunResult r = rig.run("", args, 60);
        EXPECT_EQ(r.status, 0) << r.err;
        auto requests = settingRequests(r.journal);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(contains(requests[0].hex, row.record)) << requests[0].hex;
        EXPECT_TRUE(contains(requests[0].hex, kSsidHome)) << requests[0].hex;
    }
}

}  // namespace
}  // namespace qor::test
