#include "Options.h"

#include "InputChecks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace qor {
namespace {

void parse(ConfigDetails& c, std::vector<const char*> args) {
    parseOptions(c, static_cast<int>(args.size()), args.data());
}

std::string tempFile(const std::string& name, const std::string& content) {
    std::string path = "/tmp/qorconfig_opts_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

TEST(ExtractOptionValue, TakesTextAfterPrefix) {
    std::string field = "old";
    EXPECT_TRUE(extractOptionValue("--ssid=Home", "--ssid=", field));
    EXPECT_EQ(field, "Home");
}

TEST(ExtractOptionValue, EmptyValueClearsField) {
    std::string field = "old";
    EXPECT_TRUE(extractOptionValue("--ssid=", "--ssid=", field));
    EXPECT_EQ(field, "");
}

TEST(ExtractOptionValue, AbsentPrefixChangesNothing) {
    std::string field = "old";
    EXPECT_FALSE(extractOptionValue("--mode=x", "--ssid=", field));
    EXPECT_EQ(field, "old");
}

TEST(ExtractOptionValue, QuotedValueRunsToNextQuote) {
    std::string field;
    extractOptionValue("--ssid=\"a b\"tail", "--ssid=", field);
    EXPECT_EQ(field, "a b");
    extractOptionValue("--ssid=\"open end", "--ssid=", field);
    EXPECT_EQ(field, "open end");
    extractOptionValue("--ssid=\"", "--ssid=", field);
    EXPECT_EQ(field, "");
}

TEST(ExtractOptionValue, PrefixInsideArgumentCutsAtPrefixLength) {
    std::string field;
    extractOptionValue("xx--ssid=Home", "--ssid=", field);
    EXPECT_EQ(field, "d=Home");
}

TEST(OptionPrefixes, AreTheTwentySevenInOrder) {
    const auto& p = optionPrefixes();
    ASSERT_EQ(p.size(), 27u);
    EXPECT_STREQ(p.front().prefix, "--ssid=");
    EXPECT_STREQ(p[12].prefix, "--WEP-key1=");
    EXPECT_STREQ(p.back().prefix, "--cer-path=");
}

TEST(OptionPrefixes, EachFillsItsOwnField) {
    ConfigDetails c;
    for (const auto& option : optionPrefixes())
        applyOptionPrefixes(c, std::string(option.prefix) + "v");
    for (const auto& option : optionPrefixes()) {
        // "--802-pwd=" text is not inside another prefix's argument, etc.; each
        // field ends with the value its own argument gave.
        EXPECT_EQ(optionField(c, option), "v") << option.prefix;
    }
}

TEST(ParseOptions, ReadsShellQuotedLine) {
    ConfigDetails c;
    parse(c,
          {"qorconfig", "-c", "--ssid=Home Net", "--security=WPA", "--passwd=x", "/dev/usb/lp1"});
    EXPECT_EQ(c.ssid, "Home Net");
    EXPECT_EQ(c.security, "WPA");
    EXPECT_EQ(c.passwd, "x");
    EXPECT_EQ(c.usbPath, "/dev/usb/lp1");
    EXPECT_EQ(c.channel, "6");
    EXPECT_EQ(c.mode, "Managed");
}

TEST(ParseOptions, LastBareArgumentIsDevice) {
    ConfigDetails c;
    parse(c, {"qorconfig", "-c", "1:4", "2:3"});
    EXPECT_EQ(c.usbPath, "2:3");
}

TEST(ParseOptions, DashWithoutPrefixChangesNothing) {
    ConfigDetails c;
    ConfigDetails before = c;
    parse(c, {"qorconfig", "-c", "--bogus=1", "-x"});
    EXPECT_EQ(c.usbPath, before.usbPath);
    EXPECT_EQ(c.ssid, before.ssid);
}

TEST(ParseOptions, LaterPrefixesWinInTableOrder) {
    // "--802-pwd=" holds no other prefix but "--WEP-key1=..." could hold
    // "--psk=" in its value: the later prefix (psk) is tried last and wins.
    ConfigDetails c;
    parse(c, {"qorconfig", "-c", "--WEP-key1=--psk=zz"});
    EXPECT_EQ(c.wepKey[0], "--psk=zz");
    EXPECT_EQ(c.psk, "key1=--psk=zz");
}

TEST(ParseOptions, PasswordIsAnotherSpellingOfPasswd) {
    ConfigDetails c;
    parse(c, {"qorconfig", "-c", "--password=secret12"});
    EXPECT_EQ(c.passwd, "secret12");
}

TEST(ParseUsbPath, TakesOnlyTheDevice) {
    ConfigDetails c;
    std::vector<const char*> args = {"qorconfig", "-s", "--ssid=x", "2:3"};
    parseUsbPath(c, static_cast<int>(args.size()), args.data());
    EXPECT_EQ(c.usbPath, "2:3");
    EXPECT_EQ(c.ssid, "");
}

TEST(ParseUsbPath, DefaultsToLp0) {
    ConfigDetails c;
    std::vector<const char*> args = {"qorconfig", "-s"};
    parseUsbPath(c, 2, args.data());
    EXPECT_EQ(c.usbPath, "/dev/usb/lp0");
}

TEST(ParseOptionsFile, SkipsCommentsAndReadsQuotes) {
    std::string path = tempFile("a", "#--ssid=x\n--ssid=\"a b\"\n\n--security=WPA\n--psk=secret");
    ConfigDetails c;
    EXPECT_EQ(parseOptionsFile(c, path, "1:4"), 0);
    EXPECT_EQ(c.ssid, "a b");
    EXPECT_EQ(c.security, "WPA");
    EXPECT_EQ(c.psk, "secret");
    EXPECT_EQ(c.usbPath, "1:4");
    std::remove(path.c_str());
}

TEST(ParseOptionsFile, MissingFileFails) {
    ConfigDetails c;
    EXPECT_EQ(parseOptionsFile(c, "/nonexistent/qorconfig/opts", "/dev/usb/lp0"), -1);
    EXPECT_EQ(c.ssid, "");
}

TEST(ParseOptionsText, LongLinesAreReadInPiecesOf255) {
    ConfigDetails c;
    std::string line = "--ssid=" + std::string(300, 'a');
    parseOptionsText(c, line + "\n");
    EXPECT_EQ(c.ssid, std::string(255 - 7, 'a'));
    // The second piece starts with 'a's and holds no prefix.
    ConfigDetails d;
    parseOptionsText(d, std::string(255, 'x') + "--mode=Ad-Hoc\n");
    EXPECT_EQ(d.mode, "Ad-Hoc");
}

TEST(ParseOptionsText, NulByteEndsTheLine) {
    ConfigDetails c;
    parseOptionsText(c, std::string("--ssid=ab\0--mode=Ad-Hoc\n--channel=3\n", 36));
    EXPECT_EQ(c.ssid, "ab");
    EXPECT_EQ(c.mode, "Managed");
    EXPECT_EQ(c.channel, "3");
}

TEST(ParseOptionsText, CommentOnlyAtLineStart) {
    ConfigDetails c;
    parseOptionsText(c, " #--ssid=x\n");
    EXPECT_EQ(c.ssid, "d=x");  // cut at the prefix length from the line start
}

TEST(Usage, TextIsExact) {
    std::string text = usageText();
    EXPECT_EQ(text.substr(0, 14), "\n  qorconfig\n\t");
    EXPECT_NE(text.find("        qorconfig --ssid=\"<SSID>\" --mode=\"[Ad-hoc|Managed]\" "
                        "--security=\"[None|WEP|WPA|WPA2|802.1x]\" /\n"),
              std::string::npos);
    EXPECT_NE(text.find("      USB_PATH        path of the usb where the printer you want to "
                        "configure is connected.\n\n"),
              std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.size(), 708u);
}

// --- the input checks ---------------------------------------------------------

// Each row changes a configuration that is accepted as it stands; `refusal`
// is a part of the expected refusal, empty when the change is accepted.
struct ConfigRow {
    ConfigKind kind;
    void (*change)(ConfigDetails&);
    const char* refusal;
};

ConfigDetails acceptedBasic() {
    ConfigDetails c;
    c.ssid = "Home";
    c.security = "WPA2";
    c.passwd = "pw123456";
    return c;
}

TEST(CheckConfiguration, BoundsOfEveryValue) {
    using K = ConfigKind;
    const ConfigRow rows[] = {
        {K::Basic, [](ConfigDetails&) {}, ""},
        {K::Basic, [](ConfigDetails& c) { c.ssid = std::string(32, 's'); }, ""},
        {K::Basic, [](ConfigDetails& c) { c.ssid = std::string(33, 's'); }, "has 33 bytes"},
        {K::Basic, [](ConfigDetails& c) { c.passwd = std::string(63, '~'); }, ""},
        {K::Basic, [](ConfigDetails& c) { c.passwd = std::string(64, 'a'); }, ""},
        {K::Basic, [](ConfigDetails& c) { c.passwd = std::string(64, 'g'); }, "password must be"},
        {K::Basic, [](ConfigDetails& c) { c.passwd = "pw\t123456"; }, "printable ASCII"},
        {K::Basic, [](ConfigDetails& c) { c.passwd.clear(); }, "standard input is no terminal"},
        {K::Basic, [](ConfigDetails& c) { c.security = "None", c.passwd.clear(); }, ""},
        {K::Basic, [](ConfigDetails& c) { c.security = "wpa2"; }, "--security=wpa2 is not known"},
        {K::Basic, [](ConfigDetails& c) { c.security = ""; }, "--security= is not known"},
        {K::Basic, [](ConfigDetails& c) { c.security = "802.1x"; }, "-ca configures 802.1x"},
        {K::Basic, [](ConfigDetails& c) { c.security = "WEP", c.passwd = "abcde"; }, ""},
        {K::Basic, [](ConfigDetails& c) { c.security = "WEP", c.passwd = "0123456789"; }, ""},
        {K::Basic, [](ConfigDetails& c) { c.security = "WEP", c.passwd = "abcdefghij"; },
         "WEP key"},
        {K::Basic, [](ConfigDetails& c) { c.security = "WEP", c.passwd = std::string(26, 'F'); },
         ""},
        {K::Basic, [](ConfigDetails& c) { c.channel = "11"; }, ""},
        {K::Basic, [](ConfigDetails& c) { c.channel = "0"; }, "--channel=0 is no channel"},
        {K::Basic, [](ConfigDetails& c) { c.channel = ""; }, "1 to 11"},
        {K::Basic, [](ConfigDetails& c) { c.mode = ""; }, "--mode= is no mode"},
        {K::Advanced, [](ConfigDetails& c) { c.security = "OPEN"; }, ""},
        {K::Advanced, [](ConfigDetails& c) { c.security = "OPEN", c.encryption = "WEP"; },
         "give --WEP-key1=KEY"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "SHARED", c.wepKey[1] = "abcde", c.wepTransmit = "2";
         },
         ""},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "SHARED", c.wepKey[0] = "abcde", c.wepTransmit = "5";
         },
         "use 1, 2, 3 or 4"},
        {K::Advanced, [](ConfigDetails& c) { c.security = "SHARED", c.wepKey[3] = "ab"; },
         "--WEP-key4= must be 5 or 13"},
        {K::Advanced,
         [](ConfigDetails& c) { c.security = "WPA-ENT", c.psk = std::string(64, 'f'); }, ""},
        {K::Advanced, [](ConfigDetails& c) { c.security = "WPA-PER", c.encryption = "CCMP"; },
         "--encryption=CCMP is not known"},
        {K::Advanced,
         [](ConfigDetails& c) { c.security = "802.1x", c.auth802Ext = "EAP-TLS", c.user802 = "u"; },
         ""},
        {K::Advanced,
         [](ConfigDetails& c) { c.security = "802.1x", c.auth802Ext = "|PEAP|", c.user802 = "u"; },
         "give it with --802-pwd=PASSWORD"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "PEAP-TLS", c.user802 = "u", c.pwd802 = "p";
         },
         "'PEAP-TLS' is no EAP type"},
        {K::Advanced, [](ConfigDetails& c) { c.security = "802.1x", c.user802 = "u"; },
         "needs its EAP types"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "EAP-TLS", c.auth802Inner = "CHAPS";
         },
         "--802-auth-inner=CHAPS is not known"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "EAP-TLS", c.user802 = std::string(31, 'u');
         },
         ""},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "EAP-TLS", c.user802 = std::string(32, 'u');
         },
         "at most 31 fit"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "LEAP", c.user802 = "u",
             c.pwd802 = std::string(256, 'p');
         },
         "at most 255 fit"},
        {K::Advanced,
         [](ConfigDetails& c) {
             c.security = "802.1x", c.auth802Ext = "EAP-TLS", c.user802 = "u",
             c.encryption = "WEP-STATIC", c.wepKey[2] = "abc";
         },
         "--WEP-key3= must be"},
    };
    for (const ConfigRow& row : rows) {
        ConfigDetails c = acceptedBasic();
        row.change(c);
        std::string refusal = checkConfiguration(row.kind, c, false);
        if (*row.refusal == '\0')
            EXPECT_EQ(refusal, "") << c.security << " " << c.ssid.size();
        else
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
    }
}

TEST(CheckConfiguration, PromptOnlyForATerminalAndSpellingsMadeOne) {
    ConfigDetails c = acceptedBasic();
    c.passwd.clear();
    EXPECT_EQ(checkConfiguration(ConfigKind::Basic, c, true), "");
    EXPECT_NE(checkConfiguration(ConfigKind::Basic, c, false), "");
    const std::pair<const char*, const char*> modes[] = {
        {"Ad-hoc", "Ad-Hoc"}, {"adhoc", "Ad-Hoc"}, {"AD-HOC", "Ad-Hoc"}, {"managed", "Managed"}};
    for (const auto& [given, sent] : modes) {
        ConfigDetails m = acceptedBasic();
        m.mode = given;
        m.channel = "007";
        EXPECT_EQ(checkConfiguration(ConfigKind::Basic, m, false), "");
        EXPECT_EQ(m.mode, sent);
        EXPECT_EQ(m.channel, "7");
    }
    // Other words check nothing here.
    ConfigDetails none;
    EXPECT_EQ(checkConfiguration(ConfigKind::None, none, false), "");
}

TEST(CheckArguments, OneOptionPerArgumentOrTheDevice) {
    const struct {
        std::vector<std::string> args;
        size_t first;
        const char* refusal;
    } rows[] = {
        {{"q", "-c", "--ssid=a", "--passwd=\"a b\"", "1:4"}, 2, ""},
        {{"q", "-c", "--ssid=\"open end"}, 2, ""},
        {{"q", "-c", "--ssid=\"a b\"tail"}, 2, "quotes may only enclose the whole value"},
        {{"q", "-c", "--passwd=ab\"cdefghij"}, 2, "the value of --passwd= holds a double quote"},
        {{"q", "-c", "x--ssid=a"}, 2, "must begin with its name"},
        {{"q", "-c", "--WEP-key1=--psk=zz"}, 2, "--WEP-key1= holds more than one option"},
        {{"q", "-c", "--psk=--ssid=zz"}, 2, "--psk= holds more than one option"},
        {{"q", "-c", "--ssid=My", "Net-2"}, 2, "argument 3 is neither an option"},
        {{"q", "-c", "-file2"}, 2, "argument 2 is neither"},
        {{"q", "-c", "--password", "x"}, 2, "use --password=VALUE"},
        {{"q", "-c", "--pasword=secret"}, 2, "unknown option '--pasword';"},
        {{"q", "--ssid=a", "1:4"}, 1, ""},
        {{"q", "1:4", "--ssid=a"}, 1, ""},
        {{"q", "-ssid=a"}, 1, "unknown command word '-ssid'"},
    };
    for (const auto& row : rows) {
        std::string refusal = checkArguments(row.args, row.first, row.first == 1);
        if (*row.refusal == '\0')
            EXPECT_EQ(refusal, "") << row.args.back();
        else
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
        EXPECT_EQ(refusal.find("secret"), std::string::npos) << "no value is repeated";
    }
}

TEST(CheckOptionsText, EveryLineBlankCommentOrOption) {
    const std::pair<std::string, const char*> rows[] = {
        {"#c\n\n \t\n--ssid=a\n--passwd=\"x y\"", ""},
        {"--ssid=a\r\n", "f line 1 ends in a carriage return"},
        {"--ssid=a\n--cer-path=" + std::string(245, 'p') + "\n", "f line 2 is longer than 255"},
        {std::string("--ssid=a\0b\n", 11), "f line 1 holds a NUL byte"},
        {"  --ssid=a\n", "f line 1: an option must begin with its name"},
        {"--ssid=a\nssid=b\n", "f line 2: holds no option"},
        {"--ssid b\n", "f line 1: --ssid needs its value in the same word"},
    };
    for (const auto& [text, refusal] : rows) {
        std::string got = checkOptionsText(text, "f");
        if (*refusal == '\0')
            EXPECT_EQ(got, "");
        else
            EXPECT_EQ(got.rfind(refusal, 0), 0u) << got;
    }
}

TEST(CheckNpaText, DigitPairsAndWhiteSpaceOnly) {
    const std::pair<const char*, const char*> rows[] = {
        {"a5000650e0d8002808\n", ""},
        {"A5 00 06\r\n\t50 E0\n", ""},
        {"", ""},
        {"A5 0 06", "r line 1, column 4: an odd number"},
        {"A5 00 0", "r line 1, column 7: an odd number"},
        {"A5\n00 0x06", "r line 2, column 5: only hexadecimal digit pairs"},
        {"A5,00", "r line 1, column 3: only"},
    };
    for (const auto& [text, refusal] : rows) {
        std::string got = checkNpaText(text, "r");
        if (*refusal == '\0')
            EXPECT_EQ(got, "");
        else
            EXPECT_EQ(got.rfind(refusal, 0), 0u) << got;
    }
}

TEST(Usage, CommandWordsFollowAfterAnEmptyLine) {
    std::string words = commandWordsText();
    EXPECT_EQ(std::string(usageText()).substr(std::string(usageText()).size() - 2), "\n\n");
    for (const char* w : {"-c ", "-ca ", "-s ", "-ip ", "-t ", "-a ", "-r ", "-802s ", "-cer ",
                          "-npa ", "-icer ", "-rcerdefs ", "-csr ", "-h, --help "})
        EXPECT_NE(words.find("      " + std::string(w)), std::string::npos) << w;
}

}  // namespace
}  // namespace qor
