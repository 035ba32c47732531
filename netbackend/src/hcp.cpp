#include "hcp.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "TraceLog.h"
#include "connector.h"

#define HCP_TRACE(level, ...) log_write(level, __LINE__, "src/hcp", "discover", __VA_ARGS__)

const uint8_t gDNSQueryPacket[41] = {
    0x00, 0x00,                                                             // ID
    0x00, 0x00,                                                             // flags: standard query
    0x00, 0x01,                                                             // QDCOUNT
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                                     // AN, NS, AR counts
    0x0C, '_',  'h',  'o',  's',  't',  '-', 'c', 'o', 'n', 'f', 'i', 'g',  //
    0x04, '_',  'u',  'd',  'p',                                            //
    0x05, 'l',  'o',  'c',  'a',  'l',                                      //
    0x00,                                                                   // end of name
    0x00, 0x0C,                                                             // QTYPE PTR
    0x80, 0x01,  // QCLASS IN, unicast response
};

namespace {

constexpr uint16_t kTypeTxt = 16;
constexpr size_t kMaxPointerHops = 128;
constexpr size_t kMaxNameOctets = 255;

// The vendor identifiers we know, by name.
struct KnownVendor {
    uint16_t id;
    const char* name;
};
constexpr KnownVendor kKnownVendors[] = {
    {0x2B4C, "Corvane"},
    {0x3A5D, "Tamo"},
};

// Label text ends at its length or at an embedded zero byte.
std::string textUpToZero(qor::ByteSpan bytes) {
    std::string text = bytes.toString();
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

}  // namespace

std::string manufacturerForProgramName(const std::string& programName) {
    char first = programName.empty() ? '\0' : programName[0];
    switch (first) {
        case 't':
            return "Tamo";
        case 'g':
            return "Printer";
        case 'k':
            return "SOLVEN";
        case 'a':
            return "Amtix";
        case 'd':
            return "DALOR";
        default:
            return "Kessa";
    }
}

std::string ownProgramName() {
    char link[1024] = {0};
    char path[64];
    snprintf(path, sizeof path, "/proc/%i/exe", static_cast<int>(getpid()));
    ssize_t n = readlink(path, link, sizeof link - 1);
    if (n <= 0)
        return std::string();
    const char* slash = strrchr(link, '/');
    return std::string(slash ? slash + 1 : link);
}

std::string unquote(const std::string& text) {
    size_t first = text.find('"');
    if (first == std::string::npos)
        return text;
    size_t last = text.rfind('"');
    if (last == first)
        return text.substr(first + 1);
    return text.substr(first + 1, last - first - 1);
}

uint8_t reverseBits(uint8_t byte) {
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit))
            result = static_cast<uint8_t>(result | (0x80u >> bit));
    }
    return result;
}

uint64_t parseHex(const std::string& text) {
    uint64_t result = 0;
    size_t k = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it, ++k) {
        char c = *it;
        uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        }
        if (4 * k < 64)
            result |= digit << (4 * k);
    }
    return result;
}

std::string vendorName(uint64_t vidPid) {
    uint16_t vendor = static_cast<uint16_t>((vidPid >> 16) & 0xFFFF);
    for (const KnownVendor& known : kKnownVendors) {
        if (known.id == vendor)
            return known.name;
    }
    return std::string();
}

std::string macFromUaa(const std::string& value) {
    std::string mac;
    for (size_t position = 0; position <= 10; position += 2) {
        unsigned group = 0;
        if (position < value.size() && sscanf(value.c_str() + position, "%2x", &group) != 1) {
            group = 0;
        }
        char hex[3];
        snprintf(hex, sizeof hex, "%2.2X", reverseBits(static_cast<uint8_t>(group)));
        mac += hex;
    }
    return mac;
}

bool decodeName(qor::ByteSpan message, size_t offset, std::string& first, std::string& second,
                size_t& consumed) {
    qor::ByteReader reader(message);
    if (!reader.seek(offset))
        return false;
    std::string labels[2];
    size_t labelCount = 0;
    size_t octets = 0;
    size_t hops = 0;
    bool jumped = false;
    size_t inPlace = 0;
    // Pointers must go strictly backwards from the lowest position seen, so
    // they can neither loop nor run away (RFC 1035 4.1.4).
    size_t lowest = offset;
    for (;;) {
        size_t labelStart = reader.offset();
        uint8_t length = 0;
        if (!reader.readU8(length))
            return false;
        if ((length & 0xC0) == 0xC0) {
            uint8_t low = 0;
            if (!reader.readU8(low))
                return false;
            size_t target = (static_cast<size_t>(length & 0x3F) << 8) | low;
            if (!jumped)
                inPlace = reader.offset() - offset;
            jumped = true;
            if (++hops > kMaxPointerHops || target >= lowest)
                return false;
            lowest = target;
            if (!reader.seek(target))
                return false;
            continue;
        }
        if ((length & 0xC0) != 0)
            return false;  // reserved label types
        octets += 1u + length;
        if (octets > kMaxNameOctets)
            return false;
        if (length == 0)
            break;
        qor::ByteSpan text;
        if (!reader.readBytes(length, text))
            return false;
        if (labelCount < 2)
            labels[labelCount] = textUpToZero(text);
        ++labelCount;
        if (labelStart < lowest && jumped)
            lowest = labelStart;
    }
    if (!jumped)
        inPlace = reader.offset() - offset;
    first = labels[0];
    second = labels[1];
    consumed = inPlace;
    return true;
}

Hcp::Hcp() : Hcp(ownProgramName()) {}

Hcp::Hcp(const std::string& programName)
    : m_Manufacturer(manufacturerForProgramName(programName)) {}

void Hcp::matchManufacturer(const std::string& key, const std::string& value,
                            HcpDevice& device) const {
    if (key != "1284STRID" && key != "MDNSNAME")
        return;
    if (device.manufacturer.empty() && value.find(m_Manufacturer) != std::string::npos) {
        device.manufacturer = m_Manufacturer;
    }
}

void Hcp::applyTxtEntry(const std::string& text, HcpDevice& device) const {
    size_t equals = text.find('=');
    if (equals == std::string::npos)
        return;
    std::string key = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    if (key == "IPADDRESS") {
        device.ip = unquote(value);
    } else if (key == "MACUAA") {
        device.mac = macFromUaa(unquote(value));
    } else if (key == "1284STRID") {
        size_t quote = value.find('"');
        // Without a double quote the whole value is the model.
        std::string cut = quote == std::string::npos ? value : value.substr(quote);
        device.model = unquote(cut);
        matchManufacturer(key, value, device);
    } else if (key == "PRINTERVIDPID") {
        device.manufacturer = vendorName(parseHex(unquote(value)));
    } else if (key == "MDNSNAME") {
        matchManufacturer(key, unquote(value), device);
    }
    // IPNETMASK, IPGATEWAY, IPNAME, MACLAA, IPADDRSOURCE, PASSWORDSET,
    // ADAPTERNAME, CPDATTACHED and unknown keys are ignored.
}

bool Hcp::parseReply(qor::ByteSpan datagram, HcpDevice& device) const {
    qor::ByteReader reader(datagram);
    if (datagram.size <= 12)
        return false;
    uint16_t id = 0, flags = 0, qdCount = 0, anCount = 0, nsCount = 0, arCount = 0;
    if (!reader.readBE16(id) || !reader.readBE16(flags))
        return false;
    if (!(flags & 0x8000))
        return false;  // not a response (our own query looped back)
    if (!reader.readBE16(qdCount) || !reader.readBE16(anCount) || !reader.readBE16(nsCount) ||
        !reader.readBE16(arCount)) {
        return false;
    }
    std::string first, second;
    size_t consumed = 0;
    for (unsigned q = 0; q < qdCount; ++q) {
        if (!decodeName(datagram, reader.offset(), first, second, consumed))
            return false;
        if (!reader.skip(consumed) || !reader.skip(4))
            return false;
    }
    unsigned records = unsigned{anCount} + nsCount + arCount;
    for (unsigned r = 0; r < records; ++r) {
        if (!decodeName(datagram, reader.offset(), first, second, consumed))
            return false;
        if (!reader.skip(consumed))
            return false;
        uint16_t type = 0, dataLength = 0;
        if (!reader.readBE16(type))
            return false;
        if (second != "_host-config" || type != kTypeTxt) {
            if (!reader.skip(6) || !reader.readBE16(dataLength) || !reader.skip(dataLength)) {
                return false;
            }
            continue;
        }
        // The service's TXT record: class and TTL are not examined.
        qor::ByteReader data;
        if (!reader.skip(6) || !reader.readBE16(dataLength) ||
            !reader.subReader(dataLength, data)) {
            return false;
        }
        while (!data.atEnd()) {
            uint8_t length = 0;
            qor::ByteSpan text;
            if (!data.readU8(length) || !data.readBytes(length, text))
                return false;
            applyTxtEntry(textUpToZero(text), device);
        }
        return true;
    }
    return false;
}

bool Hcp::acceptReply(qor::ByteSpan datagram, HcpDevice& device) {
    device = HcpDevice();
    if (!parseReply(datagram, device))
        return false;
    if (m_Manufacturer != "Printer" && device.manufacturer != m_Manufacturer)
        return false;
    m_Devices.push_back(device);
    return true;
}

bool Hcp::discover(const DeviceHandler& onDevice, const ReplyHandler& onReply, int port,
                   long windowSeconds) {
    HCP_TRACE('F', "begin");
    WaitSet waitSet;
    SocketConnector connector(waitSet);
    ByteBuffer buffer(4096);
    buffer.assign(gDNSQueryPacket, sizeof gDNSQueryPacket);
    int result = connector.Broadcast(buffer, port);
    if (result <= 0) {
        HCP_TRACE('I', "unable to locate devices with result=%d", result);
        return false;
    }
    int ready = waitSet.wait(windowSeconds, 0);
    bool stop = false;
    while (!stop && ready > 0 && !waitSet.timedOut()) {
        int n = connector.ReceiveReply(buffer);
        if (n > 0) {
            qor::ByteSpan datagram(buffer.data(), static_cast<size_t>(buffer.size()));
            HcpDevice probe;
            if (parseReply(datagram, probe) && onReply)
                onReply(datagram);
            HcpDevice device;
            if (acceptReply(datagram, device) && onDevice)
                stop = onDevice(device);
        }
        if (!stop)
            ready = waitSet.waitAgain();
    }
    connector.Close();
    HCP_TRACE('F', "end");
    return true;
}
