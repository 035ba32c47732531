// End-to-end runs of qor-vprinter with the test client on /dev/usb/lpN.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "TestCertificate.h"

namespace {

using RunResult = qor::proc::Result;

RunResult run(const std::vector<std::string>& argv, int limitSeconds = 30) {
    return qor::proc::run(argv, limitSeconds);
}

class VirtualPrinter : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for the mount namespace";
        m_Dir = "/tmp/vprinter-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mkdir(m_Dir.c_str(), 0700);
    }
    void TearDown() override {
        if (!m_Dir.empty()) {
            std::string cmd = "rm -rf '" + m_Dir + "'";
            EXPECT_EQ(system(cmd.c_str()), 0);
        }
        struct stat st {};
        EXPECT_NE(stat("/dev/usb", &st), 0) << "a /dev/usb was left on the machine";
    }
    std::string file(const std::string& name, const std::string& text) {
        std::string path = m_Dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string journal() { return m_Dir + "/journal"; }
    std::vector<std::string> readLines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }
    // qor-vprinter OPTIONS -- vp-client CLIENT_ARGS
    RunResult serve(std::vector<std::string> options, std::vector<std::string> client,
                    int limit = 30) {
        std::vector<std::string> argv{VPRINTER_BIN};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("--");
        argv.push_back(VPCLIENT_BIN);
        argv.insert(argv.end(), client.begin(), client.end());
        return run(argv, limit);
    }
    std::string m_Dir;
};

}  // namespace

TEST_F(VirtualPrinter, AnswersSsidAddressAndSurveyThroughTheMountedNode) {
    std::string scenario = file("s", "ssid = Home\nip = 10.0.0.7\nsurvey_direct = Cell 01\\n\n");
    RunResult r = serve({"--kind", "direct", "--scenario", scenario, "--journal", journal()},
                        {"A5000650E0D8002808", "A5000650E0D8000A02", "A5000650E0D8002839"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "REPLY A5000D50E0D80028080005486F6D6500\n"
              "REPLY A5000C50E0D8000A0200040A000007\n"
              "REPLY A5001050E0D8002839000843656C6C2030310A\n");
    EXPECT_EQ(r.err, "");
    auto lines = readLines(journal());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(
        lines[0].substr(0, lines[0].find(",\"received_ms\":")),
        "{\"seq\":1,\"kind\":\"read\",\"forwarded\":false,\"command\":\"D8\",\"group\":\"28\","
        "\"item\":\"08\",\"hex\":\"A5000650E0D8002808\",\"answered\":true");
    EXPECT_NE(lines[2].find("\"item\":\"39\""), std::string::npos);
}

TEST_F(VirtualPrinter, AnswersTheForwardedSurveySentAsThreePacketsInOneWrite) {
    std::string scenario = file("s", "survey_forward = Cell\n");
    RunResult r = serve({"--scenario", scenario, "--journal", journal()},
                        {"A5001080A45BA45B10EFA45B11EE00FF13EC2E"
                         "A5000F50E063020009A5000650E0D8002839"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Flags, class, 63, sub-channel, three bytes, then the inner answer at byte 10.
    EXPECT_EQ(r.out, "REPLY A5001650E0630200000FA5000C50E0D8002839000443656C6C\n");
    auto lines = readLines(journal());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"kind\":\"preamble\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"kind\":\"read\",\"forwarded\":true"), std::string::npos);
}

TEST_F(VirtualPrinter, AssemblesARequestThatArrivesInPieces) {
    RunResult r = serve({"--kind", "direct"}, {"--pieces", "A5000B50E0DA0128080000024100"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "REPLY A5000450E0DA01\n");
}

TEST_F(VirtualPrinter, ServesManyOpenAndCloseCyclesAndRecordsWrites) {
    RunResult r = serve({"--kind", "direct", "--journal", journal()},
                        {"A5000B50E0DA0128080000024100", "A5000650E0D8002808", "A5000650E0D8002815",
                         "A5000750E08100020509", "A5000A50E0DA01061400000101"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "REPLY A5000450E0DA01\n"
              "REPLY A5000A50E0D800280800024100\n"
              "REPLY A5000C50E0D8002815000400000000\n"
              "REPLY A5000950E081000205090001\n"
              "REPLY A5000450E0DA01\n");
    auto lines = readLines(journal());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("\"records\":[{\"group\":\"28\",\"item\":\"08\",\"value_hex\":\"4100\","
                            "\"value_text\":\"A\\u0000\"}]"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[3].find("\"kind\":\"support\""), std::string::npos);
    EXPECT_NE(lines[4].find("{\"group\":\"06\",\"item\":\"14\",\"value_hex\":\"01\""),
              std::string::npos);
}

TEST_F(VirtualPrinter, InjectsFaultsOnTheWire) {
    std::string scenario = file("s",
                                "kind = direct\nssid = A\n"
                                "fault = request:1 silent\n"
                                "fault = request:2 error D4\n"
                                "fault = request:3 garbage 0011\n"
                                "fault = request:4 truncate 4\n"
                                "stop_after = 4\n");
    RunResult r = serve({"--scenario", scenario},
                        {"A5000650E0D8002808", "A5000650E0D8002808", "A5000650E0D8002808",
                         "A5000650E0D8002808", "A5000650E0D8002808"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "REPLY \n"
              "REPLY A50006D4E0D8002808\n"
              "REPLY 0011A5000A50E0D800280800024100\n"
              "REPLY A5000A50\n"
              "REPLY \n");
}

// The journal's times: when the request came and when the last byte of its
// answer went out (null when none did), on CLOCK_MONOTONIC milliseconds.
TEST_F(VirtualPrinter, JournalTimesEachAnswer) {
    std::string scenario = file("s",
                                "kind = direct\nssid = A\n"
                                "fault = request:2 delay 300\n"
                                "fault = request:3 silent\n"
                                "fault = request:4 delay 3000\n");
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    RunResult r = serve(
        {"--scenario", scenario, "--journal", journal()},
        {"A5000650E0D8002808", "A5000650E0D8002808", "A5000650E0D8002808", "A5000650E0D8002808"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto lines = readLines(journal());
    ASSERT_EQ(lines.size(), 4u);
    struct Row {
        bool answered;        // an answer byte went out
        double minMs, maxMs;  // bounds of answered_ms - received_ms
    } rows[] = {
        {true, 0, 250},     // at once
        {true, 299, 1500},  // delayed (the printer schedules on whole milliseconds)
        {false, 0, 0},      // silent
        {false, 0, 0},      // its answer was due after the client closed the node
    };
    double start = before.tv_sec * 1e3 + before.tv_nsec / 1e6, previous = start;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        size_t at = line.find(",\"received_ms\":");
        ASSERT_NE(at, std::string::npos) << line;
        double received = std::strtod(line.c_str() + at + 15, nullptr);
        EXPECT_GE(received, previous) << line;
        previous = received;
        size_t answeredAt = line.find(",\"answered_ms\":");
        ASSERT_NE(answeredAt, std::string::npos) << line;
        std::string answered = line.substr(answeredAt + 15);
        if (!rows[i].answered) {
            EXPECT_EQ(answered, "null}") << line;
            continue;
        }
        double took = std::strtod(answered.c_str(), nullptr) - received;
        EXPECT_GE(took, rows[i].minMs) << line;
        EXPECT_LE(took, rows[i].maxMs) << line;
    }
    EXPECT_LE(previous - start, r.seconds * 1e3);
}

TEST_F(VirtualPrinter, SplitsAReplyByteByByteWithPauses) {
    std::string scenario = file("s", "kind = direct\nssid = A\nfault = read split 60\n");
    RunResult r = serve({"--scenario", scenario}, {"A5000650E0D8002808"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "REPLY A5000A50E0D800280800024100\n");
    // 13 bytes, 12 pauses of 60 ms
    EXPECT_GE(r.seconds, 0.7);
    EXPECT_LT(r.seconds, 10.0);
}

TEST_F(VirtualPrinter, PassesTheExitStatusAndOutputThrough) {
    RunResult r = serve({}, {"--exit", "7"});
    EXPECT_EQ(r.status, 7);
    RunResult echo = run({VPRINTER_BIN, "--", "/bin/echo", "hello"});
    EXPECT_EQ(echo.status, 0);
    EXPECT_EQ(echo.out, "hello\n");
    EXPECT_EQ(echo.err, "");
    RunResult killed = run({VPRINTER_BIN, "--", "/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(killed.status, 128 + SIGTERM);
    RunResult missing = run({VPRINTER_BIN, "--", "/nonexistent/program"});
    EXPECT_EQ(missing.status, 125);
    EXPECT_NE(missing.err.find("qor-vprinter: running /nonexistent/program:"), std::string::npos);
}

TEST_F(VirtualPrinter, MountsTheNodeOnlyInsideTheCommandsNamespace) {
    RunResult r = run({VPRINTER_BIN, "--lp", "3", "--", "/bin/sh", "-c",
                       "test -c /dev/usb/lp3 && test ! -e /dev/usb/lp0 && echo ok > /dev/null && "
                       "test -c /dev/null && test -c /dev/urandom && ls /dev/usb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "lp3\n");
    struct stat st {};
    EXPECT_NE(stat("/dev/usb", &st), 0);
}

TEST_F(VirtualPrinter, RefusesBadCommandLinesAndScenarios) {
    RunResult r = run({VPRINTER_BIN, "--colour", "red", "--", "/bin/true"});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err.rfind("qor-vprinter: unknown option '--colour'\nusage: qor-vprinter", 0), 0u)
        << r.err;
    r = run({VPRINTER_BIN, "--lp", "x", "--", "/bin/true"});
    EXPECT_EQ(r.status, 125);
    r = run({VPRINTER_BIN, "--kind", "direct"});
    EXPECT_EQ(r.status, 125);
    EXPECT_NE(r.err.find("no command given after --"), std::string::npos);
    std::string scenario = file("bad", "ssid = x\nip = nowhere\n");
    r = run({VPRINTER_BIN, "--scenario", scenario, "--", "/bin/true"});
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err, "qor-vprinter: " + scenario + ":2: ip must be a dotted IPv4 address\n");
}

// Installing the same CA twice in one session: the second install finds the
// first under the name the printer derived from the certificate and removes
// it first, so the printer ends up holding it once.
TEST_F(VirtualPrinter, ReinstalledCaIsFoundUnderItsDerivedNameAndReplaced) {
    std::string pem =
        vptest::pemCertificate("/O=Acme/CN=PrinterCA", "100105000000Z", "111231235959Z");
    ASSERT_FALSE(pem.empty());
    std::string ca = file("root.pem", pem);
    std::string install = std::string(QORCONFIG_BIN) + " -icer --802-CA-cer-file=" + ca;
    RunResult r = run({VPRINTER_BIN, "--journal", journal(), "--", "/bin/sh", "-c",
                       install + " && echo first-done >&2 && " + install},
                      90);
    EXPECT_EQ(r.status, 0) << r.err;
    size_t second = r.err.find("first-done\n");
    ASSERT_NE(second, std::string::npos) << r.err;
    const std::string removing =
        "D [QOR] CA Common name to match: 'PrinterCA_Jan__5_2010_To_Dec_31_2011'\n"
        "D [QOR] CA cert exist! Removing...\n";
    EXPECT_EQ(r.err.find(removing), r.err.find(removing, second)) << r.err;
    EXPECT_NE(r.err.find(removing, second), std::string::npos) << r.err;
    std::string lines;
    for (const auto& line : readLines(journal()))
        if (line.find("\"method\":\"deleteIndividualCA\"") != std::string::npos)
            lines += line;
    EXPECT_NE(lines.find("PrinterCA_Jan__5_2010_To_Dec_31_2011"), std::string::npos) << lines;
}
