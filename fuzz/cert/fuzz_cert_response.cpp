// Certificate manager answers: the reply bytes after the flags byte, as
// collected from the printer, through extraction and every field reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CertMgr.h"
#include "ObjStoreResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::vector<uint8_t> bytes(data, data + size);
    std::string xml = qor::extractResponseXml(qor::ByteSpan(bytes.data(), bytes.size()));
    if (xml.size() > bytes.size())
        __builtin_trap();
    // Only an answer that opens with the header yields text, and the text
    // keeps neither filler bytes nor anything from its first NUL on.
    if (!xml.empty() && !qor::hasCertMgrAnswerHeader(qor::ByteSpan(bytes.data(), bytes.size())))
        __builtin_trap();
    if (xml.find('\xE0') != std::string::npos || xml.find('\0') != std::string::npos)
        __builtin_trap();

    qor::ObjStoreResponse response;
    response.setResponse(xml);
    (void)response.getStatusCode();
    (void)response.getStatusMessage();
    std::string a, b, c, d, e, f, g;
    response.getCAInfo(a, b, c);
    response.getCertDefaults(a, b, c, d, e, f, g);
    std::vector<std::string> names;
    response.getNameList(names);
    if (names.size() > 9)
        __builtin_trap();
    std::vector<uint8_t> csr(qor::kFileBuffer, 0);  // the buffer the request is saved from
    int64_t n = response.getCSRFile(csr.data(), csr.size());
    if (n > static_cast<int64_t>(csr.size()))
        __builtin_trap();
    return 0;
}
