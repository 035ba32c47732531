// qorlist and qorconfig end to end against the virtual printer under
// valgrind memcheck: no memory errors, no leaks, no descriptor left open, and
// the same exit status and output as without valgrind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

using qor::reliability::RunResult;
using qor::reliability::TempDir;

constexpr int kValgrindError = 99;

struct ValgrindCase {
    const char* name;
    const char* program;  // "qorlist" or "qorconfig"
    std::vector<std::string> args;
    const char* kind;
    const char* scenario;
    int status;
    const char* out;  // exact standard output, or nullptr
    double limitSeconds;
};

const char kRows[] =
    "ssid=HomeNet&&:&&channel=6&&:&&mode=Managed&&:&&signal=48&&:&&security=WPA2&&::&&\n"
    "ssid=Cafe&&:&&channel=1&&:&&mode=Managed&&:&&signal=71&&:&&security=None&&::&&\n"
    "CTYPE=2&&::&&";

// clang-format off
const std::vector<ValgrindCase> kCases = {
    {"QorlistRows", "qorlist", {"-x"}, "forward", "", 0, kRows, 60},
    {"QorlistLinesDirectKind", "qorlist", {}, "direct", "", 0, nullptr, 60},
    {"QorlistSupport", "qorlist", {"-m"}, "forward", "", 0, "wifisupport:2\nCTYPE=2&&::&&", 60},
    {"QorlistBothAttemptsFail", "qorlist", {"-x"}, "forward", "fault = any truncate 20\n", 0, "CTYPE=1&&::&&", 60},
    {"QorlistUsage", "qorlist", {"-h"}, "forward", "", 0, nullptr, 30},
    {"Usage", "qorconfig", {}, "forward", "", 0, nullptr, 30},
    {"Basic", "qorconfig", {"-c", "--ssid=Home", "--security=None"}, "forward", "", 0, nullptr, 60},
    {"BasicRetriedUnwrapped", "qorconfig", {"-c", "--ssid=Home", "--security=None"}, "direct", "", 0, nullptr, 80},
    {"WpaPersonal", "qorconfig", {"-ca", "--security=WPA-PER", "--psk=secretkey", "--ssid=Home"}, "forward", "", 0, nullptr, 60},
    {"Enterprise8021x", "qorconfig", {"-ca", "--security=802.1x", "--ssid=Corp", "--encryption=WEP-STATIC", "--802-user=u", "--802-pwd=p", "--WEP-key1=key01", "--802-auth-ext=PEAP"}, "forward", "", 0, nullptr, 80},
    {"Address", "qorconfig", {"-ip"}, "forward", "", 0, "192.168.1.20\n", 60},
    {"Connected", "qorconfig", {"-t"}, "forward", "", 0, nullptr, 60},
    {"Adapter", "qorconfig", {"-a"}, "forward", "", 0, nullptr, 60},
    {"Ssid", "qorconfig", {"-s"}, "forward", "", 0, "HomeNet\n", 60},
    {"Auth8021x", "qorconfig", {"-802s"}, "forward", "", 2, "", 60},
    {"Auth8021xGarbled", "qorconfig", {"-802s"}, "forward", "fault = any garble\n", 255, "", 80},
    {"CertSettings", "qorconfig", {"-cer"}, "forward", "", 0, "", 60},
    {"Npa", "qorconfig", {"-npa", "-file", "@NPA@", "/dev/usb/lp0"}, "direct", "", 0, "npaFileData: (18 bytes) a5000650e0d8002808\n", 60},
    {"CertDefaults", "qorconfig", {"-rcerdefs"}, "forward", "", 0, nullptr, 60},
    {"CertDefaultsGarbled", "qorconfig", {"-rcerdefs"}, "forward", "fault = certmgr garble\n", 1, "", 60},
    {"Csr", "qorconfig", {"-csr", "--cer-common=prn", "--cer-path=@CSR@"}, "forward", "", 0, "", 60},
    {"InstallCa", "qorconfig", {"-icer", "--802-CA-cer-file=@CA@"}, "forward", "", 0, "", 80},
    {"InstallCaMissingFile", "qorconfig", {"-icer", "--802-CA-cer-file=/nonexistent/ca.pem"}, "forward", "", 2, "", 30},
    {"Reset", "qorconfig", {"-r"}, "forward", "", 0, nullptr, 60},
    {"TopLevelFlow", "qorconfig", {"--ssid=Home"}, "forward", "", 0, nullptr, 90},
};
// clang-format on

void PrintTo(const ValgrindCase& c, std::ostream* os) {
    *os << c.name;
}

std::string replace(std::string text, const std::string& from, const std::string& to) {
    size_t at;
    while ((at = text.find(from)) != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class Memcheck : public ::testing::TestWithParam<ValgrindCase> {};

TEST_P(Memcheck, RunsCleanEndToEnd) {
    const ValgrindCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "the virtual printer needs root for its mount namespace";
    TempDir dir(std::string("vg-") + c.name);
    std::string scenario = dir.write("scenario", c.scenario);
    std::string npa = dir.write("request.hex", "a5000650e0d8002808\n");
    std::string csr = dir.path("request.csr");
    std::string ca = dir.path("ca.pem");
    std::string log = dir.path("valgrind.log");
    std::vector<std::string> args;
    bool needsCa = false;
    for (const auto& a : c.args) {
        needsCa = needsCa || a.find("@CA@") != std::string::npos;
        args.push_back(replace(replace(replace(a, "@CA@", ca), "@CSR@", csr), "@NPA@", npa));
    }
    if (needsCa) {
        std::string make =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
            "-nodes -keyout '" +
            dir.path("ca.key") + "' -out '" + ca +
            "' -subj /CN=MemcheckCA -days 30 >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a test CA";
    }
    std::vector<std::string> argv = {
        VPRINTER_BIN,
        "--kind",
        c.kind,
        "--scenario",
        scenario,
        "--",
        VALGRIND_BIN,
        "--tool=memcheck",
        "--error-exitcode=" + std::to_string(kValgrindError),
        "--leak-check=full",
        "--show-leak-kinds=definite,indirect,possible",
        "--errors-for-leak-kinds=definite,indirect,possible",
        "--track-fds=yes",
        "--log-file=" + log,
        std::string(c.program) == "qorlist" ? QORLIST_BIN : QORCONFIG_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = qor::reliability::runProcess(argv, c.limitSeconds);
    std::string report = dir.read("valgrind.log");
    SCOPED_TRACE("valgrind log:\n" + report);
    ASSERT_FALSE(r.timedOut) << "still running after " << c.limitSeconds << " s";
    EXPECT_EQ(r.status, c.status) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    if (c.out) {
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_NE(report.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos);
    // Every block freed: either the summary says so, or nothing of any kind is lost.
    bool allFreed =
        report.find("All heap blocks were freed -- no leaks are possible") != std::string::npos;
    EXPECT_TRUE(allFreed || (report.find("definitely lost: 0 bytes") != std::string::npos &&
                             report.find("indirectly lost: 0 bytes") != std::string::npos &&
                             report.find("possibly lost: 0 bytes") != std::string::npos));
    // Only the three standard descriptors and what the program inherited are
    // open when it ends: memcheck marks the inherited ones.
    std::regex fds(R"(FILE DESCRIPTORS: [0-9]+ open)");
    ASSERT_TRUE(std::regex_search(report, fds)) << "no descriptor report";
    std::regex openFd(R"(Open (?:file descriptor|AF_\w+ socket) ([0-9]+)[^\n]*\n[^\n]*)");
    std::vector<std::string> leaked;
    for (std::sregex_iterator it(report.begin(), report.end(), openFd), end; it != end; ++it) {
        std::string next = (*it)[0].str();
        int fd = std::stoi((*it)[1].str());
        if (fd > 2 && next.find("<inherited from parent>") == std::string::npos)
            leaked.push_back(next);
    }
    EXPECT_TRUE(leaked.empty()) << "descriptors left open: " << leaked.size();

    // One row for the reliability report: case, status, heap use, time.
    std::smatch heap;
    std::regex usage(
        R"(total heap usage: ([0-9,]+) allocs, ([0-9,]+) frees, ([0-9,]+) bytes allocated)");
    std::string allocs = "?", frees = "?", bytes = "?";
    if (std::regex_search(report, heap, usage)) {
        allocs = heap[1].str();
        frees = heap[2].str();
        bytes = heap[3].str();
    }
    std::printf("ROW | %s | %d | %s | %s | %s | %.1f |\n", c.name, r.status, allocs.c_str(),
                frees.c_str(), bytes.c_str(), r.seconds);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Memcheck, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ValgrindCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
