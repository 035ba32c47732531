// The names the backend is installed under (QOR_BACKEND_NAMES, set by the
// build from the same list the install step uses).
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace qortest {

inline std::vector<std::string> installNames() {
    std::vector<std::string> names;
    std::stringstream all(QOR_BACKEND_NAMES);
    std::string name;
    while (std::getline(all, name, ','))
        names.push_back(name);
    return names;
}

}  // namespace qortest
