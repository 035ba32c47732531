// The manual pages: groff with every warning on finds nothing to say, each
// page has the sections a reader looks for, and every command word, option
// and file the programs know is documented on its page.
#include <gtest/gtest.h>

#include "../cups/ProcessRun.h"

using namespace qortest;

namespace {

std::string page(const std::string& name) {
    return std::string(QOR_SOURCE_DIR) + "/docs/man/" + name;
}

// The page as a reader sees it, on lines too long to break or hyphenate,
// so that a term is never split.
std::string rendered(const std::string& name) {
    RunResult r = runProgram({"groff", "-man", "-Tutf8", "-P-cbou", "-rLL=2000n", page(name)}, 30,
                             {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(0, r.status) << r.err;
    // Join the lines and collapse the blanks of adjusted lines.
    std::string text;
    for (char c : r.out) {
        if (c == '\n' || c == ' ') {
            if (!text.empty() && text.back() != ' ')
                text += ' ';
        } else {
            text += c;
        }
    }
    return text;
}

class ManualPage : public ::testing::TestWithParam<const char*> {};

TEST_P(ManualPage, FormatsWithoutWarnings) {
    for (const char* device : {"utf8", "ascii", "ps"}) {
        RunResult r =
            runProgram({"groff", "-man", std::string("-T") + device, "-ww", "-z", page(GetParam())},
                       30, {"LC_ALL=C.UTF-8"});
        EXPECT_EQ(0, r.status) << device;
        EXPECT_EQ("", r.err) << device;
    }
    // man itself, at the narrowest usual terminal width.
    RunResult man = runProgram({"man", "--warnings", "-l", page(GetParam())}, 30,
                               {"MANWIDTH=80", "LC_ALL=C.UTF-8"});
    EXPECT_EQ(0, man.status);
    EXPECT_EQ("", man.err);
}

TEST_P(ManualPage, HasTheUsualSections) {
    std::string text = readFile(page(GetParam()));
    for (const char* section :
         {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH EXIT STATUS\n",
          ".SH ENVIRONMENT\n", ".SH FILES\n", ".SH EXAMPLES\n", ".SH SEE ALSO\n"})
        EXPECT_NE(std::string::npos, text.find(section)) << section;
    EXPECT_NE(std::string::npos, text.find(".SH OPTIONS\n"));
}

INSTANTIATE_TEST_SUITE_P(Pages, ManualPage,
                         ::testing::Values("netbackend.8", "qorlist.1", "qorconfig.1"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

void expectAll(const std::string& text, const std::vector<std::string>& terms) {
    for (const std::string& term : terms)
        EXPECT_NE(std::string::npos, text.find(term)) << "not documented: " << term;
}

TEST(ManualPages, QorconfigNamesEveryCommandWordAndOption) {
    std::string text = rendered("qorconfig.1");
    expectAll(text, {"-c ", "-ca ", "-r ", "-ip ", "-t ", "-a ", "-s ", "-802s ", "-cer ", "-npa ",
                     "-icer ", "-rcerdefs ", "-csr ", "-h ", "-file ", "--help",
                     "--password=", "INPUT CHECKS"});
    expectAll(text, {"--ssid=",         "--channel=",         "--mode=",
                     "--security=",     "--passwd=",          "--encryption=",
                     "--802-auth-ext=", "--802-auth-inner=",  "--802-user=",
                     "--802-pwd=",      "--802-CA-cer-file=", "--802-signed-cer-file=",
                     "--WEP-key1=",     "--WEP-key4=",        "--WEP-transmit=",
                     "--psk=",          "--cer-common=",      "--cer-org=",
                     "--cer-unit=",     "--cer-state=",       "--cer-country=",
                     "--cer-city=",     "--cer-altname=",     "--cer-friendly-name=",
                     "--cer-path="});
    // What scripts read, and the statuses they test.
    expectAll(text, {"IP-ADDRESS : ", "npaFileData: (", "cer-org", "cer-common", "/dev/usb/lp0",
                     "bus:device", "255", "CA Certificate Not Installed"});
}

TEST(ManualPages, QorlistNamesItsOptionsOutputsAndFiles) {
    std::string text = rendered("qorlist.1");
    expectAll(text, {"-h ", "-x ", "-m ", "USB_PATH", "/dev/usb/lp0", "bus:device"});
    expectAll(text, {"CTYPE=n&&::&&", "wifisupport:n",
                     "ssid=name&&:&&channel=channel&&:&&mode=mode&&:&&signal=level&&:&&security="
                     "security&&::&&",
                     "/usr/local/corvane/qor_v2/bin/.scripts/qor.conf",
                     "/usr/local/tamo/qor_v2/bin/.scripts/qor.conf",
                     "/usr/local/printer/qor_v2/bin/.scripts/qor.conf", "ADHOC=0"});
}

TEST(ManualPages, NetbackendNamesItsModesEnvironmentAndTraceFiles) {
    std::string text = rendered("netbackend.8");
    expectAll(text,
              {"-v ", "2.2", "DEVICE_URI", "CUPS_SERVERBIN", "TMPDIR", "/usr/lib/cups", "socket://",
               "$TMPDIR/.slog ", "$TMPDIR/.slog_mura", "|pid.log", "Network Printer #",
               "STATE: +connecting-to-device", "ERROR:", "5353", "224.0.0.251", "lpadmin -p"});
    // What a job does while its printer is away, and how the wait ends.
    expectAll(text, {"has not answered, still looking for it", "STATE: -connecting-to-device",
                     "CLASS", "MaxJobTime", "job-cancel-after", "SIGTERM"});
    // Every installed name and the manufacturer it selects.
    expectAll(text, {"tamo", "generic", "ksolven", "amtix", "dalor", "netkessa", "Tamo", "SOLVEN",
                     "Amtix", "DALOR", "Kessa"});
}

}  // namespace
