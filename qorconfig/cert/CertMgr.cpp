#include "CertMgr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "Base64.h"
#include "NpaPacket.h"
#include "ObjStoreResponse.h"

namespace qor {

namespace certtemplates {
// clang-format off
const char* const kDeleteIndividualCA = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"410\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">deleteIndividualCA</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"ca_common_name\"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kDeleteIndividualCert = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"510\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">deleteIndividualCert</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"cert_friendly_name\"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kReadCertDefaults = "<?xml version=\"1.0\"?><method name=\"callMethod\" requestID=\"100\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">readCertDefaults</arg><arg name=\"params\"><ListElem><ListElem><MapElem></MapElem></ListElem></ListElem></arg></method>";
const char* const kUploadSignedCertFile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"500\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">uploadSignedCertFile</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"cert_friendly_name\"><StringElem>%s</StringElem></child><child name=\"cert_syst_dot_pem_size\"><IntegerElem>%d</IntegerElem></child><child name=\"cert_syst_dot_pem_file\"><BinaryElem>%s</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kQueryCAInfo = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"430\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">queryCAInfo</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"ca_common_name\"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kQueryCertList = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"520\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">queryCertList</arg><arg name=\"params\"><ListElem><ListElem></ListElem></ListElem></arg></method>";
const char* const kQueryCAList = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"420\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">queryCAList</arg><arg name=\"params\"><ListElem><ListElem></ListElem></ListElem></arg></method>";
const char* const kUploadNewCAFile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"400\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">uploadNewCAFile</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"ca_file_name\"><StringElem>%s</StringElem></child><child name=\"ca_dot_pem_size\"><IntegerElem>%d</IntegerElem></child><child name=\"ca_dot_pem_file\"><BinaryElem>%s</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kExportPubKey = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"210\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">exportPubKey</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"cert_friendly_name\"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
const char* const kGenerateNewCert = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"200\"><arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">generateNewCert</arg><arg name=\"params\"><ListElem><ListElem><MapElem><child name=\"cert_friendly_name\"><StringElem>%s</StringElem></child><child name=\"x509_O\"><StringElem>%s</StringElem></child><child name=\"x509_AN\"><StringElem>%s</StringElem></child><child name=\"x509_C\"><StringElem>%s</StringElem></child><child name=\"x509_CN\"><StringElem>%s</StringElem></child><child name=\"x509_L\"><StringElem>%s</StringElem></child><child name=\"x509_OU\"><StringElem>%s</StringElem></child><child name=\"x509_ST\"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>";
// clang-format on
}  // namespace certtemplates

const char* const kDefaultFriendlyName = "AirJoinHelperTool";

namespace {

// The parameters of the call packet before its XML.
const uint8_t kCallParameters[] = {0x03, 0x00, 0x01};
const uint8_t kAnswerHeader[] = {kNpaClass, kNpaCertMgrCall, 0x03, 0x00, 0x01, 0x00, 0xE0};
// The printer interleaves this byte with the XML text of its answers.
constexpr uint8_t kAnswerFiller = 0xE0;
constexpr unsigned kShortWindow = 5;
constexpr unsigned kLongWindow = 10;
constexpr unsigned kAfterWriteSleep = 2;

// Fills `templ` as sprintf would into a zeroed buffer of `capacity` bytes.
// A request that would not fit (with its NUL) is refused with a line that
// names it, instead of being cut into a different request.
bool fillRequest(std::string& out, size_t capacity, const char* what, const char* templ, ...) {
    std::vector<char> buffer(capacity, '\0');
    va_list args;
    va_start(args, templ);
    int needed = std::vsnprintf(buffer.data(), buffer.size(), templ, args);
    va_end(args);
    if (needed < 0 || static_cast<size_t>(needed) >= capacity) {
        std::fprintf(stderr, "D [QOR] %s request too long: %d bytes with its NUL, buffer %zu\n",
                     what, needed + 1, capacity);
        return false;
    }
    out.assign(buffer.data(), static_cast<size_t>(needed));
    return true;
}

// The caller's friendly name, or the default; names must fit the 32-byte field.
bool friendlyNameFor(const char* given, std::string& out) {
    std::string name = given ? given : kDefaultFriendlyName;
    if (name.size() >= kFriendlyNameField) {
        std::fprintf(stderr, "D [QOR] Friendly name too long (%zu characters, at most %zu): '%s'\n",
                     name.size(), kFriendlyNameField - 1, name.c_str());
        return false;
    }
    out = name;
    return true;
}

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads `count` decimal digits; false on any other byte or a short text.
bool readDigits(ByteReader& reader, int count, int& value) {
    int result = 0;
    for (int k = 0; k < count; ++k) {
        uint8_t digit = 0;
        if (!reader.readU8(digit) || digit < '0' || digit > '9')
            return false;
        result = result * 10 + (digit - '0');
    }
    value = result;
    return true;
}

// Never asks for a passphrase: encrypted PEM data simply fails to read.
int refusePassphrase(char*, int, int, void*) {
    return -1;
}

bool readValidityDate(const ASN1_TIME* time, int& year, int& month, int& day) {
    if (!time)
        return false;
    int length = ASN1_STRING_length(time);
    const unsigned char* data = ASN1_STRING_get0_data(time);
    if (!data || length < 0)
        return false;
    return readAsn1Date(ByteSpan(data, static_cast<size_t>(length)), year, month, day);
}

}  // namespace

bool hasCertMgrAnswerHeader(ByteSpan reply) {
    ByteReader reader(reply);
    ByteSpan head;
    if (!reader.readBytes(sizeof kAnswerHeader, head))
        return false;
    return std::memcmp(head.data, kAnswerHeader, sizeof kAnswerHeader) == 0;
}

std::string extractResponseXml(ByteSpan reply) {
    std::string xml;
    if (!hasCertMgrAnswerHeader(reply))
        return xml;
    ByteReader reader(reply);
    reader.skip(sizeof kAnswerHeader);
    xml.reserve(reader.remaining());
    uint8_t byte = 0;
    while (reader.readU8(byte)) {
        if (byte == 0)
            break;  // the response is a C text
        if (byte != kAnswerFiller)
            xml.push_back(static_cast<char>(byte));
    }
    return xml;
}

std::vector<uint8_t> buildRequestPacket(const std::string& xml) {
    ByteWriter parameters;
    parameters.writeBytes(kCallParameters, sizeof kCallParameters);
    parameters.writeText(xml);
    return npaConcat(npaLeadIn(), npaRequest(kNpaCertMgrCall, parameters.bytes()));
}

std::string escapeXml(const std::string& text) {
    // One pass gives the same result as replacing "&" first and then the
    // others: no inserted entity is ever escaped again.
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string pathBaseName(const std::string& path) {
    if (path.empty())
        return ".";
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return "/";
    size_t start = path.find_last_of('/', end);
    start = (start == std::string::npos) ? 0 : start + 1;
    return path.substr(start, end - start + 1);
}

int loadFromFile(uint8_t* buffer, size_t capacity, const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return -1;
    }
    long long size = info.st_size;
    std::fprintf(stderr, "D [QOR] Loading file %s, %d bytes\n", path.c_str(),
                 static_cast<int>(size));
    if (size < 0 || static_cast<unsigned long long>(size) > capacity) {
        std::fprintf(stderr, "D [QOR] File %s too large: %lld bytes, at most %zu\n", path.c_str(),
                     size, capacity);
        ::close(fd);
        return -1;
    }
    size_t total = static_cast<size_t>(size);
    ssize_t got = ::read(fd, buffer, total);
    if (got == static_cast<ssize_t>(total)) {
        ::close(fd);
        return static_cast<int>(total);
    }
    if (got < 0 && errno == EAGAIN) {
        std::fprintf(stderr, "D [QOR] loadFromFile error (2): %d, bytes=%d, size=%d\n", errno,
                     static_cast<int>(got), static_cast<int>(total));
        ::close(fd);
        return -1;
    }
    size_t done = got > 0 ? static_cast<size_t>(got) : 0;
    while (done < total) {
        ssize_t more = ::read(fd, buffer + done, total - done);
        if (more > 0) {
            done += static_cast<size_t>(more);
            continue;
        }
        if (more < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // An error, or the file shrank under us: end of data before its size.
        std::fprintf(stderr, "D [QOR] loadFromFile error (1): %d, bytes=%d, size=%d\n",
                     more < 0 ? errno : 0, static_cast<int>(more), static_cast<int>(total));
        ::close(fd);
        return -1;
    }
    ::close(fd);
    return static_cast<int>(total);
}

bool saveToFile(const uint8_t* data, size_t length, const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    ssize_t wrote = length ? ::write(fd, data, length) : 0;
    if (wrote != static_cast<ssize_t>(length) && wrote < 0 && errno == EAGAIN) {
        std::fprintf(stderr, "D [QOR] saveToFile error (2): %d, bytes=%d\n\n", errno,
                     static_cast<int>(wrote));
        ::close(fd);
        return false;
    }
    size_t done = wrote > 0 ? static_cast<size_t>(wrote) : 0;
    while (done < length) {
        ssize_t more = ::write(fd, data + done, length - done);
        if (more > 0) {
            done += static_cast<size_t>(more);
            continue;
        }
        if (more < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        std::fprintf(stderr, "D [QOR] saveToFile error (1): %d, bytes=%d\n\n", more < 0 ? errno : 0,
                     static_cast<int>(more));
        ::close(fd);
        return false;
    }
    return ::close(fd) == 0;
}

bool readAsn1Date(ByteSpan text, int& year, int& month, int& day) {
    if (text.size < 13 || text.size > 20)
        return false;
    ByteReader reader(text);
    int y = 0, m = 0, d = 0;
    if (text.size == 13) {
        if (!readDigits(reader, 2, y))
            return false;
        y += (y < 50) ? 2000 : 1900;
    } else if (!readDigits(reader, 4, y)) {
        return false;
    }
    if (!readDigits(reader, 2, m) || !readDigits(reader, 2, d))
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    year = y;
    month = m;
    day = d;
    return true;
}

std::string validityTag(int fromYear, int fromMonth, int fromDay, int toYear, int toMonth,
                        int toDay) {
    auto valid = [](int month, int day) {
        return month >= 1 && month <= 12 && day >= 1 && day <= 31;
    };
    if (!valid(fromMonth, fromDay) || !valid(toMonth, toDay))
        return "";
    char fromDayText[8], toDayText[8];
    std::snprintf(fromDayText, sizeof fromDayText, fromDay < 10 ? "_%d" : "%d", fromDay);
    std::snprintf(toDayText, sizeof toDayText, toDay < 10 ? "_%d" : "%d", toDay);
    char tag[128] = {};
    std::snprintf(tag, sizeof tag, "%s_%s_%04d_To_%s_%s_%04d", kMonthNames[fromMonth - 1],
                  fromDayText, fromYear, kMonthNames[toMonth - 1], toDayText, toYear);
    return tag;
}

namespace {

int namesFromBio(BIO* bio, const char* source, std::string& commonName, std::string& fullName) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509_AUX(bio, nullptr, refusePassphrase, nullptr), X509_free);
    if (!cert) {
        std::fprintf(stderr, "D [QOR] PEM_read failed?!\n");
        return -1;
    }
    char subject[256] = {};
    if (!X509_NAME_oneline(X509_get_subject_name(cert.get()), subject, sizeof subject))
        return -1;
    const char* cn = std::strstr(subject, "CN=");
    if (!cn || cn[3] == '\0')
        return -1;

    int fromYear = 0, fromMonth = 0, fromDay = 0, toYear = 0, toMonth = 0, toDay = 0;
    if (!readValidityDate(X509_get0_notBefore(cert.get()), fromYear, fromMonth, fromDay) ||
        !readValidityDate(X509_get0_notAfter(cert.get()), toYear, toMonth, toDay)) {
        std::fprintf(stderr, "D [QOR] Unreadable validity date in '%s'\n", source);
        return -1;
    }
    commonName = cn + 3;
    fullName = commonName + "_" + validityTag(fromYear, fromMonth, fromDay, toYear, toMonth, toDay);
    return 0;
}

}  // namespace

int getCertNames(const std::string& pemPath, std::string& commonName, std::string& fullName) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(pemPath.c_str(), "r"), BIO_free);
    if (!bio) {
        std::fprintf(stderr, "D [QOR] Failed to read Pem file '%s'?!\n", pemPath.c_str());
        return -1;
    }
    return namesFromBio(bio.get(), pemPath.c_str(), commonName, fullName);
}

int getCertNamesFromPem(ByteSpan pem, std::string& commonName, std::string& fullName) {
    if (pem.size > static_cast<size_t>(INT32_MAX))
        return -1;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data, static_cast<int>(pem.size)), BIO_free);
    if (!bio)
        return -1;
    return namesFromBio(bio.get(), "memory", commonName, fullName);
}

bool isPemCertificateFile(const std::string& path) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    if (!bio)
        return false;
    // No passphrase callback: a certificate is never encrypted, so nothing
    // may prompt here.
    X509* certificate = PEM_read_bio_X509_AUX(bio.get(), nullptr, refusePassphrase, nullptr);
    if (!certificate)
        return false;
    X509_free(certificate);
    return true;
}

namespace {

// The shared USB channel on `devicePath`; an empty path is refused before
// the transport is taken.
std::unique_ptr<NpaChannel> sharedChannel(const std::string& devicePath) {
    if (devicePath.empty())
        throw "Error: No USB device is specified!";
    return std::make_unique<NpaChannel>(devicePath, NpaChannel::Unreachable::Stop);
}

}  // namespace

CertMgr::CertMgr(const std::string& devicePath) : CertMgr(sharedChannel(devicePath)) {}

CertMgr::CertMgr(std::unique_ptr<NpaChannel> channel) : m_Channel(std::move(channel)) {
    if (m_Channel->path().empty())
        throw "Error: No USB device is specified!";
}

CertMgr::~CertMgr() = default;

int CertMgr::callMethod(const std::string& xml, std::string& response, unsigned windowSeconds) {
    std::vector<uint8_t> request = buildRequestPacket(xml);
    response.clear();
    ++m_Calls;
    std::vector<uint8_t> reply;
    int got = m_Channel->exchangeStream(request, reply, windowSeconds, kAfterWriteSleep * 1000);
    m_Heard = m_Heard || m_Channel->lastStreamNote().heard;
    if (got <= 0)
        return 0;
    response = extractResponseXml(reply);
    return got;
}

int CertMgr::runCall(const std::string& request, unsigned windowSeconds, const char* failureFormat,
                     const char* messageFormat, ObjStoreResponse& answer) {
    std::string xml;
    if (callMethod(request, xml, windowSeconds) <= 0)
        return -1;
    answer.setResponse(xml);
    if (answer.getStatusCode() != 1) {
        std::fprintf(stderr, failureFormat, answer.getStatusCode());
        std::fprintf(stderr, messageFormat, answer.getStatusMessage().c_str());
        return -1;
    }
    return 0;
}

int CertMgr::deleteIndividualCA(const std::string& commonName) {
    std::string request;
    if (!fillRequest(request, kSmallRequestBuffer, "deleteIndividualCA",
                     certtemplates::kDeleteIndividualCA, commonName.c_str()))
        return -1;
    ObjStoreResponse answer;
    return runCall(request, kShortWindow, "D [QOR] Delete CA cert error %d\n", "D [QOR] %s\n",
                   answer);
}

int CertMgr::deleteIndividualCert(const char* friendlyName) {
    std::string name, request;
    if (!friendlyNameFor(friendlyName, name))
        return -1;
    if (!fillRequest(request, kSmallRequestBuffer, "deleteIndividualCert",
                     certtemplates::kDeleteIndividualCert, name.c_str()))
        return -1;
    ObjStoreResponse answer;
    return runCall(request, kShortWindow, "D [QOR] Delete signed cert error %d\n", "D [QOR] %s\n",
                   answer);
}

int CertMgr::readCertDefaults(std::string& o, std::string& ou, std::string& c, std::string& st,
                              std::string& l, std::string& cn, std::string& an) {
    std::string xml;
    if (callMethod(certtemplates::kReadCertDefaults, xml, kShortWindow) <= 0)
        return -1;
    ObjStoreResponse answer;
    answer.setResponse(xml);
    // Here the readers' own success test decides, not the converted code.
    if (!answer.getCertDefaults(o, ou, c, st, l, cn, an)) {
        std::fprintf(stderr, "D [QOR] Get cert request defaults error %d\n",
                     answer.getStatusCode());
        std::fprintf(stderr, "D [QOR] %s\n", answer.getStatusMessage().c_str());
        return -1;
    }
    return 0;
}

int CertMgr::uploadFile(const std::string& path, const char* templ, const std::string& name,
                        const char* failureFormat, bool removeCAFirst) {
    std::vector<uint8_t> file(kFileBuffer, 0);
    int size = loadFromFile(file.data(), file.size(), path);
    if (size <= 0)
        return -1;
    std::vector<char> text(kFileBuffer, '\0');
    Base64 base64;
    if (!base64.encode(file.data(), static_cast<size_t>(size), text.data(), text.size())) {
        std::fprintf(stderr,
                     "D [QOR] File %s too large to send: its Base64 text needs %zu bytes with "
                     "its NUL, buffer %zu\n",
                     path.c_str(), (static_cast<size_t>(size) + 2) / 3 * 4 + 1, text.size());
        return -1;
    }
    // The request is built (and refused when too long) before anything is
    // sent, so that an install that can't go out removes nothing either.
    std::string request;
    if (!fillRequest(request, kFileRequestBuffer,
                     removeCAFirst ? "uploadNewCAFile" : "uploadSignedCertFile", templ,
                     name.c_str(), size, text.data()))
        return -1;
    if (removeCAFirst)
        removeExistingCA(path);
    ObjStoreResponse answer;
    return runCall(request, kShortWindow, failureFormat, "D [QOR] %s\n", answer);
}

int CertMgr::uploadSignedCertFile(const std::string& path, const char* friendlyName) {
    std::string name;
    if (!friendlyNameFor(friendlyName, name))
        return -1;
    return uploadFile(path, certtemplates::kUploadSignedCertFile, name,
                      "D [QOR] Install Signed Cert error %d\n", false);
}

int CertMgr::uploadNewCAFile(const std::string& path) {
    return uploadFile(path, certtemplates::kUploadNewCAFile, pathBaseName(path),
                      "D [QOR] Install CA Cert error %d\n", true);
}

int CertMgr::getCAInfo(const std::string& commonName, std::string& fileName, std::string& pemPath,
                       std::string& caCommonName) {
    std::string request;
    if (!fillRequest(request, kCAInfoRequestBuffer, "queryCAInfo", certtemplates::kQueryCAInfo,
                     commonName.c_str()))
        return -1;
    ObjStoreResponse answer;
    if (runCall(request, kShortWindow, "D [QOR] getCAInfo error %d\n", "D [QOR] %s\n", answer) != 0)
        return -1;
    answer.getCAInfo(fileName, pemPath, caCommonName);
    return 0;
}

int CertMgr::queryCertList(std::vector<std::string>& names) {
    ObjStoreResponse answer;
    if (runCall(certtemplates::kQueryCertList, kShortWindow,
                "D [QOR] Error getting list of friendly names %d\n", "D [QOR] %s\n", answer) != 0)
        return -1;
    answer.getNameList(names);
    std::fprintf(stderr, "D [QOR] List of friendly names (%d):\n", static_cast<int>(names.size()));
    for (size_t k = 0; k < names.size(); ++k)
        std::fprintf(stderr, "D [QOR] [%d] %s\n", static_cast<int>(k), names[k].c_str());
    return 0;
}

int CertMgr::getCACommonNameList(std::vector<std::string>& names) {
    ObjStoreResponse answer;
    if (runCall(certtemplates::kQueryCAList, kShortWindow, "D [QOR] getCACommonNameList error %d\n",
                "D [QOR] %s\n", answer) != 0)
        return -1;
    answer.getCANameList(names);
    return 0;
}

int CertMgr::exportPubKey(const std::string& path, const char* friendlyName) {
    std::string name, request;
    if (!friendlyNameFor(friendlyName, name))
        return -1;
    if (!fillRequest(request, kSmallRequestBuffer, "exportPubKey", certtemplates::kExportPubKey,
                     name.c_str()))
        return -1;
    ObjStoreResponse answer;
    if (runCall(request, kLongWindow, "D [QOR] Save Cert Request error %d\n\n", "D [QOR] %s\n\n",
                answer) != 0)
        return -1;
    std::vector<uint8_t> csr(kFileBuffer, 0);
    int64_t count = answer.getCSRFile(csr.data(), csr.size());
    if (count < 0) {
        std::fprintf(stderr, "D [QOR] Certificate request too large: it does not fit %zu bytes\n",
                     csr.size());
        return -1;
    }
    return saveToFile(csr.data(), static_cast<size_t>(count), path) ? 0 : -1;
}

int CertMgr::generateNewCert(const std::string& o, const std::string& ou, const std::string& c,
                             const std::string& st, const std::string& l, const std::string& cn,
                             const std::string& an, const char* friendlyName) {
    std::string name, request;
    if (!friendlyNameFor(friendlyName, name))
        return -1;
    if (!fillRequest(request, kSmallRequestBuffer, "generateNewCert",
                     certtemplates::kGenerateNewCert, name.c_str(), escapeXml(o).c_str(),
                     escapeXml(an).c_str(), escapeXml(c).c_str(), escapeXml(cn).c_str(),
                     escapeXml(l).c_str(), escapeXml(ou).c_str(), escapeXml(st).c_str()))
        return -1;
    // A certificate of the same friendly name would block the new one.
    deleteIndividualCert(name.c_str());
    ObjStoreResponse answer;
    return runCall(request, kLongWindow, "D [QOR] Create Certificate Request error %d\n",
                   "D [QOR] %s\n", answer);
}

bool CertMgr::removeExistingCA(const std::string& pemPath) {
    std::string commonName, fullName;
    getCertNames(pemPath, commonName, fullName);
    if (fullName.empty())
        return false;
    std::fprintf(stderr, "D [QOR] CA Common name to match: '%s'\n", fullName.c_str());
    std::vector<std::string> names;
    if (getCACommonNameList(names) != 0)
        return false;
    for (const std::string& name : names) {
        if (name == fullName) {
            std::fprintf(stderr, "D [QOR] CA cert exist! Removing...\n");
            return deleteIndividualCA(fullName) == 0;
        }
    }
    return false;
}

}  // namespace qor
