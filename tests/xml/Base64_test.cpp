// Base64 encoding with its capacity rule, and decoding with its skipping,
// padding and capacity rules.
#include "Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace qor {
namespace {

std::string encodeText(const std::string& data, size_t capacity = 4096) {
    std::vector<char> out(capacity + 1, 'Z');
    Base64 b64;
    if (!b64.encode(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out.data(),
                    capacity))
        return "<fail>";
    return std::string(out.data());
}

// Decoded bytes as a string, or "<fail>" for -1.
std::string decodeText(const char* text, size_t capacity = 4096) {
    std::vector<uint8_t> out(capacity + 1, 0xEE);
    Base64 b64;
    int64_t n = b64.decode(text, out.data(), capacity);
    if (n < 0)
        return "<fail>";
    EXPECT_EQ(out[capacity], 0xEE) << "wrote past capacity";
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

TEST(Base64Encode, PadsFinalGroup) {
    EXPECT_EQ(encodeText("abc"), "YWJj");
    EXPECT_EQ(encodeText("ab"), "YWI=");
    EXPECT_EQ(encodeText("a"), "YQ==");
    EXPECT_EQ(encodeText(""), "");
    EXPECT_EQ(encodeText(std::string("\0\xff\xfe", 3)), "AP/+");
    EXPECT_EQ(encodeText("foobar"), "Zm9vYmFy");  // RFC 4648 section 10
    EXPECT_EQ(encodeText("fooba"), "Zm9vYmE=");
}

TEST(Base64Encode, NoLineBreaksInLongOutput) {
    std::string text = encodeText(std::string(3000, 'x'), 8192);
    EXPECT_EQ(text.size(), 4000u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST(Base64Encode, CapacityMustHoldTextAndNul) {
    Base64 b64;
    const uint8_t data[] = {'a', 'b', 'c', 'd'};
    char out[16];
    std::memset(out, 'Z', sizeof out);
    // 4 bytes need 8 characters and the NUL.
    EXPECT_FALSE(b64.encode(data, 4, out, 8));
    EXPECT_EQ(out[0], 'Z');  // nothing written
    EXPECT_TRUE(b64.encode(data, 4, out, 9));
    EXPECT_STREQ(out, "YWJjZA==");
    EXPECT_FALSE(b64.encode(data, 0, out, 0));
    EXPECT_TRUE(b64.encode(data, 0, out, 1));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(b64.encode(data, 3, nullptr, 100));
    EXPECT_FALSE(b64.encode(nullptr, 3, out, sizeof out));
    EXPECT_FALSE(b64.encode(data, SIZE_MAX, out, sizeof out));  // no overflow in the size rule
}

TEST(Base64Encode, FileSizesAroundTheSixteenKibibyteBuffer) {
    Base64 b64;
    std::vector<uint8_t> file(12288, 0x5A);
    std::vector<char> out(16384);
    EXPECT_TRUE(b64.encode(file.data(), 12285, out.data(), out.size()));  // 16380 + NUL
    EXPECT_EQ(std::strlen(out.data()), 16380u);
    EXPECT_FALSE(b64.encode(file.data(), 12286, out.data(), out.size()));  // 16384 + NUL
    EXPECT_FALSE(b64.encode(file.data(), 12287, out.data(), out.size()));
    EXPECT_FALSE(b64.encode(file.data(), 12288, out.data(), out.size()));
    std::vector<char> bigger(16385);
    EXPECT_TRUE(b64.encode(file.data(), 12288, bigger.data(), bigger.size()));
}

TEST(Base64Decode, DecodesAndSkipsForeignCharacters) {
    EXPECT_EQ(decodeText("YWJj"), "abc");
    EXPECT_EQ(decodeText("YW\nJj"), "abc");
    EXPECT_EQ(decodeText(" Y W\r\nJ\tj *-!"), "abc");
    EXPECT_EQ(decodeText("Zm9vYmFy"), "foobar");
    EXPECT_EQ(decodeText("AP/+"), std::string("\0\xff\xfe", 3));
    EXPECT_EQ(decodeText(""), "");
    EXPECT_EQ(decodeText("\n\n"), "");
}

TEST(Base64Decode, PaddingEndsDecoding) {
    EXPECT_EQ(decodeText("YQ==YWJj"), "a");
    EXPECT_EQ(decodeText("YWI=YWJj"), "ab");
    EXPECT_EQ(decodeText("YWJjYQ=="), "abca");
    EXPECT_EQ(decodeText("YQ"), "a");  // missing padding is supplied
    EXPECT_EQ(decodeText("YWI"), "ab");
    EXPECT_EQ(decodeText("YWJjY"), "abc");  // a lone character yields nothing
    EXPECT_EQ(decodeText("===="), "");
    EXPECT_EQ(decodeText("YQ=*=YWJj"), "a");  // foreign bytes inside padding are skipped
}

TEST(Base64Decode, EqualsBeforeAlphabetCharacterSpoilsGroup) {
    EXPECT_EQ(decodeText("YW=j"), "");
    EXPECT_EQ(decodeText("YWJjY=Jj"), "abc");
    EXPECT_EQ(decodeText("=WJj"), "");
    EXPECT_EQ(decodeText("Y=Y="), "");
}

TEST(Base64Decode, CapacityIsChecked) {
    EXPECT_EQ(decodeText("YWJj", 2), "<fail>");
    EXPECT_EQ(decodeText("YWJj", 3), "abc");
    EXPECT_EQ(decodeText("YWJjYQ==", 3), "<fail>");
    EXPECT_EQ(decodeText("YWJjYQ==", 4), "abca");
    EXPECT_EQ(decodeText("YQ==", 0), "<fail>");
    EXPECT_EQ(decodeText("", 0), "");
    Base64 b64;
    EXPECT_EQ(b64.decode(nullptr, nullptr, 0), -1);
    EXPECT_EQ(b64.decode("", nullptr, 0), 0);
}

TEST(Base64RoundTrip, EveryLengthAndByteValue) {
    std::mt19937 random(12345);
    Base64 b64;
    for (size_t length = 0; length < 400; ++length) {
        std::vector<uint8_t> data(length);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random());
        std::vector<char> text((length + 2) / 3 * 4 + 1);
        ASSERT_TRUE(b64.encode(data.data(), length, text.data(), text.size()));
        EXPECT_EQ(std::strlen(text.data()), text.size() - 1);
        std::vector<uint8_t> back(length + 1);
        ASSERT_EQ(b64.decode(text.data(), back.data(), length), static_cast<int64_t>(length));
        back.resize(length);
        EXPECT_EQ(back, data);
    }
}

TEST(Base64Bounds, LongTextsTakeLinearTime) {
    const size_t n = size_t{1} << 22;
    Base64 b64;
    std::vector<uint8_t> out(n, 0);
    auto start = std::chrono::steady_clock::now();
    // Nothing but skipped characters, then a whole text of full groups.
    std::string foreign(n, '\n');
    EXPECT_EQ(b64.decode(foreign.c_str(), out.data(), out.size()), 0);
    std::string text(n / 4 * 4, 'A');
    EXPECT_EQ(b64.decode(text.c_str(), out.data(), out.size()), static_cast<int64_t>(n / 4 * 3));
    std::vector<char> encoded(n / 3 * 4 + 8);
    EXPECT_TRUE(b64.encode(out.data(), n / 3, encoded.data(), encoded.size()));
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

// The decoder written the plain way, one character and one group at a time
// over a copy of the text with "====" appended; the real decoder's fast path
// must give the same count and the same bytes in the buffer.
int64_t referenceDecode(const std::string& text, uint8_t* out, size_t capacity) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string padded = text.substr(0, text.find('\0')) + "====";
    size_t i = 0;
    size_t used = 0;
    for (;;) {
        char group[4];
        int have = 0;
        while (have < 4 && i < padded.size()) {
            char c = padded[i++];
            if (c == '=' || (c != '\0' && alphabet.find(c) != std::string::npos))
                group[have++] = c;
        }
        int n = 3;
        bool seenAlphabet = false;
        uint32_t bits = 0;
        for (int k = 3; k >= 0; --k) {
            size_t v = group[k] == '=' ? std::string::npos : alphabet.find(group[k]);
            if (v == std::string::npos) {
                n = seenAlphabet ? 0 : (n > 0 ? n - 1 : 0);
                v = 0;
            } else {
                seenAlphabet = true;
            }
            bits |= static_cast<uint32_t>(v) << (6 * (3 - k));
        }
        if (static_cast<size_t>(n) > capacity - used)
            return -1;
        for (int k = 0; k < n; ++k)
            out[used++] = static_cast<uint8_t>(bits >> (16 - 8 * k));
        if (n < 3)
            return static_cast<int64_t>(used);
    }
}

// Random texts mostly of the alphabet, with '=', line breaks, blanks and other
// bytes mixed in at random places, against every small output capacity: the
// fast path must hand over to the careful loop at exactly the right point.
TEST(Base64Decode, SameResultsAsThePlainDecoderOnRandomTexts) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(20261209);
    Base64 b64;
    for (int round = 0; round < 40000; ++round) {
        size_t length = random() % 48;
        unsigned spice = random() % 4;  // how often a character is not from the alphabet
        std::string text;
        for (size_t k = 0; k < length; ++k) {
            unsigned pick = random() % 16;
            if (pick >= spice * 2) {
                text += alphabet[random() % 64];
            } else {
                static const char others[] = {'=', '\n', '\r', ' ',    '\t',
                                              '-', '_',  '*',  '\x80', '\xFF'};
                text += others[random() % sizeof(others)];
            }
        }
        size_t capacity = random() % 40;
        std::vector<uint8_t> got(capacity + 8, 0xEE);
        std::vector<uint8_t> want(capacity + 8, 0xEE);
        int64_t n = b64.decode(text.c_str(), got.data(), capacity);
        int64_t m = referenceDecode(text, want.data(), capacity);
        ASSERT_EQ(n, m) << "text '" << text << "' capacity " << capacity;
        ASSERT_EQ(got, want) << "text '" << text << "' capacity " << capacity;
    }
}

// Long texts with a foreign character now and then: groups that straddle a
// skipped character go through the careful loop, the rest through the fast one.
TEST(Base64Decode, LongTextsWithLineBreaksMatchThePlainDecoder) {
    std::mt19937 random(77);
    Base64 b64;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(random() % 3000);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random());
        std::vector<char> encoded((data.size() + 2) / 3 * 4 + 1);
        ASSERT_TRUE(b64.encode(data.data(), data.size(), encoded.data(), encoded.size()));
        std::string text;
        for (const char* c = encoded.data(); *c != '\0'; ++c) {
            if (random() % 57 == 0)
                text += (random() % 2) ? "\r\n" : " ";
            text += *c;
        }
        for (size_t capacity : {data.size(), data.size() + 1, data.size() - data.size() / 3}) {
            std::vector<uint8_t> got(capacity + 4, 0xEE);
            std::vector<uint8_t> want(capacity + 4, 0xEE);
            int64_t n = b64.decode(text.c_str(), got.data(), capacity);
            ASSERT_EQ(n, referenceDecode(text, want.data(), capacity));
            ASSERT_EQ(got, want);
            if (capacity >= data.size()) {
                ASSERT_EQ(n, static_cast<int64_t>(data.size()));
                ASSERT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
            }
        }
    }
}

// Encoding checked against a bit-by-bit model for every length 0..299.
TEST(Base64Encode, SameTextAsBitByBitEncoding) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(4242);
    Base64 b64;
    for (size_t length = 0; length < 300; ++length) {
        std::vector<uint8_t> data(length);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(random());
        std::string want;
        size_t bitCount = length * 8;
        for (size_t bit = 0; bit < bitCount; bit += 6) {
            unsigned v = 0;
            for (size_t k = bit; k < bit + 6; ++k) {
                unsigned b = k < bitCount ? (data[k / 8] >> (7 - k % 8)) & 1 : 0;
                v = (v << 1) | b;
            }
            want += alphabet[v];
        }
        while (want.size() % 4 != 0)
            want += '=';
        std::vector<char> out(want.size() + 2, 'Z');
        ASSERT_TRUE(b64.encode(data.data(), length, out.data(), want.size() + 1));
        EXPECT_EQ(std::string(out.data()), want);
        EXPECT_EQ(out[want.size() + 1], 'Z');  // nothing past the NUL
    }
}

}  // namespace
}  // namespace qor
