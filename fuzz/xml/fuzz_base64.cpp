// Decodes fuzzed text into a buffer of a fuzzed capacity, and round-trips
// both the raw input bytes and the decoded bytes through encode and decode.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Base64.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void roundTrip(const uint8_t* bytes, size_t length) {
    qor::Base64 b64;
    size_t textSize = (length + 2) / 3 * 4 + 1;
    std::unique_ptr<char[]> text(new char[textSize]);
    check(!b64.encode(bytes, length, text.get(), textSize - 1));
    check(b64.encode(bytes, length, text.get(), textSize));
    check(std::strlen(text.get()) == textSize - 1);
    std::unique_ptr<uint8_t[]> back(new uint8_t[length + 1]);
    check(b64.decode(text.get(), back.get(), length) == static_cast<int64_t>(length));
    check(length == 0 || std::memcmp(back.get(), bytes, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // First byte: output capacity (0 to 255, or 255 * 64 when odd values
    // ask for a large buffer).
    size_t capacity = (data[0] & 1) ? size_t{data[0]} * 64 : data[0];
    const uint8_t* body = data + 1;
    size_t bodySize = size - 1;

    std::unique_ptr<char[]> text(new char[bodySize + 1]);  // exact size with the NUL
    std::memcpy(text.get(), body, bodySize);
    text[bodySize] = '\0';

    qor::Base64 b64;
    std::unique_ptr<uint8_t[]> out(new uint8_t[capacity ? capacity : 1]);
    int64_t n = b64.decode(text.get(), out.get(), capacity);
    check(n >= -1 && n <= static_cast<int64_t>(capacity));
    // Four characters make at most three bytes.
    check(n <= static_cast<int64_t>((bodySize / 4 + 1) * 3));
    if (n > 0)
        roundTrip(out.get(), static_cast<size_t>(n));
    roundTrip(body, bodySize);
    return 0;
}
