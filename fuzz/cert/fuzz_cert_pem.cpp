// PEM certificates as read to find the name a CA is listed under, and the
// ASN.1 time texts inside them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CertMgr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);  // exact size: over-reads are caught
    qor::ByteSpan span(bytes.data(), bytes.size());
    std::string commonName, fullName;
    if (qor::getCertNamesFromPem(span, commonName, fullName) == 0 && fullName.empty())
        __builtin_trap();
    int year = 0, month = 0, day = 0;
    if (qor::readAsn1Date(span, year, month, day) &&
        (month < 1 || month > 12 || day < 1 || day > 31))
        __builtin_trap();
    return 0;
}
