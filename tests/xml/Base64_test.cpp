// Base64 encoding with its capacity rule, and decoding with its skipping,
// padding and capacity rules.
#include "Base64.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qor
