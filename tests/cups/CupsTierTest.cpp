// The backend under the real spooler: a cupsd of its own (configuration,
// spool, logs and backend folder in a temporary folder) runs in a private
// network namespace joined by a veth pair to a printer namespace, where the
// discovery responder answers and a raw listener on TCP 9100 takes the
// jobs. The backend is installed by its own install script under every
// configured name, with the spooler's real socket backend beside it. Every
// case runs with the backend file in mode 0755 (the spooler runs it as its
// own user) and 0700 (the spooler runs it as root).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "BackendNames.h"
#include "ProcessRun.h"
#include "QuietShell.h"

using namespace qortest;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A TCP listener on port 9100 of an address inside a network namespace; it
// keeps the bytes of each connection until the peer closes its side.
class RawListener {
  public:
    RawListener(const std::string& netns, const std::string& address) {
        int target = open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
        int home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (target < 0 || home < 0 || setns(target, CLONE_NEWNET) != 0) {
            m_Error = "cannot enter " + netns;
        } else {
            // A socket stays in the namespace it was made in.
            m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int one = 1;
            setsockopt(m_Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            struct sockaddr_in local = {};
            local.sin_family = AF_INET;
            local.sin_port = htons(9100);
            inet_pton(AF_INET, address.c_str(), &local.sin_addr);
            if (bind(m_Fd, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0 ||
                listen(m_Fd, 4) != 0) {
                m_Error = "cannot listen on " + address + ":9100: " + strerror(errno);
                close(m_Fd);
                m_Fd = -1;
            }
            if (setns(home, CLONE_NEWNET) != 0)
                abort();  // the rest of the test must not run in the printer namespace
        }
        if (target >= 0)
            close(target);
        if (home >= 0)
            close(home);
        if (m_Fd >= 0)
            m_Thread = std::thread([this] { serve(); });
    }

    ~RawListener() {
        m_Stop = true;
        if (m_Thread.joinable())
            m_Thread.join();
        if (m_Fd >= 0)
            close(m_Fd);
    }

    const std::string& error() const { return m_Error; }

    // The bytes of connection `index` (0 first) once it has closed, or
    // false after timeoutSeconds.
    bool waitJob(size_t index, double timeoutSeconds, std::string& bytes) {
        std::unique_lock<std::mutex> lock(m_Lock);
        bool ok = m_Done.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                  [&] { return m_Jobs.size() > index; });
        if (ok)
            bytes = m_Jobs[index];
        return ok;
    }

    size_t jobCount() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Jobs.size();
    }

  private:
    void serve() {
        while (!m_Stop) {
            struct pollfd p = {m_Fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            int c = accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            std::string bytes;
            auto start = Clock::now();
            while (!m_Stop && since(start) < 60) {
                struct pollfd q = {c, POLLIN, 0};
                if (poll(&q, 1, 100) <= 0)
                    continue;
                char chunk[65536];
                ssize_t n = read(c, chunk, sizeof chunk);
                if (n <= 0)
                    break;
                bytes.append(chunk, static_cast<size_t>(n));
            }
            close(c);  // the socket backend waits for the printer to close
            std::lock_guard<std::mutex> lock(m_Lock);
            m_Jobs.push_back(bytes);
            m_Done.notify_all();
        }
    }

    int m_Fd = -1;
    std::string m_Error;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
    std::mutex m_Lock;
    std::condition_variable m_Done;
    std::vector<std::string> m_Jobs;
};

// The printers of the listing: each entry is applied as the printer sends
// it. Hardware addresses come out bit-reversed per byte.
const char* const kListingScenario = R"(
# 010000000380: Tamo by its vendor id
printer name=tamo1
txt MACUAA=80000000C001
txt IPADDRESS=10.79.0.2
txt PRINTERVIDPID=3A5D0001
txt 1284STRID=MFG:Tamo;MDL:"Tamo Laser 5000";
end
# 400000000080: DALOR only by its model text
printer name=dalor1 delay=150
txt MACUAA=020000000001
txt IPADDRESS=10.79.0.21
txt 1284STRID="DALOR D1"
end
# 3000000000C0: Amtix only by its mDNS name
printer name=amtix1 delay=300 section=additional compress=1
txt MACUAA=0C0000000003
txt IPADDRESS=10.79.0.22
txt 1284STRID="Office 7"
txt MDNSNAME="Amtix-A7"
end
# 0500000000A0: Kessa by its model text
printer name=kessa1 delay=450
txt MACUAA=A00000000005
txt IPADDRESS=10.79.0.23
txt 1284STRID=MFG:Kessa;MDL:"Kessa K2";
end
# 3000000000E0: Corvane by its vendor id, accepted by no single name
printer name=corv1 delay=600
txt MACUAA=0C0000000007
txt IPADDRESS=10.79.0.24
txt PRINTERVIDPID=2B4C0001
txt 1284STRID=MDL:"C 300";
end
# 1000000000F0: a model text that tries to add a device line of its own
printer name=rogue delay=750
txt MACUAA=08000000000F
txt IPADDRESS=10.79.0.25
txt PRINTERVIDPID=2B4C0002
txt 1284STRID=MDL:"Rogue\x0anetwork tamo://0000000000AA "x" "y" "z"";
end
)";

// The printer whose queue the jobs use (010000000380) answers after another
// Tamo printer, so the backend must pick it by its hardware address.
std::string jobScenario(const std::string& address) {
    return "printer name=decoy\n"
           "txt MACUAA=80000000C0FF\n"
           "txt IPADDRESS=10.79.0.9\n"
           "txt PRINTERVIDPID=3A5D0001\n"
           "end\n"
           "printer name=tamo1 delay=100\n"
           "txt MACUAA=80000000C001\n"
           "txt IPADDRESS=" +
           address +
           "\n"
           "txt PRINTERVIDPID=3A5D0001\n"
           "txt 1284STRID=MFG:Tamo;MDL:\"Tamo Laser 5000\";\n"
           "end\n";
}

const char* const kQueueUri = "tamo://010000000380";

class CupsTier : public ::testing::TestWithParam<mode_t> {
  protected:
    std::string m_Id, m_Spooler, m_Printers, m_VethS, m_VethP, m_Dir, m_ServerBin;
    pid_t m_Cupsd = -1, m_Responder = -1;
    int m_Responders = 0;

    void SetUp() override {
        m_Id = std::to_string(getpid());
        m_Spooler = "qcS" + m_Id;
        m_Printers = "qcP" + m_Id;
        m_VethS = "qs" + m_Id;
        m_VethP = "qp" + m_Id;
        char pattern[] = "/tmp/qorcups.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_Dir = pattern;
        // The spooler's own user runs backends of mode 0755 from here.
        ASSERT_EQ(0, chmod(m_Dir.c_str(), 0755));
        ASSERT_EQ(0, access("/usr/sbin/cupsd", X_OK)) << "cupsd is not installed (tests/deps.sh)";

        ASSERT_EQ(0, sh("ip netns add " + m_Spooler));
        ASSERT_EQ(0, sh("ip netns add " + m_Printers));
        ASSERT_EQ(0, sh("ip link add name " + m_VethS + " netns " + m_Spooler +
                        " type veth peer name " + m_VethP + " netns " + m_Printers));
        for (auto [ns, dev, addr] :
             {std::tuple<std::string, std::string, std::string>{m_Spooler, m_VethS, "10.79.0.1"},
              {m_Printers, m_VethP, "10.79.0.2"}}) {
            ASSERT_EQ(0, sh("ip -n " + ns + " addr add " + addr + "/24 dev " + dev));
            ASSERT_EQ(0, sh("ip -n " + ns + " link set " + dev + " up"));
            ASSERT_EQ(0, sh("ip -n " + ns + " link set lo up"));
            ASSERT_EQ(0, sh("ip -n " + ns + " route add 224.0.0.0/4 dev " + dev));
        }

        installBackend();
        if (HasFatalFailure())
            return;
        startCupsd();
    }

    void TearDown() override {
        stopProgram(m_Responder);
        stopProgram(m_Cupsd, 15);
        // In a sanitizer build the backend's reports reach only the
        // spooler's log.
        if (!m_Dir.empty()) {
            EXPECT_EQ(std::string::npos, errorLog().find("Sanitizer")) << errorLog();
        }
        // Whatever the spooler left behind in the namespaces is ours too.
        for (const std::string& ns : {m_Spooler, m_Printers}) {
            RunResult pids = runProgram({"ip", "netns", "pids", ns}, 10);
            for (const std::string& p : splitLines(pids.out)) {
                pid_t pid = static_cast<pid_t>(atoi(p.c_str()));
                if (pid > 1)
                    kill(pid, SIGKILL);
            }
        }
        sh("ip netns del " + m_Spooler);
        sh("ip netns del " + m_Printers);
        if (m_Dir.rfind("/tmp/qorcups.", 0) == 0 && !HasFailure())
            sh("rm -rf '" + m_Dir + "'");
        else if (!m_Dir.empty())
            fprintf(stderr, "kept %s for inspection\n", m_Dir.c_str());
    }

    // The backend's own install script with DESTDIR: one file, the other
    // names hard links to it. The spooler's folder is the parent of the
    // backend folder.
    void installBackend() {
        std::string root = m_Dir + "/root";
        RunResult install =
            runProgram({QOR_CMAKE_COMMAND, "-P", buildDir() + "/netbackend/cmake_install.cmake"},
                       60, {"DESTDIR=" + root});
        ASSERT_EQ(0, install.status) << install.out << install.err;
        std::string backendDir = root + QOR_CUPS_BACKEND_DIR;
        ASSERT_EQ("/backend", backendDir.substr(backendDir.rfind('/')))
            << "the spooler reads backends from <server bin>/backend";
        m_ServerBin = backendDir.substr(0, backendDir.rfind('/'));

        std::vector<std::string> names = installNames();
        ASSERT_GE(names.size(), 2u);
        struct stat first;
        ASSERT_EQ(0, stat((backendDir + "/" + names[0]).c_str(), &first));
        EXPECT_EQ(static_cast<nlink_t>(names.size()), first.st_nlink);
        EXPECT_EQ(static_cast<mode_t>(strtol(QOR_BACKEND_MODE, nullptr, 8)), first.st_mode & 07777);
        for (const std::string& name : names) {
            struct stat st;
            ASSERT_EQ(0, lstat((backendDir + "/" + name).c_str(), &st)) << name;
            EXPECT_TRUE(S_ISREG(st.st_mode)) << name << " must not be a symbolic link";
            EXPECT_EQ(first.st_ino, st.st_ino) << name << " is not a hard link of " << names[0];
        }
        // One inode: the mode of one name is the mode of all.
        ASSERT_EQ(0, chmod((backendDir + "/" + names[0]).c_str(), GetParam()));

        ASSERT_EQ(0, sh("cp -p /usr/lib/cups/backend/socket '" + backendDir + "/socket'"));
        for (const char* part : {"daemon", "filter", "cgi-bin", "driver", "monitor", "notifier"})
            ASSERT_EQ(0, symlink((std::string("/usr/lib/cups/") + part).c_str(),
                                 (m_ServerBin + "/" + part).c_str()));
    }

    void startCupsd() {
        for (const char* sub : {"etc", "spool", "spool/tmp", "log", "cache", "run"})
            ASSERT_EQ(0, mkdir((m_Dir + "/" + sub).c_str(), 0755)) << sub;
        const std::string& d = m_Dir;
        // Every file of the spooler in the temporary folder; only a local
        // socket there, no sharing or browsing, every operation open to the
        // local caller.
        const char* files = R"(ServerRoot @/etc
ServerBin @SERVERBIN
DataDir /usr/share/cups
RequestRoot @/spool
TempDir @/spool/tmp
CacheDir @/cache
StateDir @/run
AccessLog @/log/access_log
ErrorLog @/log/error_log
PageLog @/log/page_log
Printcap @/run/printcap
User lp
Group lp
SystemGroup root
)";
        const char* daemon = R"(LogLevel debug
MaxLogSize 0
Listen @/cups.sock
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
)";
        auto fill = [&](std::string text) {
            for (size_t at; (at = text.find("@SERVERBIN")) != std::string::npos;)
                text.replace(at, 10, m_ServerBin);
            for (size_t at; (at = text.find('@')) != std::string::npos;)
                text.replace(at, 1, d);
            return text;
        };
        ASSERT_TRUE(writeFile(d + "/etc/cups-files.conf", fill(files)));
        ASSERT_TRUE(writeFile(d + "/etc/cupsd.conf", fill(daemon)));
        setenv("CUPS_SERVER", (d + "/cups.sock").c_str(), 1);
        m_Cupsd = startProgram({"ip", "netns", "exec", m_Spooler, "/usr/sbin/cupsd", "-f", "-c",
                                d + "/etc/cupsd.conf", "-s", d + "/etc/cups-files.conf"},
                               d + "/log/cupsd.out");
        ASSERT_GT(m_Cupsd, 0);
        auto start = Clock::now();
        while (since(start) < 20) {
            RunResult r = runProgram({"lpstat", "-r"}, 5);
            if (r.out == "scheduler is running\n")
                return;
            ASSERT_FALSE(waitExit(m_Cupsd, 0.2))
                << "cupsd ended: " << readFile(d + "/log/cupsd.out")
                << readFile(d + "/log/error_log");
        }
        FAIL() << "cupsd did not start: " << readFile(d + "/log/error_log");
    }

    void startResponder(const std::string& scenario, const std::string& address) {
        std::string file = m_Dir + "/scenario.txt";
        ASSERT_TRUE(writeFile(file, scenario));
        // A log of its own per start: "ready" must come from this one.
        std::string log = m_Dir + "/log/responder." + std::to_string(++m_Responders);
        m_Responder = startProgram(
            {"ip", "netns", "exec", m_Printers, buildDir() + "/tools/hcp-responder/hcp-responder",
             file, "--group-on", address, "--exit-after", "170"},
            log);
        ASSERT_GT(m_Responder, 0);
        auto start = Clock::now();
        while (readFile(log).find("ready\n") == std::string::npos) {
            ASSERT_LT(since(start), 10) << "responder did not start: " << readFile(log);
            ASSERT_FALSE(waitExit(m_Responder, 0.05)) << readFile(log);
        }
    }

    void stopResponder() {
        stopProgram(m_Responder);
        m_Responder = -1;
    }

    std::string errorLog() { return readFile(m_Dir + "/log/error_log"); }

    // Job ids ("Q-3") that lpstat lists as completed or not completed.
    std::set<std::string> jobs(const std::string& which) {
        RunResult r = runProgram({"lpstat", "-W", which, "-o", "Q"}, 10);
        std::set<std::string> ids;
        for (const std::string& line : splitLines(r.out))
            ids.insert(line.substr(0, line.find(' ')));
        return ids;
    }

    // Submits data with lp; returns the job id lp reports.
    std::string print(const std::string& data, const std::string& name) {
        std::string file = m_Dir + "/" + name;
        writeFile(file, data);
        RunResult r = runProgram({"lp", "-d", "Q", file}, 20);
        EXPECT_EQ(0, r.status) << r.err;
        std::smatch m;
        std::regex id("request id is (Q-[0-9]+) \\(1 file\\(s\\)\\)\n");
        if (!std::regex_match(r.out, m, id)) {
            ADD_FAILURE() << "lp said: " << r.out << r.err;
            return "";
        }
        return m[1];
    }

    bool waitCompleted(const std::string& id, double seconds) {
        auto start = Clock::now();
        while (since(start) < seconds) {
            if (jobs("completed").count(id))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Waits for a line of the spooler's log that matches pattern; returns
    // its first capture group, or "" after seconds.
    std::string waitLog(const std::string& pattern, double seconds) {
        std::regex re(pattern);
        auto start = Clock::now();
        while (since(start) < seconds) {
            for (const std::string& line : splitLines(errorLog())) {
                std::smatch m;
                if (std::regex_search(line, m, re))
                    return m.size() > 1 ? m[1].str() : m[0].str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "";
    }
};

// Random bytes with every byte value in them: nothing may be filtered,
// translated or cut on the way to the printer.
std::string jobBytes(unsigned seed, size_t size) {
    std::mt19937 random(seed);
    std::string data;
    for (int b = 0; b < 256; ++b)
        data.push_back(static_cast<char>(b));
    while (data.size() < size)
        data.push_back(static_cast<char>(random() & 0xFF));
    return data;
}

// The user a process runs as, once it runs the program at path (before
// that it may still be the spooler's exec helper).
uid_t uidOf(pid_t pid, const std::string& path) {
    std::string proc = "/proc/" + std::to_string(pid);
    auto start = Clock::now();
    for (;;) {
        char exe[4096] = {0};
        if (readlink((proc + "/exe").c_str(), exe, sizeof exe - 1) > 0 && path == exe)
            break;
        if (since(start) > 5)
            return static_cast<uid_t>(-1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const std::string& line : splitLines(readFile(proc + "/status")))
        if (line.rfind("Uid:", 0) == 0)
            return static_cast<uid_t>(strtoul(line.c_str() + 4, nullptr, 10));
    return static_cast<uid_t>(-1);
}

TEST_P(CupsTier, ListsEveryPrinterUnderEachNameThatAcceptsIt) {
    ASSERT_NO_FATAL_FAILURE(startResponder(kListingScenario, "10.79.0.2"));

    RunResult plain = runProgram({"lpinfo", "-v"}, 60);
    ASSERT_EQ(0, plain.status) << plain.err;
    std::vector<std::string> lines = splitLines(plain.out);
    std::multiset<std::string> got(lines.begin(), lines.end());
    std::multiset<std::string> want = {
        "network socket",                   // the spooler's own backend
        "network tamo://010000000380",      //
        "network dalor://400000000080",     //
        "network amtix://3000000000C0",     //
        "network netkessa://0500000000A0",  //
        "network generic://010000000380",   // the generic name accepts all
        "network generic://400000000080",   //
        "network generic://3000000000C0",   //
        "network generic://0500000000A0",   //
        "network generic://3000000000E0",   //
        "network generic://1000000000F0",   //
    };
    EXPECT_EQ(want, got) << plain.out;
    EXPECT_EQ(std::string::npos, plain.out.find("0000000000AA"));

    // The long form shows every field of each device line as the spooler
    // read it; the rogue model's line break became a blank and its quotes
    // stayed inside the field.
    RunResult full = runProgram({"lpinfo", "-l", "-v"}, 60);
    ASSERT_EQ(0, full.status) << full.err;
    auto device = [](const std::string& uri, const std::string& info, const std::string& model,
                     const std::string& ip) {
        return "Device: uri = " + uri + "\n        class = network\n        info = " + info +
               "\n        make-and-model = " + model + "\n        device-id = " + ip +
               "\n        location = \n";
    };
    for (const std::string& block : {
             device("tamo://010000000380", "Tamo Network Printer #1 (010000000380)",
                    "Tamo Laser 5000", "10.79.0.2"),
             device("dalor://400000000080", "DALOR Network Printer #1 (400000000080)", "DALOR D1",
                    "10.79.0.21"),
             device("amtix://3000000000C0", "Amtix Network Printer #1 (3000000000C0)",
                    "Amtix Office 7", "10.79.0.22"),
             device("netkessa://0500000000A0", "Kessa Network Printer #1 (0500000000A0)",
                    "Kessa K2", "10.79.0.23"),
             device("generic://010000000380", "Tamo Network Printer #1 (010000000380)",
                    "Tamo Laser 5000", "10.79.0.2"),
             device("generic://400000000080", " Network Printer #2 (400000000080)", "DALOR D1",
                    "10.79.0.21"),
             device("generic://3000000000C0", " Network Printer #3 (3000000000C0)", "Office 7",
                    "10.79.0.22"),
             device("generic://0500000000A0", " Network Printer #4 (0500000000A0)", "Kessa K2",
                    "10.79.0.23"),
             device("generic://3000000000E0", "Corvane Network Printer #5 (3000000000E0)",
                    "Corvane C 300", "10.79.0.24"),
             device("generic://1000000000F0", "Corvane Network Printer #6 (1000000000F0)",
                    "Corvane Rogue network tamo://0000000000AA \"x\" \"y\" \"z\"", "10.79.0.25"),
         }) {
        EXPECT_NE(std::string::npos, full.out.find(block)) << block << "\nin:\n" << full.out;
    }
    size_t devices = 0;
    for (size_t at = 0; (at = full.out.find("Device: uri = ", at)) != std::string::npos; ++at)
        ++devices;
    EXPECT_EQ(11u, devices) << full.out;
}

TEST_P(CupsTier, PrintsAndFollowsTheMovedPrinter) {
    RunResult add = runProgram({"lpadmin", "-p", "Q", "-E", "-v", kQueueUri, "-m", "raw"}, 20);
    ASSERT_EQ(0, add.status) << add.out << add.err;
    RunResult shown = runProgram({"lpstat", "-v", "Q"}, 10);
    EXPECT_EQ(std::string("device for Q: ") + kQueueUri + "\n", shown.out);

    // First job: the printer answers at once, so the job is done long
    // before a discovery window of 15 seconds could have run out.
    {
        RawListener printer(m_Printers, "10.79.0.2");
        ASSERT_EQ("", printer.error());
        ASSERT_NO_FATAL_FAILURE(startResponder(jobScenario("10.79.0.2"), "10.79.0.2"));
        std::string data = jobBytes(1, 200000);
        auto start = Clock::now();
        std::string id = print(data, "job1.bin");
        ASSERT_EQ("Q-1", id);
        std::string received;
        ASSERT_TRUE(printer.waitJob(0, 20, received)) << errorLog();
        EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
        ASSERT_TRUE(waitCompleted(id, 20)) << errorLog();
        EXPECT_LT(since(start), 8.0) << "the job waited for discovery to time out";
        // The backend's progress lines reach the job log.
        std::string log = errorLog();
        EXPECT_NE(std::string::npos,
                  log.find("[Job 1] Looking for printer with hardware address 010000000380\n"));
        EXPECT_NE(std::string::npos, log.find("[Job 1] STATE: +connecting-to-device\n"));
        EXPECT_NE(std::string::npos, log.find("[Job 1] Connected to 10.79.0.2:9100"));
        EXPECT_EQ(1u, printer.jobCount());
        stopResponder();
    }

    // The printer moves: its old address is gone, the responder advertises
    // the new one, and the same queue reaches it there.
    ASSERT_EQ(0, sh("ip -n " + m_Printers + " addr del 10.79.0.2/24 dev " + m_VethP));
    ASSERT_EQ(0, sh("ip -n " + m_Printers + " addr add 10.79.0.3/24 dev " + m_VethP));
    {
        RawListener printer(m_Printers, "10.79.0.3");
        ASSERT_EQ("", printer.error());
        ASSERT_NO_FATAL_FAILURE(startResponder(jobScenario("10.79.0.3"), "10.79.0.3"));
        std::string data = jobBytes(2, 150000);
        auto start = Clock::now();
        std::string id = print(data, "job2.bin");
        ASSERT_EQ("Q-2", id);
        std::string received;
        ASSERT_TRUE(printer.waitJob(0, 20, received)) << errorLog();
        EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
        ASSERT_TRUE(waitCompleted(id, 20)) << errorLog();
        EXPECT_LT(since(start), 8.0);
        EXPECT_NE(std::string::npos, errorLog().find("[Job 2] Connected to 10.79.0.3:9100"));
        stopResponder();
    }
}

TEST_P(CupsTier, JobWaitsWhileThePrinterIsOffAndCancelEndsTheBackend) {
    RunResult add = runProgram({"lpadmin", "-p", "Q", "-E", "-v", kQueueUri, "-m", "raw"}, 20);
    ASSERT_EQ(0, add.status) << add.out << add.err;

    // The printer is off when the job is printed. The backend runs as the
    // spooler's user in mode 0755 and as root in mode 0700.
    std::string data = jobBytes(4, 50000);
    std::string id = print(data, "job1.bin");
    ASSERT_EQ("Q-1", id);
    std::string pid = waitLog(
        "\\[Job 1\\] Started backend " + m_ServerBin + "/backend/tamo \\(PID ([0-9]+)\\)", 10);
    ASSERT_NE("", pid) << errorLog();
    struct passwd* lp = getpwnam("lp");
    ASSERT_NE(nullptr, lp);
    EXPECT_EQ(GetParam() == 0700 ? 0 : lp->pw_uid,
              uidOf(static_cast<pid_t>(atoi(pid.c_str())), m_ServerBin + "/backend/tamo"));

    // After the first round the queue shows why the job waits, and stays
    // enabled with the job in progress.
    const std::string waiting =
        "Printer with hardware address 010000000380 has not answered, still looking for it";
    std::string state;
    auto start = Clock::now();
    while (since(start) < 25 && state.find(waiting) == std::string::npos) {
        state = runProgram({"lpstat", "-p", "Q"}, 10).out;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_NE(std::string::npos, state.find("printer Q now printing Q-1.  enabled since")) << state;
    EXPECT_NE(std::string::npos, state.find("\t" + waiting + "\n")) << state;
    EXPECT_EQ(1u, jobs("not-completed").count("Q-1"));
    EXPECT_EQ(0u, jobs("completed").count("Q-1"));

    // The printer is switched on: the next round finds it and the job
    // completes, whole.
    {
        RawListener printer(m_Printers, "10.79.0.2");
        ASSERT_EQ("", printer.error());
        ASSERT_NO_FATAL_FAILURE(startResponder(jobScenario("10.79.0.2"), "10.79.0.2"));
        std::string received;
        ASSERT_TRUE(printer.waitJob(0, 30, received)) << errorLog();
        EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
        ASSERT_TRUE(waitCompleted(id, 20)) << errorLog();
        stopResponder();
    }
    std::string log = errorLog();
    EXPECT_NE(std::string::npos, log.find("[Job 1] STATE: -connecting-to-device\n")) << log;
    EXPECT_NE(std::string::npos, log.find("[Job 1] Connected to 10.79.0.2:9100")) << log;
    EXPECT_EQ(std::string::npos,
              log.find("[Job 1] Printer with hardware address 010000000380 not"));
    EXPECT_NE(std::string::npos,
              runProgram({"lpstat", "-p", "Q"}, 10).out.find("printer Q is idle.  enabled since"));

    // Off again: cancelling the waiting job ends its backend, without an
    // error.
    id = print(jobBytes(5, 1000), "job2.bin");
    ASSERT_EQ("Q-2", id);
    pid = waitLog("\\[Job 2\\] Started backend " + m_ServerBin + "/backend/tamo \\(PID ([0-9]+)\\)",
                  10);
    ASSERT_NE("", pid) << errorLog();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    RunResult cancel = runProgram({"cancel", id}, 10);
    ASSERT_EQ(0, cancel.status) << cancel.err;
    start = Clock::now();
    while (kill(static_cast<pid_t>(atoi(pid.c_str())), 0) == 0 && since(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(0, kill(static_cast<pid_t>(atoi(pid.c_str())), 0)) << "backend still running";
    EXPECT_NE(
        "",
        waitLog("\\[Job 2\\] (PID " + pid + " \\(.*/backend/tamo\\) exited with no errors)", 10))
        << errorLog();
    EXPECT_EQ(std::string::npos, errorLog().find("[Job 2] Printer with hardware address"));
    EXPECT_NE(std::string::npos, runProgram({"lpstat", "-p", "Q"}, 10).out.find("enabled since"));
}

INSTANTIATE_TEST_SUITE_P(BackendModes, CupsTier, ::testing::Values(0755, 0700),
                         [](const ::testing::TestParamInfo<mode_t>& info) {
                             return info.param == 0700 ? std::string("Mode0700")
                                                       : std::string("Mode0755");
                         });

}  // namespace
