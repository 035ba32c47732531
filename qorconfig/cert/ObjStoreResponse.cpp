#include "ObjStoreResponse.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

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

namespace {

std::vector<XPathQuery> compileAll(std::initializer_list<const char*> paths) {
    std::vector<XPathQuery> queries;
    for (const char* path : paths)
        queries.push_back(simpleXPath::compile(path));
    return queries;
}

// The list positions 1 to 10 of kListEntryPath. Position 10 can never match
// (positions stop at 9), but a list of nine names still reads it, so it is
// asked like the others.
const std::vector<XPathQuery>& listQueries() {
    static const std::vector<XPathQuery> queries = [] {
        std::vector<XPathQuery> q;
        for (int n = 1; n <= 10; ++n) {
            char path[256] = {};
            std::snprintf(path, sizeof path, ObjStoreResponse::kListEntryPath, n);
            q.push_back(simpleXPath::compile(path));
        }
        return q;
    }();
    return queries;
}

void print(const std::string& report) {
    if (report.empty())
        return;
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

void ObjStoreResponse::setResponse(const std::string& text) {
    // A C text ends at its first NUL.
    m_Response = std::make_shared<const std::string>(text.c_str());
    m_HaveStatus = false;
    m_StatusText.clear();
    m_StatusReport.clear();
}

std::string ObjStoreResponse::read(const char* path) const {
    simpleXPath query(m_Response);
    return query.evaluate(path);
}

std::vector<std::string> ObjStoreResponse::readAll(const std::vector<XPathQuery>& queries) const {
    simpleXPath query(m_Response);
    std::string report;
    std::vector<XPathAnswer> answers = query.evaluateAll(queries, report);
    std::vector<std::string> values;
    values.reserve(answers.size());
    for (XPathAnswer& answer : answers) {
        if (!answer.matched)
            print(report);
        values.push_back(std::move(answer.value));
    }
    return values;
}

const std::string& ObjStoreResponse::statusText() const {
    if (!m_HaveStatus) {
        static const std::vector<XPathQuery> status = compileAll({kStatusCodePath});
        simpleXPath query(m_Response);
        std::vector<XPathAnswer> answers = query.evaluateAll(status, m_StatusReport);
        if (answers[0].matched)
            m_StatusReport.clear();
        m_StatusText = std::move(answers[0].value);
        m_HaveStatus = true;
    }
    // A read again would parse the same text up to the same fault.
    print(m_StatusReport);
    return m_StatusText;
}

bool ObjStoreResponse::succeeded() const {
    return statusText() == "1";
}

int ObjStoreResponse::getStatusCode() const {
    return std::atoi(statusText().c_str());
}

std::string ObjStoreResponse::getStatusMessage() const {
    return read(kStatusMessagePath);
}

void ObjStoreResponse::getCAInfo(std::string& fileName, std::string& pemPath,
                                 std::string& commonName) const {
    if (!succeeded())
        return;
    static const std::vector<XPathQuery> fields =
        compileAll({kCAFileNamePath, kCAPemPathPath, kCACommonNamePath});
    std::vector<std::string> values = readAll(fields);
    fileName = std::move(values[0]);
    pemPath = std::move(values[1]);
    commonName = std::move(values[2]);
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
    static const std::vector<XPathQuery> fields = compileAll(
        {kOrgPath, kUnitPath, kCountryPath, kStatePath, kCityPath, kCommonNamePath, kAltNamePath});
    std::vector<std::string> values = readAll(fields);
    o = std::move(values[0]);
    ou = std::move(values[1]);
    c = std::move(values[2]);
    st = std::move(values[3]);
    l = std::move(values[4]);
    cn = std::move(values[5]);
    an = std::move(values[6]);
    return true;
}

void ObjStoreResponse::getNameList(std::vector<std::string>& names) const {
    if (!succeeded())
        return;
    names.clear();
    // Positions 1, 2, ... are read until one is empty; only that last read
    // can have failed without a match, so at most one error line is printed.
    simpleXPath query(m_Response);
    std::string report;
    std::vector<XPathAnswer> answers = query.evaluateAll(listQueries(), report);
    for (XPathAnswer& answer : answers) {
        if (answer.value.empty()) {
            if (!answer.matched)
                print(report);
            break;
        }
        names.push_back(std::move(answer.value));
    }
}

}  // namespace qor
