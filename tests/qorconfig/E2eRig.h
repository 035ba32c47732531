// Runs qorconfig under the virtual printer (which mounts its pty over
// /dev/usb/lp0 in a private mount namespace) and reads back the journal of
// the requests the printer received.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace qor::test {

// A private directory, removed with its files at the end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = "/tmp/qorconfig-e2e-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        m_Path = pattern;
    }
    ~ScratchDir() {
        int ignored = std::system(("rm -rf '" + m_Path + "'").c_str());
        (void)ignored;
    }
    std::string path(const std::string& name) const { return m_Path + "/" + name; }

  private:
    std::string m_Path;
};

inline void writeText(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One line of the printer's journal.
struct JournalEntry {
    std::string kind;  // read, write, certmgr, preamble, unknown
    bool forwarded = false;
    bool answered = false;
    std::string hex;  // the request as received, upper-case hex
    std::string line;
};

inline std::string jsonField(const std::string& line, const std::string& key) {
    std::string quoted = "\"" + key + "\":";
    size_t at = line.find(quoted);
    if (at == std::string::npos)
        return "";
    at += quoted.size();
    if (at < line.size() && line[at] == '"') {
        size_t end = line.find('"', at + 1);
        return end == std::string::npos ? "" : line.substr(at + 1, end - at - 1);
    }
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

inline std::vector<JournalEntry> parseJournal(const std::string& text) {
    std::vector<JournalEntry> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        JournalEntry e;
        e.kind = jsonField(line, "kind");
        e.forwarded = jsonField(line, "forwarded") == "true";
        e.answered = jsonField(line, "answered") == "true";
        e.hex = jsonField(line, "hex");
        e.line = line;
        entries.push_back(e);
    }
    return entries;
}

// Only the setting reads and writes (the certificate manager's calls left out).
inline std::vector<JournalEntry> settingRequests(const std::vector<JournalEntry>& all) {
    std::vector<JournalEntry> out;
    for (const JournalEntry& e : all)
        if (e.kind == "read" || e.kind == "write")
            out.push_back(e);
    return out;
}

struct RunResult : qor::proc::Result {
    std::vector<JournalEntry> journal;
};

// qorconfig with `args` under a virtual printer holding `scenario`.
class PrinterRig {
  public:
    ScratchDir dir;

    // `stdinFd` (when not -1) is qorconfig's standard input; `inChild` runs
    // in the child before the exec, in a session of its own.
    RunResult run(const std::string& scenario, const std::vector<std::string>& args,
                  int limitSeconds = 150, int stdinFd = -1,
                  const std::function<void()>& inChild = nullptr) {
        writeText(dir.path("scenario"), scenario);
        std::vector<std::string> argv = {VPRINTER_BIN, "--scenario",        dir.path("scenario"),
                                         "--journal",  dir.path("journal"), "--",
                                         QORCONFIG_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        // The hook takes a terminal as the controlling one, which needs a
        // session of the child's own.
        qor::proc::Options options;
        options.argv = argv;
        options.stdinFd = stdinFd;
        options.inChild = inChild;
        options.group = inChild ? qor::proc::Group::Session : qor::proc::Group::Own;
        RunResult r;
        static_cast<qor::proc::Result&>(r) = qor::proc::run(options, limitSeconds);
        r.journal = parseJournal(readText(dir.path("journal")));
        return r;
    }
};

// Upper-case hex of a write request holding `records` (hex), and its
// forwarding wrapper, as the printer receives them.
inline std::string hex16(size_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04zX", value & 0xFFFF);
    return text;
}
inline std::string writeRequest(const std::string& records) {
    return "A5" + hex16(records.size() / 2 + 4) + "50E0DA01" + records;
}
inline std::string forwarded(const std::string& request) {
    return "A5" + hex16(request.size() / 2 + 6) + "50E06302" + hex16(request.size() / 2) + request;
}
inline std::string readRequest(const std::string& groupItem) {
    return "A5000650E0D800" + groupItem;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace qor::test
