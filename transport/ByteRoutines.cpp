#include "ByteRoutines.h"

#include <cctype>
#include <cstdio>

namespace qor {

void writeU16BE(uint16_t value, uint8_t* out) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

void writeU32BE(uint32_t value, uint8_t* out) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

uint16_t readU16BE(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] * 256 + in[1]);
}

uint32_t readU32BE(const uint8_t* in) {
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

int uintToBytesBE(const uint32_t& value, uint8_t* out, const int& count) {
    for (int i = 0; i < count; ++i) {
        int shift = (count - i - 1) * 8;
        // Bytes above the 32 bits of the value are zero.
        out[i] = shift >= 32 ? 0 : static_cast<uint8_t>(value >> shift);
    }
    return 0;
}

int bytesToUintBE(uint32_t& value, const uint8_t* in, const int& count) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        int shift = (count - i - 1) * 8;
        if (shift < 32)
            value += uint32_t{in[i]} << shift;
    }
    return 0;
}

namespace {
void dumpLines(const uint8_t* data, size_t size, const std::vector<bool>* secret) {
    if (!data || size == 0)
        return;
    const size_t width = size < 16 ? size : 16;
    auto hidden = [&](size_t i) { return secret && i < secret->size() && (*secret)[i]; };
    for (size_t lineStart = 0; lineStart < size; lineStart += width) {
        size_t lineEnd = lineStart + width < size ? lineStart + width : size;
        for (size_t i = lineStart; i < lineEnd; ++i) {
            if (hidden(i)) {
                std::fputs("** ", stderr);
            } else {
                std::fprintf(stderr, "%02X ", data[i]);
            }
        }
        for (size_t pad = lineEnd - lineStart; pad < width; ++pad)
            std::fputs("   ", stderr);
        std::fputc('|', stderr);
        for (size_t i = lineStart; i < lineEnd; ++i) {
            uint8_t c = data[i];
            std::fputc(hidden(i) ? '*' : (c >= 0x20 && c <= 0x7E ? c : '.'), stderr);
        }
        std::fputc('\n', stderr);
    }
}
}  // namespace

void hexDump(const uint8_t* data, size_t size) {
    dumpLines(data, size, nullptr);
}

void hexDump(const uint8_t* data, size_t size, const std::vector<bool>& secret) {
    dumpLines(data, size, &secret);
}

// An odd trailing digit has no byte of its own: it is checked like every
// other character (an invalid one is reported) and otherwise ignored, so
// "0aF" gives the single byte 0x0A.
int hexToBytes(const std::string& text, std::vector<uint8_t>& out) {
    const int count = static_cast<int>(text.size() / 2);
    if (text.empty())
        return 0;
    std::vector<uint8_t> bytes(static_cast<size_t>(count), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        int c = std::toupper(static_cast<unsigned char>(text[i]));
        int value;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            value = c - 'A' + 10;
        } else {
            std::printf("not valid Hex char?! '%X'\n", static_cast<unsigned>(c));
            out.clear();
            return count;
        }
        size_t index = i / 2;
        if (index >= bytes.size())
            continue;  // the odd last digit
        bytes[index] = static_cast<uint8_t>(bytes[index] + value);
        if (i % 2 == 0)
            bytes[index] = static_cast<uint8_t>(bytes[index] * 16);
    }
    out = std::move(bytes);
    return count;
}

}  // namespace qor
