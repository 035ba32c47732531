// Makes small self-signed PEM certificates for the certificate store tests.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

namespace vptest {

// A certificate with `subject` ("/C=DE/O=Acme/CN=PrinterCA") valid from
// `notBefore` to `notAfter` (ASN.1 texts: "100105000000Z" UTCTime or
// "20100105000000Z" GeneralizedTime), as PEM text; "" on failure.
inline std::string pemCertificate(const std::string& subject, const std::string& notBefore,
                                  const std::string& notAfter) {
    std::string pem;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_NAME* name = X509_NAME_new();
    BIO* out = BIO_new(BIO_s_mem());
    bool ok = key && cert && name && out;
    // "/K=V/K=V" into name entries.
    size_t at = 0;
    while (ok && at < subject.size() && subject[at] == '/') {
        size_t eq = subject.find('=', at);
        size_t next = subject.find('/', eq == std::string::npos ? at + 1 : eq);
        if (eq == std::string::npos) {
            ok = false;
            break;
        }
        std::string field = subject.substr(at + 1, eq - at - 1);
        std::string value =
            subject.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
        ok = X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                        -1, 0) == 1;
        at = next == std::string::npos ? subject.size() : next;
    }
    ok = ok && X509_set_version(cert, 2) == 1 && X509_set_subject_name(cert, name) == 1 &&
         X509_set_issuer_name(cert, name) == 1 &&
         ASN1_TIME_set_string(X509_getm_notBefore(cert), notBefore.c_str()) == 1 &&
         ASN1_TIME_set_string(X509_getm_notAfter(cert), notAfter.c_str()) == 1 &&
         X509_set_pubkey(cert, key) == 1 && X509_sign(cert, key, EVP_sha256()) > 0 &&
         PEM_write_bio_X509(out, cert) == 1;
    if (ok) {
        char* data = nullptr;
        long length = BIO_get_mem_data(out, &data);
        pem.assign(data, static_cast<size_t>(length));
    }
    BIO_free(out);
    X509_NAME_free(name);
    X509_free(cert);
    EVP_PKEY_free(key);
    return pem;
}

}  // namespace vptest
