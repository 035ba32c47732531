#include "Framing.h"

#include <gtest/gtest.h>

using namespace vprinter;

namespace {
Bytes hex(const std::string& text) {
    Bytes out;
    EXPECT_TRUE(fromHex(text, out)) << text;
    return out;
}
}  // namespace

TEST(PacketAssembler, CutsBackToBackPacketsOfOneWrite) {
    PacketAssembler a;
    // preamble (flags 80) then a forward packet, as the forwarded survey sends them
    a.feed(
        hex("A5001080A45BA45B10EFA45B11EE00FF13EC2E"
            "A5000F50E0630200 09 A5000650E0D8002839"));
    Bytes p, g;
    ASSERT_TRUE(a.next(p, g));
    EXPECT_EQ(toHex(p), "A5001080A45BA45B10EFA45B11EE00FF13EC2E");
    ASSERT_TRUE(a.next(p, g));
    EXPECT_EQ(toHex(p), "A5000F50E063020009A5000650E0D8002839");
    EXPECT_FALSE(a.next(p, g));
    EXPECT_TRUE(g.empty());
    EXPECT_EQ(a.pending(), 0u);
}

TEST(PacketAssembler, WaitsForARequestThatArrivesInPieces) {
    PacketAssembler a;
    Bytes whole = hex("A5000650E0D8002839");
    Bytes p, g;
    for (size_t i = 0; i + 1 < whole.size(); ++i) {
        a.feed(qor::ByteSpan(&whole[i], 1));
        EXPECT_FALSE(a.next(p, g)) << "after " << i + 1 << " bytes";
    }
    a.feed(qor::ByteSpan(&whole.back(), 1));
    ASSERT_TRUE(a.next(p, g));
    EXPECT_EQ(p, whole);
}

TEST(PacketAssembler, SkipsGarbageAndEmptyHeaders) {
    PacketAssembler a;
    a.feed(hex("0011A50000A5000650E0D8002808"));
    Bytes p, g;
    ASSERT_TRUE(a.next(p, g));
    EXPECT_EQ(toHex(p), "A5000650E0D8002808");
    EXPECT_EQ(toHex(g), "0011A50000");
}

TEST(PacketAssembler, DrainHandsOutAnUnfinishedRequest) {
    PacketAssembler a;
    a.feed(hex("A50010 50E0"));
    Bytes p, g;
    EXPECT_FALSE(a.next(p, g));
    EXPECT_EQ(toHex(a.drain()), "A5001050E0");
    EXPECT_EQ(a.pending(), 0u);
}

TEST(RequestParse, ReadsHeaderAndRefusesShortPackets) {
    Request r;
    ASSERT_TRUE(parseRequest(hex("A5000650E0D8002839"), r));
    EXPECT_EQ(r.flags, 0x50);
    EXPECT_EQ(r.cls, 0xE0);
    EXPECT_EQ(r.command, 0xD8);
    EXPECT_EQ(toHex(r.params.toVector()), "002839");
    EXPECT_FALSE(parseRequest(hex("A5000750E0D8002839"), r));  // declared length too long
    EXPECT_FALSE(parseRequest(hex("A5000150"), r));            // no class or command
    EXPECT_FALSE(parseRequest(hex("5A000650E0D8002839"), r));  // wrong start byte
    EXPECT_FALSE(parseRequest(Bytes{}, r));
}

TEST(SettingRecords, DecodesRecordsAndFlagsACutOne) {
    bool complete = false;
    auto records = parseRecords(hex("2808000005486F6D6500 281F00000400000003"), complete);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(complete);
    EXPECT_EQ(records[0].group, 0x28);
    EXPECT_EQ(records[0].item, 0x08);
    EXPECT_EQ(toHex(records[0].value), "486F6D6500");
    EXPECT_EQ(toHex(records[1].value), "00000003");
    // The second record claims 4 value bytes but only 3 follow.
    records = parseRecords(hex("2808000001 41 281F000004000000"), complete);
    EXPECT_EQ(records.size(), 1u);
    EXPECT_FALSE(complete);
}

TEST(HexText, RoundTripsAndRefusesBadDigits) {
    Bytes b;
    EXPECT_TRUE(fromHex("0aFf 10", b));
    EXPECT_EQ(toHex(b), "0AFF10");
    EXPECT_FALSE(fromHex("0G", b));
    EXPECT_FALSE(fromHex("ABC", b));
    EXPECT_FALSE(fromHex("A B", b));
}
