#include "ObjStoreResponse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Base64.h"
#include "SimpleXPath.h"

namespace qor {

const char* const ObjStoreResponse::kStatusCodePath =
    "/response/MapElem/child[@name='status_code']/IntegerElem";
const char* const ObjStoreResponse::kStatusMessagePath =
    "/response/MapElem/child[@name='status_mesg']/StringElem";
const char* const ObjStoreResponse::kCAFileNamePath =
    "/response/MapElem/child[@name='ca_file_name']/StringElem";
const char* const ObjStoreResponse::kCAPemPathPath =
    "/response/MapElem/child[@name='ca_dot_pem_path']/StringElem";
const char* const ObjStoreResponse::kCACommonNamePath =
    "/response/MapElem/child[@name='ca_common_name']/StringElem";
const char* const ObjStoreResponse::kCSRFilePath =
    "/response/MapElem/child[@name='cert_dot_csr_file']/BinaryElem";
const char* const ObjStoreResponse::kOrgPath = "/response/MapElem/child[@name='x509_O']/StringElem";
const char* const ObjStoreResponse::kUnitPath =
    "/response/MapElem/child[@name='x509_OU']/StringElem";
const char* const ObjStoreResponse::kCountryPath =
    "/response/MapElem/child[@name='x509_C']/StringElem";
const char* const ObjStoreResponse::kStatePath =
    "/response/MapElem/child[@name='x509_ST']/StringElem";
const char* const ObjStoreResponse::kCityPath =
    "/response/MapElem/child[@name='x509_L']/StringElem";
const char* const ObjStoreResponse::kCommonNamePath =
    "/response/MapElem/child[@name='x509_CN']/StringElem";
const char* const ObjStoreResponse::kAltNamePath =
    "/response/MapElem/child[@name='x509_AN']/StringElem";
const char* const ObjStoreResponse::kListEntryPath =
    "/response/MapElem/child[@name='cert_list']/ListElem/StringElem[%d]";

void ObjStoreResponse::setResponse(const std::string& text) {
    // A C text ends at its first NUL.
    m_Response = std::make_shared<const std::string>(text.c_str());
}

std::string ObjStoreResponse::read(const std::string& path) const {
    simpleXPath query(m_Response);
    return query.evaluate(path);
}

bool ObjStoreResponse::succeeded() const {
    return read(kStatusCodePath) == "1";
}

int ObjStoreResponse::getStatusCode() const {
    return std::atoi(read(kStatusCodePath).c_str());
}

std::string ObjStoreResponse::getStatusMessage() const {
    return read(kStatusMessagePath);
}

void ObjStoreResponse::getCAInfo(std::string& fileName, std::string& pemPath,
                                 std::string& commonName) const {
    if (!succeeded())
        return;
    fileName = read(kCAFileNamePath);
    pemPath = read(kCAPemPathPath);
    commonName = read(kCACommonNamePath);
}

int64_t ObjStoreResponse::getCSRFile(uint8_t* buffer, size_t capacity) const {
    if (!succeeded())
        return 0;
    std::string text = read(kCSRFilePath);
    Base64 base64;
    return base64.decode(text.c_str(), buffer, capacity);
}

bool ObjStoreResponse::getCertDefaults(std::string& o, std::string& ou, std::string& c,
                                       std::string& st, std::string& l, std::string& cn,
                                       std::string& an) const {
    if (!succeeded())
        return false;
    o = read(kOrgPath);
    ou = read(kUnitPath);
    c = read(kCountryPath);
    st = read(kStatePath);
    l = read(kCityPath);
    cn = read(kCommonNamePath);
    an = read(kAltNamePath);
    return true;
}

void ObjStoreResponse::getNameList(std::vector<std::string>& names) const {
    if (!succeeded())
        return;
    names.clear();
    // Index predicates stop at 9, so position 10 reads empty and ends the list.
    for (int n = 1;; ++n) {
        char path[256] = {};
        std::snprintf(path, sizeof path, kListEntryPath, n);
        std::string value = read(path);
        if (value.empty())
            break;
        names.push_back(value);
    }
}

}  // namespace qor
