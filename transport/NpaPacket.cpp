#include "NpaPacket.h"

#include <cstring>

namespace qor {

namespace {

// Bytes 3-8 of a packet (flags, class, command and three parameters): what
// a read answer repeats of its request.
constexpr size_t kEchoOffset = 3;
constexpr size_t kEchoSize = 6;
// A stream keeps each packet's bytes after its flags byte, so there the
// inner answer of a forwarded request sits 4 bytes earlier than in a packet.
constexpr size_t kStreamForwardedOffset = kForwardedAnswerOffset - 4;

bool sameBytes(ByteSpan a, ByteSpan b) {
    return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

// The read request an answer is for (the inner one of a forwarding packet)
// and whether it went out wrapped.
bool requestEcho(ByteSpan request, ByteSpan& echo, bool& forwarded) {
    ByteReader reader(request);
    NpaPacket packet;
    if (!readNpaPacket(reader, packet))
        return false;
    ByteReader body(packet.body);
    uint8_t flags = 0, cls = 0, command = 0, channel = 0;
    uint16_t innerLength = 0;
    if (!body.readU8(flags) || !body.readU8(cls) || !body.readU8(command))
        return false;
    forwarded = command == kNpaForward;
    if (forwarded) {
        if (!body.readU8(channel) || !body.readBE16(innerLength) || !readNpaPacket(body, packet)) {
            return false;
        }
    }
    ByteReader inner(packet.whole);
    return inner.skip(kEchoOffset) && inner.readBytes(kEchoSize, echo);
}

// The data of an answer whose header, from `reader`'s position on, repeats
// `echo`; the 16-bit data length must stay inside what `reader` holds.
bool echoedData(ByteReader& reader, ByteSpan echo, ByteSpan& data) {
    ByteSpan head;
    uint16_t length = 0;
    if (!reader.readBytes(echo.size, head) || !sameBytes(head, echo) || !reader.readBE16(length))
        return false;
    return reader.readBytes(length, data);
}

// The start of a request packet: A5, the length of all that follows it,
// flags, class and `command`; `bytesAfterCommand` more bytes complete it.
ByteWriter requestHead(uint8_t command, size_t bytesAfterCommand) {
    ByteWriter head;
    head.writeU8(kNpaStartByte);
    head.writeBE16(static_cast<uint16_t>(3 + bytesAfterCommand));
    head.writeU8(kNpaRequestFlags);
    head.writeU8(kNpaClass);
    head.writeU8(command);
    return head;
}

}  // namespace

std::vector<uint8_t> npaPacket(ByteSpan body) {
    ByteWriter packet;
    packet.writeU8(kNpaStartByte);
    packet.writeBE16(static_cast<uint16_t>(body.size));
    packet.writeBytes(body);
    return packet.take();
}

std::vector<uint8_t> npaRequest(uint8_t command, ByteSpan parameters) {
    ByteWriter request = requestHead(command, parameters.size);
    request.writeBytes(parameters);
    return request.take();
}

std::vector<uint8_t> npaReadRequest(uint8_t group, uint8_t item) {
    const uint8_t parameters[] = {0x00, group, item};
    return npaRequest(kNpaRead, ByteSpan(parameters, sizeof parameters));
}

std::vector<uint8_t> npaWriteHeader(size_t recordBytes) {
    // The one parameter byte 01 comes before the records.
    ByteWriter header = requestHead(kNpaWrite, 1 + recordBytes);
    header.writeU8(0x01);
    return header.take();
}

std::vector<uint8_t> npaWriteRequest(ByteSpan records) {
    return npaConcat(npaWriteHeader(records.size), records);
}

std::vector<uint8_t> npaRecordHeader(uint8_t group, uint8_t item, size_t valueBytes) {
    ByteWriter header;
    header.writeU8(group);
    header.writeU8(item);
    header.writeU8(0x00);
    header.writeBE16(static_cast<uint16_t>(valueBytes));
    return header.take();
}

std::vector<uint8_t> npaForwardHeader(size_t innerBytes) {
    // The sub-channel and the inner request's length come before it.
    ByteWriter header = requestHead(kNpaForward, 3 + innerBytes);
    header.writeU8(kNpaAdapterChannel);
    header.writeBE16(static_cast<uint16_t>(innerBytes));
    return header.take();
}

std::vector<uint8_t> npaForwarded(ByteSpan inner) {
    return npaConcat(npaForwardHeader(inner.size), inner);
}

std::vector<uint8_t> npaLeadIn() {
    static const uint8_t kBody[] = {0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF, 0xA4,
                                    0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};
    return npaPacket(ByteSpan(kBody, sizeof kBody));
}

std::vector<uint8_t> npaConcat(std::vector<uint8_t> bytes, ByteSpan more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

bool readNpaPacket(ByteReader& reader, NpaPacket& out) {
    ByteReader probe(reader.rest());
    uint8_t start = 0;
    uint16_t length = 0;
    ByteSpan body;
    if (!probe.readU8(start) || start != kNpaStartByte || !probe.readBE16(length) ||
        !probe.readBytes(length, body)) {
        return false;
    }
    out.whole = reader.rest().first(probe.offset());
    out.body = body;
    return reader.skip(probe.offset());
}

bool readAnswerData(ByteSpan request, ByteSpan reply, ByteSpan& data) {
    ByteSpan echo;
    bool forwarded = false;
    if (!requestEcho(request, echo, forwarded))
        return false;
    // Noise on the line may come before the answer: it is taken from the
    // first start byte at which a whole answer of the promised form reads.
    for (size_t start = 0; start < reply.size; ++start) {
        ByteReader reader(reply.from(start));
        NpaPacket answer;
        if (!readNpaPacket(reader, answer))
            continue;
        if (forwarded) {
            ByteReader outer(answer.whole);
            if (!outer.seek(kForwardedAnswerOffset) || !readNpaPacket(outer, answer))
                continue;
        }
        ByteReader inner(answer.whole);
        if (inner.skip(kEchoOffset) && echoedData(inner, echo, data))
            return true;
    }
    return false;
}

bool streamAnswerData(ByteSpan request, ByteSpan collected, ByteSpan& data) {
    ByteSpan echo;
    bool forwarded = false;
    if (!requestEcho(request, echo, forwarded))
        return false;
    ByteReader reader(collected);
    if (forwarded) {
        NpaPacket answer;
        if (!reader.seek(kStreamForwardedOffset) || !readNpaPacket(reader, answer))
            return false;
        ByteReader inner(answer.whole);
        return inner.skip(kEchoOffset) && echoedData(inner, echo, data);
    }
    // A direct answer lost its header and flags byte to the stream reader,
    // which keeps no error packet: what is left starts at the class byte.
    return echoedData(reader, echo.from(1), data);
}

bool npaAnswerComplete(ByteSpan bytes) {
    ByteReader reader(bytes);
    uint8_t next = 0;
    while (reader.peekU8(next) && next != kNpaStartByte)
        reader.skip(1);
    NpaPacket packet;
    while (readNpaPacket(reader, packet)) {
        uint8_t flags = 0;
        // An empty packet is passed over, as the stream reading does.
        if (!ByteReader(packet.body).peekU8(flags))
            continue;
        if ((flags & kNpaFlagError) || !(flags & kNpaFlagMore))
            return true;
    }
    return false;
}

}  // namespace qor
