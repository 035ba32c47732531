// The NPA packet protocol of the printer's USB channel: building requests
// and reading answers. Every request is a packet
//
//   A5  length(16-bit, big-endian)  flags  class  command  parameters...
//
// where the length counts the bytes after itself. Requests carry flags 0x50
// and class E0. A printer of the forwarding kind takes requests for its
// wireless adapter wrapped in a packet for sub-channel 2; some exchanges are
// led in by a fixed wake-up packet. Answers use the same framing: flags bit
// 0x20 announces a further packet, bit 0x80 marks an error answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qor/ByteReader.h"

namespace qor {

constexpr uint8_t kNpaStartByte = 0xA5;
constexpr uint8_t kNpaRequestFlags = 0x50;
constexpr uint8_t kNpaFlagMore = 0x20;
constexpr uint8_t kNpaFlagError = 0x80;
constexpr uint8_t kNpaClass = 0xE0;
constexpr uint8_t kNpaRead = 0xD8;
constexpr uint8_t kNpaWrite = 0xDA;
constexpr uint8_t kNpaForward = 0x63;
constexpr uint8_t kNpaSupportQuery = 0x81;
constexpr uint8_t kNpaCertMgrCall = 0xC0;
// The adapter's sub-channel that forwarded requests go to.
constexpr uint8_t kNpaAdapterChannel = 0x02;
// The inner answer of a forwarded request starts this far into the outer
// packet (flags, class, command, sub-channel and three uninterpreted bytes
// after the 3-byte header).
constexpr size_t kForwardedAnswerOffset = 10;
// Header bytes a builder puts before what it frames.
constexpr size_t kNpaWriteHeaderSize = 7;    // A5 len 50 E0 DA 01
constexpr size_t kNpaForwardHeaderSize = 9;  // A5 len 50 E0 63 02 inner-length

// ---- building requests ------------------------------------------------------

// A5, the length of `body`, then `body` (flags first).
std::vector<uint8_t> npaPacket(ByteSpan body);
// A request: flags 0x50, class E0, `command`, then `parameters`.
std::vector<uint8_t> npaRequest(uint8_t command, ByteSpan parameters);
// The read of one setting: A5 00 06 50 E0 D8 00 group item.
std::vector<uint8_t> npaReadRequest(uint8_t group, uint8_t item);
// The header of a write of `recordBytes` bytes of setting records.
std::vector<uint8_t> npaWriteHeader(size_t recordBytes);
// A whole write request of `records`.
std::vector<uint8_t> npaWriteRequest(ByteSpan records);
// One setting record's header: group, item, 00 and the value's length.
std::vector<uint8_t> npaRecordHeader(uint8_t group, uint8_t item, size_t valueBytes);
// The header that forwards an `innerBytes`-byte request to the adapter.
std::vector<uint8_t> npaForwardHeader(size_t innerBytes);
// `inner` wrapped for the adapter's sub-channel.
std::vector<uint8_t> npaForwarded(ByteSpan inner);
// The fixed packet (flags 0x80) that wakes the printer's forwarding side.
std::vector<uint8_t> npaLeadIn();
// Appends `more` to `bytes` (requests that follow a lead-in).
std::vector<uint8_t> npaConcat(std::vector<uint8_t> bytes, ByteSpan more);

// ---- reading answers --------------------------------------------------------

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
