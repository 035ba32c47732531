// Method calls on the printer's certificate manager object
// "applications.certMgr", carried as XML inside NPA packets over USB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "NpaChannel.h"
#include "qor/ByteReader.h"

namespace qor {

// Request templates, byte for byte as the printer expects them.
namespace certtemplates {
extern const char* const kDeleteIndividualCA;    // requestID 410: %s common name
extern const char* const kDeleteIndividualCert;  // 510: %s friendly name
extern const char* const kReadCertDefaults;      // 100, sent as is
extern const char* const kUploadSignedCertFile;  // 500: %s friendly, %d size, %s Base64
extern const char* const kQueryCAInfo;           // 430: %s common name
extern const char* const kQueryCertList;         // 520, sent as is
extern const char* const kQueryCAList;           // 420, sent as is
extern const char* const kUploadNewCAFile;       // 400: %s file name, %d size, %s Base64
extern const char* const kExportPubKey;          // 210: %s friendly name
extern const char* const kGenerateNewCert;       // 200: friendly, O, AN, C, CN, L, OU, ST
}  // namespace certtemplates

// Friendly name used when the caller gives none; names live in a 32-byte field.
extern const char* const kDefaultFriendlyName;
constexpr size_t kFriendlyNameField = 32;
// Zeroed buffer sizes of the requests, files and decoded answers.
constexpr size_t kSmallRequestBuffer = 3072;
constexpr size_t kCAInfoRequestBuffer = 2048;
constexpr size_t kFileRequestBuffer = 16384;
constexpr size_t kFileBuffer = 16384;

// The first seven bytes of every certificate manager answer.
bool hasCertMgrAnswerHeader(ByteSpan reply);
// The XML text of an answer: when `reply` begins with E0 C0 03 00 01 00 E0,
// every following byte except those equal to E0, in order, up to the first
// NUL (the text is a C string); otherwise "".
std::string extractResponseXml(ByteSpan reply);
// The request bytes: the fixed 19-byte preamble packet, then
// A5, BE16(xml length + 6), 50, E0 C0 03 00 01, the XML bytes.
std::vector<uint8_t> buildRequestPacket(const std::string& xml);
// "&" "\"" "'" "<" ">" replaced by their entities, "&" first.
std::string escapeXml(const std::string& text);
// The last component of a path, as basename(3) gives it.
std::string pathBaseName(const std::string& path);

// Reads the whole file at `path` into `buffer`; prints
// "D [QOR] Loading file %s, %d bytes\n". Returns the size, or -1 when the
// file can't be opened or read or is larger than `capacity`.
int loadFromFile(uint8_t* buffer, size_t capacity, const std::string& path);
// Writes `length` bytes to `path` (created or truncated, mode 0644). True
// only when every byte was written.
bool saveToFile(const uint8_t* data, size_t length, const std::string& path);

// The name under which the printer lists the CA in the PEM file at
// `pemPath`: `commonName` is the subject text after "CN=", `fullName` is
// "<common name>_<validity tag>", with the tag such as
// "Jan__5_2010_To_Dec_31_2011". Never asks for a passphrase (an encrypted
// file fails to read). Returns 0, or -1 (outputs untouched) when the file
// can't be read, has no common name, or a validity date is unreadable (an
// ASN.1 time outside 13 to 20 characters, non-digits, month outside 1-12
// or day outside 1-31): without both dates no listed name can match.
int getCertNames(const std::string& pemPath, std::string& commonName, std::string& fullName);
// Whether the file at `path` holds a PEM certificate OpenSSL can read
// (other PEM blocks before it are skipped). Prints nothing.
bool isPemCertificateFile(const std::string& path);
// The same over PEM text in memory ("memory" names it in the lines).
int getCertNamesFromPem(ByteSpan pem, std::string& commonName, std::string& fullName);

// The validity tag of two dates, "%s_%s_%04d_To_%s_%s_%04d" with month
// names and days 1-9 as "_%d". Returns "" for a month outside 1-12 or a day
// outside 1-31.
std::string validityTag(int fromYear, int fromMonth, int fromDay, int toYear, int toMonth,
                        int toDay);
// Reads an ASN.1 time text (UTCTime of 13 characters: two-digit year, below
// 50 is 20yy; otherwise 14 to 20 characters with a four-digit year) into
// year, month and day. False (outputs untouched) when unreadable.
bool readAsn1Date(ByteSpan text, int& year, int& month, int& day);

class CertMgr {
  public:
    // Talks to the printer at `devicePath` through the shared USB transport
    // (held until destruction). An empty path throws the text
    // "Error: No USB device is specified!" (a const char*).
    explicit CertMgr(const std::string& devicePath);
    // The same over any channel (tests).
    explicit CertMgr(std::unique_ptr<NpaChannel> channel);
    virtual ~CertMgr();
    CertMgr(const CertMgr&) = delete;
    CertMgr& operator=(const CertMgr&) = delete;

    // Sends one method call and collects the answer within `windowSeconds`.
    // Returns the number of reply bytes (0 when nothing came or the device
    // did not open); over the shared transport, a device that never opened
    // in this run throws DeviceUnavailable instead. `response` receives the
    // extracted XML ("" when the answer header is wrong).
    int callMethod(const std::string& xml, std::string& response, unsigned windowSeconds);

    // Every operation returns 0 on success, -1 on failure, with the failure
    // lines of the certificate manager on standard error. A request that
    // would not fit its buffer, or a friendly name over 31 characters, is
    // refused with a "D [QOR] " line before anything is sent.
    // `friendlyName` null means kDefaultFriendlyName.
    int deleteIndividualCA(const std::string& commonName);
    int deleteIndividualCert(const char* friendlyName);
    int readCertDefaults(std::string& o, std::string& ou, std::string& c, std::string& st,
                         std::string& l, std::string& cn, std::string& an);
    int uploadSignedCertFile(const std::string& path, const char* friendlyName);
    int getCAInfo(const std::string& commonName, std::string& fileName, std::string& pemPath,
                  std::string& caCommonName);
    int queryCertList(std::vector<std::string>& names);
    int getCACommonNameList(std::vector<std::string>& names);
    // Removes an installed CA listed under the file's full name first.
    int uploadNewCAFile(const std::string& path);
    // Saves the printer's CSR for `friendlyName` to `path`.
    int exportPubKey(const std::string& path, const char* friendlyName);
    // Deletes any certificate of that friendly name, then has the printer
    // generate a key pair and CSR with the (escaped) subject fields.
    int generateNewCert(const std::string& o, const std::string& ou, const std::string& c,
                        const std::string& st, const std::string& l, const std::string& cn,
                        const std::string& an, const char* friendlyName);
    // Deletes the CA listed under the full name of the PEM file, if listed.
    // True only when a delete was made and succeeded.
    bool removeExistingCA(const std::string& pemPath);

    const std::string& devicePath() const { return m_Channel->path(); }
    // True when calls were made and not one got an answer (not even an
    // error answer): the printer is silent, not refusing.
    bool neverAnswered() const { return m_Calls > 0 && !m_Heard; }

  private:
    // Sends `request` and checks the status; `failureFormat` takes the code,
    // `messageFormat` the status message. 0 or -1. On success `answer`
    // holds the response.
    int runCall(const std::string& request, unsigned windowSeconds, const char* failureFormat,
                const char* messageFormat, class ObjStoreResponse& answer);
    int uploadFile(const std::string& path, const char* templ, const std::string& name,
                   const char* failureFormat, bool removeCAFirst);

    std::unique_ptr<NpaChannel> m_Channel;
    int m_Calls = 0;
    bool m_Heard = false;
};

}  // namespace qor
