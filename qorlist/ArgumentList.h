// The command line of the site survey lister.
#pragma once

#include <string>
#include <vector>

namespace qor {

class ArgumentList {
  public:
    // Copies every argument, the program name (index 0) included.
    ArgumentList(int argc, const char* const* argv);

    // 1 when an argument after the program name equals `flag` exactly, else 0.
    int hasFlag(const std::string& flag) const;
    // The last argument after the program name that is neither "-x" nor "-m";
    // "/dev/usb/lp0" when there is none.
    std::string devicePath() const;
    // Whether the usage text was asked for: "-h" as the first argument.
    bool wantsUsage() const;

    int count() const { return static_cast<int>(m_Arguments.size()); }
    const std::vector<std::string>& arguments() const { return m_Arguments; }

  private:
    std::vector<std::string> m_Arguments;
};

}  // namespace qor
