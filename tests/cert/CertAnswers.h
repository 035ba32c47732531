// Certificate manager answers and requests as the printer's XML carries them,
// for the scripted printer under CertMgr.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "FakePrinter.h"

namespace qor::test {

// One answer packet of the certificate manager carrying `xml`; with
// `filler` every other byte of the text is preceded by an E0 byte, as the
// printer interleaves them.
inline std::vector<uint8_t> certAnswer(const std::string& xml, bool filler = false,
                                       uint8_t flags = 0x50) {
    const uint8_t head[] = {flags, 0xE0, 0xC0, 0x03, 0x00, 0x01, 0x00, 0xE0};
    std::vector<uint8_t> body;
    body.reserve(sizeof head + 2 * xml.size());
    body.insert(body.end(), head, head + sizeof head);
    for (size_t k = 0; k < xml.size(); ++k) {
        if (filler && k % 2 == 0)
            body.push_back(0xE0);
        body.push_back(static_cast<uint8_t>(xml[k]));
    }
    return wirePacket(body);
}

// A response document with the given status and extra <child> elements.
inline std::string responseXml(const std::string& status, const std::string& message,
                               const std::string& children = "") {
    return "<?xml version=\"1.0\"?><response><MapElem><child name=\"status_code\"><IntegerElem>" +
           status + "</IntegerElem></child><child name=\"status_mesg\"><StringElem>" + message +
           "</StringElem></child>" + children + "</MapElem></response>";
}

inline std::string stringChild(const std::string& name, const std::string& value) {
    return "<child name=\"" + name + "\"><StringElem>" + value + "</StringElem></child>";
}

// The XML text of a written request (after the preamble and packet header).
inline std::string requestXml(const std::vector<uint8_t>& written) {
    const size_t header = 19 + 9;
    if (written.size() < header)
        return "";
    return std::string(written.begin() + header, written.end());
}

}  // namespace qor::test
