// Reading fields out of certificate manager responses.
#include "ObjStoreResponse.h"

#include <gtest/gtest.h>

#include "FakeTransport.h"

using namespace qor;
using namespace qor::test;

namespace {

std::string listOf(int count) {
    std::string items;
    for (int k = 1; k <= count; ++k)
        items += "<StringElem>name" + std::to_string(k) + "</StringElem>";
    return "<child name=\"cert_list\"><ListElem>" + items + "</ListElem></child>";
}

}  // namespace

TEST(ObjStoreResponse, StatusCodeConvertsLikeAtoi) {
    ObjStoreResponse r;
    EXPECT_EQ(r.getStatusCode(), 0);
    EXPECT_EQ(r.getStatusMessage(), "");
    r.setResponse(responseXml("2", "busy"));
    EXPECT_EQ(r.getStatusCode(), 2);
    EXPECT_EQ(r.getStatusMessage(), "busy");
    r.setResponse(responseXml("12abc", ""));
    EXPECT_EQ(r.getStatusCode(), 12);
    r.setResponse(responseXml("1 ", ""));
    EXPECT_EQ(r.getStatusCode(), 1);
}

TEST(ObjStoreResponse, ReadersRequireStatusTextExactlyOne) {
    for (const char* status : {"1 ", "01", "2", ""}) {
        ObjStoreResponse r;
        r.setResponse(responseXml(
            status, "m",
            stringChild("x509_O", "Org") + listOf(2) + stringChild("ca_file_name", "f")));
        std::string o = "u", ou = "u", c = "u", st = "u", l = "u", cn = "u", an = "u";
        EXPECT_FALSE(r.getCertDefaults(o, ou, c, st, l, cn, an)) << status;
        EXPECT_EQ(o, "u");
        std::vector<std::string> names = {"kept"};
        r.getNameList(names);
        EXPECT_EQ(names, std::vector<std::string>{"kept"});
        std::string f = "u", p = "u", n = "u";
        r.getCAInfo(f, p, n);
        EXPECT_EQ(f, "u");
        uint8_t buffer[8] = {};
        EXPECT_EQ(r.getCSRFile(buffer, sizeof buffer), 0);
    }
}

TEST(ObjStoreResponse, NameListStopsAtNineAndAtFirstEmptyEntry) {
    ObjStoreResponse r;
    r.setResponse(responseXml("1", "", listOf(12)));
    std::vector<std::string> names = {"old"};
    r.getNameList(names);
    ASSERT_EQ(names.size(), 9u);
    EXPECT_EQ(names.front(), "name1");
    EXPECT_EQ(names.back(), "name9");

    r.setResponse(responseXml(
        "1", "",
        "<child name=\"cert_list\"><ListElem><StringElem>a</StringElem><StringElem></StringElem>"
        "<StringElem>c</StringElem></ListElem></child>"));
    r.getCANameList(names);
    EXPECT_EQ(names, std::vector<std::string>{"a"});

    r.setResponse(responseXml("1", ""));
    r.getNameList(names);
    EXPECT_TRUE(names.empty());
}

TEST(ObjStoreResponse, CSRDecodesIntoCapacityOrFails) {
    ObjStoreResponse r;
    r.setResponse(responseXml(
        "1", "", "<child name=\"cert_dot_csr_file\"><BinaryElem>YWJj\nZGVm</BinaryElem></child>"));
    uint8_t buffer[6] = {};
    EXPECT_EQ(r.getCSRFile(buffer, 6), 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "abcdef");
    EXPECT_EQ(r.getCSRFile(buffer, 5), -1);
}

TEST(ObjStoreResponse, FieldsMatchOnlyTheirExactChildName) {
    ObjStoreResponse r;
    r.setResponse(responseXml("1", "",
                              stringChild("x509_OU", "unit") + stringChild("x509_O ", "no") +
                                  stringChild("x509_O", "org") + stringChild("x509_CN", "cn")));
    std::string o, ou, c = "c?", st, l, cn, an;
    EXPECT_TRUE(r.getCertDefaults(o, ou, c, st, l, cn, an));
    EXPECT_EQ(o, "org");
    EXPECT_EQ(ou, "unit");
    EXPECT_EQ(c, "");  // absent fields read empty
    EXPECT_EQ(cn, "cn");
}

TEST(ObjStoreResponse, SetResponseKeepsTextUpToNul) {
    ObjStoreResponse r;
    r.setResponse(std::string("<a/>\0<b/>", 9));
    EXPECT_EQ(r.response(), "<a/>");
}

TEST(ObjStoreResponse, UnparsableResponseReadsEmpty) {
    ObjStoreResponse r;
    ::testing::internal::CaptureStdout();  // the parser reports on standard output
    r.setResponse("<response><MapElem><child name='status_code'>");
    EXPECT_EQ(r.getStatusCode(), 0);
    ::testing::internal::GetCapturedStdout();
}
