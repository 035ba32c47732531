// Certificate manager answers: the reply bytes after the flags byte, as
// collected from the printer, through extraction and every field reader,
// whose one-pass reads are held to one plain query per field.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CertMgr.h"
#include "ObjStoreResponse.h"
#include "SimpleXPath.h"

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

    // The readers read their fields in one pass: they must give what
    // reading each field and list position on its own gives.
    qor::simpleXPath plain(xml);
    bool success = plain.evaluate(qor::ObjStoreResponse::kStatusCodePath) == "1";
    std::vector<std::string> expected;
    for (int n = 1; success; ++n) {
        char path[256];
        std::snprintf(path, sizeof path, qor::ObjStoreResponse::kListEntryPath, n);
        std::string value = plain.evaluate(path);
        if (value.empty())
            break;
        expected.push_back(value);
    }
    if (names != expected)
        __builtin_trap();
    if (success && (a != plain.evaluate(qor::ObjStoreResponse::kOrgPath) ||
                    g != plain.evaluate(qor::ObjStoreResponse::kAltNamePath)))
        __builtin_trap();
    std::vector<uint8_t> csr(qor::kFileBuffer, 0);  // the buffer the request is saved from
    int64_t n = response.getCSRFile(csr.data(), csr.size());
    if (n > static_cast<int64_t>(csr.size()))
        __builtin_trap();
    return 0;
}
