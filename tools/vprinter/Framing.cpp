#include "Framing.h"

#include <cctype>

namespace vprinter {

void PacketAssembler::feed(qor::ByteSpan bytes) {
    m_Buffer.insert(m_Buffer.end(), bytes.begin(), bytes.end());
}

bool PacketAssembler::next(Bytes& packet, Bytes& garbage) {
    for (;;) {
        qor::ByteReader reader(m_Buffer);
        uint8_t start = 0;
        if (!reader.readU8(start))
            return false;
        if (start != kStart) {
            garbage.push_back(start);
            m_Buffer.erase(m_Buffer.begin());
            continue;
        }
        uint16_t length = 0;
        if (!reader.readBE16(length))
            return false;
        if (length == 0) {
            // A header without a body carries nothing to answer.
            garbage.insert(garbage.end(), m_Buffer.begin(), m_Buffer.begin() + 3);
            m_Buffer.erase(m_Buffer.begin(), m_Buffer.begin() + 3);
            continue;
        }
        qor::ByteSpan body;
        if (!reader.readBytes(length, body))
            return false;
        size_t total = reader.offset();
        packet.assign(m_Buffer.begin(), m_Buffer.begin() + total);
        m_Buffer.erase(m_Buffer.begin(), m_Buffer.begin() + total);
        return true;
    }
}

Bytes PacketAssembler::drain() {
    Bytes out;
    out.swap(m_Buffer);
    return out;
}

bool parseRequest(const Bytes& packet, Request& out) {
    out = Request{};
    out.raw = packet;
    qor::ByteReader reader(out.raw);
    uint8_t start = 0;
    uint16_t length = 0;
    if (!reader.readU8(start) || start != kStart || !reader.readBE16(length))
        return false;
    if (length != reader.remaining())
        return false;
    if (!reader.readU8(out.flags))
        return false;
    if (!reader.readU8(out.cls) || !reader.readU8(out.command)) {
        out.params = reader.rest();
        return false;
    }
    out.params = reader.rest();
    return true;
}

std::vector<SettingRecord> parseRecords(qor::ByteSpan records, bool& complete) {
    std::vector<SettingRecord> out;
    qor::ByteReader reader(records);
    complete = true;
    while (!reader.atEnd()) {
        SettingRecord record;
        uint8_t zero = 0;
        uint16_t length = 0;
        qor::ByteSpan value;
        if (!reader.readU8(record.group) || !reader.readU8(record.item) || !reader.readU8(zero) ||
            !reader.readBE16(length) || !reader.readBytes(length, value)) {
            complete = false;
            break;
        }
        record.value = value.toVector();
        out.push_back(std::move(record));
    }
    return out;
}

Bytes framePacket(const Bytes& body) {
    qor::ByteWriter writer;
    writer.writeU8(kStart);
    writer.writeBE16(static_cast<uint16_t>(body.size()));
    writer.writeBytes(qor::ByteSpan(body));
    return writer.take();
}

std::string toHex(qor::ByteSpan bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

bool fromHex(const std::string& text, Bytes& out) {
    out.clear();
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (high >= 0)
                return false;  // a digit pair may not be split
            continue;
        }
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            return false;
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    return high < 0;
}

}  // namespace vprinter
