// The exchanges end to end: the transport library (in npa-probe) against the
// virtual printer, which serves /dev/usb/lp0 in a private mount namespace;
// once over the device node and once over libusb, with the fake libusb-0.1
// preloaded and carrying the bulk transfers to the same node.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"

using RunResult = qor::proc::Result;

namespace {

struct Step {
    std::string kind;  // ONCE or STREAM
    int count = -1;
    std::string hex;
    long ms = -1;
};

// "ONCE 16 A5... ms=4123" lines.
std::vector<Step> steps(const std::string& out) {
    std::vector<Step> result;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        Step s;
        std::string third, fourth;
        words >> s.kind >> s.count >> third >> fourth;
        if (third.rfind("ms=", 0) == 0) {
            fourth = third;  // nothing came: no hex word
            third.clear();
        }
        s.hex = third;
        if (fourth.rfind("ms=", 0) == 0)
            s.ms = std::atol(fourth.c_str() + 3);
        result.push_back(s);
    }
    return result;
}

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const char kSsidRead[] = "A5000650E0D8002808";
const char kForward[] = "A5000F50E063020009";

class TransportEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for the mount namespace";
        m_Dir = "/tmp/qor-transport-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(mkdir(m_Dir.c_str(), 0700), 0);
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
    std::string journal() {
        std::ifstream in(m_Dir + "/journal");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // qor-vprinter --scenario S --journal J -- [env ...] npa-probe PATH STEPS
    RunResult probe(const std::string& scenario, const std::string& path,
                    const std::vector<std::string>& stepArgs, bool overLibUsb = false) {
        std::vector<std::string> argv{VPRINTER_BIN,
                                      "--scenario",
                                      file("scenario", scenario),
                                      "--journal",
                                      m_Dir + "/journal",
                                      "--log",
                                      m_Dir + "/log",
                                      "--"};
        if (overLibUsb) {
            const char* asan = std::getenv("ASAN_OPTIONS");
            std::string asanOptions = std::string(asan ? asan : "");
            asanOptions += (asanOptions.empty() ? "" : ":");
            asanOptions += "verify_asan_link_order=0";
            argv.insert(argv.end(), {"/usr/bin/env", std::string("LD_PRELOAD=") + FAKEUSB_LIB,
                                     "QOR_FAKEUSB_NODE=/dev/usb/lp0", "QOR_FAKEUSB_BUS=001",
                                     "QOR_FAKEUSB_DEVICE=002", "QOR_FAKEUSB_PACKET=8",
                                     "ASAN_OPTIONS=" + asanOptions});
        }
        argv.push_back(PROBE_BIN);
        argv.push_back(path);
        argv.insert(argv.end(), stepArgs.begin(), stepArgs.end());
        RunResult r = qor::proc::run(argv, 100);
        if (r.status != 0) {
            std::ifstream log(m_Dir + "/log");
            std::ostringstream text;
            text << log.rdbuf();
            ADD_FAILURE() << "probe failed (" << r.status << "): " << r.err << "\nlog:\n"
                          << text.str();
        }
        return r;
    }
    std::string m_Dir;
};

}  // namespace

TEST_F(TransportEndToEnd, BothExchangesOverTheDeviceNode) {
    RunResult r =
        probe("kind = direct\nssid = Home\n", "/dev/usb/lp0",
              {std::string("once:") + kSsidRead + ":0:255", "stream:A5000B50E0DA0128080000024100:3",
               std::string("stream:") + kSsidRead + ":3"});
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 3u) << r.out;
    // The raw reply, header included; whole by its length, so it ends there.
    EXPECT_EQ(s[0].kind, "ONCE");
    EXPECT_EQ(s[0].count, 16);
    EXPECT_EQ(s[0].hex, "A5000D50E0D80028080005486F6D6500");
    EXPECT_LT(s[0].ms, 500);
    // The stream keeps what follows each flags byte and stops at once after
    // the last packet.
    EXPECT_EQ(s[1].count, 3);
    EXPECT_EQ(s[1].hex, "E0DA01");
    EXPECT_LT(s[1].ms, 500);
    EXPECT_EQ(s[2].hex, "E0D800280800024100");  // the write took effect
    // One open per request, and the last release says so once.
    EXPECT_EQ(r.err, "D [QOR] Destroying last instance of usb transport.\n");
    std::string j = journal();
    EXPECT_NE(j.find("\"hex\":\"A5000B50E0DA0128080000024100\""), std::string::npos) << j;
}

TEST_F(TransportEndToEnd, StreamCollectsAForwardedAnswerInSeveralPackets) {
    RunResult r =
        probe("kind = forward\nsurvey_forward = abcdef\nsurvey_packets = 3\n", "/dev/usb/usblp0",
              {std::string("stream:") + kForward + "A5000650E0D8002839:4"});
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 1u) << r.out;
    // Outer answer (inner reply from body byte 7), then two bare packets.
    EXPECT_EQ(s[0].hex,
              "E0630200000D"
              "A5000A70E0D800283900026162"
              "E06364"
              "E06566");
    EXPECT_LT(s[0].ms, 3500);
}

TEST_F(TransportEndToEnd, ARequestLargerThanTheNodeTakesAtOnceArrivesWhole) {
    // A certificate manager call of about 16 KiB: the terminal takes far
    // less per write, so the connector must write on until all is out.
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"420\">"
        "<arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">queryCAList</arg>"
        "<arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"pad\"><StringElem>" +
        std::string(16000, 'x') +
        "</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
    std::string preamble = "A5001080A45BA45B10EFA45B11EE00FF13EC2E";
    size_t length = xml.size() + 6;
    char header[32];
    std::snprintf(header, sizeof header, "A5%04zX50E0C0030001", length & 0xFFFF);
    std::string call = std::string(header) + toHex(xml);
    std::string request = file("request.hex", preamble + call);
    RunResult r = probe("ca = RootCA\n", "/dev/usb/lp0", {"stream:@" + request + ":5"});
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 1u) << r.out;
    std::string kept = fromHex(s[0].hex);
    ASSERT_EQ(toHex(kept.substr(0, 7)), "E0C003000100E0");
    std::string answer;
    for (char c : kept.substr(7))
        if (static_cast<unsigned char>(c) != 0xE0)
            answer.push_back(c);
    EXPECT_NE(answer.find("<child name=\"cert_list\"><ListElem><StringElem>RootCA</StringElem>"),
              std::string::npos)
        << answer;
    // The printer received the call in one piece.
    std::string j = journal();
    EXPECT_NE(j.find("\"kind\":\"certmgr\""), std::string::npos);
    EXPECT_NE(j.find("\"hex\":\"" + call + "\""), std::string::npos) << "request cut short";
    EXPECT_EQ(j.find("not understood"), std::string::npos) << j.substr(0, 400);
}

TEST_F(TransportEndToEnd, StreamThroughInjectedFaults) {
    RunResult r = probe(
        "kind = direct\nssid = A\n"
        "fault = request:1 silent\n"
        "fault = request:2 error D4\n"
        "fault = request:3 garbage 0011FF\n"
        "fault = request:4 split 40\n"
        "fault = request:5 truncate 6\n",
        "/dev/usb/lp0",
        {std::string("stream:") + kSsidRead + ":3", std::string("stream:") + kSsidRead + ":3",
         std::string("stream:") + kSsidRead + ":3", std::string("stream:") + kSsidRead + ":3",
         std::string("stream:") + kSsidRead + ":3"});
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 5u) << r.out;
    // Silence: the header read gives up after its window, then the stream's.
    EXPECT_EQ(s[0].count, 0);
    EXPECT_GE(s[0].ms, 5900);
    EXPECT_LT(s[0].ms, 9000);
    // An error answer ends the reading at once and gives nothing.
    EXPECT_EQ(s[1].count, 0);
    EXPECT_LT(s[1].ms, 3500);
    // Garbage before the answer is skipped byte by byte.
    EXPECT_EQ(s[2].hex, "E0D800280800024100");
    // An answer that trickles in byte by byte is still gathered whole.
    EXPECT_EQ(s[3].hex, "E0D800280800024100");
    // A cut answer: its declared length is never trusted, nothing is kept.
    EXPECT_EQ(s[4].count, 0);
    EXPECT_LT(s[4].ms, 9000);
}

TEST_F(TransportEndToEnd, OnceThroughInjectedFaults) {
    RunResult r = probe(
        "kind = direct\nssid = A\n"
        "fault = request:1 error D4\n"
        "fault = request:2 split 40\n"
        "stop_after = 2\n",
        "/dev/usb/lp0",
        {std::string("once:") + kSsidRead + ":0:255", std::string("once:") + kSsidRead + ":0:255",
         std::string("once:") + kSsidRead + ":0:255"});
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 3u) << r.out;
    // The raw error answer is handed to the caller, which judges byte 3.
    EXPECT_EQ(s[0].hex, "A50006D4E0D8002808");
    // Byte by byte, 40 ms apart: every arrival starts the window again.
    EXPECT_EQ(s[1].hex, "A5000A50E0D800280800024100");
    // A printer that has stopped answering: nothing, after the window.
    EXPECT_EQ(s[2].count, 0);
    EXPECT_GE(s[2].ms, 3900);
    EXPECT_LT(s[2].ms, 7000);
}

TEST_F(TransportEndToEnd, BothExchangesOverLibUsb) {
    std::string preamble = "A5001080A45BA45B10EFA45B11EE00FF13EC2E";
    RunResult r =
        probe("kind = forward\nssid = Home\nsurvey_forward = abcdef\nsurvey_packets = 2\n", "1:2",
              {std::string("stream:") + kForward + "A5000650E0D8002808:3",
               std::string("stream:") + preamble + kForward + "A5000650E0D8002839:4",
               std::string("once:") + kForward + "A5000650E0D8002808:0:255"},
              true);
    auto s = steps(r.out);
    ASSERT_EQ(s.size(), 3u) << r.out << r.err;
    EXPECT_EQ(s[0].hex,
              "E06302000010"
              "A5000D50E0D80028080005486F6D6500");
    EXPECT_LT(s[0].ms, 4000);
    EXPECT_EQ(s[1].hex,
              "E0630200000E"
              "A5000B70E0D8002839000361626"
              "3"
              "E0646566");
    // Whole by the outer packet's length: no wait for the rest of the buffer.
    EXPECT_EQ(s[2].hex,
              "A50017"
              "50E06302000010"
              "A5000D50E0D80028080005486F6D6500");
    EXPECT_LT(s[2].ms, 1000);
    std::string j = journal();
    EXPECT_NE(j.find("\"kind\":\"preamble\""), std::string::npos) << j;
}

// A one-shot exchange ends when the answer is whole by its framing, however
// it arrives, and waits the sleep plus the read window when it is not.
TEST_F(TransportEndToEnd, OnceEndsAtTheWholeAnswer) {
    const std::string ssid = std::string("once:") + kSsidRead;
    const std::string forwarded = std::string("once:") + kForward + "A5000650E0D8002839";
    struct Row {
        const char* name;
        std::string scenario;
        std::string step;
        std::string hex;  // empty: nothing comes
        long minMs, maxMs;
    } rows[] = {
        {"split over writes with gaps", "kind = direct\nssid = A\nfault = request:1 split 150\n",
         ssid + ":0:255", "A5000A50E0D800280800024100", 1700, 2600},
        {"more packets announced", "kind = forward\nsurvey_forward = abcdef\nsurvey_packets = 3\n",
         forwarded + ":0:255",
         "A5001470E0630200000DA5000A70E0D800283900026162"
         "A5000470E06364"
         "A5000450E06566",
         0, 500},
        {"slow, inside the deadline", "kind = direct\nssid = A\nfault = request:1 delay 5500\n",
         ssid + ":2:255", "A5000A50E0D800280800024100", 5400, 6200},
        {"silent: sleep plus window", "kind = direct\nssid = A\nfault = request:1 silent\n",
         ssid + ":2:255", "", 5900, 7100},
    };
    for (const Row& row : rows) {
        RunResult r = probe(row.scenario, "/dev/usb/lp0", {row.step});
        auto s = steps(r.out);
        ASSERT_EQ(s.size(), 1u) << row.name << r.out;
        EXPECT_EQ(s[0].hex, row.hex) << row.name;
        EXPECT_GE(s[0].ms, row.minMs) << row.name;
        EXPECT_LT(s[0].ms, row.maxMs) << row.name;
    }
}
