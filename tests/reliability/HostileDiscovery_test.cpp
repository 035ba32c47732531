// netbackend's listing against a discovery responder that mixes hostile
// datagrams (broken headers, counts past the end, compression loops, lengths
// that reach outside the datagram, oversized replies) with well-formed
// printers. The backend and the responder each live in a private network
// namespace made here, joined by a veth pair; nothing runs discovery in the
// machine's own namespace.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "Harness.h"
#include "NetnsPair.h"
#include "QuietShell.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qor::reliability::RunResult;
using qor::reliability::TempDir;

// ---- DNS message pieces (RFC 1035 4.1) -------------------------------------

void put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Header: ID 0, flags (QR and AA for a response), then the four counts.
Bytes header(unsigned qd, unsigned an, unsigned ns, unsigned ar, unsigned flags = 0x8400) {
    Bytes out;
    put16(out, 0);
    put16(out, flags);
    put16(out, qd);
    put16(out, an);
    put16(out, ns);
    put16(out, ar);
    return out;
}

Bytes name(const std::vector<std::string>& labels) {
    Bytes out;
    for (const auto& l : labels) {
        out.push_back(static_cast<uint8_t>(l.size()));
        out.insert(out.end(), l.begin(), l.end());
    }
    out.push_back(0);
    return out;
}

const std::vector<std::string> kService = {"p", "_host-config", "_udp", "local"};

// A resource record: name, type, class IN, TTL 120, then the data with its
// length (or `lengthField` in place of the true length).
Bytes record(const Bytes& owner, unsigned type, const Bytes& data, int lengthField = -1) {
    Bytes out = owner;
    put16(out, type);
    put16(out, 1);
    put16(out, 0);
    put16(out, 120);
    put16(out, lengthField >= 0 ? static_cast<unsigned>(lengthField) : data.size());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes txtData(const std::vector<std::string>& entries) {
    Bytes out;
    for (const auto& e : entries) {
        out.push_back(static_cast<uint8_t>(e.size()));
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

Bytes cat(std::vector<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// Entries of a printer that no build accepts by name: no manufacturer text,
// no known vendor identifier. "tamo" drops whatever such a datagram yields.
const std::vector<std::string> kAnonymous = {"MACUAA=0A0B0C0D0E0F", "IPADDRESS=10.77.0.99"};

// The hostile datagrams, in the order sent.
std::vector<Bytes> hostileDatagrams() {
    std::vector<Bytes> d;
    Bytes txt = txtData(kAnonymous);
    d.push_back(header(0, 0, 0, 0));                           // header only
    d.push_back(cat({header(0, 1, 0, 0), {0x05}}));            // one byte after the header
    d.push_back(cat({header(0xFFFF, 0, 0, 0), name({"a"})}));  // questions past the end
    d.push_back(header(0, 0xFFFF, 0xFFFF, 0xFFFF));            // records past the end
    // A name that points at itself, and two names that point at each other.
    d.push_back(cat({header(0, 1, 0, 0), {0xC0, 0x0C}, record({}, 16, txt)}));
    d.push_back(cat({header(0, 2, 0, 0), {0xC0, 0x0E, 0xC0, 0x0C}, record({}, 16, txt)}));
    // A pointer past the end, and a forward pointer into the record's own data.
    d.push_back(cat({header(0, 1, 0, 0), {0xFF, 0xFF}, record({}, 16, txt)}));
    d.push_back(cat({header(0, 1, 0, 0), {0xC0, 0x20}, record({}, 16, txt)}));
    // A chain of 300 backward pointers, each to the one before it.
    {
        Bytes m = header(0, 1, 0, 0);
        Bytes base = name({"p", "_host-config", "_udp", "local"});
        size_t first = m.size();
        m.insert(m.end(), base.begin(), base.end());
        size_t previous = first;
        for (int i = 0; i < 300; ++i) {
            size_t here = m.size();
            m.push_back(static_cast<uint8_t>(0xC0 | (previous >> 8)));
            m.push_back(static_cast<uint8_t>(previous));
            previous = here;
        }
        Bytes owner = {static_cast<uint8_t>(0xC0 | (previous >> 8)),
                       static_cast<uint8_t>(previous)};
        d.push_back(cat({m, record(owner, 16, txt)}));
    }
    // A label longer than what is left, and the reserved label types 01 and 10.
    d.push_back(cat({header(0, 1, 0, 0), {0x3F, 'a', 'b'}}));
    d.push_back(cat({header(0, 1, 0, 0), {0x40, 0x00}, record({}, 16, txt)}));
    d.push_back(cat({header(0, 1, 0, 0), {0x80, 0x00}, record({}, 16, txt)}));
    // The service's TXT record with a data length past the end, and one whose
    // character-string runs past the data length and the datagram.
    d.push_back(cat({header(0, 1, 0, 0), record(name(kService), 16, txt, 0xFFFF)}));
    d.push_back(cat({header(0, 1, 0, 0), record(name(kService), 16, {0xC8, 'M', 'A', 'C'})}));
    d.push_back(cat({header(0, 1, 0, 0), record(name(kService), 16, {0x10, 'I', 'P'}, 3)}));
    // Entries without "=", an empty key, NUL bytes, quotes in odd places, a
    // MACUAA of non-hex digits, a one-digit MACUAA, a long address text.
    d.push_back(cat(
        {header(0, 1, 0, 0),
         record(name(kService), 16,
                txtData({"", "=", "NOEQUALS",
                         std::string("IPADDRESS=1\0"
                                     "0.0.0.1",
                                     19),
                         "MACUAA=ZZZZZZZZZZZZ", "MACUAA=1", "1284STRID=\"", "1284STRID=no quote",
                         "PRINTERVIDPID=\"", "PRINTERVIDPID=FFFFFFFFFFFFFFFFFFFFFFFF",
                         "MDNSNAME=\"", "IPADDRESS=" + std::string(240, '9')}))}));
    // A record of the wrong type under the service, then a record under some
    // other service that carries a TXT: neither is the service's TXT record.
    d.push_back(cat({header(0, 2, 0, 0), record(name(kService), 1, {10, 77, 0, 98}),
                     record(name({"p", "_other", "_udp", "local"}), 16, txt)}));
    // A record whose data length skips past the end before the service's TXT.
    d.push_back(cat({header(0, 2, 0, 0), record(name({"x", "y"}), 1, {}, 0xFFF0),
                     record(name(kService), 16, txt)}));
    // A query (QR clear) that carries a Tamo printer: not a response, ignored.
    d.push_back(cat(
        {header(0, 1, 0, 0, 0x0000), record(name(kService), 16,
                                            txtData({"MACUAA=80000000C0FF", "IPADDRESS=10.77.0.97",
                                                     "1284STRID=MFG:Tamo;MDL:\"Tamo Query\";"}))}));
    // Seventeen character-strings of 255 bytes cut at the 4096-byte receive buffer,
    // with a Tamo printer's entries only after the cut.
    {
        std::vector<std::string> entries(17, "X=" + std::string(253, 'x'));
        entries.push_back("1284STRID=MFG:Tamo;MDL:\"Tamo Beyond Buffer\";");
        entries.push_back("IPADDRESS=10.77.0.96");
        Bytes data = txtData(entries);
        d.push_back(cat({header(0, 1, 0, 0), record(name(kService), 16, data)}));
    }
    return d;
}

std::string tamoPrinter(const std::string& instance, int delayMs, const std::string& mac,
                        const std::string& ip, const std::string& model) {
    return "printer name=" + instance + " delay=" + std::to_string(delayMs) +
           "\ntxt MACUAA=" + mac + "\ntxt IPADDRESS=" + ip + "\ntxt 1284STRID=MFG:Tamo;MDL:\"" +
           model + "\";\nend\n";
}

// Hostile datagrams first, between the printers and after the last one.
std::string scenario() {
    std::string s;
    std::vector<Bytes> hostile = hostileDatagrams();
    size_t third = hostile.size() / 3;
    for (size_t i = 0; i < hostile.size(); ++i) {
        int delay = i < third ? 0 : (i < 2 * third ? 400 : 900);
        s += "raw delay=" + std::to_string(delay) + " hex=" + hex(hostile[i]) + "\n";
    }
    s += tamoPrinter("tamo1", 100, "80000000C001", "10.77.0.50", "Tamo Laser 5000");
    s += tamoPrinter("tamo2", 600, "80000000C002", "10.77.0.51", "Tamo Ink 20");
    s += tamoPrinter("tamo3", 1200, "80000000C003", "10.77.0.52", "Tamo Jet 7");
    return s;
}

using qortest::sh;

class HostileDiscovery : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root";
        m_Dir = std::make_unique<TempDir>("hostile");
        ASSERT_EQ("", m_Pair.create("rl", "10.77.0"));
        m_Backend = m_Pair.backend();
        m_Printers = m_Pair.printers();
        mkdir(m_Dir->path("tmp").c_str(), 0700);
    }

    void TearDown() override {
        if (m_Responder)
            m_Responder->stop();
        m_Pair.destroy();
    }

    void startResponder(const std::string& text) {
        std::string file = m_Dir->write("scenario.txt", text);
        qor::proc::Options options;
        options.argv = {"ip", "netns",      "exec",      m_Printers,     HCP_RESPONDER_BIN,
                        file, "--group-on", "10.77.0.2", "--exit-after", "60"};
        options.searchPath = true;
        m_Responder.emplace(options);
        pollfd p = {m_Responder->outFd(), POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 5000)) << "responder did not start";
        char ready[16] = {0};
        ASSERT_GT(read(m_Responder->outFd(), ready, 6), 0);
        ASSERT_EQ(std::string(ready), "ready\n");
    }

    // Runs the backend installed under `name` inside the backend namespace:
    // listing without job arguments, job mode with them.
    RunResult list(const std::string& name, const std::vector<std::string>& jobArgs = {},
                   const std::vector<std::string>& env = {}) {
        std::string program = m_Dir->path(name);
        EXPECT_EQ(0, sh("cp " + std::string(NETBACKEND_BIN) + " '" + program + "'"));
        std::vector<std::string> argv = {"ip",
                                         "netns",
                                         "exec",
                                         m_Backend,
                                         "env",
                                         "-i",
                                         "TMPDIR=" + m_Dir->path("tmp"),
                                         qor::reliability::asanOptionsWithProbe()};
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(program);
        argv.insert(argv.end(), jobArgs.begin(), jobArgs.end());
        return qor::reliability::runProcess(argv, 40);
    }

    std::unique_ptr<TempDir> m_Dir;
    qortest::NetnsPair m_Pair;
    std::string m_Backend, m_Printers;
    std::optional<qor::proc::Process> m_Responder;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0, nl;
    while ((nl = text.find('\n', start)) != std::string::npos) {
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (start < text.size())
        out.push_back(text.substr(start) + "<no newline>");
    return out;
}

}  // namespace

TEST(HostileDatagrams, AreWhatTheyClaimToBe) {
    std::vector<Bytes> d = hostileDatagrams();
    ASSERT_EQ(d.size(), 20u);
    EXPECT_EQ(d[0].size(), 12u);
    EXPECT_EQ(hex(d[4]).substr(24, 4), "C00C");  // the self-pointing name
    EXPECT_GT(d.back().size(), 4096u);           // longer than the receive buffer
    for (const auto& m : d)
        EXPECT_LT(m.size(), 9000u);
}

TEST_F(HostileDiscovery, TamoBuildListsExactlyTheWellFormedPrinters) {
    startResponder(scenario());
    RunResult r = list("tamo");
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(qor::reliability::hasRuntimeReport(r.err)) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected = {
        "network tamo://010000000380 \"Tamo Laser 5000\" \"Tamo Network Printer #1 "
        "(010000000380)\" \"10.77.0.50\"",
        "network tamo://010000000340 \"Tamo Ink 20\" \"Tamo Network Printer #2 (010000000340)\" "
        "\"10.77.0.51\"",
        "network tamo://0100000003C0 \"Tamo Jet 7\" \"Tamo Network Printer #3 (0100000003C0)\" "
        "\"10.77.0.52\""};
    EXPECT_EQ(lines(r.out), expected);
    // The 15-second window runs its course, and nothing hangs past it.
    EXPECT_GT(r.seconds, 14.0);
    EXPECT_LT(r.seconds, 22.0);
}

TEST_F(HostileDiscovery, GenericBuildStillListsTheWellFormedPrinters) {
    startResponder(scenario());
    RunResult r = list("generic");
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(qor::reliability::hasRuntimeReport(r.err)) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> got = lines(r.out);
    // Whatever the hostile datagrams yield, the three printers are listed in
    // the order they answered, each line whole.
    const std::regex printerLine(
        R"re(network generic://(010000000380|010000000340|0100000003C0) "([^"]*)" " Network Printer #[0-9]+ \(([0-9A-F]{12})\)" "([0-9.]+)")re");
    std::vector<std::string> macs;
    for (const auto& l : got) {
        EXPECT_EQ(l.find("<no newline>"), std::string::npos) << l;
        EXPECT_EQ(l.rfind("network generic://", 0), 0u) << l;
        std::smatch m;
        if (std::regex_match(l, m, printerLine))
            macs.push_back(m[1]);
    }
    EXPECT_EQ(macs, (std::vector<std::string>{"010000000380", "010000000340", "0100000003C0"}))
        << r.out;
    // No device line for what only a query or another service carried, nor
    // for the Tamo entries past the receive buffer.
    EXPECT_EQ(r.out.find("Tamo Query"), std::string::npos);
    EXPECT_EQ(r.out.find("Tamo Beyond Buffer"), std::string::npos);
    EXPECT_EQ(r.out.find("10.77.0.98"), std::string::npos);
    EXPECT_LE(got.size(), 3u + hostileDatagrams().size());
    EXPECT_GT(r.seconds, 14.0);
    EXPECT_LT(r.seconds, 22.0);
}

TEST_F(HostileDiscovery, JobModeExecsTheSocketBackendForTheWellFormedMatch) {
    // The query datagram among the hostile ones carries the same hardware
    // address with another IP address; it is no response and must not match.
    std::string text;
    for (const Bytes& d : hostileDatagrams())
        text += "raw hex=" + hex(d) + "\n";
    text += tamoPrinter("wanted", 1500, "80000000C0FF", "10.77.0.60", "Tamo Wanted");
    startResponder(text);
    std::string serverbin = m_Dir->path("serverbin");
    ASSERT_EQ(0, sh("mkdir -p '" + serverbin + "/backend' && cp " + SOCKET_RECORDER_BIN + " '" +
                    serverbin + "/backend/socket'"));
    RunResult r = list("tamo", {"42", "alice", "title", "1", "opt=1"},
                       {"DEVICE_URI=tamo://0100000003FF", "CUPS_SERVERBIN=" + serverbin});
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(qor::reliability::hasRuntimeReport(r.err)) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_GT(r.seconds, 1.4);
    EXPECT_LT(r.seconds, 6.0) << "the exec comes at the first accepted match";
    std::string record = m_Dir->read("serverbin/record.txt");
    EXPECT_NE(record.find("ARG0=socket://10.77.0.60\nARG1=42\nARG2=alice\n"), std::string::npos)
        << record;
    EXPECT_NE(record.find("ENV DEVICE_URI=socket://10.77.0.60\n"), std::string::npos) << record;
}
