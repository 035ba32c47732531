// Query bytes, reply parsing, TXT keys and the manufacturer rules.
#include <gtest/gtest.h>

#include <cstring>

#include "HcpScenario.h"
#include "hcp.h"

namespace {

const std::string kTamoVid = "3A5D0001";     // Tamo's vendor id, product 0001
const std::string kCorvaneVid = "2B4C1234";  // Corvane's

HcpDevice parse(const Hcp& hcp, const std::vector<uint8_t>& bytes, bool* found = nullptr) {
    HcpDevice device;
    bool ok = hcp.parseReply(qor::ByteSpan(bytes), device);
    if (found)
        *found = ok;
    return device;
}

ReplySpec printer(std::vector<std::string> entries) {
    ReplySpec spec;
    spec.instance = "lp1";
    spec.entries = std::move(entries);
    return spec;
}

}  // namespace

TEST(DnsQuery, IsTheFortyOneByteQuestion) {
    const uint8_t expected[] = {0,   0,   0,   0,   0,   1,   0,    0,   0,   0,   0,
                                0,   12,  '_', 'h', 'o', 's', 't',  '-', 'c', 'o', 'n',
                                'f', 'i', 'g', 4,   '_', 'u', 'd',  'p', 5,   'l', 'o',
                                'c', 'a', 'l', 0,   0,   12,  0x80, 1};
    ASSERT_EQ(sizeof gDNSQueryPacket, 41u);
    EXPECT_EQ(0, memcmp(expected, gDNSQueryPacket, 41));
}

TEST(Manufacturer, FirstLetterSelects) {
    EXPECT_EQ(manufacturerForProgramName("tamo"), "Tamo");
    EXPECT_EQ(manufacturerForProgramName("generic"), "Printer");
    EXPECT_EQ(manufacturerForProgramName("ksolven"), "SOLVEN");
    EXPECT_EQ(manufacturerForProgramName("kessa"), "SOLVEN");
    EXPECT_EQ(manufacturerForProgramName("amtix"), "Amtix");
    EXPECT_EQ(manufacturerForProgramName("dalor"), "DALOR");
    EXPECT_EQ(manufacturerForProgramName("netkessa"), "Kessa");
    EXPECT_EQ(manufacturerForProgramName("Tamo"), "Kessa");  // exact lower-case letter
    EXPECT_EQ(manufacturerForProgramName(""), "Kessa");
}

TEST(Unquote, KeepsTextBetweenFirstAndLastQuote) {
    EXPECT_EQ(unquote("abc"), "abc");
    EXPECT_EQ(unquote("\"abc\""), "abc");
    EXPECT_EQ(unquote("x\"a\"b\"y"), "a\"b");
    EXPECT_EQ(unquote("x\"abc"), "abc");
    EXPECT_EQ(unquote(""), "");
    EXPECT_EQ(unquote("\"\""), "");
}

TEST(MacAddress, ReversesBitsOfEachByte) {
    EXPECT_EQ(reverseBits(0x01), 0x80);
    EXPECT_EQ(reverseBits(0x12), 0x48);
    EXPECT_EQ(reverseBits(0x3C), 0x3C);
    EXPECT_EQ(reverseBits(0xFF), 0xFF);
    EXPECT_EQ(macFromUaa("80000000C001"), "010000000380");
    EXPECT_EQ(macFromUaa("8000"), "010000000000");  // missing groups give 0
    EXPECT_EQ(macFromUaa("zz0000000001"), "000000000080");
    EXPECT_EQ(macFromUaa(""), "000000000000");
}

TEST(VendorId, ReadsBitsSixteenToThirtyOne) {
    EXPECT_EQ(parseHex("3A5D0001"), 0x3A5D0001u);
    EXPECT_EQ(parseHex("ff"), 0xFFu);
    EXPECT_EQ(parseHex("1g"), 0x10u);  // a non-digit counts as 0
    EXPECT_EQ(vendorName(parseHex(kTamoVid)), "Tamo");
    EXPECT_EQ(vendorName(parseHex(kCorvaneVid)), "Corvane");
    EXPECT_EQ(vendorName(parseHex("12340001")), "");
    EXPECT_EQ(vendorName(parseHex("993A5D0001")), "Tamo");      // digits above 31 ignored
    EXPECT_EQ(vendorName(parseHex(std::string(40, 'F'))), "");  // no overflow past 64 bits
}

TEST(TxtEntry, AppliesTheKeyTable) {
    Hcp hcp("tamo");
    HcpDevice d;
    hcp.applyTxtEntry("IPADDRESS=\"10.0.0.9\"", d);
    hcp.applyTxtEntry("MACUAA=80000000C001", d);
    hcp.applyTxtEntry("IPNETMASK=255.0.0.0", d);
    hcp.applyTxtEntry("IPNAME=foo", d);
    hcp.applyTxtEntry("NOEQUALS", d);
    hcp.applyTxtEntry("ipaddress=1.1.1.1", d);  // keys are case-sensitive
    EXPECT_EQ(d.ip, "10.0.0.9");
    EXPECT_EQ(d.mac, "010000000380");
    EXPECT_EQ(d.model, "");
    EXPECT_EQ(d.manufacturer, "");
    hcp.applyTxtEntry("1284STRID=MFG:x;MDL:\"ACME Tamo 100\";", d);
    EXPECT_EQ(d.model, "ACME Tamo 100");
    EXPECT_EQ(d.manufacturer, "Tamo");
}

TEST(TxtEntry, VendorAfterModelOverwritesWithEmpty) {
    Hcp hcp("tamo");
    HcpDevice d;
    hcp.applyTxtEntry("1284STRID=\"Tamo L1\"", d);
    EXPECT_EQ(d.manufacturer, "Tamo");
    hcp.applyTxtEntry("PRINTERVIDPID=12340001", d);
    EXPECT_EQ(d.manufacturer, "");
}

TEST(TxtEntry, ModelAfterVendorFillsOnlyWhenEmpty) {
    Hcp hcp("tamo");
    HcpDevice d;
    hcp.applyTxtEntry("PRINTERVIDPID=12340001", d);
    hcp.applyTxtEntry("1284STRID=\"Tamo L1\"", d);
    EXPECT_EQ(d.manufacturer, "Tamo");
    HcpDevice e;
    hcp.applyTxtEntry("PRINTERVIDPID=" + kCorvaneVid, e);
    hcp.applyTxtEntry("1284STRID=\"Tamo L1\"", e);
    EXPECT_EQ(e.manufacturer, "Corvane");
    HcpDevice f;
    hcp.applyTxtEntry("MDNSNAME=\"my Tamo\"", f);
    EXPECT_EQ(f.manufacturer, "Tamo");
}

TEST(DnsReply, ParsesTxtInEverySection) {
    Hcp hcp("generic");
    for (const char* section : {"answer", "authority", "additional"}) {
        ReplySpec spec = printer({"IPADDRESS=10.1.2.3", "MACUAA=80000000C001"});
        spec.section = section;
        bool found = false;
        HcpDevice d = parse(hcp, buildReply(spec), &found);
        EXPECT_TRUE(found) << section;
        EXPECT_EQ(d.ip, "10.1.2.3") << section;
        EXPECT_EQ(d.mac, "010000000380") << section;
    }
}

TEST(DnsReply, FollowsCompressedName) {
    Hcp hcp("generic");
    ReplySpec spec = printer({"IPADDRESS=10.1.2.4"});
    spec.compress = true;
    bool found = false;
    HcpDevice d = parse(hcp, buildReply(spec), &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(d.ip, "10.1.2.4");
}

TEST(DnsReply, UsesOnlyFirstOfTwoTxtRecords) {
    Hcp hcp("generic");
    ReplySpec spec = printer({"IPADDRESS=10.1.2.5"});
    spec.txtRecords = 2;
    HcpDevice d = parse(hcp, buildReply(spec));
    EXPECT_EQ(d.ip, "10.1.2.5");
    EXPECT_EQ(d.mac, "");
}

TEST(DnsReply, TxtWithoutEntriesGivesEmptyDevice) {
    Hcp generic("generic"), tamo("tamo");
    std::vector<uint8_t> bytes = buildReply(printer({}));
    bool found = false;
    HcpDevice d = parse(generic, bytes, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(d.mac + d.ip + d.model + d.manufacturer, "");
    HcpDevice kept;
    EXPECT_TRUE(generic.acceptReply(qor::ByteSpan(bytes), kept));
    EXPECT_FALSE(tamo.acceptReply(qor::ByteSpan(bytes), kept));
    EXPECT_EQ(generic.devices().size(), 1u);
    EXPECT_TRUE(tamo.devices().empty());
}

TEST(DnsReply, EntryEndsAtEmbeddedZero) {
    Hcp hcp("generic");
    HcpDevice d = parse(hcp, buildReply(printer({std::string("IPADDRESS=1.2.3.4\0junk", 22)})));
    EXPECT_EQ(d.ip, "1.2.3.4");
}

TEST(DnsReply, RejectsQueriesAndShortDatagrams) {
    Hcp hcp("generic");
    std::vector<uint8_t> query(gDNSQueryPacket, gDNSQueryPacket + 41);
    bool found = true;
    parse(hcp, query, &found);
    EXPECT_FALSE(found);
    std::vector<uint8_t> reply = buildReply(printer({"IPADDRESS=1.2.3.4"}));
    reply.resize(12);
    parse(hcp, reply, &found);
    EXPECT_FALSE(found);
}

TEST(DnsReply, IgnoresRecordsOfOtherServicesAndTypes) {
    Hcp hcp("generic");
    ReplySpec spec = printer({"IPADDRESS=1.2.3.4"});
    std::vector<uint8_t> bytes = buildReply(spec);
    // Only the PTR record: drop the TXT record count.
    bytes[7] = 1;
    bool found = true;
    parse(hcp, bytes, &found);
    EXPECT_FALSE(found);
}

TEST(DnsReply, TruncatedAtEveryOffsetNeverFindsRecord) {
    Hcp hcp("generic");
    std::vector<uint8_t> whole = buildReply(printer({"IPADDRESS=1.2.3.4", "MACUAA=0102030405"}));
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + cut);
        bool found = true;
        parse(hcp, part, &found);
        EXPECT_FALSE(found) << "cut at " << cut;
    }
}

TEST(DnsName, CompressedNameOccupiesBytesBeforePointerPlusTwo) {
    // "ab" at 0, then at 4: label "x" + pointer to 0.
    std::vector<uint8_t> msg = {2, 'a', 'b', 0, 1, 'x', 0xC0, 0x00};
    std::string first, second;
    size_t consumed = 0;
    ASSERT_TRUE(decodeName(qor::ByteSpan(msg), 4, first, second, consumed));
    EXPECT_EQ(first, "x");
    EXPECT_EQ(second, "ab");
    EXPECT_EQ(consumed, 4u);
    ASSERT_TRUE(decodeName(qor::ByteSpan(msg), 0, first, second, consumed));
    EXPECT_EQ(consumed, 4u);
}

TEST(DnsName, RejectsForwardCompressionPointer) {
    std::vector<uint8_t> msg = {0xC0, 0x02, 1, 'a', 0};
    std::string first, second;
    size_t consumed = 0;
    EXPECT_FALSE(decodeName(qor::ByteSpan(msg), 0, first, second, consumed));
}

TEST(DnsName, RejectsLoopingAndSelfPointers) {
    std::vector<uint8_t> self = {0xC0, 0x00};
    std::vector<uint8_t> loop = {1, 'a', 0xC0, 0x00};
    std::string first, second;
    size_t consumed = 0;
    EXPECT_FALSE(decodeName(qor::ByteSpan(self), 0, first, second, consumed));
    EXPECT_FALSE(decodeName(qor::ByteSpan(loop), 0, first, second, consumed));
}

TEST(DnsName, RejectsOverlongNameAndReservedLabels) {
    std::vector<uint8_t> msg;
    for (int i = 0; i < 5; ++i) {
        msg.push_back(63);
        msg.insert(msg.end(), 63, 'a');
    }
    msg.push_back(0);
    std::string first, second;
    size_t consumed = 0;
    EXPECT_FALSE(decodeName(qor::ByteSpan(msg), 0, first, second, consumed));
    std::vector<uint8_t> reserved = {0x40, 0};
    EXPECT_FALSE(decodeName(qor::ByteSpan(reserved), 0, first, second, consumed));
    std::vector<uint8_t> cutPointer = {0xC0};
    EXPECT_FALSE(decodeName(qor::ByteSpan(cutPointer), 0, first, second, consumed));
}

TEST(DnsReply, RecordLengthPastEndDropsReply) {
    Hcp hcp("generic");
    std::vector<uint8_t> bytes = buildReply(printer({"IPADDRESS=1.2.3.4"}));
    // The last TXT string claims more bytes than there are.
    bytes[bytes.size() - 18] = 200;
    bool found = true;
    parse(hcp, bytes, &found);
    EXPECT_FALSE(found);
}
