// The virtual printer's fault modes against every command word of qorlist
// and qorconfig. Each case runs the real program on /dev/usb/lp0 of a private
// mount namespace (qor-vprinter) with the exit probe preloaded, and checks:
// the exit status the protocol gives, the output where it is fixed, that the
// run ends inside the time the sleeps and read windows allow, that no
// descriptor is left open, that the CPU time stays small while it waits, and
// that no crash or sanitizer report happened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

using qor::reliability::ProbeReport;
using qor::reliability::RunResult;
using qor::reliability::TempDir;

// Any status from 1 to 254: a reply came but did not show success (the
// program's own choice of positive value where the protocol leaves it open).
constexpr int kPositive = 1000;

struct FaultCase {
    const char* name;
    const char* program;  // "qorlist" or "qorconfig"
    std::vector<std::string> args;
    const char* kind;      // printer kind: "forward" or "direct"
    const char* scenario;  // scenario lines, faults included
    int lp;                // the node the printer sits on; 1 leaves /dev/usb/lp0 missing
    int status;            // expected exit status, or kPositive
    const char* out;       // exact standard output, or nullptr when it is not fixed
    double minSeconds, maxSeconds;
    const char* errHas = nullptr;      // a text standard error must hold
    const char* journalHas = nullptr;  // a text the printer's journal must hold
    std::string input = "";            // content of the file named @IN@ in args
};

// Row output of the default forwarded survey.
const char kRows[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=48&&:&&security=WPA2&&::&&\n"
    "ssid=Cafe&&:&&channel=1&&:&&mode=Managed&&:&&signal=71&&:&&security=None&&::&&\n"
    "CTYPE=2&&::&&";
const char kCtypeFailed[] = "CTYPE=1&&::&&";
const char kCertDefaults[] =
    "cer-org=Example Org\ncer-unit=Printing\ncer-state=Oregon\ncer-country=US\n"
    "cer-city=Portland\ncer-altname=printer\ncer-common=printer.example\n";
const char kSsidRequest[] = "A5 00 06 50 E0 D8 00 28 08\n";

const std::vector<std::string> kBasic = {"-c", "--ssid=Home", "--security=None"};
const std::vector<std::string> kWpa = {"-ca", "--security=WPA-PER", "--psk=secretkey",
                                       "--ssid=Home", "--encryption=AES"};
const std::vector<std::string> k8021x = {
    "-ca",          "--security=802.1x", "--ssid=Corp",      "--encryption=WEP-STATIC",
    "--802-user=u", "--802-pwd=p",       "--WEP-key1=key01", "--802-auth-ext=PEAP"};
const std::vector<std::string> kNpa = {"-npa", "-file", "@IN@", "/dev/usb/lp0"};
const std::vector<std::string> kCsr = {"-csr", "--cer-common=prn", "--cer-path=@CSR@"};
const std::vector<std::string> kIcer = {"-icer", "--802-CA-cer-file=@CA@"};

// An options file of long lines, binary bytes, an unterminated quote and no
// newline at its end.
const std::string kHostileOptions =
    "#--security=WEP\n" + std::string(1000, 'x') + "\n--ssid=\"unterminated\n" +
    std::string("\0\0\x01\xff--mode=", 12) + "\n--channel=" + std::string(300, '9');

// clang-format off
const std::vector<FaultCase> kCases = {
    // qorlist: survey with row output, and the wireless-support query.
    {"QorlistRowsGarbageOfOneHeader", "qorlist", {"-x"}, "forward", "fault = any garbage 00FF13\n", 0, 0, kRows, 0, 5},
    // Whole-header reading has no byte-wise resynchronisation: four stray
    // bytes misalign every header that follows.
    {"QorlistRowsMisalignedByGarbage", "qorlist", {"-x"}, "forward", "fault = any garbage 00FF1350\n", 0, 0, kCtypeFailed, 6, 25},
    {"QorlistRowsSplitAnswer", "qorlist", {"-x"}, "forward", "fault = any split 2\n", 0, 0, kRows, 1, 12},
    {"QorlistRowsSilent", "qorlist", {"-x"}, "forward", "fault = any silent\n", 0, 0, kCtypeFailed, 4, 40},
    {"QorlistRowsErrorD4", "qorlist", {"-x"}, "forward", "fault = any error D4\n", 0, 0, kCtypeFailed, 2, 40},
    {"QorlistRowsTruncated", "qorlist", {"-x"}, "forward", "fault = any truncate 20\n", 0, 0, kCtypeFailed, 2, 40},
    {"QorlistRowsGarbled", "qorlist", {"-x"}, "forward", "fault = any garble\n", 0, 0, kCtypeFailed, 2, 40},
    {"QorlistRowsNoDevice", "qorlist", {"-x"}, "forward", "", 1, 0, kCtypeFailed, 0, 5},
    {"QorlistLinesDirectFallbackSplit", "qorlist", {}, "direct", "fault = direct-any split 3\n", 0, 0, nullptr, 2, 45, nullptr, "\"forwarded\":false"},
    {"QorlistLinesStopsAnswering", "qorlist", {}, "forward", "stop_after = 0\n", 0, 0, kCtypeFailed, 4, 40},
    {"QorlistSupportGarbage", "qorlist", {"-m"}, "forward", "fault = any garbage 0011\n", 0, 0, "wifisupport:2\nCTYPE=2&&::&&", 0, 3},
    {"QorlistSupportSilent", "qorlist", {"-m"}, "forward", "fault = any silent\n", 0, 0, kCtypeFailed, 4, 40},
    {"QorlistSupportGarbled", "qorlist", {"-m"}, "forward", "fault = any garble\n", 0, 0, kCtypeFailed, 2, 40},
    {"QorlistSupportNoDevice", "qorlist", {"-m"}, "forward", "", 1, 0, kCtypeFailed, 0, 5},
    {"QorlistOverlongBusPath", "qorlist", {"-x", "123456789012345678901234567890:77777777777777777777777"}, "forward", "", 0, 0, kCtypeFailed, 0, 10},

    // -c: one write; -1 retries unwrapped.
    {"BasicSilent", "qorconfig", kBasic, "forward", "fault = any silent\n", 0, 255, nullptr, 16, 26},
    {"BasicErrorD4", "qorconfig", kBasic, "forward", "fault = any error D4\n", 0, 255, nullptr, 14, 26},
    {"BasicErrorD8", "qorconfig", kBasic, "forward", "fault = any error D8\n", 0, 1, nullptr, 0, 5},
    {"BasicTruncated", "qorconfig", kBasic, "forward", "fault = any truncate 3\n", 0, 1, nullptr, 5, 13},
    {"BasicGarbled", "qorconfig", kBasic, "forward", "fault = any garble\n", 0, 1, nullptr, 5, 13},
    {"BasicGarbage", "qorconfig", kBasic, "forward", "fault = any garbage 0011\n", 0, 0, nullptr, 0, 5},
    {"BasicSplit", "qorconfig", kBasic, "forward", "fault = any split 3\n", 0, 0, nullptr, 0, 5},
    {"BasicRetriedUnwrapped", "qorconfig", kBasic, "direct", "", 0, 0, nullptr, 9, 14, nullptr, "\"kind\":\"write\",\"forwarded\":false"},
    {"BasicHostileOptionsFile", "qorconfig", {"-c", "-file", "@IN@"}, "forward", "", 0, 1, "", 0, 4, " line 2 is longer than 255 characters\n", nullptr, kHostileOptions},
    {"BasicNoDevice", "qorconfig", kBasic, "forward", "", 1, 1, nullptr, 0, 4, "qorconfig: cannot open the printer at '/dev/usb/lp0': No such file or directory"},

    // -ca: WPA personal and 802.1x (two writes and a status query).
    {"WpaSilent", "qorconfig", kWpa, "forward", "fault = any silent\n", 0, 255, nullptr, 16, 26},
    {"WpaGarbled", "qorconfig", kWpa, "forward", "fault = any garble\n", 0, 1, nullptr, 5, 13},
    {"WpaSplit", "qorconfig", kWpa, "forward", "fault = any split 3\n", 0, 0, nullptr, 0, 5},
    {"WpaNoDevice", "qorconfig", kWpa, "forward", "", 1, 1, nullptr, 0, 4},
    {"Enterprise8021xGarbage", "qorconfig", k8021x, "forward", "fault = any garbage 00\n", 0, 0, nullptr, 0, 5, "D [QOR] Status: 2 (Authenticated)"},
    {"Enterprise8021xSecondWriteDelayedPastWindow", "qorconfig", k8021x, "forward", "fault = request:2 delay 11000\n", 0, 0, nullptr, 5.5, 20},

    // -ip: seven tries of a read.
    {"AddressGarbage", "qorconfig", {"-ip"}, "forward", "fault = any garbage 0011\n", 0, 0, "192.168.1.20\n", 0, 5},
    {"AddressSplit", "qorconfig", {"-ip"}, "forward", "fault = any split 3\n", 0, 0, "192.168.1.20\n", 0, 5},
    {"AddressTruncatedOnce", "qorconfig", {"-ip"}, "forward", "fault = any truncate 2 times 1\n", 0, 0, "192.168.1.20\n", 6.5, 10},
    {"AddressDelayedInsideWindow", "qorconfig", {"-ip"}, "forward", "fault = any delay 6000\n", 0, 0, "192.168.1.20\n", 5.5, 8},
    {"AddressDelayedPastWindowOnce", "qorconfig", {"-ip"}, "forward", "fault = any delay 10000 times 1\n", 0, 0, "192.168.1.20\n", 7, 12},
    {"AddressErrorD4RetriesUnwrapped", "qorconfig", {"-ip"}, "forward", "fault = any error D4\n", 0, 255, "", 50, 75, nullptr, "\"kind\":\"read\",\"forwarded\":false"},
    {"AddressNoDevice", "qorconfig", {"-ip"}, "forward", "", 1, 1, "", 0, 4},

    // -t: four tries of a read.
    {"ConnectedGarbled", "qorconfig", {"-t"}, "forward", "fault = any garble\n", 0, 1, nullptr, 24, 34, "qorconfig: the printer's answers were cut short or malformed"},
    {"ConnectedTruncated", "qorconfig", {"-t"}, "forward", "fault = any truncate 2\n", 0, kPositive, nullptr, 24, 34},
    {"ConnectedSplit", "qorconfig", {"-t"}, "forward", "fault = any split 3\n", 0, 0, nullptr, 0, 5},
    {"ConnectedErrorD4RetriesUnwrapped", "qorconfig", {"-t"}, "forward", "fault = any error D4\n", 0, 255, nullptr, 28, 45},
    {"ConnectedNoDevice", "qorconfig", {"-t"}, "forward", "", 1, kPositive, nullptr, 0, 4},

    // -a: six tries with 10 s pauses, read at once after the write.
    {"AdapterSilent", "qorconfig", {"-a"}, "forward", "fault = any silent\n", 0, 1, nullptr, 70, 90},
    {"AdapterGarbage", "qorconfig", {"-a"}, "forward", "fault = any garbage 0011\n", 0, 0, nullptr, 0, 5},
    {"AdapterDelayedInsideWindow", "qorconfig", {"-a"}, "forward", "fault = any delay 3000\n", 0, 0, nullptr, 2.5, 5},

    // -s: seven tries of a read.
    {"SsidSplit", "qorconfig", {"-s"}, "forward", "fault = any split 3\n", 0, 0, "HomeNet\n", 0, 5},
    {"SsidTruncatedOnce", "qorconfig", {"-s"}, "forward", "fault = any truncate 12 times 1\n", 0, 0, "HomeNet\n", 6, 9},
    {"SsidGarbled", "qorconfig", {"-s"}, "forward", "fault = any garble\n", 0, 1, "", 40, 55},
    {"SsidErrorD4RetriesUnwrapped", "qorconfig", {"-s"}, "forward", "fault = any error D4\n", 0, 255, "", 40, 70},
    {"SsidNoDevice", "qorconfig", {"-s"}, "forward", "", 1, 1, "", 0, 4},

    // -802s: a packet-stream read.
    {"Auth8021xGarbage", "qorconfig", {"-802s"}, "forward", "fault = any garbage 0011\n", 0, 2, nullptr, 0, 5, "D [QOR] Status: 2 (Authenticated)"},
    // A stray start byte takes the answer's own start byte and length as its
    // length: the body never completes and the answer is lost, on both tries.
    {"Auth8021xStrayStartByte", "qorconfig", {"-802s"}, "forward", "fault = any garbage 00A5\n", 0, 255, nullptr, 8, 26},
    {"Auth8021xSplit", "qorconfig", {"-802s"}, "forward", "fault = any split 3\n", 0, 2, nullptr, 0, 5},
    {"Auth8021xGarbled", "qorconfig", {"-802s"}, "forward", "fault = any garble\n", 0, 255, nullptr, 8, 24},
    {"Auth8021xErrorD4", "qorconfig", {"-802s"}, "forward", "fault = any error D4\n", 0, 255, nullptr, 0, 20},
    {"Auth8021xTruncated", "qorconfig", {"-802s"}, "forward", "fault = any truncate 12\n", 0, 255, nullptr, 8, 24},
    {"Auth8021xStatusOutsideTable", "qorconfig", {"-802s"}, "forward", "status_8021x = 200\n", 0, 200, nullptr, 0, 5, "D [QOR] Status: 200 ("},
    {"Auth8021xNoDevice", "qorconfig", {"-802s"}, "forward", "", 1, 1, nullptr, 0, 4, "D [QOR] Failed to open usb device '/dev/usb/lp0'!"},

    // -cer: two packet-stream reads, made again unwrapped when neither got a
    // byte back; always 0.
    {"CertSettingsSilent", "qorconfig", {"-cer"}, "forward", "fault = any silent\n", 0, 0, nullptr, 16, 40, "qorconfig: no answer from the printer at '/dev/usb/lp0'"},
    {"CertSettingsGarbled", "qorconfig", {"-cer"}, "forward", "fault = any garble\n", 0, 0, nullptr, 8, 30},
    {"CertSettingsNoDevice", "qorconfig", {"-cer"}, "forward", "", 1, 1, nullptr, 0, 4},

    // -npa: the request of a hex file, shown with its reply; always 0.
    {"NpaSilent", "qorconfig", kNpa, "direct", "fault = any silent\n", 0, 0, "npaFileData: (18 bytes) A5000650E0D8002808\n", 11, 20, nullptr, nullptr, kSsidRequest},
    {"NpaGarbled", "qorconfig", kNpa, "direct", "fault = any garble\n", 0, 0, "npaFileData: (18 bytes) A5000650E0D8002808\n", 11, 20, nullptr, nullptr, kSsidRequest},
    {"NpaSplit", "qorconfig", kNpa, "direct", "fault = any split 3\n", 0, 0, "npaFileData: (18 bytes) A5000650E0D8002808\n", 0, 5, "D [QOR] sendNPA response (15 bytes)", nullptr, kSsidRequest},
    {"NpaOddDigitsAndNoise", "qorconfig", kNpa, "direct", "", 0, 1, "", 0, 4, "input line 1, column 4: only hexadecimal digit pairs and white space", nullptr, "A5 z0 G\n"},
    {"NpaHugeFile", "qorconfig", kNpa, "direct", "", 0, 0, nullptr, 0, 25, "D [QOR] NPA data: 100000 bytes", nullptr, std::string(200000, 'a')},
    {"NpaNoDevice", "qorconfig", kNpa, "direct", "", 1, 1, "npaFileData: (18 bytes) A5000650E0D8002808\n", 0, 4, "qorconfig: cannot open the printer at '/dev/usb/lp0'", nullptr, kSsidRequest},

    // Certificate manager words.
    {"CertDefaultsSilent", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr silent\n", 0, 1, "", 2, 40, "D [QOR] Failed to read certificate defaults!"},
    {"CertDefaultsGarbled", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr garble\n", 0, 1, "", 2, 40},
    {"CertDefaultsErrorD4", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr error D4\n", 0, 1, "", 0, 5},
    {"CertDefaultsTruncated", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr truncate 40\n", 0, 1, "", 2, 40},
    {"CertDefaultsSplit", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr split 1\n", 0, 0, kCertDefaults, 0, 10},
    {"CertDefaultsDelayedInsideWindow", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr delay 3000\n", 0, 0, kCertDefaults, 2.9, 12},
    {"CertDefaultsNoDevice", "qorconfig", {"-rcerdefs"}, "forward", "", 1, 1, "", 0, 4},
    {"CsrSilent", "qorconfig", kCsr, "forward", "fault = certmgr silent\n", 0, 1, "", 2, 40, "D [QOR] Error creating Certificate Request!"},
    {"CsrGarbled", "qorconfig", kCsr, "forward", "fault = certmgr garble\n", 0, 1, "", 2, 40},
    {"CsrSplit", "qorconfig", kCsr, "forward", "fault = certmgr split 1\n", 0, 0, "", 0, 15, "D [QOR] Certificate Request saved to '"},
    {"CsrNoDevice", "qorconfig", kCsr, "forward", "", 1, 1, "", 0, 4},
    {"InstallCaSilent", "qorconfig", kIcer, "forward", "fault = certmgr silent\n", 0, 1, "", 2, 60, "D [QOR] Error installing CA/Signed Certificate!"},
    {"InstallCaGarbled", "qorconfig", kIcer, "forward", "fault = certmgr garble\n", 0, 1, "", 2, 60},
    {"InstallCaSplit", "qorconfig", kIcer, "forward", "fault = certmgr split 1\n", 0, 0, "", 0, 15, "D [QOR] CA/Signed Certificate successfully installed!"},
    {"InstallCaDelayedInsideWindow", "qorconfig", kIcer, "forward", "fault = certmgr delay 3000\n", 0, 0, "", 2, 60, "D [QOR] CA/Signed Certificate successfully installed!"},
    {"InstallCaOversizedNonCertificate", "qorconfig", {"-icer", "--802-CA-cer-file=@BIG@"}, "forward", "", 0, 1, "", 0, 20, "is not a PEM certificate; nothing was installed"},
    {"InstallCaNoDevice", "qorconfig", kIcer, "forward", "", 1, 1, "", 0, 4},

    // -r: two tries with a 50 s pause; the representative long wait.
    {"ResetSilent", "qorconfig", {"-r"}, "forward", "fault = any silent\n", 0, 1, nullptr, 66, 85},
    {"ResetGarbage", "qorconfig", {"-r"}, "forward", "fault = any garbage 0011\n", 0, 0, nullptr, 0, 5},
    {"ResetSplit", "qorconfig", {"-r"}, "forward", "fault = any split 3\n", 0, 0, nullptr, 0, 5},

    // -h and the usage text do not touch the printer.
    {"HelpIgnoresThePrinter", "qorconfig", {"-h", "/dev/usb/lp0"}, "forward", "fault = any silent\n", 0, 0, nullptr, 0, 5},
    {"QorlistHelpIgnoresThePrinter", "qorlist", {"-h"}, "forward", "fault = any silent\n", 0, 0, nullptr, 0, 5},

    // The top-level flow (a word that is no command).
    {"FlowGarbage", "qorconfig", {"--ssid=Home"}, "forward", "fault = any garbage 0011\n", 0, 0, nullptr, 0, 5, nullptr, nullptr},
    {"FlowNoDevice", "qorconfig", {"--ssid=Home"}, "forward", "", 1, 1, nullptr, 0, 5, "qorconfig: cannot open the printer at '/dev/usb/lp0'"},
};
// clang-format on

std::string binary(const char* program) {
    std::string name = program;
    if (name == "qorlist")
        return QORLIST_BIN;
    return QORCONFIG_BIN;
}

std::string replace(std::string text, const std::string& from, const std::string& to) {
    size_t at;
    while ((at = text.find(from)) != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, EndsBoundedWithTheProtocolStatus) {
    const FaultCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "the virtual printer needs root for its mount namespace";
    TempDir dir(c.name);
    std::string scenario = dir.write("scenario", c.scenario);
    std::string journal = dir.path("journal");
    std::string probe = dir.path("probe");
    std::string csr = dir.path("request.csr");
    std::string ca = dir.path("ca.pem");
    std::string input = dir.write("input", c.input);
    std::string big = dir.write("big.pem", std::string(13000, 'A'));

    bool needsCa = false;
    std::vector<std::string> args;
    for (const auto& a : c.args) {
        needsCa = needsCa || a.find("@CA@") != std::string::npos;
        args.push_back(replace(
            replace(replace(replace(a, "@CA@", ca), "@CSR@", csr), "@IN@", input), "@BIG@", big));
    }
    if (needsCa) {
        std::string make =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
            "-nodes -keyout '" +
            dir.path("ca.key") + "' -out '" + ca +
            "' -subj /CN=ReliabilityCA -days 30 >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a test CA";
    }

    std::vector<std::string> argv = {VPRINTER_BIN,
                                     "--kind",
                                     c.kind,
                                     "--scenario",
                                     scenario,
                                     "--journal",
                                     journal,
                                     "--lp",
                                     std::to_string(c.lp),
                                     "--",
                                     "env",
                                     std::string("LD_PRELOAD=") + PROBE_LIB,
                                     "QOR_PROBE_OUT=" + probe,
                                     qor::reliability::asanOptionsWithProbe(),
                                     binary(c.program)};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = qor::reliability::runProcess(argv, c.maxSeconds + 30);

    SCOPED_TRACE("stderr tail: " + r.err.substr(r.err.size() > 1500 ? r.err.size() - 1500 : 0));
    ASSERT_FALSE(r.timedOut) << "still running after " << c.maxSeconds + 30 << " s";
    EXPECT_FALSE(qor::reliability::hasRuntimeReport(r.err));
    if (c.status == kPositive) {
        EXPECT_GE(r.status, 1);
        EXPECT_LE(r.status, 254);
    } else {
        EXPECT_EQ(r.status, c.status);
    }
    if (c.out) {
        EXPECT_EQ(r.out, c.out);
    }
    if (c.errHas) {
        EXPECT_NE(r.err.find(c.errHas), std::string::npos) << "missing: " << c.errHas;
    }
    if (c.journalHas) {
        EXPECT_NE(dir.read("journal").find(c.journalHas), std::string::npos)
            << "journal lacks " << c.journalHas << "\n"
            << dir.read("journal");
    }
    EXPECT_GE(r.seconds, c.minSeconds);
    EXPECT_LE(r.seconds, c.maxSeconds);

    ProbeReport p = qor::reliability::parseProbe(dir.read("probe"));
    ASSERT_TRUE(p.present) << "the program did not reach a normal exit: " << dir.read("probe");
    EXPECT_TRUE(p.leaked().empty())
        << "descriptors left open at exit: " << qor::reliability::joinFds(p.leaked());
    // Waiting is sleeping: a spin would burn CPU close to the wall time.
    double cpu = p.cpuUs / 1e6, wall = p.wallUs / 1e6;
    EXPECT_LE(cpu, 0.3 + 0.05 * wall) << "cpu " << cpu << " s over " << wall << " s";
    RecordProperty("wall_ms", static_cast<int>(p.wallUs / 1000));
    RecordProperty("cpu_ms", static_cast<int>(p.cpuUs / 1000));
    // One row for the reliability report: case, command, printer, status, times.
    std::string command = std::string(c.program) + (c.args.empty() ? "" : " " + c.args[0]);
    std::string printer = std::string(c.kind) + (c.lp != 0 ? ", no lp0" : "");
    std::string faults = c.scenario;
    for (char& ch : faults)
        if (ch == '\n')
            ch = ';';
    std::printf("ROW | %s | %s | %s | %s | %d | %.1f | %.3f |\n", c.name, command.c_str(),
                printer.c_str(), faults.c_str(), r.status, wall, cpu);
}

INSTANTIATE_TEST_SUITE_P(Words, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
