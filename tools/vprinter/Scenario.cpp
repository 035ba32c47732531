#include "Scenario.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vprinter {

namespace {

const char kDefaultForwardSurvey[] =
    "wlan0     Scan completed :\n"
    "          Cell 01 - Address: 00:11:22:33:44:55\n"
    "                    ESSID:\"HomeNet\"\n"
    "                    Mode:Master\n"
    "                    Frequency:2.437 GHz (Channel 6)\n"
    "                    Quality=70/100  Signal level:-48 dBm  Noise level=-95 dBm\n"
    "                    Encryption key:on\n"
    "                    IE:IEEE 802.11i/WPA2 Version 1\n"
    "                    Extra:wpa_ie=30\n"
    "          Cell 02 - Address: 00:11:22:33:44:66\n"
    "                    ESSID:\"Cafe\"\n"
    "                    Mode:Master\n"
    "                    Frequency:2.412 GHz (Channel 1)\n"
    "                    Quality=40/100  Signal level:-71 dBm  Noise level=-95 dBm\n"
    "                    Encryption key:off\n";

const char kDefaultDirectSurvey[] =
    "Cell 01 - Address: 00:11:22:33:44:55\n"
    "ESSID:\"HomeNet\"\n"
    "Mode:Managed\n"
    "Channel=6\n"
    "Signal level=-48 dBm\n"
    "Encryption key:on\n"
    "IE:IEEE 802.11i/WPA2 Version 1\n"
    "Extra:wpa_ie=30\n"
    "Cell 02 - Address: 00:11:22:33:44:66\n"
    "ESSID:\"Cafe\"\n"
    "Mode:Managed\n"
    "Channel=1\n"
    "Signal level=-71 dBm\n"
    "Encryption key:off\n";

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Inline texts may carry \n, \t, \\ and \xHH escapes.
bool unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        char e = text[++i];
        if (e == 'n')
            out.push_back('\n');
        else if (e == 't')
            out.push_back('\t');
        else if (e == 'r')
            out.push_back('\r');
        else if (e == '\\')
            out.push_back('\\');
        else if (e == 'x') {
            Bytes b;
            if (i + 2 >= text.size())
                return false;
            if (!fromHex(text.substr(i + 1, 2), b) || b.size() != 1)
                return false;
            out.push_back(static_cast<char>(b[0]));
            i += 2;
        } else
            return false;
    }
    return true;
}

bool parseInt(const std::string& text, long low, long high, long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

// A poll count: a number of polls, or "never".
bool parseCount(const std::string& text, int& out) {
    if (text == "never") {
        out = -1;
        return true;
    }
    long value;
    if (!parseInt(text, 0, 1000000, value))
        return false;
    out = static_cast<int>(value);
    return true;
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        out.push_back(word);
    return out;
}

bool parseSelector(const std::string& text, FaultSelector& out, std::string& why) {
    // kind[:GG:II] or kind:METHOD, optionally prefixed by fwd- or direct-, or request:N
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ':'))
        parts.push_back(part);
    if (parts.empty()) {
        why = "empty fault selector";
        return false;
    }
    std::string kind = parts[0];
    if (kind == "request") {
        long n;
        if (parts.size() != 2 || !parseInt(parts[1], 1, 1000000000, n)) {
            why = "request selector needs a number: request:N";
            return false;
        }
        out.sequence = static_cast<int>(n);
        return true;
    }
    if (kind.rfind("fwd-", 0) == 0) {
        out.forwarded = 1;
        kind = kind.substr(4);
    } else if (kind.rfind("direct-", 0) == 0) {
        out.forwarded = 0;
        kind = kind.substr(7);
    }
    static const char* kinds[] = {"any",     "read",    "write",   "support",
                                  "certmgr", "unknown", "preamble"};
    bool known = false;
    for (const char* k : kinds)
        known = known || kind == k;
    if (!known) {
        why = "unknown request kind '" + kind + "' in fault selector";
        return false;
    }
    out.kind = kind;
    if (kind == "certmgr" && parts.size() == 2) {
        out.method = parts[1];
        return true;
    }
    if (parts.size() == 3 && (kind == "read" || kind == "write")) {
        long g, i;
        if (!parseInt("0x" + parts[1], 0, 255, g) || !parseInt("0x" + parts[2], 0, 255, i)) {
            why = "setting in fault selector must be two hex bytes: " + kind + ":GG:II";
            return false;
        }
        out.group = static_cast<int>(g);
        out.item = static_cast<int>(i);
        return true;
    }
    if (parts.size() != 1) {
        why = "bad fault selector '" + text + "'";
        return false;
    }
    return true;
}

bool parseFault(const std::string& value, FaultRule& rule, std::string& why) {
    std::vector<std::string> w = words(value);
    if (w.size() < 2) {
        why = "fault needs a selector and an action";
        return false;
    }
    if (!parseSelector(w[0], rule.selector, why))
        return false;
    const std::string& action = w[1];
    size_t next = 2;
    long n = 0;
    auto needNumber = [&](long low, long high) {
        if (next >= w.size() || !parseInt(w[next], low, high, n))
            return false;
        ++next;
        return true;
    };
    if (action == "silent") {
        rule.action = FaultAction::Silent;
    } else if (action == "error") {
        rule.action = FaultAction::Error;
        rule.value = 0xD4;
        if (next < w.size() && w[next] != "times") {
            if (!parseInt("0x" + w[next], 0x80, 0xFF, n)) {
                why = "error flags must be a hex byte with bit 0x80 (D4 or D8)";
                return false;
            }
            rule.value = static_cast<int>(n);
            ++next;
        }
    } else if (action == "truncate") {
        rule.action = FaultAction::Truncate;
        if (!needNumber(0, 1000000)) {
            why = "truncate needs a byte count";
            return false;
        }
        rule.value = static_cast<int>(n);
    } else if (action == "garble") {
        rule.action = FaultAction::Garble;
    } else if (action == "garbage") {
        rule.action = FaultAction::Garbage;
        if (next >= w.size() || !fromHex(w[next], rule.bytes) || rule.bytes.empty()) {
            why = "garbage needs hex bytes";
            return false;
        }
        ++next;
    } else if (action == "split" || action == "delay") {
        rule.action = action == "split" ? FaultAction::Split : FaultAction::Delay;
        if (!needNumber(0, 600000)) {
            why = action + " needs milliseconds";
            return false;
        }
        rule.value = static_cast<int>(n);
    } else {
        why = "unknown fault action '" + action + "'";
        return false;
    }
    if (next < w.size()) {
        if (w[next] != "times" || next + 2 != w.size() || !parseInt(w[next + 1], 1, 1000000, n)) {
            why = "trailing words in fault; only 'times N' may follow the action";
            return false;
        }
        rule.times = static_cast<int>(n);
    }
    return true;
}

bool parseIpv4(const std::string& text, Bytes& out) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&address);
    out.assign(p, p + 4);
    return true;
}

Bytes textBytes(const std::string& text, bool terminate) {
    Bytes out(text.begin(), text.end());
    if (terminate)
        out.push_back(0);
    return out;
}

}  // namespace

Scenario::Scenario() {
    surveyForward = kDefaultForwardSurvey;
    surveyDirect = kDefaultDirectSurvey;
    settings[settingKey(0x28, 0x08)] = textBytes("HomeNet", true);
    settings[settingKey(0x0A, 0x02)] = {192, 168, 1, 20};
    settings[settingKey(0x28, 0x01)] = {0x01};
    settings[settingKey(0x2A, 0x1D)] = {0x02};
    settings[settingKey(0x2A, 0x06)] = textBytes("Example Org", false);
    settings[settingKey(0x2A, 0x0A)] = textBytes("printer.example", false);
    certDefaults = {{"O", "Example Org"}, {"OU", "Printing"}, {"C", "US"},
                    {"ST", "Oregon"},     {"L", "Portland"},  {"CN", "printer.example"},
                    {"AN", "printer"}};
}

bool parseScenario(const std::string& text, const std::string& origin, Scenario& out,
                   std::string& error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = origin + ":" + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        std::string stripped = trim(line);
        if (stripped.empty() || stripped[0] == '#')
            continue;
        size_t eq = stripped.find('=');
        if (eq == std::string::npos)
            return fail("expected 'key = value'");
        std::string key = trim(stripped.substr(0, eq));
        std::string raw = trim(stripped.substr(eq + 1));
        std::string value;
        if (!unescape(raw, value))
            return fail("bad escape in value");
        long n = 0;
        if (key == "kind") {
            if (value == "forward")
                out.kind = PrinterKind::Forward;
            else if (value == "direct")
                out.kind = PrinterKind::Direct;
            else
                return fail("kind must be forward or direct");
        } else if (key == "ssid") {
            out.settings[settingKey(0x28, 0x08)] = textBytes(value, true);
        } else if (key == "ip") {
            Bytes address;
            if (!parseIpv4(value, address))
                return fail("ip must be a dotted IPv4 address");
            out.settings[settingKey(0x0A, 0x02)] = address;
        } else if (key == "ip_after") {
            if (!parseCount(value, out.ipAfter))
                return fail("ip_after must be a count or never");
        } else if (key == "connect_after") {
            if (!parseCount(value, out.connectAfter))
                return fail("connect_after must be a count or never");
        } else if (key == "not_connected_state") {
            if (!parseInt(value, 1, 255, n))
                return fail("not_connected_state must be 1..255");
            out.notConnectedState = static_cast<uint8_t>(n);
        } else if (key == "adapter_after") {
            if (!parseCount(value, out.adapterAfter))
                return fail("adapter_after must be a count or never");
        } else if (key == "status_8021x") {
            if (!parseInt(value, 0, 255, n))
                return fail("status_8021x must be 0..255");
            out.settings[settingKey(0x2A, 0x1D)] = {static_cast<uint8_t>(n)};
        } else if (key == "cert_org") {
            out.settings[settingKey(0x2A, 0x06)] = textBytes(value, false);
        } else if (key == "cert_cn") {
            out.settings[settingKey(0x2A, 0x0A)] = textBytes(value, false);
        } else if (key == "wireless") {
            if (!parseInt(value, 0, 255, n))
                return fail("wireless must be 0..255");
            out.settings[settingKey(0x28, 0x01)] = {static_cast<uint8_t>(n)};
        } else if (key == "support") {
            if (!parseInt(value, 0, 255, n))
                return fail("support must be 0..255");
            out.supportByte = static_cast<uint8_t>(n);
        } else if (key == "write_status") {
            if (!parseInt(value, 0, 255, n))
                return fail("write_status must be 0..255");
            out.writeStatus = static_cast<uint8_t>(n);
        } else if (key == "stop_after") {
            if (!parseInt(value, 0, 1000000000, n))
                return fail("stop_after must be a count");
            out.stopAfter = static_cast<int>(n);
        } else if (key == "foreign") {
            if (value != "ignore" && value != "error")
                return fail("foreign must be ignore or error");
            out.foreignError = value == "error";
        } else if (key == "survey_forward" || key == "survey_direct") {
            (key == "survey_forward" ? out.surveyForward : out.surveyDirect) = value;
        } else if (key == "survey_forward_file" || key == "survey_direct_file") {
            std::string content;
            if (!readFile(raw, content))
                return fail("cannot read survey file '" + raw + "'");
            (key == "survey_forward_file" ? out.surveyForward : out.surveyDirect) = content;
        } else if (key == "survey_packets") {
            if (!parseInt(value, 1, 64, n))
                return fail("survey_packets must be 1..64");
            out.surveyPackets = static_cast<int>(n);
        } else if (key.rfind("setting.", 0) == 0) {
            long g, i;
            Bytes data;
            if (key.size() != 13 || key[10] != '.' ||
                !parseInt("0x" + key.substr(8, 2), 0, 255, g) ||
                !parseInt("0x" + key.substr(11, 2), 0, 255, i))
                return fail("setting key must be setting.GG.II (hex)");
            if (!fromHex(raw, data))
                return fail("setting value must be hex bytes");
            out.settings[settingKey(static_cast<uint8_t>(g), static_cast<uint8_t>(i))] = data;
        } else if (key.rfind("cert_default.", 0) == 0) {
            std::string field = key.substr(13);
            if (!out.certDefaults.count(field))
                return fail("cert_default field must be O, OU, C, ST, L, CN or AN");
            out.certDefaults[field] = value;
        } else if (key == "ca") {
            // common name | file name | PEM path
            CaEntry ca;
            std::istringstream parts(value);
            std::getline(parts, ca.commonName, '|');
            std::getline(parts, ca.fileName, '|');
            std::getline(parts, ca.pemPath, '|');
            ca.commonName = trim(ca.commonName);
            ca.fileName = trim(ca.fileName);
            ca.pemPath = trim(ca.pemPath);
            if (ca.commonName.empty())
                return fail("ca needs a common name");
            if (ca.fileName.empty())
                ca.fileName = ca.commonName + ".pem";
            if (ca.pemPath.empty())
                ca.pemPath = "/certs/ca/" + ca.fileName;
            out.cas.push_back(ca);
        } else if (key == "cert") {
            if (value.empty())
                return fail("cert needs a friendly name");
            out.certs.push_back(value);
        } else if (key.rfind("cert_status.", 0) == 0) {
            std::string method = key.substr(12);
            std::istringstream parts(value);
            std::string code;
            parts >> code;
            std::string message;
            std::getline(parts, message);
            if (!parseInt(code, -1000000, 1000000, n))
                return fail("cert_status needs a code");
            out.certStatus[method] = {static_cast<int>(n), trim(message)};
        } else if (key == "cert_chunk") {
            if (!parseInt(value, 1, 60000, n))
                return fail("cert_chunk must be 1..60000");
            out.certChunk = static_cast<size_t>(n);
        } else if (key == "fault") {
            FaultRule rule;
            std::string why;
            if (!parseFault(value, rule, why))
                return fail(why);
            out.faults.push_back(rule);
        } else {
            return fail("unknown key '" + key + "'");
        }
    }
    return true;
}

bool loadScenario(const std::string& path, Scenario& out, std::string& error) {
    std::string text;
    if (!readFile(path, text)) {
        error = path + ": cannot read scenario file";
        return false;
    }
    return parseScenario(text, path, out, error);
}

}  // namespace vprinter
