// HCP discovery: one DNS-format PTR question for _host-config._udp.local sent
// to the mDNS group, answered by printers with a TXT record of KEY=VALUE
// strings describing their network adapter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qor/ByteReader.h"

// The fixed 41-byte query (RFC 1035 message, one QU question, RFC 6762 5.4).
extern const uint8_t gDNSQueryPacket[41];

struct HcpDevice {
    std::string mac;           // twelve upper-case hex digits (from MACUAA)
    std::string ip;            // IPv4 address text (from IPADDRESS)
    std::string model;         // from 1284STRID
    std::string manufacturer;  // from PRINTERVIDPID or a match of the accepted name
};

// The accepted manufacturer chosen by the first letter of the program name:
// t Tamo, g Printer (accepts all), k SOLVEN, a Amtix, d DALOR, else Kessa.
std::string manufacturerForProgramName(const std::string& programName);

// The last path component of /proc/<pid>/exe, or "" when it can't be read.
std::string ownProgramName();

// Text between the first and last double quote (everything after a lone one);
// unchanged without quotes.
std::string unquote(const std::string& text);

// Bit order of one byte reversed (bit 0 becomes bit 7).
uint8_t reverseBits(uint8_t byte);

// Hex digits read from the right, each shifted 4 bits further; a character
// that is not a hex digit counts as 0; digits beyond 64 bits are dropped.
uint64_t parseHex(const std::string& text);

// The vendor name of bits 16-31 of a VID/PID value, or "" when unknown.
std::string vendorName(uint64_t vidPid);

// MACUAA value to twelve upper-case hex digits with each byte bit-reversed.
std::string macFromUaa(const std::string& value);

// Reads a (possibly compressed) DNS name at `offset` of `message`. Gives its
// first two labels and how many bytes the name occupies in place. Fails on a
// read past the end, a forward or looping pointer, more than 128 pointer hops,
// a name over 255 octets, or a reserved label type.
bool decodeName(qor::ByteSpan message, size_t offset, std::string& first, std::string& second,
                size_t& consumed);

class Hcp {
  public:
    // Picks the accepted manufacturer from the program's own file name.
    Hcp();
    explicit Hcp(const std::string& programName);

    const std::string& manufacturer() const { return m_Manufacturer; }
    const std::vector<HcpDevice>& devices() const { return m_Devices; }

    // Called with each accepted device as it arrives; returning true stops
    // listening at once.
    using DeviceHandler = std::function<bool(const HcpDevice&)>;
    // Called with the bytes of each reply that carried the service's TXT record.
    using ReplyHandler = std::function<void(qor::ByteSpan)>;

    // Sends the query and listens for up to windowSeconds (15 by default),
    // appending accepted devices. Returns false, at once, when the query
    // could not be sent at all (no socket, or no interface took it); the
    // details show only in the trace log.
    bool discover(const DeviceHandler& onDevice = nullptr, const ReplyHandler& onReply = nullptr,
                  int port = 5353, long windowSeconds = 15);

    // Parses one reply; true when it held the service's TXT record.
    // Applies TXT entries to `device` as they are read.
    bool parseReply(qor::ByteSpan datagram, HcpDevice& device) const;

    // Parses one reply and records the device if its manufacturer is accepted.
    // Returns true (and fills `device`) when it was recorded.
    bool acceptReply(qor::ByteSpan datagram, HcpDevice& device);

    // One KEY=VALUE string of the TXT record.
    void applyTxtEntry(const std::string& text, HcpDevice& device) const;
    // Sets the manufacturer to the accepted one when still empty and value mentions it.
    void matchManufacturer(const std::string& key, const std::string& value,
                           HcpDevice& device) const;

  private:
    std::string m_Manufacturer;
    std::vector<HcpDevice> m_Devices;
};
