// The survey devices over arbitrary printer answers: the packet readers and
// accept rules of both survey reads, the support queries and the one-shot
// surveys, then both parsers over what a survey kept.
//
// Input: byte 0 picks the operation, the rest is what the printer sends.
// Each transport read fills the buffer, as the USB transport does while data
// keeps coming. Once the input is used up the transport sends error packets
// (A5 00 01 80) without end: whatever the alignment, a 3-byte header read
// meets one within four reads, so every reading loop stops at once instead
// of waiting out its time window.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommTransport.h"
#include "SurveyCells.h"
#include "WirelessDevice.h"

namespace {

const uint8_t kEndless[4] = {0xA5, 0x00, 0x01, 0x80};

class FuzzTransport : public qor::CommTransport {
  public:
    FuzzTransport(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
    int open(const std::string&) override { return 0; }
    int close() override { return 0; }
    int read(uint8_t* buffer, size_t size) override {
        for (size_t i = 0; i < size; ++i, ++m_At)
            buffer[i] = m_At < m_Size ? m_Data[m_At] : kEndless[(m_At - m_Size) % 4];
        return static_cast<int>(size);
    }
    int write(const uint8_t*, size_t size) override { return static_cast<int>(size); }

  private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_At = 0;
};

class FuzzEnvironment : public qor::DeviceEnvironment {
  public:
    explicit FuzzEnvironment(FuzzTransport& transport) : m_Transport(transport) {}
    qor::CommTransport* acquireTransport() override { return &m_Transport; }
    void releaseTransport() override {}
    void sleepMs(unsigned) override {}

  private:
    FuzzTransport& m_Transport;
};

void parseBoth(const std::vector<uint8_t>& survey, int length) {
    if (length < 0)
        return;
    if (static_cast<size_t>(length) != survey.size())
        __builtin_trap();
    // An exact-size copy, as the lister's task holds it.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[survey.size() + 1]);
    std::memcpy(exact.get(), survey.data(), survey.size());
    qor::PSSDCells pssd;
    qor::ISDCells isd;
    int a = pssd.parse(exact.get(), length);
    int b = isd.parse(exact.get(), length);
    qor::SiteRecord record;
    for (int i = 0; i < a; ++i)
        pssd.fillRecord(record, i);
    for (int i = 0; i < b; ++i)
        isd.fillRecord(record, i);
}

// A caller's buffer of exactly `capacity` bytes.
template <typename Call>
int withBuffer(size_t capacity, Call call) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]());
    int n = call(buffer.get(), capacity);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 18))
        return 0;
    uint8_t operation = data[0] % 7;
    FuzzTransport transport(data + 1, size - 1);
    FuzzEnvironment environment(transport);
    qor::ISDWirelessDevice direct("/dev/usb/lp0", environment);
    qor::PSSDWirelessDevice forwarded("/dev/usb/lp0", environment);
    std::vector<uint8_t> survey;
    int result = 0;
    switch (operation) {
        case 0:
            result = direct.readSurvey(survey);
            parseBoth(survey, result);
            break;
        case 1:
            result = forwarded.readSurvey(survey);
            parseBoth(survey, result);
            break;
        case 2:
            result =
                withBuffer(512, [&](uint8_t* b, size_t n) { return direct.wifiSupport(b, n); });
            if (result < -1 || result > 255)
                __builtin_trap();
            break;
        case 3:
            result =
                withBuffer(512, [&](uint8_t* b, size_t n) { return forwarded.wifiSupport(b, n); });
            if (result != -1 && result != 2)
                __builtin_trap();
            break;
        case 4:
            result = withBuffer(64, [&](uint8_t* b, size_t n) { return direct.surveyOnce(b, n); });
            break;
        case 5:
            result =
                withBuffer(200, [&](uint8_t* b, size_t n) { return forwarded.surveyOnce(b, n); });
            break;
        default:
            result =
                withBuffer(16, [&](uint8_t* b, size_t n) { return direct.surveyOnceWait(b, n); });
            break;
    }
    if (result > static_cast<int>(1u << 18) + 512)
        __builtin_trap();
    return 0;
}
