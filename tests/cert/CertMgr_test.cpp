// CertMgr against a scripted transport: request bytes, answer extraction,
// status handling, limits and files.
#include "CertMgr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "CertAnswers.h"
#include "CertTestFiles.h"
#include "ExpectedRequests.h"

using namespace qor;
using namespace qor::test;

namespace {

const std::string kOk = responseXml("1", "OK");

struct CertMgrFixture : ::testing::Test {
    FakePrinter transport;
    CertMgr mgr{transport.channel("/dev/usb/lp0")};
    TempDir dir;

    std::string xmlOfWrite(size_t k) const {
        return k < transport.writes.size() ? requestXml(transport.writes[k]) : "";
    }
};

// clang-format off
const char* kGolden410 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="410"><arg name="objName">applications.certMgr</arg><arg name="method">deleteIndividualCA</arg><arg name="params"><ListElem><ListElem><MapElem><child name="ca_common_name"><StringElem>CA_X</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden510 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="510"><arg name="objName">applications.certMgr</arg><arg name="method">deleteIndividualCert</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>AirJoinHelperTool</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden100 = R"(<?xml version="1.0"?><method name="callMethod" requestID="100"><arg name="objName">applications.certMgr</arg><arg name="method">readCertDefaults</arg><arg name="params"><ListElem><ListElem><MapElem></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden500 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="500"><arg name="objName">applications.certMgr</arg><arg name="method">uploadSignedCertFile</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>AirJoinHelperTool</StringElem></child><child name="cert_syst_dot_pem_size"><IntegerElem>3</IntegerElem></child><child name="cert_syst_dot_pem_file"><BinaryElem>YWJj</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden430 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="430"><arg name="objName">applications.certMgr</arg><arg name="method">queryCAInfo</arg><arg name="params"><ListElem><ListElem><MapElem><child name="ca_common_name"><StringElem>CA_X</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden520 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="520"><arg name="objName">applications.certMgr</arg><arg name="method">queryCertList</arg><arg name="params"><ListElem><ListElem></ListElem></ListElem></arg></method>)";
const char* kGolden420 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="420"><arg name="objName">applications.certMgr</arg><arg name="method">queryCAList</arg><arg name="params"><ListElem><ListElem></ListElem></ListElem></arg></method>)";
const char* kGolden400 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="400"><arg name="objName">applications.certMgr</arg><arg name="method">uploadNewCAFile</arg><arg name="params"><ListElem><ListElem><MapElem><child name="ca_file_name"><StringElem>root.pem</StringElem></child><child name="ca_dot_pem_size"><IntegerElem>2</IntegerElem></child><child name="ca_dot_pem_file"><BinaryElem>YWI=</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden210 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="210"><arg name="objName">applications.certMgr</arg><arg name="method">exportPubKey</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>AirJoinHelperTool</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* kGolden200 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="200"><arg name="objName">applications.certMgr</arg><arg name="method">generateNewCert</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>AirJoinHelperTool</StringElem></child><child name="x509_O"><StringElem>O1</StringElem></child><child name="x509_AN"><StringElem>AN7</StringElem></child><child name="x509_C"><StringElem>C3</StringElem></child><child name="x509_CN"><StringElem>CN6</StringElem></child><child name="x509_L"><StringElem>L5</StringElem></child><child name="x509_OU"><StringElem>OU2</StringElem></child><child name="x509_ST"><StringElem>ST4</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
// clang-format on

}  // namespace

TEST(CertRequestPacket, PreambleThenOneXmlPacketWithLengthCountingHeader) {
    std::vector<uint8_t> bytes = buildRequestPacket("<a/>");
    std::vector<uint8_t> expected = {// preamble packet, flags 0x80
                                     0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                                     0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E,
                                     // start, length = 4 + 6, flags, class E0, command C0, 03 00 01
                                     0xA5, 0x00, 0x0A, 0x50, 0xE0, 0xC0, 0x03, 0x00, 0x01,
                                     // the XML, no NUL
                                     '<', 'a', '/', '>'};
    EXPECT_EQ(bytes, expected);
}

TEST(CertRequestPacket, LengthFieldIsBigEndianForLongXml) {
    std::string xml(300, 'x');
    std::vector<uint8_t> bytes = buildRequestPacket(xml);
    ASSERT_EQ(bytes.size(), 19u + 9u + 300u);
    EXPECT_EQ(bytes[20], 0x01);
    EXPECT_EQ(bytes[21], 0x32);  // 306
}

TEST(ExtractResponseXml, DropsInterleavedFillerBytes) {
    std::vector<uint8_t> reply = {0xE0, 0xC0, 0x03, 0x00, 0x01, 0x00, 0xE0,
                                  0xE0, '<',  0xE0, 'r',  '/',  0xE0, '>'};
    EXPECT_EQ(extractResponseXml(reply), "<r/>");
}

TEST(ExtractResponseXml, WrongOrShortHeaderGivesEmptyText) {
    std::vector<uint8_t> wrong = {0xE0, 0xC0, 0x03, 0x00, 0x01, 0x01, 0xE0, '<', 'r', '>'};
    EXPECT_EQ(extractResponseXml(wrong), "");
    std::vector<uint8_t> header = {0xE0, 0xC0, 0x03, 0x00, 0x01, 0x00, 0xE0};
    for (size_t cut = 0; cut < header.size(); ++cut)
        EXPECT_EQ(extractResponseXml(ByteSpan(header.data(), cut)), "") << cut;
    EXPECT_EQ(extractResponseXml(header), "");
    EXPECT_EQ(extractResponseXml(ByteSpan()), "");
}

TEST(ExtractResponseXml, EndsAtFirstNulAsACText) {
    std::vector<uint8_t> reply = {0xE0, 0xC0, 0x03, 0x00, 0x01, 0x00, 0xE0, 'a', 0x00, 'b'};
    EXPECT_EQ(extractResponseXml(reply), "a");
}

TEST(EscapeXml, ReplacesFiveCharactersAmpersandFirst) {
    EXPECT_EQ(escapeXml("R&D <x>"), "R&amp;D &lt;x&gt;");
    EXPECT_EQ(escapeXml("\"'"), "&quot;&apos;");
    EXPECT_EQ(escapeXml("&amp;"), "&amp;amp;");
    EXPECT_EQ(escapeXml("plain"), "plain");
    EXPECT_EQ(escapeXml(""), "");
}

TEST(PathBaseName, BehavesLikeBasename) {
    EXPECT_EQ(pathBaseName("/tmp/certs/root.pem"), "root.pem");
    EXPECT_EQ(pathBaseName("root.pem"), "root.pem");
    EXPECT_EQ(pathBaseName("/tmp/certs/"), "certs");
    EXPECT_EQ(pathBaseName("///"), "/");
    EXPECT_EQ(pathBaseName(""), ".");
}

TEST_F(CertMgrFixture, EveryTemplateGoesOutByteForByte) {
    for (int k = 0; k < 12; ++k)
        transport.answer(certAnswer(kOk));
    writeFile(dir.path("signed.pem"), "abc");
    writeFile(dir.path("root.pem"), "ab");  // not a certificate: no CA lookup

    EXPECT_EQ(mgr.deleteIndividualCA("CA_X"), 0);
    EXPECT_EQ(mgr.deleteIndividualCert(nullptr), 0);
    std::string o, ou, c, st, l, cn, an;
    EXPECT_EQ(mgr.readCertDefaults(o, ou, c, st, l, cn, an), 0);
    EXPECT_EQ(mgr.uploadSignedCertFile(dir.path("signed.pem"), nullptr), 0);
    std::string f, p, n;
    EXPECT_EQ(mgr.getCAInfo("CA_X", f, p, n), 0);
    std::vector<std::string> names;
    EXPECT_EQ(mgr.queryCertList(names), 0);
    EXPECT_EQ(mgr.getCACommonNameList(names), 0);
    EXPECT_EQ(mgr.uploadNewCAFile(dir.path("root.pem")), 0);

    ASSERT_EQ(transport.writes.size(), 8u);
    EXPECT_EQ(xmlOfWrite(0), kGolden410);
    EXPECT_EQ(xmlOfWrite(1), kGolden510);
    EXPECT_EQ(xmlOfWrite(2), kGolden100);
    EXPECT_EQ(xmlOfWrite(3), kGolden500);
    EXPECT_EQ(xmlOfWrite(4), kGolden430);
    EXPECT_EQ(xmlOfWrite(5), kGolden520);
    EXPECT_EQ(xmlOfWrite(6), kGolden420);
    EXPECT_EQ(xmlOfWrite(7), kGolden400);
    // Every exchange opened the configured path and closed; answered at
    // once, none waited out its pause.
    EXPECT_EQ(transport.opened, std::vector<std::string>(8, "/dev/usb/lp0"));
    EXPECT_EQ(transport.closes, 8);
    EXPECT_TRUE(transport.sleepsMs.empty());
}

TEST_F(CertMgrFixture, GenerateDeletesSameFriendlyNameFirstThenSendsFieldsInWireOrder) {
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(kOk));
    EXPECT_EQ(mgr.generateNewCert("O1", "OU2", "C3", "ST4", "L5", "CN6", "AN7", nullptr), 0);
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_EQ(xmlOfWrite(0), kGolden510);
    EXPECT_EQ(xmlOfWrite(1), kGolden200);
}

TEST_F(CertMgrFixture, GenerateEscapesSubjectFieldsButNotTheFriendlyName) {
    transport.answer(certAnswer(responseXml("3", "none")));  // the delete fails: ignored
    transport.answer(certAnswer(kOk));
    EXPECT_EQ(mgr.generateNewCert("R&D <x>", "", "", "", "", "", "", "a&b"), 0);
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_NE(xmlOfWrite(0).find("<StringElem>a&b</StringElem>"), std::string::npos);
    std::string sent = xmlOfWrite(1);
    EXPECT_NE(sent.find("<child name=\"x509_O\"><StringElem>R&amp;D &lt;x&gt;</StringElem>"),
              std::string::npos);
    EXPECT_NE(sent.find("<child name=\"cert_friendly_name\"><StringElem>a&b</StringElem>"),
              std::string::npos);
}

TEST_F(CertMgrFixture, ExportSendsTemplateAndSavesDecodedRequest) {
    transport.answer(
        certAnswer(responseXml("1", "OK",
                               "<child name=\"cert_dot_csr_file\"><BinaryElem>LS0tQ1NSLS0t"
                               "</BinaryElem></child>"),
                   true));
    std::string out = dir.path("req.csr");
    EXPECT_EQ(mgr.exportPubKey(out, nullptr), 0);
    EXPECT_EQ(xmlOfWrite(0), kGolden210);
    EXPECT_EQ(readFile(out), "---CSR---");
}

TEST_F(CertMgrFixture, ExportToEmptyPathFails) {
    transport.answer(certAnswer(responseXml(
        "1", "OK", "<child name=\"cert_dot_csr_file\"><BinaryElem>YWJj</BinaryElem></child>")));
    EXPECT_EQ(mgr.exportPubKey("", nullptr), -1);
}

TEST_F(CertMgrFixture, ExportOfRequestLargerThanItsBufferFailsAndWritesNothing) {
    std::string big((16384 / 3 + 1) * 4, 'A');  // decodes to 16386 bytes
    transport.answer(certAnswer(responseXml(
        "1", "OK",
        "<child name=\"cert_dot_csr_file\"><BinaryElem>" + big + "</BinaryElem></child>")));
    std::string out = dir.path("big.csr");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.exportPubKey(out, nullptr), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("D [QOR] Certificate request too large"), std::string::npos) << err;
    EXPECT_NE(::access(out.c_str(), F_OK), 0);
}

TEST_F(CertMgrFixture, ExportOfRequestFillingItsBufferExactlyIsSaved) {
    // 16384 bytes: 5461 full groups and one group of a single byte.
    std::string csr(16384, '\0');
    for (size_t k = 0; k < csr.size(); ++k)
        csr[k] = static_cast<char>(k * 7 + 3);
    transport.answer(certAnswer(responseXml("1", "OK",
                                            "<child name=\"cert_dot_csr_file\"><BinaryElem>" +
                                                base64Of(csr) + "</BinaryElem></child>")));
    std::string out = dir.path("full.csr");
    EXPECT_EQ(mgr.exportPubKey(out, nullptr), 0);
    EXPECT_EQ(readFile(out), csr);

    // One byte more does not decode into the buffer: nothing is written.
    transport.answer(certAnswer(responseXml("1", "OK",
                                            "<child name=\"cert_dot_csr_file\"><BinaryElem>" +
                                                base64Of(csr + "z") + "</BinaryElem></child>")));
    std::string over = dir.path("over.csr");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.exportPubKey(over, nullptr), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "D [QOR] Certificate request too large: it does not fit 16384 bytes\n");
    EXPECT_NE(::access(over.c_str(), F_OK), 0);
}

TEST_F(CertMgrFixture, NonSuccessStatusPrintsCodeAndMessage) {
    struct Case {
        std::function<int()> run;
        std::string lines;
    };
    std::string s, t, u;
    std::vector<std::string> names;
    writeFile(dir.path("f.pem"), "abc");
    std::string fpem = dir.path("f.pem");
    std::vector<Case> cases = {
        {[&] { return mgr.deleteIndividualCA("x"); },
         "D [QOR] Delete CA cert error 4\nD [QOR] no\n"},
        {[&] { return mgr.deleteIndividualCert(nullptr); },
         "D [QOR] Delete signed cert error 4\nD [QOR] no\n"},
        {[&] { return mgr.uploadSignedCertFile(fpem, nullptr); },
         "D [QOR] Install Signed Cert error 4\nD [QOR] no\n"},
        {[&] { return mgr.getCAInfo("x", s, t, u); }, "D [QOR] getCAInfo error 4\nD [QOR] no\n"},
        {[&] { return mgr.queryCertList(names); },
         "D [QOR] Error getting list of friendly names 4\nD [QOR] no\n"},
        {[&] { return mgr.getCACommonNameList(names); },
         "D [QOR] getCACommonNameList error 4\nD [QOR] no\n"},
        {[&] { return mgr.exportPubKey(dir.path("x.csr"), nullptr); },
         "D [QOR] Save Cert Request error 4\n\nD [QOR] no\n\n"},
    };
    for (Case& c : cases) {
        transport.answer(certAnswer(responseXml("4", "no")));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c.run(), -1);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.lines), std::string::npos) << err;
    }
}

TEST_F(CertMgrFixture, ReadDefaultsUsesTextSuccessTest) {
    std::string o = "keep", ou, c, st, l, cn, an;
    transport.answer(certAnswer(responseXml("1 ", "odd", stringChild("x509_O", "Acme"))));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.readCertDefaults(o, ou, c, st, l, cn, an), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("D [QOR] Get cert request defaults error 1\nD [QOR] odd\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(o, "keep");
}

TEST_F(CertMgrFixture, ReadDefaultsFillsSevenFields) {
    transport.answer(certAnswer(
        responseXml("1", "OK",
                    stringChild("x509_O", "Org") + stringChild("x509_OU", "Unit") +
                        stringChild("x509_C", "DE") + stringChild("x509_ST", "Bavaria") +
                        stringChild("x509_L", "Munich") + stringChild("x509_CN", "printer") +
                        stringChild("x509_AN", "alt")),
        true));
    std::string o, ou, c, st, l, cn, an;
    EXPECT_EQ(mgr.readCertDefaults(o, ou, c, st, l, cn, an), 0);
    EXPECT_EQ(o + "|" + ou + "|" + c + "|" + st + "|" + l + "|" + cn + "|" + an,
              "Org|Unit|DE|Bavaria|Munich|printer|alt");
}

TEST_F(CertMgrFixture, WrongAnswerHeaderFailsWithCodeZero) {
    std::vector<uint8_t> packet = certAnswer(kOk);
    packet[9] = 0x01;  // E0 C0 03 00 01 01 ...
    transport.answer(packet);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.deleteIndividualCA("x"), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "D [QOR] Delete CA cert error 0\nD [QOR] \n");
}

TEST_F(CertMgrFixture, DeviceThatDoesNotOpenFailsWithTransportLineOnly) {
    transport.failOpen();
    ::testing::internal::CaptureStderr();
    std::vector<std::string> names;
    EXPECT_EQ(mgr.queryCertList(names), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "D [QOR] Failed to open usb device '/dev/usb/lp0'!\n");
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(CertMgrFixture, ErrorReplyCollectsNothingAndFailsSilently) {
    transport.answer(certAnswer(kOk, false, 0xD0));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.deleteIndividualCA("x"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(CertMgrFixture, AnswerSplitOverContinuedPacketsIsJoined) {
    std::string xml = responseXml("1", "OK");
    std::vector<uint8_t> first = certAnswer(xml.substr(0, 40), false, 0x70);  // 0x20: more follows
    // The second packet carries only text after its flags byte.
    std::string rest = xml.substr(40);
    std::vector<uint8_t> second = {0xA5, static_cast<uint8_t>((rest.size() + 1) >> 8),
                                   static_cast<uint8_t>(rest.size() + 1), 0x50};
    second.insert(second.end(), rest.begin(), rest.end());
    first.insert(first.end(), second.begin(), second.end());
    transport.answer(first);
    EXPECT_EQ(mgr.deleteIndividualCA("x"), 0);
}

TEST_F(CertMgrFixture, QueryCertListPrintsNames) {
    std::string list =
        "<child name=\"cert_list\"><ListElem><StringElem>one</StringElem>"
        "<StringElem>two</StringElem></ListElem></child>";
    transport.answer(certAnswer(responseXml("1", "OK", list)));
    std::vector<std::string> names;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.queryCertList(names), 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
    EXPECT_NE(err.find("D [QOR] List of friendly names (2):\nD [QOR] [0] one\nD [QOR] [1] two\n"),
              std::string::npos)
        << err;
}

TEST_F(CertMgrFixture, CAInfoFillsItsThreeOutputs) {
    transport.answer(certAnswer(responseXml(
        "1", "OK",
        stringChild("ca_file_name", "root.pem") + stringChild("ca_dot_pem_path", "/etc/ca/r.pem") +
            stringChild("ca_common_name", "Root_Jan__1_2020_To_Jan__1_2030"))));
    std::string f, p, n;
    EXPECT_EQ(mgr.getCAInfo("Root", f, p, n), 0);
    EXPECT_EQ(f, "root.pem");
    EXPECT_EQ(p, "/etc/ca/r.pem");
    EXPECT_EQ(n, "Root_Jan__1_2020_To_Jan__1_2030");
}

// Limits: nothing that does not fit its buffer is sent, nothing is cut.

TEST_F(CertMgrFixture, FriendlyNameOfThirtyTwoCharactersIsRefusedBeforeSending) {
    std::string name31(31, 'n'), name32(32, 'n');
    transport.answer(certAnswer(kOk));
    EXPECT_EQ(mgr.deleteIndividualCert(name31.c_str()), 0);
    EXPECT_EQ(transport.writes.size(), 1u);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.deleteIndividualCert(name32.c_str()), -1);
    EXPECT_EQ(mgr.exportPubKey(dir.path("x"), name32.c_str()), -1);
    EXPECT_EQ(mgr.generateNewCert("", "", "", "", "", "", "", name32.c_str()), -1);
    writeFile(dir.path("s.pem"), "abc");
    EXPECT_EQ(mgr.uploadSignedCertFile(dir.path("s.pem"), name32.c_str()), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("D [QOR] Friendly name too long (32 characters, at most 31)"),
              std::string::npos)
        << err;
    EXPECT_EQ(transport.writes.size(), 1u);
}

TEST_F(CertMgrFixture, RequestsAtTheirBufferLimitGoOutAndOneMoreByteIsRefused) {
    struct Case {
        const char* templ;
        size_t buffer;
        std::function<int(const std::string&)> run;
    };
    std::string a, b, c;
    std::vector<Case> cases = {
        {certtemplates::kDeleteIndividualCA, 3072,
         [&](const std::string& s) { return mgr.deleteIndividualCA(s); }},
        {certtemplates::kQueryCAInfo, 2048,
         [&](const std::string& s) { return mgr.getCAInfo(s, a, b, c); }},
        {certtemplates::kGenerateNewCert, 3072,
         [&](const std::string& s) { return mgr.generateNewCert(s, "", "", "", "", "", "", "f"); }},
    };
    for (Case& k : cases) {
        // Template text without its conversions, the default or given
        // friendly name, and the NUL.
        size_t fixed = std::string(k.templ).size() + 1;
        size_t conversions = 0;
        for (const char* p = k.templ; (p = std::strstr(p, "%s")); p += 2)
            ++conversions;
        fixed -= conversions * 2;
        if (k.templ == certtemplates::kGenerateNewCert)
            fixed += 1;  // friendly name "f"
        size_t room = k.buffer - fixed;
        transport.writes.clear();
        for (int n = 0; n < 4; ++n)
            transport.answer(certAnswer(kOk));
        EXPECT_EQ(k.run(std::string(room, 'q')), 0) << k.buffer;
        size_t sent = transport.writes.size();
        ASSERT_GE(sent, 1u);
        EXPECT_EQ(requestXml(transport.writes.back()).size() + 1, k.buffer);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(k.run(std::string(room + 1, 'q')), -1);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("request too long"), std::string::npos) << err;
        EXPECT_EQ(transport.writes.size(), sent) << "refused request was sent";
    }
}

TEST_F(CertMgrFixture, EscapedFieldsCountTowardsTheLimit) {
    // 3072 bytes would fit as raw text but not once every '&' is "&amp;".
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.generateNewCert(std::string(600, '&'), "", "", "", "", "", "", nullptr), -1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(transport.writes.empty());
}

TEST(LoadFromFile, ReadsWholeFileAndReportsSize) {
    TempDir dir;
    std::string path = dir.path("f");
    writeFile(path, std::string(5000, 'z'));
    std::vector<uint8_t> buffer(16384, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadFromFile(buffer.data(), buffer.size(), path), 5000);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "D [QOR] Loading file " + path + ", 5000 bytes\n");
    EXPECT_EQ(buffer[4999], 'z');
    EXPECT_EQ(buffer[5000], 0);
}

TEST(LoadFromFile, RefusesFileLargerThanCapacityAndMissingFile) {
    TempDir dir;
    std::string path = dir.path("f");
    writeFile(path, std::string(101, 'z'));
    std::vector<uint8_t> buffer(100, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadFromFile(buffer.data(), buffer.size(), path), -1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(buffer[0], 0);
    writeFile(path, std::string(100, 'z'));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadFromFile(buffer.data(), buffer.size(), path), 100);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(loadFromFile(buffer.data(), buffer.size(), dir.path("missing")), -1);
}

TEST(SaveToFile, WritesAllBytesWithMode0644) {
    TempDir dir;
    std::string path = dir.path("out");
    writeFile(path, "old content that is longer");
    const uint8_t data[] = {'n', 'e', 'w', 0, 1};
    EXPECT_TRUE(saveToFile(data, sizeof data, path));
    EXPECT_EQ(readFile(path), std::string("new\0\1", 5));
    EXPECT_FALSE(saveToFile(data, sizeof data, dir.path("no/such/dir")));
    EXPECT_FALSE(saveToFile(data, sizeof data, ""));
    std::string fresh = dir.path("fresh");
    mode_t old = ::umask(0);
    EXPECT_TRUE(saveToFile(data, sizeof data, fresh));
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(CertMgrFixture, FileOf12288BytesIsRefusedBeforeAnyExchange) {
    writeFile(dir.path("ca.pem"), std::string(12288, 'x'));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.uploadNewCAFile(dir.path("ca.pem")), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("too large to send"), std::string::npos) << err;
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(CertMgrFixture, FileOf12287BytesDoesNotFitEncodingBufferEither) {
    // Its Base64 text is exactly 16384 characters: no room for the NUL.
    writeFile(dir.path("ca.pem"), std::string(12287, 'x'));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.uploadNewCAFile(dir.path("ca.pem")), -1);
    EXPECT_EQ(mgr.uploadSignedCertFile(dir.path("ca.pem"), nullptr), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string line = "D [QOR] File " + dir.path("ca.pem") +
                       " too large to send: its Base64 text needs 16385 bytes with its NUL, "
                       "buffer 16384\n";
    EXPECT_EQ(err, "D [QOR] Loading file " + dir.path("ca.pem") + ", 12287 bytes\n" + line +
                       "D [QOR] Loading file " + dir.path("ca.pem") + ", 12287 bytes\n" + line);
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(CertMgrFixture, LargestSendableFileDependsOnTheFileName) {
    for (std::string name : {"r.pem", "a-much-longer-certificate-name.pem"}) {
        transport.writes.clear();
        std::string path = dir.path(name);
        size_t fixed = std::string(certtemplates::kUploadNewCAFile).size() - 6 + name.size() + 1;
        // Largest size whose request (with its decimal size) fits 16384 bytes.
        size_t largest = 0;
        for (size_t size = 1; size < 12288; ++size) {
            size_t need = fixed + std::to_string(size).size() + (size + 2) / 3 * 4;
            if (need <= 16384)
                largest = size;
        }
        writeFile(path, std::string(largest, 'x'));
        transport.answer(certAnswer(kOk));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(mgr.uploadNewCAFile(path), 0) << name;
        ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(transport.writes.size(), 1u) << name;
        std::string sent = requestXml(transport.writes[0]);
        EXPECT_EQ(sent.size() + 1, fixed + std::to_string(largest).size() + (largest + 2) / 3 * 4)
            << name;
        EXPECT_LE(sent.size() + 1, 16384u);
        EXPECT_NE(sent.find("<IntegerElem>" + std::to_string(largest) + "</IntegerElem>"),
                  std::string::npos);
        // One byte more is refused unsent.
        size_t next = largest + 1;
        writeFile(path, std::string(next, 'x'));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(mgr.uploadNewCAFile(path), -1) << name;
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("uploadNewCAFile request too long"), std::string::npos) << err;
        EXPECT_EQ(transport.writes.size(), 1u);
    }
}

TEST_F(CertMgrFixture, MissingFileFailsWithoutExchange) {
    EXPECT_EQ(mgr.uploadNewCAFile(dir.path("missing.pem")), -1);
    EXPECT_EQ(mgr.uploadSignedCertFile(dir.path("missing.pem"), nullptr), -1);
    writeFile(dir.path("empty.pem"), "");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.uploadNewCAFile(dir.path("empty.pem")), -1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(CertMgrFixture, UploadCARemovesCAListedUnderFullNameFirst) {
    std::string path = dir.path("root.pem");
    writeCertificate(path, "/C=DE/O=Acme/CN=PrinterCA", "20100105120000Z", "20111231235959Z");
    std::string list =
        "<child name=\"cert_list\"><ListElem><StringElem>Other_CA</StringElem>"
        "<StringElem>PrinterCA_Jan__5_2010_To_Dec_31_2011</StringElem>"
        "</ListElem></child>";
    transport.answer(certAnswer(responseXml("1", "OK", list)));
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(kOk));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(mgr.uploadNewCAFile(path), 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(transport.writes.size(), 3u);
    EXPECT_EQ(xmlOfWrite(0), kGolden420);
    EXPECT_NE(xmlOfWrite(1).find("deleteIndividualCA</arg><arg name=\"params\"><ListElem><ListElem>"
                                 "<MapElem><child name=\"ca_common_name\"><StringElem>PrinterCA_"
                                 "Jan__5_2010_To_Dec_31_2011</StringElem>"),
              std::string::npos)
        << xmlOfWrite(1);
    EXPECT_NE(xmlOfWrite(2).find("<StringElem>root.pem</StringElem>"), std::string::npos);
    EXPECT_NE(err.find("D [QOR] CA Common name to match: 'PrinterCA_Jan__5_2010_To_Dec_31_2011'\n"
                       "D [QOR] CA cert exist! Removing...\n"),
              std::string::npos)
        << err;
}

TEST_F(CertMgrFixture, RemoveExistingCAWithoutListedNameDeletesNothing) {
    std::string path = dir.path("root.pem");
    writeCertificate(path, "/CN=PrinterCA", "20100105120000Z", "20111231235959Z");
    transport.answer(certAnswer(responseXml(
        "1", "OK",
        "<child name=\"cert_list\"><ListElem><StringElem>PrinterCA</StringElem></ListElem>"
        "</child>")));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(mgr.removeExistingCA(path));
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(transport.writes.size(), 1u);
}

TEST(CertMgrConstruction, EmptyDevicePathThrowsText) {
    FakePrinter transport;
    try {
        CertMgr mgr(transport.channel(""));
        FAIL() << "no error";
    } catch (const char* text) {
        EXPECT_STREQ(text, "Error: No USB device is specified!");
    }
    EXPECT_THROW(CertMgr{""}, const char*);
}
