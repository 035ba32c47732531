// Base64 of RFC 4648 (section 4: alphabet A-Z a-z 0-9 + /, '=' padding),
// written as one unbroken line, for binary file contents inside XML calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor {

class Base64 {
  public:
    virtual ~Base64() = default;

    // Encodes `length` bytes of `data` into `out` as NUL-terminated text.
    // Needs ((length + 2) / 3) * 4 characters plus the NUL within `capacity`;
    // when that does not fit, nothing is written and the result is false.
    bool encode(const uint8_t* data, size_t length, char* out, size_t capacity);

    // Decodes the NUL-terminated `text` into `out`; returns the number of
    // bytes written, or -1 when they would not fit in `capacity` (some bytes
    // may have been written then) or `text` is null. Characters outside the
    // alphabet and '=' are skipped; decoding ends at the first group of four
    // that yields fewer than 3 bytes (a padded group, or the end of the text).
    int64_t decode(const char* text, uint8_t* out, size_t capacity);
};

}  // namespace qor
