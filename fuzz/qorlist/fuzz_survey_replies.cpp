// The survey devices over arbitrary printer answers: the packet readers and
// accept rules of both survey reads, the support queries and the one-shot
// surveys, then both parsers over what a survey kept.
//
// Input: byte 0 picks the operation, the rest is what the printer sends in
// answer to every request. The scripted printer's clock is virtual, so the
// reading loops wait out their windows without taking any time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakePrinter.h"
#include "SurveyCells.h"
#include "WirelessDevice.h"

namespace {

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
    qor::test::FakePrinter printer;
    for (int i = 0; i < 8; ++i)
        printer.answer(std::vector<uint8_t>(data + 1, data + size));
    qor::ISDWirelessDevice direct(printer.channel("/dev/usb/lp0"));
    qor::PSSDWirelessDevice forwarded(printer.channel("/dev/usb/lp0"));
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
