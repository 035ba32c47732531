// Placeholder until the certificate manager lands.
#include <cstdio>

#include "CertProc.h"
#include "CertificateLists.h"

namespace qor {

int CertProc::process(const std::string&, const ConfigDetails&) {
    std::fprintf(stderr, "D [QOR] Unknown certificate command!\n");
    return 1;
}

std::unique_ptr<CertificateLists> makeCertificateLists(const std::string&) { return nullptr; }

}  // namespace qor
