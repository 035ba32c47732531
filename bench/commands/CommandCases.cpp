#include "CommandCases.h"

#include <cmath>

namespace qorbench {

namespace {

// A transport read returns a reply shorter than its buffer only when the
// whole-second clock has advanced more than this since the last data came.
constexpr double kReadWindowSeconds = 4;

Wait sleepFor(double seconds) {
    return Wait{Wait::Sleep, seconds};
}

const Wait kWindow{Wait::ReadWindow, 0};

// One-shot exchange (qorconfig's setting writes and status reads; qorlist's
// support query): a fixed sleep, then one read of a buffer that the reply
// does not fill, which therefore waits out the read window.
std::vector<Wait> once(double sleepSeconds) {
    return {sleepFor(sleepSeconds), kWindow};
}

// Packet-stream exchange (status queries, raw NPA, certificate manager
// calls, the site survey): a fixed sleep, then packets are read until one
// without the "more follows" flag; a complete reply needs no window.
std::vector<Wait> stream(double sleepSeconds) {
    return {sleepFor(sleepSeconds)};
}

std::vector<Wait> join(std::initializer_list<std::vector<Wait>> parts) {
    std::vector<Wait> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const char kHeldCa[] = "ca = BenchCA_Jan__5_2010_To_Dec_31_2030 | old.pem\n";

std::vector<CommandCase> makeCases() {
    const std::vector<std::string> wpa2 = {"--ssid=HomeNet", "--mode=Managed", "--security=WPA2",
                                           "--passwd=secret123"};
    auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    std::vector<CommandCase> cases = {
        // qorlist
        {"qorlist -h", "qorlist", {"-h"}, "forward", "", {}, "0", 0, "USAGE", ""},
        {"qorlist", "qorlist", {}, "forward", "", stream(2), "2", 0, "ESSID:\"HomeNet\"", ""},
        {"qorlist -x",
         "qorlist",
         {"-x"},
         "forward",
         "",
         stream(2),
         "2",
         0,
         "ssid=HomeNet&&:&&",
         ""},
        {"qorlist -m", "qorlist", {"-m"}, "forward", "", once(1), "1 + W", 0, "wifisupport:2", ""},
        // The forwarded survey gets no answer from a direct printer: its
        // stream read gives up after one read window, then the direct kind
        // sleeps 1.5 s and reads its survey.
        {"qorlist -x (direct printer)",
         "qorlist",
         {"-x"},
         "direct",
         "",
         join({stream(2), {kWindow}, stream(1.5)}),
         "2 + W + 1.5",
         0,
         "ssid=HomeNet&&:&&",
         ""},
        // The forwarded support query waits out its window unanswered; the
        // direct one reads at once and waits out the window of its short reply.
        {"qorlist -m (direct printer)",
         "qorlist",
         {"-m"},
         "direct",
         "",
         join({once(1), {kWindow}}),
         "1 + 2W",
         0,
         "wifisupport:1",
         ""},

        // qorconfig: printer-less words
        {"qorconfig -h", "qorconfig", {"-h"}, "forward", "", {}, "0", 0, "USAGE", ""},
        {"qorconfig (no arguments)", "qorconfig", {}, "forward", "", {}, "0", 0, "USAGE", ""},

        // qorconfig: status words
        {"qorconfig -s", "qorconfig", {"-s"}, "forward", "", once(2), "2 + W", 0, "HomeNet\n", ""},
        {"qorconfig -ip",
         "qorconfig",
         {"-ip"},
         "forward",
         "",
         once(3),
         "3 + W",
         0,
         "192.168.1.20\n",
         ""},
        {"qorconfig -t", "qorconfig", {"-t"}, "forward", "", once(2), "2 + W", 0, "", ""},
        {"qorconfig -a", "qorconfig", {"-a"}, "forward", "", once(0), "W", 0, "", ""},
        {"qorconfig -r", "qorconfig", {"-r"}, "forward", "", once(5), "5 + W", 0, "", ""},
        {"qorconfig -802s", "qorconfig", {"-802s"}, "forward", "", stream(2), "2", 2, "", ""},
        {"qorconfig -cer",
         "qorconfig",
         {"-cer"},
         "forward",
         "",
         join({stream(2), stream(2)}),
         "2 + 2",
         0,
         "",
         ""},
        {"qorconfig -npa -file",
         "qorconfig",
         {"-npa", "-file", "@DIR@/read-ssid.hex", "/dev/usb/lp0"},
         "forward",
         "",
         stream(2),
         "2",
         0,
         "npaFileData: (36 bytes)",
         ""},

        // qorconfig: configuration words
        {"qorconfig -c", "qorconfig", with({"-c"}, wpa2), "forward", "", once(5), "5 + W", 0, "",
         ""},
        {"qorconfig -c -file",
         "qorconfig",
         {"-c", "-file", "@DIR@/options.txt", "/dev/usb/lp0"},
         "forward",
         "",
         once(5),
         "5 + W",
         0,
         "",
         ""},
        {"qorconfig -ca --security=WPA-PER",
         "qorconfig",
         {"-ca", "--ssid=HomeNet", "--mode=Managed", "--security=WPA-PER", "--psk=secretpsk",
          "--encryption=AES"},
         "forward",
         "",
         once(5),
         "5 + W",
         0,
         "",
         ""},
        // Building the options message asks the certificate manager for the
        // certificates held and, with fewer than two, for the CAs held.
        {"qorconfig -ca --security=802.1x",
         "qorconfig",
         {"-ca", "--ssid=Corp", "--mode=Managed", "--security=802.1x", "--encryption=AES",
          "--802-auth-ext=PEAP", "--802-auth-inner=MSCHAPv2", "--802-user=alice",
          "--802-pwd=secret"},
         "forward",
         "",
         join({stream(2), stream(2), once(5), once(5), stream(2)}),
         "2 + 2 + 5 + W + 5 + W + 2",
         0,
         "",
         ""},
        {"qorconfig -ca --security=None",
         "qorconfig",
         {"-ca", "--ssid=HomeNet", "--security=None"},
         "forward",
         "",
         {},
         "0",
         1,  // refused by the input checks: nothing to configure
         "",
         ""},
        {"qorconfig --ssid=... (top-level flow)", "qorconfig", wpa2, "forward", "",
         join({once(5), once(2), once(3)}), "5 + W + 2 + W + 3 + W", 0,
         "IP-ADDRESS : 192.168.1.20\n", ""},

        // qorconfig: certificate words
        {"qorconfig -rcerdefs",
         "qorconfig",
         {"-rcerdefs"},
         "forward",
         "",
         stream(2),
         "2",
         0,
         "cer-org=Example Org\n",
         ""},
        {"qorconfig -csr",
         "qorconfig",
         {"-csr", "--cer-org=Example Org", "--cer-common=printer.example", "--cer-country=US",
          "--cer-path=@DIR@/request.csr"},
         "forward",
         "",
         join({stream(2), stream(2), stream(2)}),
         "2 + 2 + 2",
         0,
         "",
         "request.csr"},
        {"qorconfig -icer --802-CA-cer-file",
         "qorconfig",
         {"-icer", "--802-CA-cer-file=@DIR@/ca.pem"},
         "forward",
         "",
         join({stream(2), stream(2)}),
         "2 + 2",
         0,
         "",
         ""},
        {"qorconfig -icer --802-CA-cer-file (CA held)",
         "qorconfig",
         {"-icer", "--802-CA-cer-file=@DIR@/ca.pem"},
         "forward",
         kHeldCa,
         join({stream(2), stream(2), stream(2)}),
         "2 + 2 + 2",
         0,
         "",
         ""},
        {"qorconfig -icer --802-signed-cer-file",
         "qorconfig",
         {"-icer", "--802-signed-cer-file=@DIR@/ca.pem"},
         "forward",
         "",
         stream(2),
         "2",
         0,
         "",
         ""},
    };
    return cases;
}

}  // namespace

const std::vector<CommandCase>& commandCases() {
    static const std::vector<CommandCase> cases = makeCases();
    return cases;
}

double floorSeconds(const std::vector<Wait>& waits, double startRealtime) {
    double t = startRealtime;
    for (const Wait& w : waits) {
        if (w.kind == Wait::Sleep)
            t += w.seconds;
        else
            t = std::floor(t) + kReadWindowSeconds + 1;  // the first second "more than 4" after
    }
    return t - startRealtime;
}

}  // namespace qorbench
