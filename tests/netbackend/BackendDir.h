// A scratch directory laid out for running the backend the way the spooler
// does: tmp/ for TMPDIR, and serverbin/backend/socket, a recorder standing in
// for the spooler's socket backend that the job mode hands the job to.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "ProcessRunner.h"
#include "QuietShell.h"

namespace qortest {

// Returns the new directory's path, or "" when it could not be made.
inline std::string makeBackendDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return "";
    bool made = mkdir((pattern + "/tmp").c_str(), 0700) == 0 &&
                mkdir((pattern + "/serverbin").c_str(), 0755) == 0 &&
                mkdir((pattern + "/serverbin/backend").c_str(), 0755) == 0 &&
                sh("cp " + qor::proc::buildDir() + "/tests/netbackend/nb_socket_recorder " +
                   pattern + "/serverbin/backend/socket") == 0;
    if (!made) {
        sh("rm -rf '" + pattern + "'");
        return "";
    }
    return pattern;
}

}  // namespace qortest
