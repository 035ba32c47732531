// Reading NPA packets out of reply bytes, and the check that a read answer
// has the form the printer promises before any value is taken from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qor/ByteReader.h"

namespace qor {

constexpr uint8_t kNpaStartByte = 0xA5;
constexpr uint8_t kNpaClass = 0xE0;
constexpr uint8_t kNpaRead = 0xD8;
constexpr uint8_t kNpaForward = 0x63;
// The inner answer of a forwarded request starts this far into the outer
// packet (flags, class, command, sub-channel and three uninterpreted bytes
// after the 3-byte header).
constexpr size_t kForwardedAnswerOffset = 10;

// One whole NPA packet: A5, a 16-bit length, and that many bytes.
struct NpaPacket {
    ByteSpan whole;  // start byte to the last byte the length counts
    ByteSpan body;   // the bytes after the length field, flags first
};

// Reads the packet that starts at the reader's position. Fails (reader
// unmoved) unless the start byte is 0xA5 and every byte the length counts
// is there.
bool readNpaPacket(ByteReader& reader, NpaPacket& out);

// Whether `bytes` (what one exchange has read so far) hold a whole answer by
// its framing: after any noise before the first start byte, whole packets
// up to one that announces no further packet (flags bit 0x20 clear) or is an
// error packet (bit 0x80). A forwarded answer is whole with its outer packet.
bool npaAnswerComplete(ByteSpan bytes);

// Checks the bytes one exchange read (`reply`, packets with their headers)
// as the answer to the read request `request` (A5 00 06 50 E0 D8 00 group
// item, or that wrapped in a forwarding packet). The answer counts only
// when its bytes 3-8 repeat the request's bytes 3-8 and its declared data
// lie inside its packet; a forwarded answer is the inner packet at offset 10
// of a whole outer packet. Bytes before the answer's start byte (noise on
// the line) are passed over. On success `data` holds the answer's data.
// Error answers fail here too; callers that give them a meaning test the
// flags byte first.
bool readAnswerData(ByteSpan request, ByteSpan reply, ByteSpan& data);

// The same for what a packet-stream exchange collected: each packet's bytes
// after its flags byte, so a direct answer starts with its class byte and a
// forwarded one holds the inner packet at offset 6.
bool streamAnswerData(ByteSpan request, ByteSpan collected, ByteSpan& data);

}  // namespace qor
