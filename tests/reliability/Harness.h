// Running the programs under test with a time limit, capturing their output,
// and reading what the exit probe saw of their descriptors and CPU time.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace qor::reliability {

using RunResult = qor::proc::Result;

// Runs argv (searched on PATH) with standard input from /dev/null, in a process
// group of its own so that the whole group can be killed at the limit; `env`
// entries "NAME=VALUE" are added to the environment.
inline RunResult runProcess(const std::vector<std::string>& argv, double limitSeconds,
                            const std::vector<std::string>& env = {}) {
    qor::proc::Options options;
    options.argv = argv;
    options.searchPath = true;
    options.env = env;
    return qor::proc::run(options, limitSeconds);
}

// A private folder under /tmp, removed with its content.
class TempDir {
  public:
    explicit TempDir(const std::string& tag) {
        std::string pattern = "/tmp/qor-rel-" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            throw std::runtime_error("mkdtemp failed");
        m_Path = pattern;
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + m_Path + "'";
        if (std::system(cmd.c_str()) != 0) {
            // Nothing more to do; the folder is only left behind.
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return m_Path + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
        return p;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    std::string m_Path;
};

// The line the exit probe wrote: descriptors at load and at exit, CPU and wall time.
struct ProbeReport {
    bool present = false;
    std::set<int> startFds, endFds;
    long long cpuUs = 0, wallUs = 0;

    // Descriptors open at exit that were not open at load.
    std::set<int> leaked() const {
        std::set<int> out;
        for (int fd : endFds)
            if (!startFds.count(fd))
                out.insert(fd);
        return out;
    }
};

inline std::set<int> parseFdList(const std::string& text) {
    std::set<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.insert(std::atoi(item.c_str()));
    return out;
}

inline ProbeReport parseProbe(const std::string& line) {
    ProbeReport r;
    std::stringstream in(line);
    std::string word;
    int seen = 0;
    while (in >> word) {
        size_t eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "fds_start")
            r.startFds = parseFdList(value), ++seen;
        else if (key == "fds_end")
            r.endFds = parseFdList(value), ++seen;
        else if (key == "cpu_us")
            r.cpuUs = std::atoll(value.c_str()), ++seen;
        else if (key == "wall_us")
            r.wallUs = std::atoll(value.c_str()), ++seen;
    }
    r.present = seen == 4;
    return r;
}

inline std::string joinFds(const std::set<int>& fds) {
    std::string out;
    for (int fd : fds)
        out += (out.empty() ? "" : ",") + std::to_string(fd);
    return out;
}

// True when the text holds a sanitizer or runtime report.
inline bool hasRuntimeReport(const std::string& err) {
    return err.find("AddressSanitizer") != std::string::npos ||
           err.find("runtime error:") != std::string::npos ||
           err.find("LeakSanitizer") != std::string::npos ||
           err.find("terminate called") != std::string::npos;
}

// ASAN_OPTIONS for a program that the exit probe is preloaded into: the probe
// comes before the sanitizer runtime in the library list.
inline std::string asanOptionsWithProbe() {
    const char* old = std::getenv("ASAN_OPTIONS");
    std::string value = old && *old ? std::string(old) + ":" : "";
    return "ASAN_OPTIONS=" + value + "verify_asan_link_order=0";
}

}  // namespace qor::reliability
