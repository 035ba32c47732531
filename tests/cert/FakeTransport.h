// A scripted CommTransport: each open() serves the next scripted answer and
// records what was written, so tests see the exact request bytes.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "CommTransport.h"

namespace qor::test {

class FakeTransport : public CommTransport {
  public:
    struct Answer {
        bool opens = true;
        std::vector<uint8_t> bytes;
    };

    void script(std::vector<uint8_t> bytes) { m_Script.push_back({true, std::move(bytes)}); }
    void scriptOpenFailure() { m_Script.push_back({false, {}}); }

    int open(const std::string& path) override {
        m_Opened.push_back(path);
        m_Pending.clear();
        m_Cursor = 0;
        if (m_Script.empty())
            return 0;  // opens, answers nothing
        Answer next = m_Script.front();
        m_Script.pop_front();
        if (!next.opens)
            return -1;
        m_Pending = next.bytes;
        return 0;
    }
    int close() override {
        ++m_Closes;
        return 0;
    }
    int read(uint8_t* buffer, size_t size) override {
        size_t n = std::min(size, m_Pending.size() - m_Cursor);
        if (n)
            std::memcpy(buffer, m_Pending.data() + m_Cursor, n);
        m_Cursor += n;
        return static_cast<int>(n);
    }
    int write(const uint8_t* buffer, size_t size) override {
        m_Writes.emplace_back(buffer, buffer + size);
        return static_cast<int>(size);
    }

    std::vector<std::string> m_Opened;
    std::vector<std::vector<uint8_t>> m_Writes;
    int m_Closes = 0;

  private:
    std::deque<Answer> m_Script;
    std::vector<uint8_t> m_Pending;
    size_t m_Cursor = 0;
};

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
    std::vector<uint8_t> packet;
    packet.reserve(3 + body.size());
    packet.push_back(0xA5);
    packet.push_back(static_cast<uint8_t>(body.size() >> 8));
    packet.push_back(static_cast<uint8_t>(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
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
