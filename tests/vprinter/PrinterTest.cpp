#include "Printer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "CaName.h"
#include "TestCertificate.h"

using namespace vprinter;

namespace {

Bytes hex(const std::string& text) {
    Bytes out;
    EXPECT_TRUE(fromHex(text, out)) << text;
    return out;
}

// The answer bytes of one request, all chunks joined.
std::string answer(Printer& p, const std::string& request) {
    Handled h = p.handle(hex(request));
    Bytes all;
    for (const auto& c : h.output)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return toHex(all);
}

Scenario withKind(PrinterKind kind, const std::string& extra = "") {
    Scenario s;
    std::string error;
    EXPECT_TRUE(parseScenario(extra, "t", s, error)) << error;
    s.kind = kind;
    return s;
}

// Collects the journal lines in memory.
struct Journal {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);
    ~Journal() {
        std::fclose(file);
        std::free(data);
    }
    std::string text() {
        std::fflush(file);
        return std::string(data, size);
    }
};

const char kForwardPrefix[] = "A5000F50E063020009";
const char kPreamble[] = "A5001080A45BA45B10EFA45B11EE00FF13EC2E";

}  // namespace

TEST(DirectPrinter, AnswersReadsWithTheEchoedHeaderAndDataLength) {
    Printer p(withKind(PrinterKind::Direct,
                       "ssid = Home\nip = 192.168.1.20\nstatus_8021x = 2\n"
                       "cert_org = Org\ncert_cn = cn1\n"));
    // A5, length 8 + data, 50 E0 D8 00 group item, data length, data
    EXPECT_EQ(answer(p, "A5000650E0D8002808"),
              "A5000D50E0D8002808000548"
              "6F6D6500");
    EXPECT_EQ(answer(p, "A5000650E0D8000A02"), "A5000C50E0D8000A020004C0A80114");
    EXPECT_EQ(answer(p, "A5000650E0D8002A1D"), "A5000950E0D8002A1D000102");
    EXPECT_EQ(answer(p, "A5000650E0D8002A06"),
              "A5000B50E0D8002A060003"
              "4F7267");
    EXPECT_EQ(answer(p, "A5000650E0D8002A0A"),
              "A5000B50E0D8002A0A0003"
              "636E31");
    EXPECT_EQ(answer(p, "A5000650E0D800061F"), "A5000950E0D800061F00012D");
    EXPECT_EQ(answer(p, "A5000650E0D8002815"), "A5000C50E0D8002815000400000000");
}

TEST(DirectPrinter, AnswersTheSurveyWithTheDirectText) {
    Printer p(withKind(PrinterKind::Direct, "survey_direct = Cell 01\\n\nsurvey_forward = XX\n"));
    EXPECT_EQ(answer(p, "A5000650E0D8002839"),
              "A5001050E0D80028390008"
              "43656C6C2030310A");
}

TEST(DirectPrinter, AnswersTheSupportQueryWithA12ByteEcho) {
    Printer p(withKind(PrinterKind::Direct, "support = 7\n"));
    EXPECT_EQ(answer(p, "A5000750E08100020509"), "A5000950E081000205090007");
}

TEST(DirectPrinter, IgnoresForwardedRequests) {
    Printer p(withKind(PrinterKind::Direct));
    EXPECT_EQ(answer(p, std::string(kForwardPrefix) + "A5000650E0D8002808"), "");
}

// A printer is silent to the other kind's requests unless the scenario asks
// for error answers: both are printers that qorconfig must get on with.
TEST(OtherKindsRequests, SilenceByDefaultErrorAnswersWhenAsked) {
    const std::string forwardedRead = std::string(kForwardPrefix) + "A5000650E0D8002808";
    struct Row {
        PrinterKind kind;
        const char* scenario;
        std::string request;
        const char* answer;
    } rows[] = {
        {PrinterKind::Direct, "", forwardedRead, ""},
        {PrinterKind::Direct, "foreign = error\n", forwardedRead, "A50006D4E063020000"},
        {PrinterKind::Forward, "", "A5000650E0D8002808", ""},
        {PrinterKind::Forward, "foreign = error\n", "A5000650E0D8002808", "A50006D4E0D8002808"},
    };
    for (const Row& row : rows) {
        Printer p(withKind(row.kind, row.scenario));
        EXPECT_EQ(answer(p, row.request), row.answer) << row.scenario << row.request;
    }
}

TEST(ForwardPrinter, WrapsTheInnerAnswerSoItStartsAtOffset10) {
    Printer p(withKind(PrinterKind::Forward, "ssid = A\n"));
    std::string a = answer(p, std::string(kForwardPrefix) + "A5000650E0D8002808");
    // outer: A5 len 50 E0 63 02 00 inner-length, then the inner read answer
    EXPECT_EQ(a,
              "A5001450E0630200000D"
              "A5000A50E0D800280800024100");
    EXPECT_EQ(a.substr(20, 2), "A5");
}

TEST(ForwardPrinter, AnswersTheForwardedSurveyButNotThePreamble) {
    Printer p(withKind(PrinterKind::Forward, "survey_forward = Cell\n"));
    EXPECT_EQ(answer(p, kPreamble), "");
    EXPECT_EQ(answer(p, std::string(kForwardPrefix) + "A5000650E0D8002839"),
              "A5001650E0630200000F"
              "A5000C50E0D80028390004"
              "43656C6C");
}

TEST(ForwardPrinter, CutsTheSurveyIntoContinuedPackets) {
    Printer p(withKind(PrinterKind::Forward, "survey_forward = abcd\nsurvey_packets = 2\n"));
    // the first packet carries flags 70 (more follow), the second 50 E0 and the rest
    EXPECT_EQ(answer(p, std::string(kForwardPrefix) + "A5000650E0D8002839"),
              "A5001470E0630200000D"
              "A5000A70E0D80028390002"
              "6162"
              "A5000450E06364");
}

TEST(ForwardPrinter, AnswersTheForwardedSupportReadLongerThan18Bytes) {
    Printer p(withKind(PrinterKind::Forward));
    std::string a = answer(p, std::string(kForwardPrefix) + "A5000650E0D8002801");
    EXPECT_GT(a.size() / 2, 18u);
    EXPECT_EQ(a.substr(a.size() - 2), "01");
}

TEST(ForwardPrinter, IgnoresDirectRequestsAndOtherSubChannels) {
    Printer p(withKind(PrinterKind::Forward));
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "");
    EXPECT_EQ(answer(p, "A5000750E08100020509"), "");
    EXPECT_EQ(answer(p, "A5000F50E063030009A5000650E0D8002808"), "");
}

TEST(Writes, AnswerWithLastByte01AndChangeWhatReadsReturn) {
    Printer p(withKind(PrinterKind::Direct));
    EXPECT_EQ(answer(p, "A5000B50E0DA0128080000024100"), "A5000450E0DA01");
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "A5000A50E0D800280800024100");
    Printer f(withKind(PrinterKind::Forward, "write_status = 2\n"));
    EXPECT_EQ(answer(f,
                     "A5001450E063020"
                     "00EA5000B50E0DA0128080000024100"),
              "A5000E50E06302000007A5000450E0DA02");
}

TEST(Writes, ResetBringsTheConnectionPollsBackToTheStart) {
    Printer p(withKind(PrinterKind::Direct, "connect_after = 1\n"));
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000003");
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000000");
    EXPECT_EQ(answer(p, "A5000A50E0DA01061400000101"), "A5000450E0DA01");
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000003");
}

TEST(Polls, ConnectionAndAddressComeUpAfterTheirCounts) {
    Printer p(
        withKind(PrinterKind::Direct, "connect_after = 2\nip_after = 1\nadapter_after = 1\n"));
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000003");
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000003");
    EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000000");
    EXPECT_EQ(answer(p, "A5000650E0D8000A02").substr(22), "00000000");
    EXPECT_EQ(answer(p, "A5000650E0D8000A02").substr(22), "C0A80114");
    EXPECT_EQ(answer(p, "A5000650E0D800061F").substr(22), "42");
    EXPECT_EQ(answer(p, "A5000650E0D800061F").substr(22), "2D");
}

TEST(Polls, NeverMeansNever) {
    Printer p(withKind(PrinterKind::Direct, "connect_after = never\nip_after = never\n"));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(answer(p, "A5000650E0D8002815").substr(22), "00000003");
        EXPECT_EQ(answer(p, "A5000650E0D8000A02").substr(22), "00000000");
    }
}

TEST(Faults, ErrorRepliesCarryTheFlagsAtByte3) {
    Printer p(withKind(PrinterKind::Direct,
                       "fault = read:28:08 error D4 times 1\n"
                       "fault = write error D8\n"));
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "A50006D4E0D8002808");
    EXPECT_EQ(answer(p, "A5000650E0D8002808").substr(6, 2), "50");
    EXPECT_EQ(answer(p, "A5000B50E0DA0128080000024100"), "A50006D8E0DA012808");
    Printer f(withKind(PrinterKind::Forward, "fault = fwd-read error D4\n"));
    EXPECT_EQ(answer(f, std::string(kForwardPrefix) + "A5000650E0D8002808"), "A50006D4E063020000");
}

TEST(Faults, SilenceTruncationGarbageAndGarbling) {
    Printer p(withKind(PrinterKind::Direct,
                       "ssid = A\n"
                       "fault = request:1 silent\n"
                       "fault = request:2 truncate 5\n"
                       "fault = request:3 garbage 00FF\n"
                       "fault = request:4 garble\n"));
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "");
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "A5000A50E0");
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "00FFA5000A50E0D800280800024100");
    std::string garbled = answer(p, "A5000650E0D8002808");
    EXPECT_EQ(garbled.size(), std::string("A5000A50E0D800280800024100").size());
    EXPECT_NE(garbled.substr(0, 2), "A5");
    EXPECT_NE(garbled.substr(6, 4), "50E0");
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "A5000A50E0D800280800024100");
}

TEST(Faults, SplitSendsOneByteAtATimeWithPauses) {
    Printer p(
        withKind(PrinterKind::Direct, "ssid = A\nfault = read split 30\nfault = read delay 100\n"));
    Handled h = p.handle(hex("A5000650E0D8002808"));
    ASSERT_EQ(h.output.size(), 13u);
    EXPECT_EQ(h.output[0].delayMs, 100);
    for (size_t i = 1; i < h.output.size(); ++i) {
        EXPECT_EQ(h.output[i].bytes.size(), 1u);
        EXPECT_EQ(h.output[i].delayMs, 30);
    }
}

TEST(Faults, StopAnsweringAfterNRequests) {
    Printer p(withKind(PrinterKind::Direct, "stop_after = 2\n"));
    EXPECT_NE(answer(p, "A5000650E0D8002808"), "");
    EXPECT_NE(answer(p, "A5000650E0D8002808"), "");
    EXPECT_EQ(answer(p, "A5000650E0D8002808"), "");
    EXPECT_EQ(answer(p, "A5000650E0D8000A02"), "");
}

TEST(Faults, UnknownSettingGetsAnErrorReply) {
    Printer p(withKind(PrinterKind::Direct));
    EXPECT_EQ(answer(p, "A5000650E0D8007777"), "A50006D4E0D8007777");
}

// A line is written once its answer is out (or dropped), in request order,
// with the times it was received and answered.
TEST(JournalLines, RecordReadsForwardsAndDecodedWritesOnceAnswered) {
    Journal j;
    Printer p(withKind(PrinterKind::Forward));
    p.setJournal(j.file);
    p.handle(hex(std::string(kForwardPrefix) + "A5000650E0D8002839"), 1000.25);
    p.handle(hex("A5001450E06302000EA5000B50E0DA0128080000024100"), 1001);
    p.handle(hex("A5000650E0D8002808"), 1002);
    p.noteStray(hex("0011"), "bytes before a start byte", 1003);
    EXPECT_EQ(j.text(), "");  // all wait for the first answer
    p.answerSent(2, 1010);
    EXPECT_EQ(j.text(), "");
    p.answerSent(1, 1004.5);
    p.handle(hex(std::string(kForwardPrefix) + "A5000650E0D8002808"), 1020);
    p.answersDropped();  // the device closed before its answer went out
    EXPECT_EQ(
        j.text(),
        "{\"seq\":1,\"kind\":\"read\",\"forwarded\":true,\"command\":\"D8\",\"group\":\"28\","
        "\"item\":\"39\",\"hex\":\"A5000F50E063020009A5000650E0D8002839\",\"answered\":true,"
        "\"received_ms\":1000.250,\"answered_ms\":1004.500}\n"
        "{\"seq\":2,\"kind\":\"write\",\"forwarded\":true,\"command\":\"DA\","
        "\"hex\":\"A5001450E06302000EA5000B50E0DA0128080000024100\",\"records\":[{\"group\":"
        "\"28\",\"item\":\"08\",\"value_hex\":\"4100\",\"value_text\":\"A\\u0000\"}],"
        "\"answered\":true,\"received_ms\":1001.000,\"answered_ms\":1010.000}\n"
        "{\"seq\":3,\"kind\":\"read\",\"forwarded\":false,\"command\":\"D8\",\"group\":\"28\","
        "\"item\":\"08\",\"hex\":\"A5000650E0D8002808\",\"answered\":false,"
        "\"note\":\"not answered by this kind of printer\",\"received_ms\":1002.000,"
        "\"answered_ms\":null}\n"
        "{\"seq\":4,\"kind\":\"unknown\",\"forwarded\":false,\"hex\":\"0011\","
        "\"answered\":false,\"note\":\"bytes before a start byte\",\"received_ms\":1003.000,"
        "\"answered_ms\":null}\n"
        "{\"seq\":5,\"kind\":\"read\",\"forwarded\":true,\"command\":\"D8\",\"group\":\"28\","
        "\"item\":\"08\",\"hex\":\"A5000F50E063020009A5000650E0D8002808\",\"answered\":true,"
        "\"received_ms\":1020.000,\"answered_ms\":null}\n");
}

namespace {

std::string certCall(const std::string& method, const std::string& params) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><method name=\"callMethod\" requestID=\"1\">"
           "<arg name=\"objName\">applications.certMgr</arg><arg name=\"method\">" +
           method + "</arg><arg name=\"params\"><ListElem><ListElem><MapElem>" + params +
           "</MapElem></ListElem></ListElem></arg></method>";
}

std::string child(const std::string& name, const std::string& type, const std::string& value) {
    return "<child name=\"" + name + "\"><" + type + ">" + value + "</" + type + "></child>";
}

// Sends a certificate manager call (preamble and call in one packet run) and
// returns the XML answer with the interleaved E0 bytes removed; "" when the
// answer did not start with the fixed prefix.
std::string certAnswer(Printer& p, const std::string& xml) {
    const uint8_t head[] = {0x50, 0xE0, 0xC0, 0x03, 0x00, 0x01};
    Bytes call(head, head + sizeof head);
    call.reserve(sizeof head + xml.size());
    for (char c : xml)
        call.push_back(static_cast<uint8_t>(c));
    Bytes packet = framePacket(call);
    EXPECT_TRUE(p.handle(hex(kPreamble)).output.empty());
    Handled h = p.handle(packet);
    Bytes all;
    for (const auto& c : h.output)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    // collect what each packet holds after its flags byte
    Bytes kept;
    qor::ByteReader r(all);
    uint8_t start;
    uint16_t length;
    qor::ByteSpan body;
    while (r.readU8(start) && start == 0xA5 && r.readBE16(length) && r.readBytes(length, body))
        kept.insert(kept.end(), body.from(1).begin(), body.from(1).end());
    EXPECT_TRUE(r.atEnd());
    if (toHex(qor::ByteSpan(kept).first(7)) !=
        "E0C0030001"
        "00E0")
        return "";
    std::string out;
    for (uint8_t b : qor::ByteSpan(kept).from(7))
        if (b != 0xE0)
            out.push_back(static_cast<char>(b));
    return out;
}

}  // namespace

TEST(CertManager, AnswersWithThePrefixAndAStatusResponse) {
    Printer p(withKind(PrinterKind::Forward, "cert_default.O = R&D\ncert_chunk = 40\n"));
    std::string a = certAnswer(p, certCall("readCertDefaults", ""));
    EXPECT_EQ(a.find("<response><MapElem><child name=\"status_code\"><IntegerElem>1</IntegerElem>"),
              a.find("<response>"));
    EXPECT_NE(a.find("<child name=\"x509_O\"><StringElem>R&amp;D</StringElem></child>"),
              std::string::npos);
    EXPECT_NE(a.find("</MapElem></response>"), std::string::npos);
}

namespace {

std::string uploadCa(const std::string& fileName, const std::string& pem) {
    Bytes data(pem.begin(), pem.end());
    return certCall("uploadNewCAFile",
                    child("ca_file_name", "StringElem", fileName) +
                        child("ca_dot_pem_size", "IntegerElem", std::to_string(data.size())) +
                        child("ca_dot_pem_file", "BinaryElem", base64Encode(data)));
}

}  // namespace

TEST(CertManager, KeepsCasAndCertificatesInItsStore) {
    Printer p(withKind(PrinterKind::Direct, "ca = RootCA\ncert = old\n"));
    EXPECT_NE(
        certAnswer(p, certCall("queryCAList", ""))
            .find("<child name=\"cert_list\"><ListElem><StringElem>RootCA</StringElem></ListElem>"),
        std::string::npos);
    std::string pem =
        vptest::pemCertificate("/O=Acme/CN=Other", "20200301000000Z", "20300301000000Z");
    ASSERT_FALSE(pem.empty());
    EXPECT_NE(certAnswer(p, uploadCa("b.pem", pem)).find("<IntegerElem>1</IntegerElem>"),
              std::string::npos);
    EXPECT_NE(
        certAnswer(p, certCall("queryCAList", ""))
            .find("<StringElem>RootCA</StringElem><StringElem>Other_Mar__1_2020_To_Mar__1_2030"
                  "</StringElem></ListElem>"),
        std::string::npos);
    std::string info =
        certAnswer(p, certCall("queryCAInfo", child("ca_common_name", "StringElem", "RootCA")));
    EXPECT_NE(info.find("<child name=\"ca_file_name\"><StringElem>RootCA.pem</StringElem>"),
              std::string::npos);
    std::string del =
        certCall("deleteIndividualCA", child("ca_common_name", "StringElem", "RootCA"));
    EXPECT_NE(certAnswer(p, del).find("<IntegerElem>1</IntegerElem>"), std::string::npos);
    EXPECT_NE(certAnswer(p, del).find("<IntegerElem>2</IntegerElem>"), std::string::npos);
    // a declared size that does not match the data is refused
    std::string bad =
        certCall("uploadNewCAFile", child("ca_file_name", "StringElem", "c.pem") +
                                        child("ca_dot_pem_size", "IntegerElem", "4") +
                                        child("ca_dot_pem_file", "BinaryElem", "YWJj"));
    EXPECT_NE(certAnswer(p, bad).find("<IntegerElem>3</IntegerElem>"), std::string::npos);
    EXPECT_NE(certAnswer(p, certCall("queryCertList", "")).find("<StringElem>old</StringElem>"),
              std::string::npos);
}

TEST(CertManager, ListsAnUploadedCaUnderItsCommonNameAndValidity) {
    Printer p(withKind(PrinterKind::Forward));
    std::string pem =
        vptest::pemCertificate("/C=DE/O=Acme/CN=PrinterCA", "100105000000Z", "111231235959Z");
    ASSERT_FALSE(pem.empty());
    EXPECT_NE(certAnswer(p, uploadCa("root.pem", pem)).find("<IntegerElem>1</IntegerElem>"),
              std::string::npos);
    const std::string listed = "PrinterCA_Jan__5_2010_To_Dec_31_2011";
    EXPECT_NE(certAnswer(p, certCall("queryCAList", ""))
                  .find("<ListElem><StringElem>" + listed + "</StringElem></ListElem>"),
              std::string::npos);
    std::string info =
        certAnswer(p, certCall("queryCAInfo", child("ca_common_name", "StringElem", listed)));
    EXPECT_NE(info.find("<child name=\"ca_file_name\"><StringElem>root.pem</StringElem>"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("<child name=\"ca_common_name\"><StringElem>" + listed), std::string::npos);
    // The same certificate again replaces the entry; the file name is not the key.
    certAnswer(p, uploadCa("again.pem", pem));
    std::string list = certAnswer(p, certCall("queryCAList", ""));
    EXPECT_EQ(list.find(listed), list.rfind(listed)) << list;
    // Something that is not a certificate is refused and not listed.
    std::string refused = certAnswer(p, uploadCa("junk.pem", "not a certificate\n"));
    EXPECT_NE(refused.find("<IntegerElem>3</IntegerElem>"), std::string::npos);
    EXPECT_NE(refused.find("Not a PEM certificate"), std::string::npos);
    EXPECT_EQ(certAnswer(p, certCall("queryCAList", "")).find("junk"), std::string::npos);
}

TEST(CaNames, CommonNameKeepsLaterComponentsAndDaysArePadded) {
    std::string name, why;
    std::string pem =
        vptest::pemCertificate("/C=DE/CN=Root CA/O=Acme", "20200301000000Z", "20451210000000Z");
    ASSERT_TRUE(caListName(Bytes(pem.begin(), pem.end()), name, why)) << why;
    EXPECT_EQ(name, "Root CA/O=Acme_Mar__1_2020_To_Dec_10_2045");
    // Two-digit years below 50 are in this century, the others in the last.
    pem = vptest::pemCertificate("/CN=A", "491010000000Z", "500228000000Z");
    ASSERT_TRUE(caListName(Bytes(pem.begin(), pem.end()), name, why)) << why;
    EXPECT_EQ(name, "A_Oct_10_2049_To_Feb_28_1950");
    pem = vptest::pemCertificate("/C=DE/O=Acme", "20100105000000Z", "20111231000000Z");
    EXPECT_FALSE(caListName(Bytes(pem.begin(), pem.end()), name, why));
    EXPECT_EQ(why, "Certificate has no common name");
    EXPECT_FALSE(caListName(Bytes{'x'}, name, why));
    EXPECT_EQ(why, "Not a PEM certificate");
    EXPECT_FALSE(caListName(Bytes(), name, why));
}

TEST(CertManager, SignedCertificatesMustBeCertificates) {
    Printer p(withKind(PrinterKind::Direct));
    std::string pem = vptest::pemCertificate("/CN=printer", "20240101000000Z", "20300101000000Z");
    auto upload = [&](const std::string& text) {
        Bytes data(text.begin(), text.end());
        return certCall(
            "uploadSignedCertFile",
            child("cert_friendly_name", "StringElem", "AirJoinHelperTool") +
                child("cert_syst_dot_pem_size", "IntegerElem", std::to_string(data.size())) +
                child("cert_syst_dot_pem_file", "BinaryElem", base64Encode(data)));
    };
    EXPECT_NE(certAnswer(p, upload("junk")).find("<IntegerElem>3</IntegerElem>"),
              std::string::npos);
    EXPECT_EQ(certAnswer(p, certCall("queryCertList", "")).find("AirJoinHelperTool"),
              std::string::npos);
    EXPECT_NE(certAnswer(p, upload(pem)).find("<IntegerElem>1</IntegerElem>"), std::string::npos);
    EXPECT_NE(certAnswer(p, certCall("queryCertList", ""))
                  .find("<StringElem>AirJoinHelperTool</StringElem>"),
              std::string::npos);
}

TEST(CertManager, ExportsTheRequestOfAGeneratedCertificate) {
    Printer p(withKind(PrinterKind::Direct));
    std::string name = child("cert_friendly_name", "StringElem", "AirJoinHelperTool");
    EXPECT_NE(certAnswer(p, certCall("exportPubKey", name)).find("<IntegerElem>2</IntegerElem>"),
              std::string::npos);
    certAnswer(p, certCall("generateNewCert", name + child("x509_CN", "StringElem", "me")));
    std::string a = certAnswer(p, certCall("exportPubKey", name));
    std::string b64;
    size_t at = a.find("<BinaryElem>");
    ASSERT_NE(at, std::string::npos);
    b64 = a.substr(at + 12, a.find("</BinaryElem>") - at - 12);
    Bytes pem;
    ASSERT_TRUE(base64Decode(b64, pem));
    EXPECT_EQ(std::string(pem.begin(), pem.end()).rfind("-----BEGIN CERTIFICATE REQUEST-----\n", 0),
              0u);
}

TEST(CertManager, ForcedStatusAndUnknownMethods) {
    Printer p(withKind(PrinterKind::Direct, "cert_status.queryCAList = 7 Store locked\n"));
    std::string a = certAnswer(p, certCall("queryCAList", ""));
    EXPECT_NE(a.find("<IntegerElem>7</IntegerElem>"), std::string::npos);
    EXPECT_NE(a.find("<StringElem>Store locked</StringElem>"), std::string::npos);
    EXPECT_NE(certAnswer(p, certCall("frobnicate", "")).find("<IntegerElem>5</IntegerElem>"),
              std::string::npos);
}

TEST(Base64, EncodesAndDecodesAllPaddings) {
    for (std::string text : {"", "a", "ab", "abc", "abcd"}) {
        Bytes in(text.begin(), text.end()), out;
        ASSERT_TRUE(base64Decode(base64Encode(in), out));
        EXPECT_EQ(out, in);
    }
    EXPECT_EQ(base64Encode(Bytes{'a', 'b'}), "YWI=");
    Bytes out;
    EXPECT_FALSE(base64Decode("YW*=", out));
    EXPECT_FALSE(base64Decode("YQ==YQ", out));
}
