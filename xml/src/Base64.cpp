#include "Base64.h"

#include <endian.h>

#include <cstring>

#include "qor/ByteReader.h"

namespace qor {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
constexpr int sextet(uint8_t c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// sextet() of every byte value, so the decoder's careful loop looks each
// character up once instead of running the chain of range tests.
struct SextetTable {
    int8_t value[256];
    constexpr SextetTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = static_cast<int8_t>(sextet(static_cast<uint8_t>(c)));
    }
};

constexpr SextetTable kSextets;

// The decoder's fast path: for each of a group's four positions, every
// character's sextet already shifted to its place in the 24 bits, so a
// group is four lookups ORed together. A character outside the alphabet
// sets bits above the 24, which one test of the ORed group catches.
constexpr uint32_t kNotInAlphabet = 0xFF000000u;

struct PlacedSextetTables {
    uint32_t at[4][256];
    constexpr PlacedSextetTables() : at() {
        for (int position = 0; position < 4; ++position)
            for (int c = 0; c < 256; ++c) {
                int v = sextet(static_cast<uint8_t>(c));
                at[position][c] =
                    v < 0 ? kNotInAlphabet : static_cast<uint32_t>(v) << (6 * (3 - position));
            }
    }
};

constexpr PlacedSextetTables kPlaced;

// The encoder's table: the two characters of every 12-bit value, so each
// 3-byte group takes two lookups instead of four.
struct CharPairTable {
    char pair[4096][2];
    constexpr CharPairTable() : pair() {
        for (int v = 0; v < 4096; ++v) {
            pair[v][0] = kAlphabet[v >> 6];
            pair[v][1] = kAlphabet[v & 0x3F];
        }
    }
};

constexpr CharPairTable kPairs;

// The 24 bits of the four characters at `c`, or kNotInAlphabet set.
inline uint32_t placedGroup(const uint8_t* c) {
    return kPlaced.at[0][c[0]] | kPlaced.at[1][c[1]] | kPlaced.at[2][c[2]] | kPlaced.at[3][c[3]];
}

}  // namespace

bool Base64::encode(const uint8_t* data, size_t length, char* out, size_t capacity) {
    // ((length + 2) / 3) * 4 + 1, without overflowing.
    size_t groups = length / 3 + (length % 3 != 0 ? 1 : 0);
    if (groups > (SIZE_MAX - 1) / 4)
        return false;
    size_t needed = groups * 4 + 1;
    if (out == nullptr || needed > capacity || (length > 0 && data == nullptr))
        return false;
    char* o = out;
    // Whole 3-byte groups first: each becomes 4 characters.
    size_t whole = length / 3;
    const uint8_t* p = data;
    size_t g = 0;
    // Two groups a step from one 8-byte load, while at least 8 bytes are
    // left to load (the last two of them belong to the groups after).
    for (; g + 2 <= whole && length - g * 3 >= 8; g += 2, p += 6, o += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        uint64_t bits = htobe64(word);
        char chars[8];
        std::memcpy(chars, kPairs.pair[(bits >> 52) & 0xFFF], 2);
        std::memcpy(chars + 2, kPairs.pair[(bits >> 40) & 0xFFF], 2);
        std::memcpy(chars + 4, kPairs.pair[(bits >> 28) & 0xFFF], 2);
        std::memcpy(chars + 6, kPairs.pair[(bits >> 16) & 0xFFF], 2);
        std::memcpy(o, chars, 8);
    }
    for (; g < whole; ++g, p += 3, o += 4) {
        uint32_t bits = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        std::memcpy(o, kPairs.pair[bits >> 12], 2);
        std::memcpy(o + 2, kPairs.pair[bits & 0xFFF], 2);
    }
    // A final 1 or 2 bytes, padded with zero bits and '='.
    size_t tail = length - whole * 3;
    if (tail > 0) {
        uint32_t bits = (uint32_t{p[0]} << 16) | (tail > 1 ? uint32_t{p[1]} << 8 : 0);
        o[0] = kAlphabet[(bits >> 18) & 0x3F];
        o[1] = kAlphabet[(bits >> 12) & 0x3F];
        o[2] = tail > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
        o[3] = '=';
        o += 4;
    }
    *o = '\0';
    return true;
}

int64_t Base64::decode(const char* text, uint8_t* out, size_t capacity) {
    if (text == nullptr)
        return -1;
    // The text is read as if "====" followed it, so that a final partial
    // group is padded and an unpadded text ends with an all-padding group.
    ByteReader in(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    int padLeft = 4;
    int64_t total = 0;
    size_t used = 0;
    for (;;) {
        // Fast path: over as many whole groups as both the text and the
        // buffer have room for, while the four characters of a group are all
        // in the alphabet, decode them directly. Anything else
        // ('=', a skipped character, the end, a full buffer) is left to the
        // careful group loop below, which gives the same result for them.
        size_t groups = in.remaining() / 4;
        if (groups > (capacity - used) / 3)
            groups = (capacity - used) / 3;
        ByteSpan span = in.rest().first(groups * 4);
        const uint8_t* c = span.data;
        uint8_t* o = out + used;
        size_t done = 0;
        // Two groups a step: the first one's 3 bytes and the second one's
        // first byte go out as one 4-byte store, written only once both
        // groups are known to be whole, so no byte past the result changes.
        for (; done + 2 <= groups; done += 2, c += 8, o += 6) {
            uint32_t first = placedGroup(c);
            uint32_t second = placedGroup(c + 4);
            if ((first | second) & kNotInAlphabet)
                break;
            uint32_t head = htobe32((first << 8) | (second >> 16));
            std::memcpy(o, &head, 4);
            o[4] = static_cast<uint8_t>(second >> 8);
            o[5] = static_cast<uint8_t>(second);
        }
        for (; done < groups; ++done, c += 4, o += 3) {
            uint32_t bits = placedGroup(c);
            if (bits & kNotInAlphabet)
                break;
            o[0] = static_cast<uint8_t>(bits >> 16);
            o[1] = static_cast<uint8_t>(bits >> 8);
            o[2] = static_cast<uint8_t>(bits);
        }
        used += done * 3;
        total += static_cast<int64_t>(done * 3);
        in.skip(done * 4);
        uint8_t group[4];
        int have = 0;
        while (have < 4) {
            uint8_t c = 0;
            if (in.readU8(c)) {
                if (c == '=' || kSextets.value[c] >= 0)
                    group[have++] = c;
            } else if (padLeft > 0) {
                --padLeft;
                group[have++] = '=';
            } else {
                return total;  // cannot happen: the padding always ends a group early
            }
        }
        // From the last character backwards: trailing '=' lower the count;
        // an '=' before an alphabet character spoils the whole group.
        int n = 3;
        bool seenAlphabet = false;
        uint32_t bits = 0;
        for (int k = 3; k >= 0; --k) {
            int v = kSextets.value[group[k]];
            if (v < 0) {
                if (seenAlphabet) {
                    n = 0;
                } else if (n > 0) {
                    --n;
                }
                v = 0;
            } else {
                seenAlphabet = true;
            }
            bits |= static_cast<uint32_t>(v) << (6 * (3 - k));
        }
        if (static_cast<size_t>(n) > capacity - used)
            return -1;
        for (int k = 0; k < n; ++k)
            out[used + k] = static_cast<uint8_t>(bits >> (16 - 8 * k));
        used += n;
        total += n;
        if (n < 3)
            return total;
    }
}

}  // namespace qor
