#include "WirelessDevice.h"

#include "NpaPacket.h"
#include "qor/ByteReader.h"

namespace qor {

namespace {

// The setting group of the wireless adapter's survey and support items.
constexpr uint8_t kGroupWireless = 0x28;
constexpr uint8_t kItemSurvey = 0x39;
constexpr uint8_t kItemSupport = 0x01;

std::vector<uint8_t> surveyQuery() {
    return npaReadRequest(kGroupWireless, kItemSurvey);
}

std::vector<uint8_t> directSupportQuery() {
    const uint8_t parameters[] = {0x00, 0x02, 0x05, 0x09};
    return npaRequest(kNpaSupportQuery, ByteSpan(parameters, sizeof parameters));
}

std::vector<uint8_t> forwardedSupportQuery() {
    return npaForwarded(npaReadRequest(kGroupWireless, kItemSupport));
}

std::vector<uint8_t> forwardedSurvey() {
    return npaConcat(npaLeadIn(), npaForwarded(surveyQuery()));
}

// Error echoes: the flags byte a refusing printer puts where the request's
// 0x50 was.
const uint8_t kErrorFlagsD4 = 0xD4;
const uint8_t kErrorFlagsD8 = 0xD8;

// Whether the reply starts with flags `flags` at byte 3 and class E0 at byte 4.
bool isErrorEcho(ByteSpan reply, uint8_t flags) {
    ByteReader reader(reply);
    uint8_t b3 = 0, b4 = 0;
    return reader.byteAt(3, b3) && reader.byteAt(4, b4) && b3 == flags && b4 == kNpaClass;
}

bool equalsAt(ByteSpan bytes, size_t offset, ByteSpan expected) {
    ByteReader reader(bytes);
    ByteSpan got;
    if (!reader.seek(offset) || !reader.readBytes(expected.size, got))
        return false;
    for (size_t i = 0; i < expected.size; ++i) {
        uint8_t a = 0, b = 0;
        ByteReader(got).byteAt(i, a);
        ByteReader(expected).byteAt(i, b);
        if (a != b)
            return false;
    }
    return true;
}

int toLength(size_t n) {
    return static_cast<int>(n);
}

// The bytes a read placed, clamped to the buffer so that a misbehaving
// transport can't make us look past it.
ByteSpan replySpan(const uint8_t* buffer, int n, size_t capacity) {
    size_t count = n < 0 ? 0 : static_cast<size_t>(n);
    return ByteSpan(buffer, count < capacity ? count : capacity);
}

}  // namespace

const ChannelMaker& sharedUsbChannels() {
    static const ChannelMaker maker = [](const std::string& path) {
        return std::make_unique<NpaChannel>(path);
    };
    return maker;
}

WirelessDeviceInterface::WirelessDeviceInterface(std::unique_ptr<NpaChannel> channel)
    : m_Channel(std::move(channel)) {}

WirelessDeviceInterface::~WirelessDeviceInterface() = default;

int WirelessDeviceInterface::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    return -1;
}

// ---- direct kind ------------------------------------------------------------

ISDWirelessDevice::ISDWirelessDevice(const std::string& path)
    : ISDWirelessDevice(sharedUsbChannels()(path)) {}

ISDWirelessDevice::ISDWirelessDevice(std::unique_ptr<NpaChannel> channel)
    : WirelessDeviceInterface(std::move(channel)) {}

int ISDWirelessDevice::surveyOnce(uint8_t* buffer, size_t capacity) {
    int n = channel().exchangeOnce(surveyQuery(), 3000, buffer, capacity);
    if (n < 0)
        return 0;
    if (isErrorEcho(replySpan(buffer, n, capacity), kErrorFlagsD8))
        return -1;
    return n;
}

int ISDWirelessDevice::surveyOnceWait(uint8_t* buffer, size_t capacity) {
    int n = channel().exchangeOnce(surveyQuery(), 5000, buffer, capacity);
    if (n < 0)
        return 0;
    if (isErrorEcho(replySpan(buffer, n, capacity), kErrorFlagsD8))
        return -1;
    return n < 9 ? -1 : n;
}

int ISDWirelessDevice::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    // The reply echoes the query's flags, class, command and parameters, then
    // a 16-bit data length and the data.
    const std::vector<uint8_t> query = surveyQuery();
    const ByteSpan echo = ByteSpan(query).from(3);
    NpaAcceptRule accept = [&echo](ByteSpan body, std::vector<uint8_t>& kept) {
        ByteReader reader(body);
        ByteSpan head;
        uint16_t dataLength = 0;
        if (!reader.readBytes(echo.size, head) || !equalsAt(head, 0, echo))
            return false;
        if (!reader.readBE16(dataLength))
            return false;
        ByteSpan data = reader.readAtMost(dataLength);
        kept.insert(kept.end(), data.begin(), data.end());
        return true;
    };
    if (!channel().exchangeAccepted(query, 1500, 3, NpaHeaderMode::WholeHeader, accept, out))
        return -1;
    return out.empty() ? -1 : toLength(out.size());
}

int ISDWirelessDevice::wifiSupport(uint8_t* buffer, size_t capacity) {
    const std::vector<uint8_t> query = directSupportQuery();
    bool refused = false;
    // An answer of another size is not yet the one awaited.
    int n = channel().exchangeTries(query, 0, 5, buffer, capacity, [&refused](ByteSpan reply) {
        refused = isErrorEcho(reply, kErrorFlagsD4);
        return refused || reply.size == 12;
    });
    // The reply repeats the query apart from its length field.
    ByteSpan reply = replySpan(buffer, n, capacity);
    if (n < 0 || refused || reply.size <= 10)
        return -1;
    if (!equalsAt(reply, 0, ByteSpan(query).first(1)) ||
        !equalsAt(reply, 3, ByteSpan(query).from(3))) {
        return -1;
    }
    uint8_t last = 0;
    ByteReader(reply).byteAt(reply.size - 1, last);
    return last;
}

// ---- forwarding kind --------------------------------------------------------

PSSDWirelessDevice::PSSDWirelessDevice(const std::string& path)
    : PSSDWirelessDevice(sharedUsbChannels()(path)) {}

PSSDWirelessDevice::PSSDWirelessDevice(std::unique_ptr<NpaChannel> channel)
    : WirelessDeviceInterface(std::move(channel)) {}

int PSSDWirelessDevice::surveyOnce(uint8_t* buffer, size_t capacity) {
    bool refused = false;
    int n = channel().exchangeTries(
        forwardedSurvey(), 2000, 5, buffer, capacity, [&refused](ByteSpan reply) {
            uint8_t flags = 0;
            refused = ByteReader(reply).byteAt(3, flags) && flags == kErrorFlagsD4;
            return refused || reply.size >= 100;
        });
    if (n < 0 || refused || n < 37)
        return -1;
    return n;
}

int PSSDWirelessDevice::surveyOnceWait(uint8_t*, size_t) {
    return 0;
}

int PSSDWirelessDevice::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    // A forwarded reply carries flags, class, command, sub-channel and three
    // further bytes, then the inner reply packet from body byte 7; its echo of
    // E0 D8 .. 28 39 sits at body bytes 11-15 and its data from byte 18.
    NpaAcceptRule accept = [](ByteSpan body, std::vector<uint8_t>& kept) {
        ByteReader reader(body);
        uint8_t flags = 0, b1 = 0, b11 = 0, b12 = 0, b14 = 0, b15 = 0;
        if (!reader.byteAt(0, flags) || (flags & kNpaFlagError) != 0)
            return false;
        if (reader.byteAt(11, b11) && reader.byteAt(12, b12) && reader.byteAt(14, b14) &&
            reader.byteAt(15, b15) && b11 == kNpaClass && b12 == kNpaRead &&
            b14 == kGroupWireless && b15 == kItemSurvey) {
            ByteSpan data = body.from(18);
            kept.insert(kept.end(), data.begin(), data.end());
            return true;
        }
        if (reader.byteAt(1, b1) && b1 == kNpaClass) {
            ByteSpan data = body.from(2);
            kept.insert(kept.end(), data.begin(), data.end());
            return true;
        }
        return false;
    };
    if (!channel().exchangeAccepted(forwardedSurvey(), 2000, 4, NpaHeaderMode::WholeHeader, accept,
                                    out)) {
        return -1;
    }
    return out.empty() ? -1 : toLength(out.size());
}

int PSSDWirelessDevice::wifiSupport(uint8_t* buffer, size_t capacity) {
    int n = channel().exchangeOnce(forwardedSupportQuery(), 1000, buffer, capacity);
    uint8_t last = 0;
    ByteSpan reply = replySpan(buffer, n, capacity);
    if (reply.size > 18 && ByteReader(reply).byteAt(reply.size - 1, last) && last == 1)
        return 2;
    return -1;
}

}  // namespace qor
