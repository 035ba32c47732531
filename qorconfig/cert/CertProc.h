// The certificate command words of qorconfig: "-rcerdefs", "-csr", "-icer".
#pragma once

#include <string>

#include "ConfigDetails.h"

namespace qor {

class CertProc {
public:
    virtual ~CertProc() = default;
    // Runs one certificate command; returns the exit status: 0 success,
    // 1 failure or unknown command, 2 file not found ("-icer").
    int process(const std::string& command, const ConfigDetails& configuration);
};

}  // namespace qor
