// Two private network namespaces joined by a veth pair, for discovery tests:
// the backend's side at <subnet>.1 and the printers' side at <subnet>.2,
// each with loopback up and the multicast range routed over the pair, so a
// query goes nowhere but the other namespace.
#pragma once

#include <unistd.h>

#include <string>

#include "QuietShell.h"

namespace qortest {

class NetnsPair {
  public:
    NetnsPair() = default;
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;
    ~NetnsPair() { destroy(); }

    // Names derive from `tag` (two letters) and the test's pid, so parallel
    // test programs never meet. Returns "" or the command that failed.
    std::string create(const std::string& tag, const std::string& subnet) {
        std::string id = std::to_string(getpid());
        m_Backend = tag + "A" + id;
        m_Printers = tag + "B" + id;
        m_BackendAddress = subnet + ".1";
        m_PrintersAddress = subnet + ".2";
        std::string backendLink = tag + "a" + id;
        std::string printersLink = tag + "b" + id;
        if (!run("ip netns add " + m_Backend))
            return m_Failed;
        m_Created = true;
        if (!run("ip netns add " + m_Printers) ||
            !run("ip link add name " + backendLink + " netns " + m_Backend +
                 " type veth peer name " + printersLink + " netns " + m_Printers) ||
            !configure(m_Backend, backendLink, m_BackendAddress) ||
            !configure(m_Printers, printersLink, m_PrintersAddress))
            return m_Failed;
        return "";
    }

    void destroy() {
        if (!m_Created)
            return;
        run("ip netns del " + m_Backend);
        run("ip netns del " + m_Printers);
        m_Created = false;
    }

    const std::string& backend() const { return m_Backend; }
    const std::string& printers() const { return m_Printers; }
    const std::string& backendAddress() const { return m_BackendAddress; }
    const std::string& printersAddress() const { return m_PrintersAddress; }

  private:
    bool configure(const std::string& ns, const std::string& link, const std::string& address) {
        return run("ip -n " + ns + " addr add " + address + "/24 dev " + link) &&
               run("ip -n " + ns + " link set " + link + " up") &&
               run("ip -n " + ns + " link set lo up") &&
               run("ip -n " + ns + " route add 224.0.0.0/4 dev " + link);
    }

    bool run(const std::string& command) {
        if (sh(command) == 0)
            return true;
        m_Failed = command;
        return false;
    }

    std::string m_Backend, m_Printers, m_BackendAddress, m_PrintersAddress, m_Failed;
    bool m_Created = false;
};

}  // namespace qortest
