// Reading fields out of certificate manager responses.
#include "ObjStoreResponse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "CarefulXPath.h"
#include "CertAnswers.h"
#include "RandomXml.h"

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

// ---- the one-pass readers against one plain read per field ---------------

namespace {

// A queryCertList-like answer: status, message, a list and a few subject
// fields in some order, with the kinds of damage a printer or a cut-off
// transfer leaves, and entries that break the runs of list siblings.
std::string randomAnswer(qor::testing::RandomXml& random) {
    static const char* const kStatus[] = {"1", "1", "1", "1 ", "01", "2", "", " 1"};
    static const char* const kEntries[] = {"<StringElem>%</StringElem>",
                                           "<StringElem>%</StringElem>",
                                           "<StringElem>%</StringElem>\n",
                                           "<StringElem></StringElem>",
                                           "<StringElem>R&amp;D %</StringElem>",
                                           "<StringElem>a<b/>%</StringElem>",
                                           "<IntegerElem>7</IntegerElem>",
                                           "<StringElem/>",
                                           "<!-- c -->"};
    std::vector<std::string> children;
    if (random.below(8))
        children.push_back("<child name=\"status_code\"><IntegerElem>" +
                           std::string(kStatus[random.below(8)]) + "</IntegerElem></child>");
    children.push_back(stringChild("status_mesg", random.below(2) ? "Success" : "busy &amp; x"));
    std::string list = "<child name=\"cert_list\"><ListElem>\n";
    for (uint32_t n = random.below(15); n > 0; --n) {
        std::string entry = kEntries[random.below(9)];
        size_t mark = entry.find('%');
        if (mark != std::string::npos)
            entry.replace(mark, 1, "name" + std::to_string(random.below(100)));
        list += entry;
    }
    list += "</ListElem></child>";
    if (random.below(6))
        children.push_back(list);
    for (const char* field : {"x509_O", "x509_CN", "ca_file_name", "ca_dot_pem_path"}) {
        if (random.below(2))
            children.push_back(stringChild(field, std::string("v-") + field));
    }
    // Shuffled, so that the list may come before the status.
    for (size_t k = children.size(); k > 1; --k)
        std::swap(children[k - 1], children[random.below(static_cast<uint32_t>(k))]);
    std::string answer = "<?xml version=\"1.0\"?>\n<response>\n<MapElem>\n";
    for (const std::string& child : children)
        answer += child + "\n";
    answer += "</MapElem>\n</response>\n";
    switch (random.below(8)) {
        case 0:
        case 1:
            answer.resize(random.below(static_cast<uint32_t>(answer.size())));
            break;
        case 2:
            answer.insert(random.below(static_cast<uint32_t>(answer.size())),
                          random.below(2) ? "</x>" : "<");
            break;
        case 3:
            answer += "junk";
            break;
        default:
            break;
    }
    return answer;
}

struct Reads {
    int code = 0;
    std::vector<std::string> names;
    std::vector<std::string> fields;  // defaults, then CA info
    bool defaults = false;
    std::string out;  // what the reads printed on standard output
};

// What the certificate commands do with an answer (the status code, again
// with the message when it is not 1, then the list; the subject defaults;
// the CA info), one plain read per field and per list position.
Reads plainReads(const std::string& answer) {
    Reads r;
    qor::testing::careful::XPath x(answer);
    ::testing::internal::CaptureStdout();
    r.code = std::atoi(x.evaluate(ObjStoreResponse::kStatusCodePath).c_str());
    if (r.code != 1) {
        x.evaluate(ObjStoreResponse::kStatusCodePath);
        x.evaluate(ObjStoreResponse::kStatusMessagePath);
    }
    r.names = {"untouched"};
    if (x.evaluate(ObjStoreResponse::kStatusCodePath) == "1") {
        r.names.clear();
        for (int n = 1;; ++n) {
            char path[256];
            std::snprintf(path, sizeof path, ObjStoreResponse::kListEntryPath, n);
            std::string value = x.evaluate(path);
            if (value.empty())
                break;
            r.names.push_back(value);
        }
    }
    r.fields.assign(10, "untouched");
    r.defaults = x.evaluate(ObjStoreResponse::kStatusCodePath) == "1";
    if (r.defaults) {
        const char* paths[] = {ObjStoreResponse::kOrgPath,     ObjStoreResponse::kUnitPath,
                               ObjStoreResponse::kCountryPath, ObjStoreResponse::kStatePath,
                               ObjStoreResponse::kCityPath,    ObjStoreResponse::kCommonNamePath,
                               ObjStoreResponse::kAltNamePath};
        for (int k = 0; k < 7; ++k)
            r.fields[k] = x.evaluate(paths[k]);
    }
    if (x.evaluate(ObjStoreResponse::kStatusCodePath) == "1") {
        r.fields[7] = x.evaluate(ObjStoreResponse::kCAFileNamePath);
        r.fields[8] = x.evaluate(ObjStoreResponse::kCAPemPathPath);
        r.fields[9] = x.evaluate(ObjStoreResponse::kCACommonNamePath);
    }
    r.out = ::testing::internal::GetCapturedStdout();
    return r;
}

Reads responseReads(const std::string& answer) {
    Reads r;
    ObjStoreResponse response;
    response.setResponse(answer);
    ::testing::internal::CaptureStdout();
    r.code = response.getStatusCode();
    if (r.code != 1) {
        response.getStatusCode();
        response.getStatusMessage();
    }
    r.names = {"untouched"};
    response.getNameList(r.names);
    r.fields.assign(10, "untouched");
    std::vector<std::string>& f = r.fields;
    r.defaults = response.getCertDefaults(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
    response.getCAInfo(f[7], f[8], f[9]);
    r.out = ::testing::internal::GetCapturedStdout();
    return r;
}

void expectSameReads(const std::string& answer) {
    Reads plain = plainReads(answer);
    Reads fast = responseReads(answer);
    EXPECT_EQ(fast.code, plain.code) << answer;
    EXPECT_EQ(fast.names, plain.names) << answer;
    EXPECT_EQ(fast.defaults, plain.defaults) << answer;
    EXPECT_EQ(fast.fields, plain.fields) << answer;
    EXPECT_EQ(fast.out, plain.out) << answer;
}

}  // namespace

// The same values, and the same error lines as often and in the same order,
// as reading every field and list position on its own.
TEST(ObjStoreResponseOnePass, SameResultsAndLinesAsOneReadPerFieldOnRandomAnswers) {
    qor::testing::RandomXml random(5);
    size_t lists = 0, faulty = 0;
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        std::string answer = randomAnswer(random);
        Reads plain = plainReads(answer);
        lists += plain.names.size() >= 2 && plain.names[0] != "untouched";
        faulty += !plain.out.empty();
        expectSameReads(answer);
    }
    EXPECT_GT(lists, 250u);
    EXPECT_GT(faulty, 300u);
}

// A list of twelve names cut off at every offset: every stage of a
// transfer that stopped early, the status and each list position included.
TEST(ObjStoreResponseOnePass, AnswerCutOffAtEveryOffset) {
    std::string answer = "<?xml version=\"1.0\"?>\n" +
                         responseXml("1", "Success", listOf(12) + stringChild("x509_O", "Org"));
    for (size_t length = 0; length <= answer.size() && !HasFailure(); ++length)
        expectSameReads(answer.substr(0, length));
}

// Every further status read prints again what the first one printed.
TEST(ObjStoreResponseOnePass, RepeatedStatusReadsRepeatTheirLines) {
    ObjStoreResponse r;
    r.setResponse(
        "<response><MapElem><child name=\"status_code\"><IntegerElem>2</IntegerElem>"
        "</child></MapElem></respons>");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(r.getStatusCode(), 2);  // found before the fault: nothing printed
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const char bad[] =
        "<response><MapElem><child name=\"status_code\"></child></MapElem></respons>";
    const std::string line = "Parsing error at character 72, '>'\n";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(qor::testing::careful::XPath(bad).evaluate(ObjStoreResponse::kStatusCodePath), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), line);
    r.setResponse(bad);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(r.getStatusCode(), 0);
    EXPECT_EQ(r.getStatusCode(), 0);
    std::vector<std::string> names = {"kept"};
    r.getNameList(names);
    EXPECT_EQ(names, std::vector<std::string>{"kept"});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), line + line + line);
}
