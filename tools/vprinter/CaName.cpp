#include "CaName.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>

namespace vprinter {

namespace {

struct Freer {
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(X509* cert) const { X509_free(cert); }
};

std::unique_ptr<X509, Freer> readCertificate(const Bytes& pem) {
    if (pem.empty() || pem.size() > INT_MAX)
        return nullptr;
    std::unique_ptr<BIO, Freer> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return nullptr;
    return std::unique_ptr<X509, Freer>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

// "Jan__5_2010": month name, the day ("_5" below 10), the four-digit year.
bool dateTag(const ASN1_TIME* time, std::string& out) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1 || parts.tm_mon < 0 || parts.tm_mon > 11)
        return false;
    char text[48];
    std::snprintf(text, sizeof text, "%s_%s%d_%04d", months[parts.tm_mon],
                  parts.tm_mday < 10 ? "_" : "", parts.tm_mday, parts.tm_year + 1900);
    out = text;
    return true;
}

}  // namespace

bool isPemCertificate(const Bytes& pem) {
    return readCertificate(pem) != nullptr;
}

bool caListName(const Bytes& pem, std::string& name, std::string& why) {
    auto cert = readCertificate(pem);
    if (!cert) {
        why = "Not a PEM certificate";
        return false;
    }
    // The printer keeps the one-line subject in 256 bytes, as the host does.
    char subject[256] = {};
    X509_NAME_oneline(X509_get_subject_name(cert.get()), subject, sizeof subject);
    std::string line = subject;
    size_t at = line.find("CN=");
    if (at == std::string::npos || at + 3 >= line.size()) {
        why = "Certificate has no common name";
        return false;
    }
    std::string from, to;
    if (!dateTag(X509_get0_notBefore(cert.get()), from) ||
        !dateTag(X509_get0_notAfter(cert.get()), to)) {
        why = "Certificate dates unreadable";
        return false;
    }
    name = line.substr(at + 3) + "_" + from + "_To_" + to;
    return true;
}

}  // namespace vprinter
