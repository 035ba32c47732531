// A crowd of printers: 200 answer one query within a second. netbackend runs
// in one private network namespace, the discovery responder in another,
// joined by a veth pair; nothing here runs discovery in the machine's own
// namespace. Also the receive queue sizing of the discovery socket, and the
// responder's generated printers the crowd is made of.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BackendDir.h"
#include "HcpScenario.h"
#include "NetnsPair.h"
#include "ProcessRunner.h"
#include "QuietShell.h"
#include "connector.h"
#include "hcp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 200;

using qor::proc::buildDir;

using qortest::sh;

// One output pipe of a child, split into lines as it is read.
struct Stream {
    int fd = -1;
    std::string pending;
    std::vector<std::string> lines;
    bool open = true;

    bool has(const std::string& prefix) const {
        for (const std::string& l : lines)
            if (l.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    // Adds what was read elsewhere (the rest, up to the end of the pipe).
    void take(const std::string& text) {
        pending += text;
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            lines.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
        if (!pending.empty())
            lines.push_back(pending + "<no newline>");
        pending.clear();
        open = false;
    }
    std::string first(const std::string& prefix) const {
        for (const std::string& l : lines)
            if (l.rfind(prefix, 0) == 0)
                return l;
        return std::string();
    }
};

// Reads what the streams have until done() holds or `seconds` pass;
// returns done().
bool pump(const std::vector<Stream*>& streams, double seconds, const std::function<bool()>& done) {
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (done())
            return true;
        double left = std::chrono::duration<double>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        std::vector<struct pollfd> fds;
        for (Stream* s : streams)
            fds.push_back({s->open ? s->fd : -1, POLLIN, 0});
        if (poll(fds.data(), fds.size(), static_cast<int>(left * 1000) + 1) <= 0)
            continue;
        for (size_t i = 0; i < streams.size(); ++i) {
            Stream& s = *streams[i];
            if (!s.open || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char chunk[8192];
            ssize_t n = read(s.fd, chunk, sizeof chunk);
            if (n <= 0) {
                s.open = false;
                if (!s.pending.empty())
                    s.lines.push_back(s.pending + "<no newline>");
                continue;
            }
            s.pending.append(chunk, static_cast<size_t>(n));
            size_t nl;
            while ((nl = s.pending.find('\n')) != std::string::npos) {
                s.lines.push_back(s.pending.substr(0, nl));
                s.pending.erase(0, nl + 1);
            }
        }
    }
}

// A program run through the shared runner, in its own process group, its
// outputs read here line by line while it runs.
struct Child {
    std::optional<qor::proc::Process> process;
    Stream out, err;

    bool start(const std::vector<std::string>& argv) {
        qor::proc::Options options;
        options.argv = argv;
        options.searchPath = true;
        process.emplace(options);
        out.fd = process->outFd();
        err.fd = process->errFd();
        return process->started();
    }

    bool running() const { return process && process->started(); }
    void signal(int sig) const { process->signal(sig); }

    // Sends `sig` (after a SIGCONT, should it be stopped) unless it is 0,
    // reads the outputs to their end and reaps the child. Returns its exit
    // status, or 128 plus the signal that ended it.
    int finish(int sig, double limitSeconds = 10) {
        if (!running())
            return -1;
        if (sig != 0) {
            process->signal(SIGCONT);
            process->signal(sig);
        }
        qor::proc::Result r = process->finish(limitSeconds);
        out.take(r.out);
        err.take(r.err);
        process.reset();
        return r.status;
    }
};

// The listed form of the responder's k-th generated printer (k from 1):
// MACUAA 0200 then k in eight hex digits, each byte bit-reversed on the way.
std::string listedMac(int k) {
    uint8_t uaa[6] = {0x02,
                      0x00,
                      static_cast<uint8_t>(k >> 24),
                      static_cast<uint8_t>(k >> 16),
                      static_cast<uint8_t>(k >> 8),
                      static_cast<uint8_t>(k)};
    std::string mac;
    for (uint8_t b : uaa) {
        uint8_t r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1 << bit))
                r = static_cast<uint8_t>(r | (0x80 >> bit));
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", r);
        mac += hex;
    }
    return mac;
}

// Printers from 10.76.1.1 on.
std::string printerIp(int k) {
    return "10.76." + std::to_string(1 + (k - 1) / 256) + "." + std::to_string((k - 1) % 256 + 1);
}

std::string expectedLine(int k, int n) {
    std::string mac = listedMac(k);
    return "network tamo://" + mac + " \"Tamo Scale " + std::to_string(k) +
           "\" \"Tamo Network Printer #" + std::to_string(n) + " (" + mac + ")\" \"" +
           printerIp(k) + "\"";
}

// Checks that `lines` list every printer 1..count exactly once, numbered in
// order, each line exactly as the spooler reads it.
void expectEveryPrinterOnce(const std::vector<std::string>& lines, int count) {
    std::map<std::string, int> byMac;
    for (int k = 1; k <= count; ++k)
        byMac[listedMac(k)] = k;
    std::set<int> seen;
    for (size_t i = 0; i < lines.size(); ++i) {
        // network tamo://<12 digits> ...
        std::string mac = lines[i].size() >= 27 ? lines[i].substr(15, 12) : "";
        auto it = byMac.find(mac);
        if (it == byMac.end()) {
            ADD_FAILURE() << "line " << i + 1 << " names no printer: " << lines[i];
            continue;
        }
        EXPECT_TRUE(seen.insert(it->second).second) << "listed twice: " << lines[i];
        EXPECT_EQ(lines[i], expectedLine(it->second, static_cast<int>(i) + 1));
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(count));
    EXPECT_EQ(seen.size(), static_cast<size_t>(count)) << "printers missing from the listing";
}

// Two namespaces and a veth pair: backend side 10.76.0.1, printers 10.76.0.2.
class Crowd : public ::testing::Test {
  protected:
    qortest::NetnsPair m_Pair;
    std::string m_Backend, m_Printers, m_Dir;
    Child m_Responder;

    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root";
        m_Dir = qortest::makeBackendDir("nbscale");
        ASSERT_NE("", m_Dir);
        ASSERT_EQ("", m_Pair.create("sc", "10.76.0"));
        m_Backend = m_Pair.backend();
        m_Printers = m_Pair.printers();
        ASSERT_EQ(0, sh("cp " + buildDir() + "/netbackend/netbackend " + m_Dir + "/tamo"));
    }

    void TearDown() override {
        m_Responder.finish(SIGTERM);
        m_Pair.destroy();
        if (!m_Dir.empty())
            sh("rm -rf '" + m_Dir + "'");
    }

    void startResponder(const std::string& scenario) {
        std::string file = m_Dir + "/scenario.txt";
        std::ofstream(file) << scenario;
        ASSERT_TRUE(m_Responder.start(
            {"ip", "netns", "exec", m_Printers, buildDir() + "/tools/hcp-responder/hcp-responder",
             file, "--group-on", "10.76.0.2", "--exit-after", "60", "--report-sent"}));
        ASSERT_TRUE(pump({&m_Responder.out}, 5, [&] { return m_Responder.out.has("ready"); }))
            << "responder did not start";
    }

    // Responder lines "query from A" and "sent N in MS ms", the n-th of each.
    size_t count(const std::string& prefix) {
        size_t c = 0;
        for (const std::string& l : m_Responder.out.lines)
            c += l.rfind(prefix, 0) == 0;
        return c;
    }

    // netbackend installed as "tamo" (accepts Tamo printers) in the backend
    // namespace. `ip netns exec` and `env` exec in place, so the child is
    // the backend itself.
    bool startBackend(Child& backend, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv = {
            "ip", "netns", "exec", m_Backend, "env", "-i", "TMPDIR=" + m_Dir + "/tmp"};
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(m_Dir + "/tamo");
        argv.insert(argv.end(), args.begin(), args.end());
        return backend.start(argv);
    }

    // Lists until every printer is in (plus a moment for strays), then ends
    // the listing: the window would run 15 seconds, and the spooler too stops
    // reading once it has what it needs.
    std::vector<std::string> finishListing(Child& backend) {
        pump({&backend.out, &backend.err, &m_Responder.out}, 5,
             [&] { return backend.out.lines.size() >= static_cast<size_t>(kPrinters); });
        pump({&backend.out, &backend.err, &m_Responder.out}, 0.5, [] { return false; });
        EXPECT_EQ(backend.finish(SIGTERM), 128 + SIGTERM) << "the listing ended before its window";
        EXPECT_EQ(backend.err.lines, std::vector<std::string>{})
            << "nothing but device lines may reach the spooler";
        return backend.out.lines;
    }

    // The "sent N in MS ms" report of the last answered query: all N sent,
    // the last one about a second after the query.
    void expectSentWithinASecond(size_t queries) {
        ASSERT_TRUE(pump({&m_Responder.out}, 5, [&] { return count("sent ") >= queries; }));
        std::string sent;
        for (const std::string& l : m_Responder.out.lines)
            if (l.rfind("sent ", 0) == 0)
                sent = l;
        int n = 0;
        double ms = 0;
        ASSERT_EQ(2, sscanf(sent.c_str(), "sent %d in %lf ms", &n, &ms)) << sent;
        EXPECT_EQ(n, kPrinters);
        EXPECT_GE(ms, 950.0) << "the replies must spread over the second";
        EXPECT_LE(ms, 2000.0) << "the replies must all be out within about a second";
    }
};

const std::string kCrowd =
    "generate count=" + std::to_string(kPrinters) + " spread=1000 ip=10.76.1.1\n";
const std::string kCrowdOfLargeReplies =
    "generate count=" + std::to_string(kPrinters) + " spread=1000 size=4096 ip=10.76.1.1\n";

// In namespace `ns`, a socket with the kernel's default receive queue asks
// the responder directly and reads nothing until told to (a byte on `go`);
// then it counts what its queue kept and writes the count and the queue
// limit to `report`.
pid_t defaultQueueProbe(const std::string& ns, int go, int report) {
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    alarm(30);
    int result[2] = {-1, -1};
    int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY);
    int fd = -1;
    if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0)
        fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in local = {}, responder = {};
    local.sin_family = responder.sin_family = AF_INET;
    local.sin_port = htons(5354);
    responder.sin_port = htons(5353);
    inet_pton(AF_INET, "10.76.0.2", &responder.sin_addr);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        sendto(fd, gDNSQueryPacket, sizeof gDNSQueryPacket, 0,
               reinterpret_cast<sockaddr*>(&responder), sizeof responder) > 0) {
        socklen_t length = sizeof result[1];
        getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &result[1], &length);
        char byte;
        if (read(go, &byte, 1) == 1) {
            result[0] = 0;
            char datagram[8192];
            while (recv(fd, datagram, sizeof datagram, MSG_DONTWAIT) > 0)
                ++result[0];
        }
    }
    (void)!write(report, result, sizeof result);
    _exit(0);
}

}  // namespace

TEST_F(Crowd, ListingShowsEveryPrinterOnce) {
    startResponder(kCrowd);
    Child backend;
    ASSERT_TRUE(startBackend(backend, {}));
    expectSentWithinASecond(1);
    EXPECT_EQ(m_Responder.out.first("query from"), "query from 10.76.0.1");
    expectEveryPrinterOnce(finishListing(backend), kPrinters);
}

// The backend gets no chance to read while the printers answer: its queue
// alone must hold a second of the largest replies it reads (4096 bytes). A
// socket with the kernel's default queue, asked the same way, keeps only
// part of them, so it is the backend's own sizing that lists them all.
TEST_F(Crowd, StoppedDuringTheAnswersStillListsEveryPrinter) {
    startResponder(kCrowdOfLargeReplies);
    int go[2], report[2];
    ASSERT_EQ(0, pipe(go));
    ASSERT_EQ(0, pipe(report));
    pid_t probe = defaultQueueProbe(m_Backend, go[0], report[1]);
    ASSERT_GT(probe, 0);
    // Ends the probe and the pipes however this test leaves.
    struct Reaper {
        pid_t pid;
        int fds[4];
        ~Reaper() {
            for (int fd : fds)
                close(fd);
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } reaper{probe, {go[0], go[1], report[0], report[1]}};
    expectSentWithinASecond(1);
    usleep(100 * 1000);  // the last fragments land
    ASSERT_EQ(1, write(go[1], "x", 1));
    int probed[2] = {-1, -1};
    ASSERT_EQ(static_cast<ssize_t>(sizeof probed), read(report[0], probed, sizeof probed));
    ASSERT_GE(probed[0], 0) << "the probe socket could not ask";
    if (probed[1] < SocketConnector::kDiscoveryQueueBytes) {
        EXPECT_LT(probed[0], kPrinters)
            << "a default queue of " << probed[1] << " bytes kept the whole burst";
    }

    Child backend;
    ASSERT_TRUE(startBackend(backend, {}));
    ASSERT_TRUE(pump({&backend.out, &backend.err, &m_Responder.out}, 5,
                     [&] { return count("query from") >= 2; }));
    backend.signal(SIGSTOP);
    expectSentWithinASecond(2);
    usleep(100 * 1000);
    backend.signal(SIGCONT);
    expectEveryPrinterOnce(finishListing(backend), kPrinters);
}

TEST_F(Crowd, JobFindsItsPrinterAmongThem) {
    startResponder(kCrowd);
    // The last printer to answer, about a second after the query.
    std::string mac = listedMac(kPrinters);
    Child backend;
    auto start = Clock::now();
    ASSERT_TRUE(
        startBackend(backend, {"42", "alice", "title", "1", "opt=1"},
                     {"DEVICE_URI=tamo://" + mac, "CUPS_SERVERBIN=" + m_Dir + "/serverbin"}));
    int status = backend.finish(0);
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(backend.out.lines.empty());
    EXPECT_LT(elapsed, 5.0) << "the job starts at the match, not at the end of the window";
    std::ifstream in(m_Dir + "/serverbin/record.txt");
    std::stringstream record;
    record << in.rdbuf();
    std::string ip = printerIp(kPrinters);
    EXPECT_NE(record.str().find("ARG0=socket://" + ip +
                                "\nARG1=42\nARG2=alice\nARG3=title\nARG4=1\nARG5=opt=1\n"),
              std::string::npos)
        << record.str();
    EXPECT_NE(record.str().find("ENV DEVICE_URI=socket://" + ip + "\n"), std::string::npos);
}

// The queue limit of a fresh datagram socket.
int defaultQueue() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int bytes = 0;
    socklen_t length = sizeof bytes;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length);
    close(fd);
    return bytes;
}

int queueOf(int fd) {
    int bytes = 0;
    socklen_t length = sizeof bytes;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length);
    return bytes;
}

TEST(DiscoveryQueue, RootGetsTheWholeSize) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    int limit = SocketConnector::sizeReceiveQueue(fd);
    EXPECT_EQ(limit, queueOf(fd));
    EXPECT_EQ(limit, std::max(SocketConnector::kDiscoveryQueueBytes, defaultQueue()));
    close(fd);
}

TEST(DiscoveryQueue, ALargerQueueIsKept) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int larger = SocketConnector::kDiscoveryQueueBytes;  // doubled by the kernel
    ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &larger, sizeof larger));
    ASSERT_EQ(queueOf(fd), 2 * larger);
    EXPECT_EQ(SocketConnector::sizeReceiveQueue(fd), 2 * larger);
    EXPECT_EQ(queueOf(fd), 2 * larger);
    close(fd);
}

// Without privilege the request is capped at twice net.core.rmem_max, and
// the queue never ends below the default.
TEST(DiscoveryQueue, UnprivilegedIsCappedNeverLowered) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to drop it";
    long rmemMax = -1;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    ASSERT_GT(rmemMax, 0);
    int report[2];
    ASSERT_EQ(0, pipe(report));
    pid_t pid = fork();
    if (pid == 0) {
        int result[2] = {-1, -1};
        if (setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0) {
            int fd = socket(AF_INET, SOCK_DGRAM, 0);
            result[0] = queueOf(fd);
            result[1] = SocketConnector::sizeReceiveQueue(fd);
            if (result[1] != queueOf(fd))
                result[1] = -2;
        }
        (void)!write(report[1], result, sizeof result);
        _exit(0);
    }
    int result[2] = {-1, -1};
    ASSERT_EQ(static_cast<ssize_t>(sizeof result), read(report[0], result, sizeof result));
    waitpid(pid, nullptr, 0);
    close(report[0]);
    close(report[1]);
    ASSERT_GT(result[0], 0) << "could not drop privileges";
    long capped = std::min<long>(SocketConnector::kDiscoveryQueueBytes, 2 * rmemMax);
    EXPECT_EQ(result[1], std::max<long>(capped, result[0]));
}

// The responder's generated printers: distinct, timed over the spread, and
// padded to the exact datagram size.
TEST(GeneratedPrinters, DistinctTimedAndSized) {
    std::vector<ReplySpec> replies;
    std::string error;
    ASSERT_TRUE(
        parseScenario("printer name=first\ntxt IPADDRESS=1.1.1.1\nend\n"
                      "generate count=3 spread=1000 size=700 ip=10.9.0.255 maker=DALOR "
                      "name=p\n",
                      replies, error))
        << error;
    ASSERT_EQ(replies.size(), 4u);
    Hcp dalor("dalor");
    const char* ips[] = {"10.9.0.255", "10.9.1.0", "10.9.1.1"};
    const int delays[] = {0, 333, 666};
    for (int k = 0; k < 3; ++k) {
        const ReplySpec& spec = replies[static_cast<size_t>(k) + 1];
        std::vector<uint8_t> bytes = buildReply(spec);
        EXPECT_EQ(bytes.size(), 700u);
        EXPECT_EQ(spec.delayMs, delays[k]);
        EXPECT_EQ(spec.instance, "p-" + std::to_string(k + 1));
        HcpDevice device;
        ASSERT_TRUE(dalor.acceptReply(qor::ByteSpan(bytes), device));
        EXPECT_EQ(device.ip, ips[k]);
        EXPECT_EQ(device.mac, listedMac(k + 1));
        EXPECT_EQ(device.model, "DALOR Scale " + std::to_string(k + 1));
        EXPECT_EQ(device.manufacturer, "DALOR");
    }
    // Each padding length from none to a few hundred bytes comes out exact.
    replies.clear();
    ASSERT_TRUE(parseScenario("generate count=1\n", replies, error));
    size_t plain = buildReply(replies[0]).size();
    for (size_t size = plain; size < plain + 600; ++size) {
        replies.clear();
        ASSERT_TRUE(
            parseScenario("generate count=1 size=" + std::to_string(size) + "\n", replies, error));
        ASSERT_EQ(buildReply(replies[0]).size(), size);
    }
    replies.clear();
    ASSERT_TRUE(parseScenario("generate count=1 size=10\n", replies, error));
    EXPECT_EQ(buildReply(replies[0]).size(), plain) << "a size below the plain reply adds nothing";
}

TEST(GeneratedPrinters, BadDirectivesNameTheirLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"generate spread=10", "line 1: generate needs count=N"},
        {"generate count=0", "line 1: count must be 1 to 65535"},
        {"generate count=65536", "line 1: count must be 1 to 65535"},
        {"generate count=2 spread=-1", "line 1: spread must not be negative"},
        {"generate count=2 size=65508", "line 1: size must be 0 to 65507"},
        {"generate count=2x", "line 1: bad option 'count=2x'"},
        {"generate count=2 ip=10.0.0", "line 1: bad option 'ip=10.0.0'"},
        {"generate count=2 maker=", "line 1: bad option 'maker='"},
        {"generate count=2 colour=red", "line 1: bad option 'colour=red'"},
        {"printer\ngenerate count=2", "line 2: printer not ended"},
    };
    for (const auto& [text, message] : cases) {
        std::vector<ReplySpec> replies;
        std::string error;
        EXPECT_FALSE(parseScenario(text, replies, error)) << text;
        EXPECT_EQ(error, message) << text;
    }
}
