#include "ArgumentList.h"

namespace qor {

ArgumentList::ArgumentList(int argc, const char* const* argv) {
    for (int i = 0; i < argc && argv != nullptr; ++i)
        m_Arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
}

int ArgumentList::hasFlag(const std::string& flag) const {
    for (size_t i = 1; i < m_Arguments.size(); ++i)
        if (m_Arguments[i] == flag)
            return 1;
    return 0;
}

std::string ArgumentList::devicePath() const {
    std::string path = "/dev/usb/lp0";
    for (size_t i = 1; i < m_Arguments.size(); ++i)
        if (m_Arguments[i] != "-x" && m_Arguments[i] != "-m")
            path = m_Arguments[i];
    return path;
}

bool ArgumentList::wantsUsage() const {
    return m_Arguments.size() > 1 && m_Arguments[1] == "-h";
}

}  // namespace qor
