// The certificate command words of qorconfig: "-rcerdefs", "-csr", "-icer".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ConfigDetails.h"

namespace qor {

class CertMgr;

class CertProc {
  public:
    // Builds a certificate manager on a device path (tests give one over a
    // scripted transport).
    using MgrFactory = std::function<std::unique_ptr<CertMgr>(const std::string& usbPath)>;

    // Certificate managers over the shared USB transport.
    CertProc();
    explicit CertProc(MgrFactory makeMgr);
    virtual ~CertProc() = default;
    // Runs one certificate command; returns the exit status: 0 success,
    // 1 failure or unknown command, 2 file not found ("-icer"). The
    // certificate manager is destroyed before it returns.
    int process(const std::string& command, const ConfigDetails& configuration);

  private:
    MgrFactory m_MakeMgr;
};

}  // namespace qor
