#include "Options.h"

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

}  // namespace
}  // namespace qor
