// What the configurator asks of the printer's certificate manager when it
// decides whether 802.1x should validate the server certificate.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qor {

class CertificateLists {
  public:
    virtual ~CertificateLists() = default;
    // Friendly names of the installed signed certificates; 0 or -1.
    virtual int queryCertList(std::vector<std::string>& names) = 0;
    // Common names of the installed certificate authorities; 0 or -1.
    virtual int getCACommonNameList(std::vector<std::string>& names) = 0;
};

// The certificate manager on `usbPath` (defined by the certificate library).
std::unique_ptr<CertificateLists> makeCertificateLists(const std::string& usbPath);

}  // namespace qor
