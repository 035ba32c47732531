// The packet builders byte for byte, and the check that a read answer has
// the promised form before its data are used: the packet reader, whole
// answers, and every way of falling short.
#include "NpaPacket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kRead = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x0A, 0x02};  // address
const Bytes kForwardedRead =
    concat({{0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x09}, kRead});
// A5, length 12, the echoed 50 E0 D8 00 0A 02, data length 4, 192.168.1.20.
const Bytes kAnswer = {0xA5, 0x00, 0x0C, 0x50, 0xE0, 0xD8, 0x00, 0x0A,
                       0x02, 0x00, 0x04, 0xC0, 0xA8, 0x01, 0x14};
// Outer packet: flags, class, command 63, sub-channel, three bytes, inner.
const Bytes kForwardedAnswer =
    concat({{0xA5, 0x00, 0x16, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x00, 0x0F}, kAnswer});

std::string dataOf(ByteSpan data) {
    std::string out;
    for (uint8_t b : data)
        out += std::to_string(b) + ".";
    return out;
}

TEST(NpaPacketBuilder, RequestsByteForByte) {
    const Bytes records = {0x06, 0x14, 0x00, 0x00, 0x01, 0x01};
    const Bytes support = {0x00, 0x02, 0x05, 0x09};
    struct Row {
        const char* name;
        Bytes built, expected;
    } rows[] = {
        {"read", npaReadRequest(0x0A, 0x02), kRead},
        {"forwarded read", npaForwarded(kRead), kForwardedRead},
        {"support query",
         npaRequest(kNpaSupportQuery, support),
         {0xA5, 0x00, 0x07, 0x50, 0xE0, 0x81, 0x00, 0x02, 0x05, 0x09}},
        {"write",
         npaWriteRequest(records),
         {0xA5, 0x00, 0x0A, 0x50, 0xE0, 0xDA, 0x01, 0x06, 0x14, 0x00, 0x00, 0x01, 0x01}},
        {"write header of 300 bytes",
         npaWriteHeader(300),
         {0xA5, 0x01, 0x30, 0x50, 0xE0, 0xDA, 0x01}},
        {"forward header of 300 bytes",
         npaForwardHeader(300),
         {0xA5, 0x01, 0x32, 0x50, 0xE0, 0x63, 0x02, 0x01, 0x2C}},
        {"record header", npaRecordHeader(0x2A, 0x03, 256), {0x2A, 0x03, 0x00, 0x01, 0x00}},
        {"lead-in",
         npaLeadIn(),
         {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF, 0xA4, 0x5B, 0x11, 0xEE, 0x00,
          0xFF, 0x13, 0xEC, 0x2E}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.built, row.expected) << row.name;
    EXPECT_EQ(npaWriteHeader(300).size(), kNpaWriteHeaderSize);
    EXPECT_EQ(npaForwardHeader(300).size(), kNpaForwardHeaderSize);
}

TEST(NpaPacketReader, ReadsWholePacketsOnly) {
    Bytes two = concat({{0xA5, 0x00, 0x01, 0x50}, {0xA5, 0x00, 0x00}, {0x00}});
    ByteReader reader(two);
    NpaPacket p;
    ASSERT_TRUE(readNpaPacket(reader, p));
    EXPECT_EQ(p.whole.size, 4u);
    EXPECT_EQ(p.body.size, 1u);
    ASSERT_TRUE(readNpaPacket(reader, p));
    EXPECT_EQ(p.body.size, 0u);
    EXPECT_FALSE(readNpaPacket(reader, p));  // 00 is no start byte
    EXPECT_EQ(reader.offset(), 7u);
    Bytes cut = {0xA5, 0x00, 0x02, 0x50};
    ByteReader short_(cut);
    EXPECT_FALSE(readNpaPacket(short_, p));
    EXPECT_EQ(short_.offset(), 0u);
}

TEST(ReadAnswer, TakesDataOnlyFromAnswersOfThePromisedForm) {
    Bytes echoOther = kAnswer;
    echoOther[8] = 0x03;
    Bytes flags = kAnswer;
    flags[3] = 0xD4;
    Bytes longData = kAnswer;
    longData[10] = 0x05;  // five data bytes declared, four there
    Bytes longPacket = kAnswer;
    longPacket[2] = 0x0D;
    Bytes trailing = concat({kAnswer, {0x00, 0x00}});
    Bytes innerOutside = kForwardedAnswer;
    innerOutside[2] = 0x15;  // the outer packet ends before the inner one
    Bytes innerShifted =
        concat({{0xA5, 0x00, 0x17, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x00, 0x0F, 0x00}, kAnswer});
    struct Row {
        const char* name;
        const Bytes& request;
        Bytes reply;
        std::string data;  // "" when the answer must not count
    } rows[] = {
        {"direct", kRead, kAnswer, "192.168.1.20."},
        {"forwarded", kForwardedRead, kForwardedAnswer, "192.168.1.20."},
        {"trailing bytes after the packet", kRead, trailing, "192.168.1.20."},
        {"other setting echoed", kRead, echoOther, ""},
        {"error flags", kRead, flags, ""},
        {"data length beyond the packet", kRead, longData, ""},
        {"packet length beyond what was read", kRead, longPacket, ""},
        {"direct answer to a forwarded request", kForwardedRead, kAnswer, ""},
        // The outer header reads as noise before a whole direct answer.
        {"forwarded answer to a direct request", kRead, kForwardedAnswer, "192.168.1.20."},
        {"inner packet outside the outer one", kForwardedRead, innerOutside, ""},
        {"inner packet not at offset 10", kForwardedRead, innerShifted, ""},
        {"noise before the start byte", kRead, concat({{0x00, 0xA5}, kAnswer}), "192.168.1.20."},
        {"noise before a forwarded answer", kForwardedRead,
         concat({{0x11, 0xA5, 0x00}, kForwardedAnswer}), "192.168.1.20."},
        {"nothing", kRead, {}, ""},
    };
    for (const Row& row : rows) {
        ByteSpan data;
        bool ok = readAnswerData(row.request, row.reply, data);
        EXPECT_EQ(ok ? dataOf(data) : "", row.data) << row.name;
        EXPECT_EQ(ok, !row.data.empty()) << row.name;
    }
    // Cut at every length, neither form counts until it is whole.
    for (const Bytes* whole : {&kAnswer, &kForwardedAnswer}) {
        const Bytes& request = whole == &kAnswer ? kRead : kForwardedRead;
        for (size_t n = 0; n < whole->size(); ++n) {
            ByteSpan data;
            EXPECT_FALSE(readAnswerData(request, ByteSpan(whole->data(), n), data)) << n;
        }
    }
}

TEST(StreamAnswer, DirectAndForwardedCollectedBytes) {
    const Bytes status = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x2A, 0x1D};
    const Bytes forwardedStatus =
        concat({{0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x09}, status});
    // What the stream keeps of a forwarded answer: after the outer flags
    // byte, class 63 sub-channel, three bytes, the inner packet at 6.
    const Bytes forwarded = {0xE0, 0x63, 0x02, 0x00, 0x00, 0x0C, 0xA5, 0x00, 0x09,
                             0x50, 0xE0, 0xD8, 0x00, 0x2A, 0x1D, 0x00, 0x01, 0x02};
    // A direct answer keeps its class byte on.
    const Bytes direct = {0xE0, 0xD8, 0x00, 0x2A, 0x1D, 0x00, 0x01, 0x02};
    ByteSpan data;
    ASSERT_TRUE(streamAnswerData(forwardedStatus, forwarded, data));
    EXPECT_EQ(dataOf(data), "2.");
    ASSERT_TRUE(streamAnswerData(status, direct, data));
    EXPECT_EQ(dataOf(data), "2.");
    EXPECT_FALSE(streamAnswerData(status, forwarded, data));
    EXPECT_FALSE(streamAnswerData(forwardedStatus, direct, data));
    const Bytes organization = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x2A, 0x06};
    EXPECT_FALSE(streamAnswerData(organization, direct, data));
    // Cut at every length: never found unless the whole data are present.
    for (const auto* pair : {&forwarded, &direct}) {
        const Bytes& request = pair == &forwarded ? forwardedStatus : status;
        for (size_t n = 0; n < pair->size(); ++n)
            EXPECT_FALSE(streamAnswerData(request, ByteSpan(pair->data(), n), data)) << n;
    }
}

// When an exchange may stop reading: a whole answer by its framing.
TEST(NpaAnswerComplete, ByFramingAlone) {
    const Bytes more = {0xA5, 0x00, 0x03, 0x70, 0xE0, 0x64};  // flags 0x20: more follows
    const Bytes last = {0xA5, 0x00, 0x03, 0x50, 0xE0, 0x65};
    struct Row {
        const char* name;
        Bytes bytes;
        bool complete;
    } rows[] = {
        {"nothing", {}, false},
        {"header only", {0xA5, 0x00, 0x0C}, false},
        {"one byte short", Bytes(kAnswer.begin(), kAnswer.end() - 1), false},
        {"whole", kAnswer, true},
        {"whole after noise", concat({{0x00, 0x11}, kAnswer}), true},
        {"whole with trailing bytes", concat({kAnswer, {0x00}}), true},
        {"forwarded, outer whole", kForwardedAnswer, true},
        {"forwarded, outer short", Bytes(kForwardedAnswer.begin(), kForwardedAnswer.end() - 2),
         false},
        {"more announced, none yet", more, false},
        {"more announced, then the last", concat({more, more, last}), true},
        {"error answer", {0xA5, 0x00, 0x06, 0xD4, 0xE0, 0xD8, 0x00, 0x0A, 0x02}, true},
        {"empty packet passed over", {0xA5, 0x00, 0x00}, false},
        {"stray start byte swallows the answer", concat({{0xA5}, kAnswer}), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(npaAnswerComplete(ByteSpan(row.bytes)), row.complete) << row.name;
}

}  // namespace
}  // namespace qor
