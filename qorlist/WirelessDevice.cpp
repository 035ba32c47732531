#include "WirelessDevice.h"
#include <time.h>

#include "HCUSBTransport.h"
#include "NpaExchange.h"
#include "qor/ByteReader.h"

namespace qor {

namespace survey_requests {
const uint8_t kSurveyQuery[9] = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};
const uint8_t kDirectSupportQuery[10] = {0xA5, 0x00, 0x07, 0x50, 0xE0,
                                         0x81, 0x00, 0x02, 0x05, 0x09};
const uint8_t kForwardedSupportQuery[18] = {
    0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x09,   // forward 9 bytes to sub-channel 2
    0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x01};  // inner D8 query
const uint8_t kForwardedSurvey[37] = {
    0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
    0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E,   // flags-80 lead-in packet
    0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x09,   // forward 9 bytes to sub-channel 2
    0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};  // inner survey query
}  // namespace survey_requests

namespace {

class SharedUsbEnvironment : public DeviceEnvironment {
  public:
    CommTransport* acquireTransport() override { return HCUSBTransport::getInstance(); }
    void releaseTransport() override { HCUSBTransport::releaseInstance(); }
    void sleepMs(unsigned milliseconds) override {
        struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                                static_cast<long>(milliseconds % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0) {
        }
    }
};

// Reply flags and error echoes.
const uint8_t kFlagError = 0x80;
const uint8_t kClassNpa = 0xE0;
const uint8_t kErrorFlagsD4 = 0xD4;
const uint8_t kErrorFlagsD8 = 0xD8;

// Whether the reply starts with flags `flags` at byte 3 and class E0 at byte 4.
bool isErrorEcho(ByteSpan reply, uint8_t flags) {
    ByteReader reader(reply);
    uint8_t b3 = 0, b4 = 0;
    return reader.byteAt(3, b3) && reader.byteAt(4, b4) && b3 == flags && b4 == kClassNpa;
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

DeviceEnvironment& sharedUsbEnvironment() {
    static SharedUsbEnvironment environment;
    return environment;
}

WirelessDeviceInterface::WirelessDeviceInterface(const std::string& path,
                                                 DeviceEnvironment& environment)
    : m_Path(path), m_Environment(environment), m_Transport(environment.acquireTransport()) {}

WirelessDeviceInterface::~WirelessDeviceInterface() {
    m_Environment.releaseTransport();
}

int WirelessDeviceInterface::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    return -1;
}

// ---- direct kind ------------------------------------------------------------

ISDWirelessDevice::ISDWirelessDevice(const std::string& path, DeviceEnvironment& environment)
    : WirelessDeviceInterface(path, environment) {}

int ISDWirelessDevice::surveyOnce(uint8_t* buffer, size_t capacity) {
    if (transport().open(m_Path) != 0)
        return 0;
    transport().write(survey_requests::kSurveyQuery, sizeof survey_requests::kSurveyQuery);
    int n = readNpaAnswer(transport(), 3000, buffer, capacity);
    transport().close();
    if (isErrorEcho(replySpan(buffer, n, capacity), kErrorFlagsD8))
        return -1;
    return n;
}

int ISDWirelessDevice::surveyOnceWait(uint8_t* buffer, size_t capacity) {
    if (transport().open(m_Path) != 0)
        return 0;
    transport().write(survey_requests::kSurveyQuery, sizeof survey_requests::kSurveyQuery);
    int n = readNpaAnswer(transport(), 5000, buffer, capacity);
    transport().close();
    if (isErrorEcho(replySpan(buffer, n, capacity), kErrorFlagsD8))
        return -1;
    return n < 9 ? -1 : n;
}

int ISDWirelessDevice::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    if (transport().open(m_Path) != 0)
        return -1;
    transport().write(survey_requests::kSurveyQuery, sizeof survey_requests::kSurveyQuery);

    // The reply echoes the query's flags, class, command and parameters, then
    // a 16-bit data length and the data.
    const ByteSpan echo(survey_requests::kSurveyQuery + 3, 6);
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
    out = readNpaStreamAfter(transport(), 1500, 3, NpaHeaderMode::WholeHeader, accept,
                             [this](unsigned ms) { environment().sleepMs(ms); });
    transport().close();
    return out.empty() ? -1 : toLength(out.size());
}

int ISDWirelessDevice::wifiSupport(uint8_t* buffer, size_t capacity) {
    if (transport().open(m_Path) != 0)
        return -1;
    int n = 0;
    bool refused = false;
    NpaTiming timing;
    for (int attempt = 0; attempt < 5; ++attempt) {
        // An answer of another size is not yet the one awaited: the next
        // try comes no sooner than after this one's whole window.
        if (attempt > 0 && msUntil(timing) > 0)
            environment().sleepMs(msUntil(timing));
        transport().write(survey_requests::kDirectSupportQuery,
                          sizeof survey_requests::kDirectSupportQuery);
        n = readNpaAnswer(transport(), 0, buffer, capacity, &timing);
        if (isErrorEcho(replySpan(buffer, n, capacity), kErrorFlagsD4)) {
            refused = true;
            break;
        }
        if (n == 12)
            break;
    }
    transport().close();
    // The reply repeats the query apart from its length field.
    ByteSpan reply = replySpan(buffer, n, capacity);
    if (refused || reply.size <= 10)
        return -1;
    ByteSpan query(survey_requests::kDirectSupportQuery,
                   sizeof survey_requests::kDirectSupportQuery);
    if (!equalsAt(reply, 0, query.first(1)) || !equalsAt(reply, 3, query.from(3)))
        return -1;
    uint8_t last = 0;
    ByteReader(reply).byteAt(reply.size - 1, last);
    return last;
}

// ---- forwarding kind --------------------------------------------------------

PSSDWirelessDevice::PSSDWirelessDevice(const std::string& path, DeviceEnvironment& environment)
    : WirelessDeviceInterface(path, environment) {}

int PSSDWirelessDevice::surveyOnce(uint8_t* buffer, size_t capacity) {
    if (transport().open(m_Path) != 0)
        return -1;
    int n = 0;
    bool refused = false;
    NpaTiming timing;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0 && msUntil(timing) > 0)
            environment().sleepMs(msUntil(timing));
        transport().write(survey_requests::kForwardedSurvey,
                          sizeof survey_requests::kForwardedSurvey);
        n = readNpaAnswer(transport(), 2000, buffer, capacity, &timing);
        uint8_t flags = 0;
        if (ByteReader(replySpan(buffer, n, capacity)).byteAt(3, flags) && flags == kErrorFlagsD4) {
            refused = true;
            break;
        }
        if (n >= 100)
            break;
    }
    transport().close();
    if (refused || n < 37)
        return -1;
    return n;
}

int PSSDWirelessDevice::surveyOnceWait(uint8_t*, size_t) {
    return 0;
}

int PSSDWirelessDevice::readSurvey(std::vector<uint8_t>& out) {
    out.clear();
    if (transport().open(m_Path) != 0)
        return -1;
    transport().write(survey_requests::kForwardedSurvey, sizeof survey_requests::kForwardedSurvey);

    // A forwarded reply carries flags, class, command, sub-channel and three
    // further bytes, then the inner reply packet from body byte 7; its echo of
    // E0 D8 .. 28 39 sits at body bytes 11-15 and its data from byte 18.
    NpaAcceptRule accept = [](ByteSpan body, std::vector<uint8_t>& kept) {
        ByteReader reader(body);
        uint8_t flags = 0, b1 = 0, b11 = 0, b12 = 0, b14 = 0, b15 = 0;
        if (!reader.byteAt(0, flags) || (flags & kFlagError) != 0)
            return false;
        if (reader.byteAt(11, b11) && reader.byteAt(12, b12) && reader.byteAt(14, b14) &&
            reader.byteAt(15, b15) && b11 == 0xE0 && b12 == 0xD8 && b14 == 0x28 && b15 == 0x39) {
            ByteSpan data = body.from(18);
            kept.insert(kept.end(), data.begin(), data.end());
            return true;
        }
        if (reader.byteAt(1, b1) && b1 == kClassNpa) {
            ByteSpan data = body.from(2);
            kept.insert(kept.end(), data.begin(), data.end());
            return true;
        }
        return false;
    };
    out = readNpaStreamAfter(transport(), 2000, 4, NpaHeaderMode::WholeHeader, accept,
                             [this](unsigned ms) { environment().sleepMs(ms); });
    transport().close();
    return out.empty() ? -1 : toLength(out.size());
}

int PSSDWirelessDevice::wifiSupport(uint8_t* buffer, size_t capacity) {
    if (transport().open(m_Path) != 0)
        return -1;
    transport().write(survey_requests::kForwardedSupportQuery,
                      sizeof survey_requests::kForwardedSupportQuery);
    int n = readNpaAnswer(transport(), 1000, buffer, capacity);
    transport().close();
    uint8_t last = 0;
    ByteSpan reply = replySpan(buffer, n, capacity);
    if (reply.size > 18 && ByteReader(reply).byteAt(reply.size - 1, last) && last == 1)
        return 2;
    return -1;
}

}  // namespace qor
