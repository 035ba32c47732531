// Runs a set-up command through the shell with its output thrown away, for
// test rigs (namespaces, links, copies); the status says whether it worked.
#pragma once

#include <cstdlib>
#include <string>

namespace qortest {

inline int sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

}  // namespace qortest
