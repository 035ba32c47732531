#include "SurveyCells.h"

#include "qor/ByteReader.h"

namespace qor {

namespace {

const char kCellWord[] = "Cell";
const size_t kCellWordLength = 4;

bool endsWithCellWord(const std::string& text) {
    return text.size() >= kCellWordLength &&
           text.compare(text.size() - kCellWordLength, kCellWordLength, kCellWord) == 0;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Whether `start` is found in `text` and an `end` follows it. The end marker
// is searched after the start marker, so a start marker that ends with the end
// marker's text (ESSID:" and ") is not closed by itself.
bool findBetween(const std::string& text, const std::string& startMarker,
                 const std::string& endMarker, size_t& startAt, size_t& valueAt, size_t& endAt) {
    startAt = text.find(startMarker);
    if (startAt == std::string::npos)
        return false;
    valueAt = startAt + startMarker.size();
    endAt = text.find(endMarker, valueAt);
    return endAt != std::string::npos;
}

}  // namespace

int CellsInterface::cutCells(const std::string& text) {
    // One pass: "Cell" is recognised at the end of the growing cell, so each
    // byte is looked at a fixed number of times.
    ByteReader reader(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::string current;
    bool inCell = false;
    int stored = 0;
    uint8_t byte = 0;
    while (reader.readU8(byte)) {
        current.push_back(static_cast<char>(byte));
        if (!endsWithCellWord(current))
            continue;
        current.resize(current.size() - kCellWordLength);
        if (inCell) {
            m_Cells.push_back(current);
            ++stored;
        }
        inCell = true;
        current.clear();
    }
    if (inCell && !current.empty()) {
        m_Cells.push_back(current);
        ++stored;
    }
    return stored;
}

// ---- forwarding kind --------------------------------------------------------

std::string PSSDCells::clean(const uint8_t* data, size_t length) {
    std::string out;
    if (data == nullptr)
        return out;
    out.reserve(length);
    ByteReader reader(data, length);
    uint8_t byte = 0;
    while (reader.readU8(byte)) {
        if (byte == 0 || byte >= 127)
            continue;
        uint8_t next = 0;
        if (byte == '=' && reader.peekU8(next) && (next == 'p' || next == 'q' || next == 'r')) {
            reader.skip(1);
            continue;
        }
        out.push_back(static_cast<char>(byte));
    }
    return out;
}

int PSSDCells::parse(const uint8_t* data, int length) {
    if (data == nullptr || length <= 0)
        return 0;
    return cutCells(clean(data, static_cast<size_t>(length)));
}

void PSSDCells::cellText(std::string& out, int index) const {
    out.clear();
    if (index >= 0 && static_cast<size_t>(index) < m_Cells.size())
        out = m_Cells[index];
}

void PSSDCells::extractBetween(std::string& out, const std::string& text,
                               const std::string& startMarker, const std::string& endMarker) {
    out.clear();
    size_t startAt = 0, valueAt = 0, endAt = 0;
    if (!findBetween(text, startMarker, endMarker, startAt, valueAt, endAt))
        return;
    out = text.substr(valueAt, endAt - valueAt);
}

int PSSDCells::fillRecord(SiteRecord& record, int index) const {
    std::string cell;
    cellText(cell, index);

    std::string ssid, channel, mode, encryption, signal, ie, extra;
    extractBetween(ssid, cell, "ESSID:\"", "\"");
    extractBetween(channel, cell, "Channel ", ")");
    extractBetween(mode, cell, "Mode:", "\n");
    extractBetween(encryption, cell, "Encryption key:", "\n");
    extractBetween(signal, cell, "Signal level:-", " ");
    extractBetween(ie, cell, "IE:", "\n");
    extractBetween(extra, cell, "Extra:", "\n");

    // The IE line names the strongest scheme; the Extra line's wpa_ie value
    // tells WPA2-only (30, the RSN element) from mixed WPA/WPA2 (DD, the
    // vendor WPA element).
    std::string security = ie;
    if (encryption == "off") {
        security = "None";
    } else if (encryption == "on") {
        if (extra == "wpa_ie=DD") {
            security = "WPA/WPA2";
        } else if (security.empty()) {
            security = "WEP";
        } else if (contains(security, "WPA2") && extra == "wpa_ie=30") {
            security = "WPA2";
        } else if (contains(security, "WPA") && !contains(security, "WPA2")) {
            security = "WPA";
        } else if (contains(security, "WEP")) {
            security = "WEP";
        }
    }

    if (signal.empty())
        extractBetween(signal, cell, "Signal level=-", " ");
    if (signal.empty())
        signal = "99";

    // The adapter reports infrastructure access points as Master.
    if (mode == "Master")
        mode = "Managed";

    record.ssid = ssid;
    record.channel = channel;
    record.mode = mode;
    record.signal = signal;
    record.security = security;
    record.encryption = encryption;
    return 0;
}

// ---- direct kind ------------------------------------------------------------

int ISDCells::parse(const uint8_t* data, int length) {
    if (data == nullptr || length <= 0)
        return 0;
    ByteSpan raw(data, static_cast<size_t>(length));
    return cutCells(raw.toString());
}

void ISDCells::cellText(std::string& out, int index) const {
    out.clear();
    if (index >= 0 && static_cast<size_t>(index) < m_Cells.size())
        out = m_Cells[index];
}

void ISDCells::extractBetween(std::string& out, const std::string& text,
                              const std::string& startMarker, const std::string& endMarker,
                              int includeStart) {
    out.clear();
    size_t startAt = text.find(startMarker);
    if (startAt == std::string::npos || startAt == 0) {
        if (startMarker == "IE:") {
            out = "None";
            return;
        }
        if (startMarker == "Signal level=-") {
            out = "99";
            return;
        }
        if (startAt == std::string::npos)
            return;
    }
    size_t valueAt = 0, endAt = 0;
    if (!findBetween(text, startMarker, endMarker, startAt, valueAt, endAt))
        return;
    size_t from = includeStart == 1 ? startAt : valueAt;
    out = text.substr(from, endAt - from);
}

int ISDCells::fillRecord(SiteRecord& record, int index) const {
    std::string cell;
    cellText(cell, index);

    std::string ssid, channel, mode, signal, encryption, ie, extra;
    extractBetween(ssid, cell, "ESSID:\"", "\"", 0);
    extractBetween(channel, cell, "Channel=", "\n", 0);
    extractBetween(mode, cell, "Mode:", "\n", 0);
    extractBetween(signal, cell, "Signal level=-", " ", 0);
    extractBetween(encryption, cell, "Encryption key:", "\n", 0);
    extractBetween(ie, cell, "IE:", "\n", 0);
    extractBetween(extra, cell, "Extra:", "\n", 0);

    std::string security;
    if (encryption != "on") {
        security = "None";
    } else if (contains(extra, "wpa_ie=DD")) {
        security = "WPA/WPA2";
    } else if (contains(ie, "WPA2") && contains(extra, "wpa_ie=30")) {
        extractBetween(security, ie, "WPA2", " ", 1);
    } else if (contains(ie, "WPA") && !contains(ie, "WPA2")) {
        extractBetween(security, ie, "WPA", " ", 1);
    } else {
        security = "WEP";
    }

    record.ssid = ssid;
    record.channel = channel;
    record.mode = mode;
    record.signal = signal;
    record.security = security;
    record.encryption = encryption;
    return 0;
}

}  // namespace qor
