#include "Scenario.h"

#include <gtest/gtest.h>

using namespace vprinter;

TEST(ScenarioFile, ReadsValuesAndCommentsAndEscapes) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        parseScenario("# a comment\n"
                      "kind = direct\n"
                      "ssid = Office Net\n"
                      "ip = 10.1.2.3\n"
                      "connect_after = 2\n"
                      "ip_after = never\n"
                      "survey_direct = Cell 01\\nESSID:\"A\"\\n\n"
                      "setting.2A.0A = 41 42\n"
                      "cert_default.O = R&D\n"
                      "ca = RootCA | root.pem\n"
                      "cert = printer-cert\n"
                      "stop_after = 5\n",
                      "t", s, error))
        << error;
    EXPECT_EQ(s.kind, PrinterKind::Direct);
    Bytes ssid{'O', 'f', 'f', 'i', 'c', 'e', ' ', 'N', 'e', 't', 0};
    EXPECT_EQ(s.settings[settingKey(0x28, 0x08)], ssid);
    EXPECT_EQ(s.settings[settingKey(0x0A, 0x02)], (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(s.connectAfter, 2);
    EXPECT_EQ(s.ipAfter, -1);
    EXPECT_EQ(s.surveyDirect, "Cell 01\nESSID:\"A\"\n");
    EXPECT_EQ(s.settings[settingKey(0x2A, 0x0A)], (Bytes{'A', 'B'}));
    EXPECT_EQ(s.certDefaults["O"], "R&D");
    ASSERT_EQ(s.cas.size(), 1u);
    EXPECT_EQ(s.cas[0].commonName, "RootCA");
    EXPECT_EQ(s.cas[0].fileName, "root.pem");
    EXPECT_EQ(s.certs, std::vector<std::string>{"printer-cert"});
    EXPECT_EQ(s.stopAfter, 5);
}

TEST(ScenarioFile, ReadsFaultRules) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        parseScenario("fault = read:28:15 error D8 times 2\n"
                      "fault = fwd-write split 20\n"
                      "fault = request:3 silent\n"
                      "fault = certmgr:queryCAList garbage 0011\n",
                      "t", s, error))
        << error;
    ASSERT_EQ(s.faults.size(), 4u);
    EXPECT_EQ(s.faults[0].action, FaultAction::Error);
    EXPECT_EQ(s.faults[0].value, 0xD8);
    EXPECT_EQ(s.faults[0].times, 2);
    EXPECT_EQ(s.faults[0].selector.group, 0x28);
    EXPECT_EQ(s.faults[0].selector.item, 0x15);
    EXPECT_EQ(s.faults[1].selector.forwarded, 1);
    EXPECT_EQ(s.faults[1].selector.kind, "write");
    EXPECT_EQ(s.faults[1].value, 20);
    EXPECT_EQ(s.faults[2].selector.sequence, 3);
    EXPECT_EQ(s.faults[3].selector.method, "queryCAList");
    EXPECT_EQ(s.faults[3].bytes, (Bytes{0x00, 0x11}));
}

TEST(ScenarioFile, ReportsTheLineOfABadEntry) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"ssid = a\nnonsense\n", "t:2: expected 'key = value'"},
        {"colour = red\n", "t:1: unknown key 'colour'"},
        {"ip = 300.1.1.1\n", "t:1: ip must be a dotted IPv4 address"},
        {"kind = usb\n", "t:1: kind must be forward or direct"},
        {"connect_after = soon\n", "t:1: connect_after must be a count or never"},
        {"fault = read frobnicate\n", "t:1: unknown fault action 'frobnicate'"},
        {"fault = read:2G:15 silent\n",
         "t:1: setting in fault selector must be two hex bytes: read:GG:II"},
        {"fault = read error 12\n", "t:1: error flags must be a hex byte with bit 0x80 (D4 or D8)"},
        {"fault = read silent twice\n",
         "t:1: trailing words in fault; only 'times N' may follow the action"},
        {"setting.28.8 = 00\n", "t:1: setting key must be setting.GG.II (hex)"},
        {"setting.28.08 = 0\n", "t:1: setting value must be hex bytes"},
        {"survey_direct = a\\q\n", "t:1: bad escape in value"},
        {"survey_direct_file = /nonexistent/vp\n",
         "t:1: cannot read survey file '/nonexistent/vp'"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(parseScenario(c.text, "t", s, error)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
    }
    Scenario s;
    std::string error;
    EXPECT_FALSE(loadScenario("/nonexistent/scenario", s, error));
    EXPECT_EQ(error, "/nonexistent/scenario: cannot read scenario file");
}
