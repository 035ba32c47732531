// NPA packet framing as the printer side sees it: cutting the byte stream
// that arrives on the pipe into request packets, and building reply packets.
//
// This code is deliberately independent of the product's transport library,
// so that a framing mistake cannot hide on both ends of a test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qor/ByteReader.h"

namespace vprinter {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStart = 0xA5;
constexpr uint8_t kRequestFlags = 0x50;
constexpr uint8_t kPreambleFlags = 0x80;
constexpr uint8_t kMoreFlag = 0x20;
constexpr uint8_t kClass = 0xE0;
constexpr uint8_t kRead = 0xD8;
constexpr uint8_t kWrite = 0xDA;
constexpr uint8_t kForward = 0x63;
constexpr uint8_t kCertMgr = 0xC0;
constexpr uint8_t kSupport = 0x81;
constexpr uint8_t kForwardChannel = 0x02;

// Splits the incoming byte stream into whole packets. Bytes before a start
// byte are counted as garbage; a packet whose body has not fully arrived
// stays buffered until more bytes come.
class PacketAssembler {
  public:
    // Appends received bytes.
    void feed(qor::ByteSpan bytes);
    // Takes the next complete packet (start byte and length included) into
    // `packet`; false when no whole packet is buffered. Skipped garbage bytes
    // are added to `garbage`.
    bool next(Bytes& packet, Bytes& garbage);
    // Bytes of an unfinished packet (or garbage) still buffered.
    size_t pending() const { return m_Buffer.size(); }
    // Hands out and forgets whatever is buffered (an abandoned partial request).
    Bytes drain();

  private:
    Bytes m_Buffer;
};

// One parsed request packet. Fields not present in the packet keep their
// defaults; `valid` is false when the packet is too short for its command.
struct Request {
    Bytes raw;             // the whole packet
    uint8_t flags = 0;     // byte 3
    uint8_t cls = 0;       // byte 4
    uint8_t command = 0;   // byte 5
    qor::ByteSpan params;  // bytes 6.. (into raw)
};

// Parses the header of a whole packet; false when it is shorter than its
// declared length or has no flags/class/command bytes. `out.params` points
// into `out.raw`, so `out` must not be copied while params are in use.
bool parseRequest(const Bytes& packet, Request& out);

// A setting record of a write request: group, item, 00, length (BE16), value.
struct SettingRecord {
    uint8_t group = 0;
    uint8_t item = 0;
    Bytes value;
};

// Decodes the records that follow "DA 01" of a write request. Stops at the
// first record whose header or value does not fit; `complete` tells whether
// every byte was consumed by whole records.
std::vector<SettingRecord> parseRecords(qor::ByteSpan records, bool& complete);

// Builds A5, BE16 length of `body`, body.
Bytes framePacket(const Bytes& body);

// Upper-case hex without separators.
std::string toHex(qor::ByteSpan bytes);
// Decodes hex text (whitespace allowed between byte pairs); false on a bad
// digit or an odd digit count.
bool fromHex(const std::string& text, Bytes& out);

}  // namespace vprinter
