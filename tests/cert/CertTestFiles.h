// Temporary files and certificates made with libcrypto for the tests.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace qor::test {

// A private directory, removed with its files at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/qor-cert-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        m_Path = pattern;
    }
    ~TempDir() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
    std::string path(const std::string& name) const { return m_Path + "/" + name; }
    const std::string& root() const { return m_Path; }

  private:
    std::string m_Path;
};

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets an ASN.1 time of exactly `text` (UTCTime for 13 characters,
// GeneralizedTime otherwise), well-formed or not.
inline bool setTime(ASN1_TIME* time, const std::string& text) {
    ASN1_STRING_set(time, text.data(), static_cast<int>(text.size()));
    time->type = text.size() == 13 ? V_ASN1_UTCTIME : V_ASN1_GENERALIZEDTIME;
    return true;
}

// A self-signed certificate with the subject given as "/K=V/K=V" and the
// validity times as ASN.1 time texts; with `passphrase` the PEM is encrypted.
inline X509* makeCertificate(const std::string& subject, const std::string& notBefore,
                             const std::string& notAfter) {
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_CTX_set_ec_paramgen_curve_nid(ctx, NID_X9_62_prime256v1);
    EVP_PKEY_keygen(ctx, &key);
    EVP_PKEY_CTX_free(ctx);

    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
    X509_NAME* name = X509_NAME_new();
    std::string rest = subject;
    while (!rest.empty() && rest[0] == '/') {
        size_t eq = rest.find('=');
        size_t next = rest.find('/', 1);
        std::string field = rest.substr(1, eq - 1);
        std::string value =
            rest.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
        X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0);
        rest = next == std::string::npos ? "" : rest.substr(next);
    }
    X509_set_subject_name(cert, name);
    X509_set_issuer_name(cert, name);
    X509_NAME_free(name);
    ASN1_TIME* from = ASN1_TIME_new();
    ASN1_TIME* to = ASN1_TIME_new();
    setTime(from, notBefore);
    setTime(to, notAfter);
    X509_set1_notBefore(cert, from);
    X509_set1_notAfter(cert, to);
    ASN1_TIME_free(from);
    ASN1_TIME_free(to);
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    EVP_PKEY_free(key);
    return cert;
}

inline void writeCertificate(const std::string& path, const std::string& subject,
                             const std::string& notBefore, const std::string& notAfter,
                             const char* passphrase = nullptr) {
    X509* cert = makeCertificate(subject, notBefore, notAfter);
    BIO* out = BIO_new_file(path.c_str(), "w");
    if (passphrase) {
        PEM_ASN1_write_bio(reinterpret_cast<i2d_of_void*>(i2d_X509), PEM_STRING_X509, out, cert,
                           EVP_aes_128_cbc(),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(passphrase)),
                           static_cast<int>(std::string(passphrase).size()), nullptr, nullptr);
    } else {
        PEM_write_bio_X509(out, cert);
    }
    BIO_free(out);
    X509_free(cert);
}

}  // namespace qor::test
