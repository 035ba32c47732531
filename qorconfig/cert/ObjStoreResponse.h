// One answer of the printer's certificate manager: an XML document rooted at
// <response>, whose <MapElem> holds <child name="..."> elements with typed
// values. Every reader gives what evaluating its paths one by one over the
// whole document would give, and prints what that would print (the parser's
// error line, on standard output, once for each read that fails before its
// match), but the fields one reader needs are read in a single pass, and the
// status code, which several readers test, is read once per answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qor {

struct XPathStep;

class ObjStoreResponse {
  public:
    ObjStoreResponse() = default;
    virtual ~ObjStoreResponse() = default;

    // Stores a copy of the response text (up to its first NUL, as a C text)
    // in place of the one before.
    void setResponse(const std::string& text);
    const std::string& response() const { return *m_Response; }

    // The status_code value converted as atoi does; 0 when absent.
    int getStatusCode() const;
    // The status_mesg value; "" when absent.
    std::string getStatusMessage() const;

    // The readers below go on only when the status_code text is exactly "1"
    // (a text comparison: "1 " and "01" do not pass); otherwise they leave
    // their outputs untouched.

    // Sets the CA file name, PEM path and common name.
    void getCAInfo(std::string& fileName, std::string& pemPath, std::string& commonName) const;
    // Base64-decodes cert_dot_csr_file into `buffer` (at most `capacity`
    // bytes). Returns the byte count, -1 when it does not fit, 0 without
    // success.
    int64_t getCSRFile(uint8_t* buffer, size_t capacity) const;
    // Sets the seven subject defaults; true on success.
    bool getCertDefaults(std::string& o, std::string& ou, std::string& c, std::string& st,
                         std::string& l, std::string& cn, std::string& an) const;
    // Replaces `names` with the non-empty cert_list entries 1, 2, ... up to
    // the first empty one (at most 9: positions stop there).
    void getNameList(std::vector<std::string>& names) const;
    // The CA list is read from the same field.
    void getCANameList(std::vector<std::string>& names) const { getNameList(names); }

    // Field paths of the response.
    static const char* const kStatusCodePath;
    static const char* const kStatusMessagePath;
    static const char* const kCAFileNamePath;
    static const char* const kCAPemPathPath;
    static const char* const kCACommonNamePath;
    static const char* const kCSRFilePath;
    static const char* const kOrgPath;
    static const char* const kUnitPath;
    static const char* const kCountryPath;
    static const char* const kStatePath;
    static const char* const kCityPath;
    static const char* const kCommonNamePath;
    static const char* const kAltNamePath;
    static const char* const kListEntryPath;  // printf format, one %d

  private:
    std::string read(const char* path) const;
    // The status_code text; the first call reads it, later ones print again
    // what that read printed.
    const std::string& statusText() const;
    bool succeeded() const;
    // The given fields in one pass, in order; prints the parser's error line
    // once for each that found no match, as reading them one by one would.
    std::vector<std::string> readAll(const std::vector<std::vector<XPathStep>>& queries) const;

    // Shared with every query, which only reads it; replaced, never changed.
    std::shared_ptr<const std::string> m_Response = std::make_shared<const std::string>();
    // The status read of the current answer, kept until setResponse.
    mutable bool m_HaveStatus = false;
    mutable std::string m_StatusText;
    mutable std::string m_StatusReport;  // what the read printed
};

}  // namespace qor
