// Child processes for the end-to-end tiers: programs run to completion with
// a time bound, or started in the background and later stopped by their
// process id. Nothing here kills by name.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProcessRunner.h"

namespace qortest {

using RunResult = qor::proc::Result;

using qor::proc::buildDir;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline bool writeFile(const std::string& path, const std::string& data, mode_t mode = 0644) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out)
            return false;
    }
    return chmod(path.c_str(), mode) == 0;
}

// Runs argv (searched on PATH) in a process group of its own, with standard
// input from /dev/null and both outputs captured; `env` entries "NAME=VALUE"
// set NAME, "NAME" alone unsets it. A program still running after
// timeoutSeconds is killed with its group (timedOut set, status 128 + 9).
inline RunResult runProgram(const std::vector<std::string>& argv, double timeoutSeconds,
                            const std::vector<std::string>& env = {}) {
    qor::proc::Options options;
    options.argv = argv;
    options.searchPath = true;
    options.env = env;
    RunResult r = qor::proc::run(options, timeoutSeconds);
    if (r.timedOut)
        r.status = 128 + r.termSignal;
    return r;
}

// Starts argv in the background with both outputs appended to logPath; the
// caller stops it by its process id.
inline pid_t startProgram(const std::vector<std::string>& argv, const std::string& logPath,
                          const std::vector<std::string>& env = {}) {
    qor::proc::Options options;
    options.argv = argv;
    options.searchPath = true;
    options.env = env;
    options.logPath = logPath;
    options.group = qor::proc::Group::Inherit;
    return qor::proc::Process(options).release();
}

// True when the child pid has ended (and is reaped) within seconds.
using qor::proc::waitExit;

// Stops a child started by startProgram: SIGTERM, then SIGKILL after the
// grace period.
inline void stopProgram(pid_t pid, double graceSeconds = 10) {
    qor::proc::stopProcess(pid, graceSeconds);
}

// The lines of text, without their line ends.
inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

}  // namespace qortest
