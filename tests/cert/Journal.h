// Reads the virtual printer's journal: one JSON object per request, of
// which the tests need the kind, the certificate manager method, its XML
// text, the request bytes in hexadecimal and whether it was answered.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace qor::test {

struct JournalEntry {
    std::string kind, method, xml, hex;
    bool answered = false;
};

// The value of the JSON string that follows "key": in `line` ("" when the
// key is absent). Handles the escapes the journal writes: \" \\ \n \uXXXX
// (one byte each).
inline std::string jsonField(const std::string& line, const std::string& key) {
    std::string marker = "\"" + key + "\":\"";
    size_t at = line.find(marker);
    if (at == std::string::npos)
        return "";
    std::string out;
    for (size_t k = at + marker.size(); k < line.size(); ++k) {
        char c = line[k];
        if (c == '"')
            break;
        if (c != '\\' || k + 1 >= line.size()) {
            out.push_back(c);
            continue;
        }
        char e = line[++k];
        if (e == 'n') {
            out.push_back('\n');
        } else if (e == 'u' && k + 4 < line.size()) {
            out.push_back(
                static_cast<char>(std::strtol(line.substr(k + 1, 4).c_str(), nullptr, 16)));
            k += 4;
        } else {
            out.push_back(e);
        }
    }
    return out;
}

inline std::vector<JournalEntry> parseJournal(const std::string& text) {
    std::vector<JournalEntry> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '{')
            continue;
        JournalEntry e;
        e.kind = jsonField(line, "kind");
        e.method = jsonField(line, "method");
        e.xml = jsonField(line, "xml");
        e.hex = jsonField(line, "hex");
        e.answered = line.find("\"answered\":true") != std::string::npos;
        entries.push_back(e);
    }
    return entries;
}

// The methods of the certificate manager calls, in order, joined by blanks.
inline std::string certMethods(const std::vector<JournalEntry>& entries) {
    std::string out;
    for (const JournalEntry& e : entries) {
        if (e.kind != "certmgr")
            continue;
        out += (out.empty() ? "" : " ") + e.method;
    }
    return out;
}

inline std::string hexOf(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

}  // namespace qor::test
