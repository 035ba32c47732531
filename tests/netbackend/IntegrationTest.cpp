// The backend end to end: netbackend in one private network namespace, the
// discovery responder in another, joined by a veth pair. Nothing here runs
// discovery in the machine's own namespace.
#include <dirent.h>
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

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BackendDir.h"
#include "NetnsPair.h"
#include "ProcessRunner.h"
#include "QuietShell.h"

namespace {

using Clock = std::chrono::steady_clock;

using qor::proc::buildDir;

using qortest::sh;

struct Output {
    int status = -1;
    std::vector<std::string> lines;
    std::vector<double> seconds;  // arrival time of each stdout line
    std::string err;
    double elapsed = 0;
};

// Runs argv (searched on PATH) with stdout and stderr piped.
qor::proc::Process spawn(const std::vector<std::string>& argv) {
    qor::proc::Options options;
    options.argv = argv;
    options.searchPath = true;
    return qor::proc::Process(options);
}

// Collects a spawned program's output in lines, killing it after
// timeoutSeconds.
Output collect(qor::proc::Process& process, double timeoutSeconds) {
    auto start = Clock::now();
    qor::proc::Result r = process.finish(timeoutSeconds);
    Output o;
    o.status = r.timedOut ? 128 + r.termSignal : r.status;
    o.err = r.err;
    o.seconds = r.outLineSeconds;
    size_t from = 0, nl;
    while ((nl = r.out.find('\n', from)) != std::string::npos) {
        o.lines.push_back(r.out.substr(from, nl - from));
        from = nl + 1;
    }
    if (from < r.out.size())
        o.lines.push_back(r.out.substr(from) + "<no newline>");
    o.elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return o;
}

// A running program's pipe read as it goes: the text so far and the second
// (from `start`) at which each line arrived.
class PipeReader {
  public:
    PipeReader(int fd, Clock::time_point start) : m_Fd(fd), m_Start(start) {
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }

    // Takes whatever the pipe holds; marks it closed at end of file.
    void take() {
        if (m_Closed)
            return;
        char chunk[4096];
        ssize_t n;
        while ((n = read(m_Fd, chunk, sizeof chunk)) != 0) {
            if (n < 0) {
                if (errno != EINTR)
                    return;
                continue;
            }
            double at = std::chrono::duration<double>(Clock::now() - m_Start).count();
            for (ssize_t i = 0; i < n; ++i) {
                m_Partial += chunk[i];
                if (chunk[i] == '\n') {
                    m_Text += m_Partial;
                    m_Lines.push_back({at, m_Partial});
                    m_Partial.clear();
                }
            }
        }
        m_Closed = true;
        m_ClosedAt = std::chrono::duration<double>(Clock::now() - m_Start).count();
    }

    int fd() const { return m_Fd; }
    bool closed() const { return m_Closed; }
    double closedAt() const { return m_ClosedAt; }
    // Whole lines only.
    const std::string& text() const { return m_Text; }
    // Arrival of the first line that starts with `prefix`, or -1.
    double lineAt(const std::string& prefix) const {
        for (const auto& line : m_Lines)
            if (line.second.rfind(prefix, 0) == 0)
                return line.first;
        return -1;
    }

  private:
    int m_Fd;
    Clock::time_point m_Start;
    bool m_Closed = false;
    double m_ClosedAt = -1;
    std::string m_Text, m_Partial;
    std::vector<std::pair<double, std::string>> m_Lines;
};

// Reads the pipes until `done` holds or `untilSeconds` from their start;
// returns whether `done` held.
bool readUntil(std::initializer_list<PipeReader*> pipes, Clock::time_point start,
               double untilSeconds, const std::function<bool()>& done) {
    auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(untilSeconds));
    for (;;) {
        if (done())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        std::vector<struct pollfd> fds;
        for (PipeReader* pipe : pipes)
            if (!pipe->closed())
                fds.push_back({pipe->fd(), POLLIN, 0});
        poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left.count(), 50)));
        for (PipeReader* pipe : pipes)
            pipe->take();
    }
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

// Two namespaces and a veth pair: backend side 10.77.0.1, printers 10.77.0.2.
class Link : public ::testing::Test {
  protected:
    qortest::NetnsPair m_Pair;
    std::string m_Backend, m_Printers, m_Dir;
    std::string m_TraceHome;  // set: the backend runs with the trace log on
    std::optional<qor::proc::Process> m_Responder;

    void SetUp() override {
        m_Dir = qortest::makeBackendDir("nbint");
        ASSERT_NE("", m_Dir);
        ASSERT_EQ("", m_Pair.create("nb", "10.77.0"));
        m_Backend = m_Pair.backend();
        m_Printers = m_Pair.printers();
    }

    void TearDown() override {
        if (m_Responder)
            m_Responder->stop();
        m_Pair.destroy();
        sh("rm -rf '" + m_Dir + "'");
    }

    void startResponder(const std::string& scenario, const std::vector<std::string>& options = {}) {
        std::string file = m_Dir + "/scenario.txt";
        std::ofstream(file) << scenario;
        std::vector<std::string> argv = {"ip",
                                         "netns",
                                         "exec",
                                         m_Printers,
                                         buildDir() + "/tools/hcp-responder/hcp-responder",
                                         file,
                                         "--group-on",
                                         "10.77.0.2",
                                         "--exit-after",
                                         "60"};
        argv.insert(argv.end(), options.begin(), options.end());
        m_Responder.emplace(spawn(argv));
        struct pollfd p = {m_Responder->outFd(), POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 5000)) << "responder did not start";
        char ready[16] = {0};
        ASSERT_GT(read(m_Responder->outFd(), ready, 6), 0);
        ASSERT_EQ(std::string(ready), "ready\n");
    }

    std::string queriesSeen() {
        fcntl(m_Responder->outFd(), F_SETFL, O_NONBLOCK);
        std::string all;
        char chunk[512];
        ssize_t n;
        while ((n = read(m_Responder->outFd(), chunk, sizeof chunk)) > 0)
            all.append(chunk, n);
        return all;
    }

    // Turns the trace log on for the backends started from now: marker in
    // TMPDIR, file in the home directory of the real user's password entry,
    // given by a passwd file of the test bind-mounted in a private mount
    // namespace.
    void enableTraceLog() {
        m_TraceHome = m_Dir + "/home";
        ASSERT_EQ(0, mkdir(m_TraceHome.c_str(), 0700));
        std::ofstream(m_Dir + "/tmp/.slog") << "";
        std::ifstream in("/etc/passwd");
        std::ofstream out(m_Dir + "/passwd");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("root:", 0) == 0)
                line = "root:x:0:0:root:" + m_TraceHome + ":/bin/sh";
            out << line << "\n";
        }
    }

    // The names of the trace log files written so far.
    std::vector<std::string> traceLogs() {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_TraceHome.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // Starts the backend installed as `name` inside the backend namespace.
    qor::proc::Process startBackend(const std::string& name, const std::vector<std::string>& args,
                                    const std::vector<std::string>& env) {
        std::string program = m_Dir + "/" + name;
        struct stat st;
        if (stat(program.c_str(), &st) != 0) {
            sh("cp " + buildDir() + "/netbackend/netbackend " + program);
        }
        std::vector<std::string> argv;
        if (!m_TraceHome.empty())
            argv = {"unshare",
                    "-m",
                    "sh",
                    "-c",
                    "mount --bind \"$0\" /etc/passwd && exec \"$@\"",
                    m_Dir + "/passwd"};
        std::vector<std::string> inNamespace = {
            "ip", "netns", "exec", m_Backend, "env", "-i", "TMPDIR=" + m_Dir + "/tmp"};
        argv.insert(argv.end(), inNamespace.begin(), inNamespace.end());
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        return spawn(argv);
    }

    Output runBackend(const std::string& name, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, double timeout = 25) {
        qor::proc::Process backend = startBackend(name, args, env);
        return collect(backend, timeout);
    }

    std::string record() {
        std::ifstream in(m_Dir + "/serverbin/record.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<std::string> jobArgs() { return {"42", "alice", "title", "1", "opt=1"}; }
};

// Tamo first, DALOR (additional section, compressed) at 300 ms, Corvane by
// multicast at 600 ms with a line break in its model, the Tamo printer again
// at 900 ms, and hostile datagrams before and between them.
const char* kThreePrinters = R"(
raw hex=00008400000000010000000003616263c00c
raw hex=0000840000000001
printer name=tamo1
txt MACUAA=80000000C001
txt IPADDRESS=10.77.0.50
txt 1284STRID=MFG:Tamo;MDL:"Tamo Laser 5000";
end
printer name=dalor1 delay=300 section=additional compress=1
txt IPADDRESS=10.77.0.51
txt MACUAA=020000000001
txt 1284STRID="DALOR D1"
end
raw delay=450 hex=00008400000100000000000001c00c
printer name=corv delay=600 to=multicast
txt MACUAA=0C0000000003
txt IPADDRESS=10.77.0.52
txt PRINTERVIDPID=2B4C0001
txt 1284STRID="Model\x0anetwork evil://x "q""
end
printer name=tamo1 delay=900
txt MACUAA=80000000C001
txt IPADDRESS=10.77.0.50
txt 1284STRID=MFG:Tamo;MDL:"Tamo Laser 5000";
end
)";

}  // namespace

TEST_F(Link, ListingPrintsEachPrinterAsItAnswers) {
    startResponder(kThreePrinters);
    Output o = runBackend("generic", {});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    std::vector<std::string> expected = {
        "network generic://010000000380 \"Tamo Laser 5000\" \" Network Printer #1 "
        "(010000000380)\" \"10.77.0.50\"",
        "network generic://400000000080 \"DALOR D1\" \" Network Printer #2 (400000000080)\" "
        "\"10.77.0.51\"",
        "network generic://3000000000C0 \"Corvane Model network evil://x \\\"q\\\"\" \"Corvane "
        "Network Printer #3 (3000000000C0)\" \"10.77.0.52\"",
        "network generic://010000000380 \"Tamo Laser 5000\" \" Network Printer #4 "
        "(010000000380)\" \"10.77.0.50\""};
    EXPECT_EQ(o.lines, expected);
    ASSERT_FALSE(o.seconds.empty());
    EXPECT_LT(o.seconds[0], 5.0) << "first line must come well before the window ends";
    EXPECT_GT(o.elapsed, 13.0);  // the window still runs its course
    EXPECT_LT(o.elapsed, 20.0);
}

TEST_F(Link, ListingKeepsOnlyTheAcceptedManufacturer) {
    startResponder(kThreePrinters);
    Output o = runBackend("tamo", {"a", "b"});  // argument counts below 6 list
    EXPECT_EQ(o.status, 0);
    ASSERT_EQ(o.lines.size(), 2u);
    EXPECT_EQ(o.lines[1],
              "network tamo://010000000380 \"Tamo Laser 5000\" \"Tamo Network Printer #2 "
              "(010000000380)\" \"10.77.0.50\"");
}

TEST_F(Link, SeveralNamesAtOnceEachListTheirOwn) {
    startResponder(kThreePrinters);
    const std::vector<std::string> names = {"tamo", "dalor", "generic", "amtix"};
    std::vector<qor::proc::Process> backends;
    for (const std::string& name : names)
        backends.push_back(startBackend(name, {}, {}));
    std::vector<Output> results;
    for (qor::proc::Process& backend : backends)
        results.push_back(collect(backend, 30));
    for (auto& r : results)
        EXPECT_EQ(r.status, 0);
    EXPECT_EQ(results[0].lines.size(), 2u);
    ASSERT_EQ(results[1].lines.size(), 1u);
    EXPECT_EQ(results[1].lines[0],
              "network dalor://400000000080 \"DALOR D1\" \"DALOR Network Printer #1 "
              "(400000000080)\" \"10.77.0.51\"");
    EXPECT_EQ(results[2].lines.size(), 4u);
    EXPECT_EQ(results[3].lines.size(), 0u);
    for (auto& r : results) {
        if (!r.seconds.empty()) {
            EXPECT_LT(r.seconds[0], 5.0);
        }
    }
}

TEST_F(Link, JobModeExecsSocketBackendAtFirstMatch) {
    startResponder(R"(
printer name=bad
txt MACUAA=80000000C001
txt IPADDRESS=evil.example:9100/?x
txt 1284STRID="Tamo T"
end
printer name=good delay=300
txt MACUAA=80000000C001
txt IPADDRESS=10.77.0.50
txt 1284STRID="Tamo T"
end
printer name=late delay=600
txt MACUAA=80000000C001
txt IPADDRESS=10.77.0.99
txt 1284STRID="Tamo T"
end
)");
    Output o =
        runBackend("tamo", jobArgs(),
                   {"DEVICE_URI=tamo://010000000380", "CUPS_SERVERBIN=" + m_Dir + "/serverbin"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_LT(o.elapsed, 5.0) << "exec at the first accepted match";
    EXPECT_TRUE(o.lines.empty());
    EXPECT_NE(o.err.find("STATE: +connecting-to-device\n"), std::string::npos);
    EXPECT_NE(o.err.find("INFO: "), std::string::npos);
    EXPECT_NE(o.err.find("010000000380"), std::string::npos);
    std::string r = record();
    EXPECT_NE(
        r.find("ARG0=socket://10.77.0.50\nARG1=42\nARG2=alice\nARG3=title\nARG4=1\nARG5=opt=1\n"),
        std::string::npos)
        << r;
    EXPECT_NE(r.find("ENV DEVICE_URI=socket://10.77.0.50\n"), std::string::npos) << r;
}

TEST_F(Link, JobModeWithDottedUriNeedsNoDiscovery) {
    startResponder("");
    Output o = runBackend("x", jobArgs(),
                          {"DEVICE_URI=x://10.0.0.5", "CUPS_SERVERBIN=" + m_Dir + "/serverbin"});
    EXPECT_EQ(o.status, 0);
    EXPECT_LT(o.elapsed, 3.0);
    EXPECT_NE(record().find("ARG0=socket://10.0.0.5\n"), std::string::npos);
    EXPECT_EQ(queriesSeen().find("query from"), std::string::npos);
}

TEST_F(Link, JobModeExecFailureExitsOne) {
    startResponder("");
    Output o = runBackend("x", jobArgs(),
                          {"DEVICE_URI=x://10.0.0.5", "CUPS_SERVERBIN=" + m_Dir + "/missing"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("ERROR: "), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
}

// The printer of the jobs below: 010000000380 at 10.77.0.50.
const char* kJobPrinter = R"(
printer name=tamo1
txt MACUAA=80000000C001
txt IPADDRESS=10.77.0.50
txt 1284STRID="Tamo T"
end
)";

// A job printed to a class gives up after one round, so that the scheduler
// can hand it to another printer of the class.
TEST_F(Link, JobOfAClassGivesUpAfterOneRound) {
    startResponder(kJobPrinter);
    // Anything after the hardware address is part of it: no match.
    Output o = runBackend("tamo", jobArgs(),
                          {"DEVICE_URI=tamo://010000000380/", "CLASS=office",
                           "CUPS_SERVERBIN=" + m_Dir + "/serverbin"});
    EXPECT_EQ(o.status, 1);
    EXPECT_GT(o.elapsed, 14.5);
    EXPECT_LT(o.elapsed, 18.0) << "one round only";
    EXPECT_EQ(o.err,
              "STATE: +connecting-to-device\n"
              "INFO: Looking for printer with hardware address 010000000380/\n"
              "ERROR: Printer with hardware address 010000000380/ not found\n");
    EXPECT_EQ(record(), "");
    EXPECT_EQ(queriesSeen(), "query from 10.77.0.1\n");
}

// The printer is asleep for its first 25 seconds: the job keeps looking,
// round after round, and goes to the printer as soon as it answers.
TEST_F(Link, JobWaitsForAnAbsentPrinterAndGoesOnWhenItAnswers) {
    startResponder(kJobPrinter, {"--silent-for", "25"});
    ASSERT_NO_FATAL_FAILURE(enableTraceLog());
    auto start = Clock::now();
    qor::proc::Process backend =
        startBackend("tamo", jobArgs(),
                     {"DEVICE_URI=tamo://010000000380", "CUPS_SERVERBIN=" + m_Dir + "/serverbin"});
    PipeReader err(backend.errFd(), start), seen(m_Responder->outFd(), start);
    const std::string waiting =
        "INFO: Printer with hardware address 010000000380 has not answered, still looking for it\n";

    readUntil({&err, &seen}, start, 24, [] { return false; });
    EXPECT_FALSE(err.closed()) << "gave up while the printer was away: " << err.text();
    EXPECT_NE(err.text().find(waiting), std::string::npos) << err.text();
    EXPECT_EQ(err.text().find("ERROR:"), std::string::npos) << err.text();
    EXPECT_EQ(record(), "");

    ASSERT_TRUE(readUntil({&err, &seen}, start, 45, [&] { return err.closed(); }))
        << err.text() << seen.text();
    Output o = collect(backend, 5);
    EXPECT_EQ(o.status, 0) << err.text();
    // Round 1 at once, unanswered; round 2 after the 15 s window and the
    // 10 s pause; the exec follows the answer at once.
    double first = seen.lineAt("unanswered query from 10.77.0.1");
    double answered = seen.lineAt("query from 10.77.0.1");
    EXPECT_GE(first, 0) << seen.text();
    EXPECT_LT(first, 2.0);
    EXPECT_GT(answered - first, 24.5) << seen.text();
    EXPECT_LT(answered - first, 26.5) << seen.text();
    EXPECT_LT(err.closedAt() - answered, 1.0) << "exec within a second of the answer";
    EXPECT_EQ(countOf(seen.text(), "query from"), 2u) << seen.text();
    EXPECT_EQ(err.text(),
              "STATE: +connecting-to-device\n"
              "INFO: Looking for printer with hardware address 010000000380\n" +
                  waiting + "STATE: -connecting-to-device\n");
    EXPECT_NE(record().find("ARG0=socket://10.77.0.50\nARG1=42\n"), std::string::npos) << record();

    // One trace record per round.
    std::vector<std::string> logs = traceLogs();
    ASSERT_EQ(logs.size(), 1u);
    std::ifstream in(m_TraceHome + "/" + logs[0]);
    std::stringstream log;
    log << in.rdbuf();
    for (const char* record :
         {"| Discovery round 1 for 010000000380 [", "| Device not found with MAC:010000000380 [",
          "| Discovery round 2 for 010000000380 [",
          "| discovered ip 10.77.0.50 for 010000000380 ["})
        EXPECT_NE(log.str().find(record), std::string::npos) << record;
    EXPECT_EQ(countOf(log.str(), "| Discovery round "), 2u);
}

// A cancelled job (SIGTERM) or an interrupt ends the wait at once with
// status 0, in a discovery window or in the pause between rounds; an empty
// CLASS is no class.
TEST_F(Link, StopSignalEndsTheWaitAtOnceWithSuccess) {
    startResponder("");
    struct Row {
        const char* when;
        int signal;
        double at;
        std::vector<std::string> env;
    };
    for (const Row& row : {Row{"window", SIGTERM, 3, {}}, Row{"pause", SIGTERM, 18, {"CLASS="}},
                           Row{"window", SIGINT, 3, {}}}) {
        SCOPED_TRACE(std::string(row.when) + " signal " + std::to_string(row.signal));
        std::vector<std::string> env = {"DEVICE_URI=tamo://010000000380",
                                        "CUPS_SERVERBIN=" + m_Dir + "/serverbin"};
        env.insert(env.end(), row.env.begin(), row.env.end());
        auto start = Clock::now();
        qor::proc::Process backend = startBackend("tamo", jobArgs(), env);
        PipeReader err(backend.errFd(), start);
        readUntil({&err}, start, row.at, [] { return false; });
        ASSERT_FALSE(err.closed()) << err.text();
        EXPECT_EQ(row.at > 15, err.text().find("has not answered") != std::string::npos)
            << err.text();
        backend.signal(row.signal);
        auto sent = Clock::now();
        EXPECT_TRUE(readUntil({&err}, sent, 1.0, [&] { return err.closed(); }))
            << "still running a second after the signal";
        Output o = collect(backend, 5);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(err.text().find("ERROR:"), std::string::npos) << err.text();
    }
    EXPECT_EQ(record(), "");
}

TEST_F(Link, VersionQueryRunsNoDiscovery) {
    startResponder("");
    Output o = runBackend("tamo", {"-version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.lines, std::vector<std::string>{"2.2"});
    EXPECT_LT(o.elapsed, 3.0);
    EXPECT_EQ(queriesSeen().find("query from"), std::string::npos);
}

namespace {

// A process in namespace `ns` that holds UDP port 5353 without address reuse,
// so that nobody else can bind it; killed by the caller.
pid_t holdDiscoveryPort(const std::string& ns) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY);
        int fd = -1;
        struct sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(5353);
        if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0)
            fd = socket(AF_INET, SOCK_DGRAM, 0);
        char ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    if (read(ready[0], &ok, 1) != 1 || !ok) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    close(ready[0]);
    return pid;
}

}  // namespace

TEST_F(Link, PortInUseWithoutReuseReportsTheBindErrorAndListsNothing) {
    startResponder(kThreePrinters);
    pid_t holder = holdDiscoveryPort(m_Backend);
    ASSERT_GT(holder, 0);
    Output listing = runBackend("generic", {});
    std::vector<std::string> env = {"DEVICE_URI=tamo://010000000380",
                                    "CUPS_SERVERBIN=" + m_Dir + "/serverbin"};
    Output classJob = runBackend("tamo", jobArgs(), {env[0], env[1], "CLASS=office"});
    // Without a class the job says why it waits, and tries again.
    auto start = Clock::now();
    qor::proc::Process waiting = startBackend("tamo", jobArgs(), env);
    PipeReader err(waiting.errFd(), start);
    readUntil({&err}, start, 3, [] { return false; });
    waiting.signal(SIGTERM);
    Output job = collect(waiting, 5);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);

    EXPECT_EQ(listing.status, 0);
    EXPECT_TRUE(listing.lines.empty());
    EXPECT_EQ(listing.err, "Broadcast: bind: Address already in use\n");
    EXPECT_LT(listing.elapsed, 5.0) << "no window without a socket";
    EXPECT_EQ(classJob.status, 1);
    EXPECT_LT(classJob.elapsed, 5.0);
    EXPECT_NE(classJob.err.find("Broadcast: bind: Address already in use\n"), std::string::npos);
    EXPECT_NE(classJob.err.find("ERROR: "), std::string::npos) << classJob.err;
    EXPECT_FALSE(err.closed());
    EXPECT_NE(err.text().find("Broadcast: bind: Address already in use\nINFO: Unable to send the "
                              "discovery query for printer 010000000380, trying again\n"),
              std::string::npos)
        << err.text();
    EXPECT_EQ(job.status, 0);
    EXPECT_EQ(record(), "") << "the socket backend must not run";
    EXPECT_EQ(queriesSeen().find("query from"), std::string::npos);
}

// More interfaces than a fixed table would hold: the query goes out once on
// each of them.
TEST_F(Link, QueryGoesOutOnceOnEveryInterface) {
    const int kExtra = 7;
    std::string id = std::to_string(getpid());
    std::vector<std::string> groupArgs;
    for (int k = 1; k <= kExtra; ++k) {
        std::string a = "xa" + std::to_string(k) + "_" + id,
                    b = "xb" + std::to_string(k) + "_" + id;
        std::string net = "10.79." + std::to_string(k) + ".";
        ASSERT_EQ(0, sh("ip link add name " + a + " netns " + m_Backend + " type veth peer name " +
                        b + " netns " + m_Printers));
        ASSERT_EQ(0, sh("ip -n " + m_Backend + " addr add " + net + "1/24 dev " + a));
        ASSERT_EQ(0, sh("ip -n " + m_Printers + " addr add " + net + "2/24 dev " + b));
        ASSERT_EQ(0, sh("ip -n " + m_Backend + " link set " + a + " up"));
        ASSERT_EQ(0, sh("ip -n " + m_Printers + " link set " + b + " up"));
        groupArgs.push_back(net + "2");
    }
    std::string file = m_Dir + "/scenario.txt";
    std::ofstream(file) << "";
    std::vector<std::string> argv = {"ip",
                                     "netns",
                                     "exec",
                                     m_Printers,
                                     buildDir() + "/tools/hcp-responder/hcp-responder",
                                     file,
                                     "--exit-after",
                                     "60",
                                     "--group-on",
                                     "10.77.0.2"};
    for (const std::string& address : groupArgs) {
        argv.push_back("--group-on");
        argv.push_back(address);
    }
    m_Responder.emplace(spawn(argv));
    struct pollfd p = {m_Responder->outFd(), POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 5000)) << "responder did not start";
    char ready[7] = {0};
    ASSERT_EQ(read(m_Responder->outFd(), ready, 6), 6);

    Output o = runBackend("generic", {});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.lines.empty());
    std::string seen = queriesSeen();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), kExtra + 1) << seen;
    EXPECT_NE(seen.find("query from 10.77.0.1\n"), std::string::npos) << seen;
    for (int k = 1; k <= kExtra; ++k)
        EXPECT_NE(seen.find("query from 10.79." + std::to_string(k) + ".1\n"), std::string::npos)
            << seen;
}

// The trace log of a real run: marker in TMPDIR, file in the home directory
// of the real user's password entry, given here by a passwd file of the test
// bind-mounted in a private mount namespace.
TEST_F(Link, TraceLogOfARunGoesToTheHomeOfThePasswordEntry) {
    startResponder(kThreePrinters);
    ASSERT_NO_FATAL_FAILURE(enableTraceLog());
    Output o = runBackend("generic", {});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.lines.size(), 4u);

    // One file, "<program>|<pid>.log", owner read and write only.
    std::vector<std::string> names = traceLogs();
    std::string home = m_TraceHome;
    ASSERT_EQ(names.size(), 1u);
    const std::string& name = names[0];
    EXPECT_EQ(name.rfind("generic|", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".log") << name;
    struct stat st;
    ASSERT_EQ(0, stat((home + "/" + name).c_str(), &st));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream logFile(home + "/" + name);
    std::stringstream content;
    content << logFile.rdbuf();
    std::string text = content.str();
    EXPECT_EQ(text[0], '|');
    EXPECT_NE(text.find("| begin data.size=41 port=5353 [src/connector-"), std::string::npos)
        << text.substr(0, 400);
    EXPECT_NE(text.find("-Broadcast]\n"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}
