// Whole-command benchmark: every command word of qorlist and qorconfig run
// against the virtual printer over a pseudo-terminal bound at /dev/usb/lp0
// in a private mount namespace (qor-vprinter makes both), measured as a
// process: wall time, the time from the printer's last answer byte (its
// journal) to the command's exit, CPU time and peak resident set, beside the
// waits the protocol used to put on the command (the old floor). The printer
// answers at once, after a delay, or not at all. Prints one Markdown table
// row per command word.
//
// The program runs itself inside the virtual printer's namespace
// ("--measure"), so that the figures are those of the command alone and
// not of the printer's set-up.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CommandCases.h"
#include "ProcessRunner.h"

namespace {

using qorbench::ChildUsage;
using qorbench::CommandCase;

constexpr int kSkipped = 77;  // ctest's skip status
// Goals of a whole command: done soon after the printer's last answer byte;
// against a silent printer, no giving up before the old floor, and no busy
// waiting while the deadline runs (CPU share of the wall time).
constexpr double kAfterAnswerGoalMs = 50;
constexpr double kCpuShareGoal = 0.02;
constexpr long kPeakRssGoalKiB = 8 * 1024;
// Every measured command starts this far into a second, so that the read
// windows (which close on whole seconds) do not change length from run to
// run and no start-up cost pushes a window across a second boundary.
constexpr double kStartOffsetSeconds = 0.005;

// How the virtual printer answers: at once, every answer `delayMs` late, or
// never (a fault rule added to every row's scenario).
struct PrinterMode {
    enum Kind { Prompt, Delayed, Silent } kind = Prompt;
    int delayMs = 0;

    std::string faultLine() const {
        if (kind == Delayed)
            return "fault = any delay " + std::to_string(delayMs) + "\n";
        return kind == Silent ? "fault = any silent\n" : "";
    }
    std::string describe() const {
        if (kind == Delayed)
            return "answers every request after " + std::to_string(delayMs) + " ms";
        return kind == Silent ? "answers nothing" : "answers at once";
    }
};

bool parseMode(const std::string& text, PrinterMode& mode) {
    if (text == "prompt" || text == "silent") {
        mode.kind = text == "prompt" ? PrinterMode::Prompt : PrinterMode::Silent;
        return true;
    }
    if (text.rfind("delay=", 0) != 0)
        return false;
    char* end = nullptr;
    long ms = std::strtol(text.c_str() + 6, &end, 10);
    if (text.size() == 6 || *end != '\0' || ms < 0 || ms > 60000)
        return false;
    mode.kind = PrinterMode::Delayed;
    mode.delayMs = static_cast<int>(ms);
    return true;
}

// The latest answered_ms of a journal, in milliseconds of CLOCK_MONOTONIC;
// negative when no answer byte went out.
double lastAnswerMs(const std::string& journal) {
    static const char kField[] = "\"answered_ms\":";
    double last = -1;
    for (size_t at = journal.find(kField); at != std::string::npos;
         at = journal.find(kField, at + 1)) {
        const char* value = journal.c_str() + at + sizeof kField - 1;
        if (*value >= '0' && *value <= '9')
            last = std::max(last, std::strtod(value, nullptr));
    }
    return last;
}

struct Paths {
    std::string vprinter = QOR_BENCH_VPRINTER;
    std::string qorconfig = QOR_BENCH_QORCONFIG;
    std::string qorlist = QOR_BENCH_QORLIST;
};

std::string selfPath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "";
    buffer[n] = '\0';
    return buffer;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A self-signed certificate with fixed validity dates, so that the name the
// printer lists it under is known: BenchCA_Jan__5_2010_To_Dec_31_2030.
bool writeCertificate(const std::string& path) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("BenchCA"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = ASN1_TIME_set_string(X509_getm_notBefore(cert), "100105000000Z") == 1 &&
             ASN1_TIME_set_string(X509_getm_notAfter(cert), "301231000000Z") == 1 &&
             X509_set_pubkey(cert, key) == 1 && X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE* out = std::fopen(path.c_str(), "w");
        ok = out && PEM_write_X509(out, cert) == 1;
        if (out)
            ok = std::fclose(out) == 0 && ok;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

std::string substitute(const std::string& arg, const std::string& dir) {
    std::string out = arg;
    size_t at;
    while ((at = out.find("@DIR@")) != std::string::npos)
        out.replace(at, 5, dir);
    return out;
}

// Inside the namespace: start the command on a fixed point of a second,
// measure it, and leave the figures in `resultPath`.
int measure(const std::string& resultPath, const std::vector<std::string>& command) {
    qorbench::sleepUntilSecondOffset(kStartOffsetSeconds);
    qorbench::Redirect inherit;
    ChildUsage usage = qorbench::runChild(command, inherit);
    char line[256];
    std::snprintf(line, sizeof line, "%d %.6f %.6f %.6f %.6f %ld %.6f\n", usage.status,
                  usage.startRealtime, usage.wallSeconds, usage.userSeconds, usage.systemSeconds,
                  usage.maxRssKiB, usage.endMonotonic);
    if (!writeFile(resultPath, line))
        return 125;
    return usage.status < 0 ? 125 : usage.status;
}

struct RunFigures {
    double floor = 0, wall = 0, cpu = 0;
    double afterAnswerMs = -1;  // last answer byte to exit; negative: no answer
    long rss = 0;
    int status = 0;
};

struct Row {
    std::string name, floorText;
    std::vector<RunFigures> runs;
    std::string failure;  // why a run was not correct; empty when all were
};

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One run of one command word; false with `why` when the run was not a
// correct one (then its figures mean nothing).
bool runOnce(const CommandCase& c, const PrinterMode& mode, const Paths& paths,
             const std::string& dir, RunFigures& figures, std::string& why) {
    std::string scenarioPath = dir + "/scenario.conf";
    std::string journalPath = dir + "/journal.json";
    std::string resultPath = dir + "/result.txt";
    std::string outPath = dir + "/stdout.txt";
    std::string errPath = dir + "/stderr.txt";
    std::remove(resultPath.c_str());
    std::remove(journalPath.c_str());
    std::remove((dir + "/request.csr").c_str());
    if (!writeFile(scenarioPath, c.scenario + mode.faultLine())) {
        why = "cannot write the scenario";
        return false;
    }
    std::vector<std::string> argv = {paths.vprinter, "--kind",    c.kind,      "--scenario",
                                     scenarioPath,   "--journal", journalPath, "--",
                                     selfPath(),     "--measure", resultPath,  "--"};
    argv.push_back(c.program == "qorconfig" ? paths.qorconfig : paths.qorlist);
    for (const std::string& a : c.args)
        argv.push_back(substitute(a, dir));

    qorbench::Redirect redirect;
    redirect.stdoutPath = outPath;
    redirect.stderrPath = errPath;
    ChildUsage printer = qorbench::runChild(argv, redirect);

    int status = -1;
    double start = 0, wall = 0, user = 0, sys = 0, end = 0;
    long rss = 0;
    std::string result = readFile(resultPath);
    if (std::sscanf(result.c_str(), "%d %lf %lf %lf %lf %ld %lf", &status, &start, &wall, &user,
                    &sys, &rss, &end) != 7) {
        why = "no measurement (virtual printer exit " + std::to_string(printer.status) +
              "): " + readFile(errPath).substr(0, 300);
        return false;
    }
    figures.floor = qorbench::floorSeconds(c.waits, start);
    figures.wall = wall;
    figures.cpu = user + sys;
    figures.rss = rss;
    figures.status = status;
    double answered = lastAnswerMs(readFile(journalPath));
    if (answered >= 0)
        figures.afterAnswerMs = end * 1e3 - answered;
    if (mode.kind == PrinterMode::Silent)
        return true;  // what a command does without answers is not checked here

    std::string out = readFile(outPath);
    if (status != c.expectStatus) {
        why = "exit status " + std::to_string(status) + ", expected " +
              std::to_string(c.expectStatus);
        return false;
    }
    if (!c.expectStdout.empty() && out.find(c.expectStdout) == std::string::npos) {
        why = "standard output lacks '" + c.expectStdout + "'";
        return false;
    }
    if (!c.expectFile.empty()) {
        struct stat st {};
        if (stat((dir + "/" + c.expectFile).c_str(), &st) != 0 || st.st_size == 0) {
            why = "no " + c.expectFile + " written";
            return false;
        }
    }
    if (!c.waits.empty() && answered < 0) {
        why = "the printer's journal shows no answer";
        return false;
    }
    return true;
}

void printTable(const std::vector<Row>& rows, int runs, const PrinterMode& mode) {
    std::printf("The printer %s. Median of %d run%s per command word; W = the old read window.\n\n",
                mode.describe().c_str(), runs, runs == 1 ? "" : "s");
    std::printf(
        "| command | old floor (s) | wall median (s) | after last answer (ms) | CPU (ms) | "
        "peak RSS (KiB) | exit | goals met |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        if (!row.failure.empty()) {
            std::printf("| `%s` | %s | - | - | - | - | - | FAILED: %s |\n", row.name.c_str(),
                        row.floorText.c_str(), row.failure.c_str());
            continue;
        }
        std::vector<double> floors, walls, afters, cpus, shares, rsss;
        for (const RunFigures& f : row.runs) {
            floors.push_back(f.floor);
            walls.push_back(f.wall);
            if (f.afterAnswerMs >= 0)
                afters.push_back(f.afterAnswerMs);
            cpus.push_back(f.cpu);
            shares.push_back(f.wall > 0 ? f.cpu / f.wall : 0);
            rsss.push_back(static_cast<double>(f.rss));
        }
        double floor = median(floors), wall = median(walls), rss = median(rsss);
        std::string missed;
        if (mode.kind == PrinterMode::Silent) {
            // Every run, not the median: one early give-up is one too many.
            for (const RunFigures& f : row.runs)
                if (f.wall < f.floor && missed.empty())
                    missed += " floor";
            if (floor > 0 && median(shares) >= kCpuShareGoal)
                missed += " CPU";
        } else if (!afters.empty() && median(afters) >= kAfterAnswerGoalMs) {
            missed += " answer";
        }
        if (rss >= kPeakRssGoalKiB)
            missed += " RSS";
        char after[32] = "-";
        if (!afters.empty())
            std::snprintf(after, sizeof after, "%.1f", median(afters));
        std::printf("| `%s` | %s = %.3f | %.3f | %s | %.1f | %.0f | %d | %s |\n", row.name.c_str(),
                    row.floorText.c_str(), floor, wall, after, median(cpus) * 1e3, rss,
                    row.runs.back().status, missed.empty() ? "y" : ("n:" + missed).c_str());
    }
}

void usage(FILE* to) {
    std::fputs(
        "usage: bench_commands [--runs N] [--only NAME[,NAME...]] [--list]\n"
        "                      [--printer prompt|delay=MS|silent]\n"
        "                      [--vprinter PATH] [--qorconfig PATH] [--qorlist PATH]\n"
        "Runs every command word of qorlist and qorconfig against the virtual printer\n"
        "(needs root for its mount namespace) and prints a Markdown table.\n"
        "NAME is a row's command as --list prints it. --printer: the printer answers\n"
        "at once (default), every answer MS milliseconds late, or not at all.\n",
        to);
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> names;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, ','))
        if (!item.empty())
            names.push_back(item);
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--measure") == 0 && std::strcmp(argv[3], "--") == 0)
        return measure(argv[2], std::vector<std::string>(argv + 4, argv + argc));

    Paths paths;
    PrinterMode mode;
    int runs = 3;
    std::vector<std::string> only;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--runs" && value(v)) {
            runs = std::atoi(v.c_str());
        } else if (arg == "--printer" && value(v)) {
            if (!parseMode(v, mode)) {
                std::fputs("bench_commands: --printer is prompt, delay=MS or silent\n", stderr);
                return 2;
            }
        } else if (arg == "--only" && value(v)) {
            only = splitList(v);
        } else if (arg == "--vprinter" && value(v)) {
            paths.vprinter = v;
        } else if (arg == "--qorconfig" && value(v)) {
            paths.qorconfig = v;
        } else if (arg == "--qorlist" && value(v)) {
            paths.qorlist = v;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (runs < 1) {
        std::fputs("bench_commands: --runs needs a number of at least 1\n", stderr);
        return 2;
    }

    std::vector<const CommandCase*> chosen;
    for (const CommandCase& c : qorbench::commandCases())
        if (only.empty() || std::find(only.begin(), only.end(), c.name) != only.end())
            chosen.push_back(&c);
    if (list) {
        for (const CommandCase* c : chosen)
            std::printf("%s\n", c->name.c_str());
        return 0;
    }
    if (chosen.size() != (only.empty() ? qorbench::commandCases().size() : only.size())) {
        std::fputs("bench_commands: --only names a command that --list does not show\n", stderr);
        return 2;
    }
    if (geteuid() != 0) {
        std::fputs("bench_commands: needs root (the virtual printer makes a mount namespace)\n",
                   stderr);
        return kSkipped;
    }

    char dirTemplate[] = "/tmp/qor-bench-commands.XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("bench_commands: mkdtemp");
        return 1;
    }
    std::string dir = dirTemplate;
    // A forwarded read of the network name, as an NPA hex file.
    bool ready =
        writeFile(dir + "/read-ssid.hex", "A5000F50E063020009A5000650E0D8002808\n") &&
        writeFile(dir + "/options.txt",
                  "--ssid=HomeNet\n--mode=Managed\n--security=WPA2\n--passwd=secret123\n") &&
        writeCertificate(dir + "/ca.pem");
    if (!ready) {
        std::fprintf(stderr, "bench_commands: cannot prepare the files in %s\n", dir.c_str());
        return 1;
    }

    std::vector<Row> rows;
    bool allCorrect = true;
    for (const CommandCase* c : chosen) {
        Row row{c->name, c->floorText, {}, ""};
        for (int r = 0; r < runs && row.failure.empty(); ++r) {
            RunFigures figures;
            std::string why;
            if (runOnce(*c, mode, paths, dir, figures, why))
                row.runs.push_back(figures);
            else
                row.failure = why;
        }
        if (!row.failure.empty()) {
            allCorrect = false;
            std::fprintf(stderr, "bench_commands: %s: %s\n", c->name.c_str(), row.failure.c_str());
        }
        rows.push_back(row);
    }
    printTable(rows, runs, mode);

    for (const char* name :
         {"read-ssid.hex", "options.txt", "ca.pem", "scenario.conf", "journal.json", "result.txt",
          "stdout.txt", "stderr.txt", "request.csr"})
        std::remove((dir + "/" + name).c_str());
    rmdir(dir.c_str());
    return allCorrect ? 0 : 1;
}
