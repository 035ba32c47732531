// Path compilation, sibling numbering, predicates and the first-match stop
// of the XPath subset.
#include "SimpleXPath.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "CarefulXPath.h"
#include "RandomXml.h"

namespace qor {
namespace {

std::string eval(const std::string& document, const std::string& path) {
    simpleXPath query(document);
    return query.evaluate(path);
}

// ---- path compilation --------------------------------------------------------

TEST(XPathCompile, SplitsOnSlashesAndTrimsBlanks) {
    std::vector<XPathStep> steps = simpleXPath::compile(" / r / L ");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].name, "r");
    EXPECT_EQ(steps[1].name, "L");
    EXPECT_EQ(steps[0].predicateKind, "");
}

TEST(XPathCompile, SkipsEmptyStepsAndTextBeforeFirstSlash) {
    std::vector<XPathStep> steps = simpleXPath::compile("junk//r///L/");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].name, "r");
    EXPECT_EQ(steps[1].name, "L");
    EXPECT_TRUE(simpleXPath::compile("noslash").empty());
    EXPECT_TRUE(simpleXPath::compile("").empty());
    EXPECT_TRUE(simpleXPath::compile("/ / /").empty());
}

TEST(XPathCompile, PositionPredicatesOneToNine) {
    std::vector<XPathStep> steps = simpleXPath::compile("/S [ 2 ]/T[9]/U[1x]");
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].name, "S");
    EXPECT_EQ(steps[0].predicateKind, "<INDEX>");
    EXPECT_EQ(steps[0].predicateValue, " 2 ");
    EXPECT_EQ(steps[0].index, 2);
    EXPECT_EQ(steps[1].index, 9);
    EXPECT_EQ(steps[2].predicateKind, "<INDEX>");  // leading digits, like atoi
    EXPECT_EQ(steps[2].index, 1);
}

TEST(XPathCompile, OtherPositionsAreUndefined) {
    for (const char* path :
         {"/S[0]", "/S[10]", "/S[-1]", "/S[abc]", "/S[]", "/S[99999999999999]"}) {
        std::vector<XPathStep> steps = simpleXPath::compile(path);
        ASSERT_EQ(steps.size(), 1u) << path;
        EXPECT_EQ(steps[0].name, "S") << path;
        EXPECT_EQ(steps[0].predicateKind, "<UNDEFINED>") << path;
        EXPECT_EQ(steps[0].predicateValue, "") << path;
    }
}

TEST(XPathCompile, AttributePredicates) {
    std::vector<XPathStep> steps = simpleXPath::compile("/child[@ name = 'a b' ]");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].name, "child");
    EXPECT_EQ(steps[0].predicateKind, "name");
    EXPECT_EQ(steps[0].predicateValue, "a b");
    steps = simpleXPath::compile("/c[@k='']");
    EXPECT_EQ(steps[0].predicateKind, "k");
    EXPECT_EQ(steps[0].predicateValue, "");
}

TEST(XPathCompile, UnreadableAttributePredicateMeansNoPredicate) {
    for (const char* path :
         {"/c[@name]", "/c[@name=v]", "/c[@name='v]", "/c[@name=\"v\"]", "/c[2"}) {
        std::vector<XPathStep> steps = simpleXPath::compile(path);
        ASSERT_EQ(steps.size(), 1u) << path;
        EXPECT_EQ(steps[0].name, "c") << path;
        EXPECT_EQ(steps[0].predicateKind, "") << path;
    }
}

// ---- evaluation --------------------------------------------------------------

const char kList[] = "<r><L><S>a</S><S>b</S></L></r>";

TEST(XPathEvaluate, PositionPredicatesPickSiblings) {
    EXPECT_EQ(eval(kList, "/r/L/S[2]"), "b");
    EXPECT_EQ(eval(kList, "/r/L/S[1]"), "a");
    EXPECT_EQ(eval(kList, "/r/L/S"), "a");
    EXPECT_EQ(eval(kList, "/r/L/S[3]"), "");
    EXPECT_EQ(eval(kList, "/r[1]/L[1]/S[2]"), "b");
}

TEST(XPathEvaluate, PositionsStopAtNine) {
    std::string doc = "<r><L>";
    for (int k = 1; k <= 10; ++k)
        doc += "<S>" + std::to_string(k) + "</S>";
    doc += "</L></r>";
    EXPECT_EQ(eval(doc, "/r/L/S[9]"), "9");
    EXPECT_EQ(eval(doc, "/r/L/S[10]"), "");
}

TEST(XPathEvaluate, NumberingRestartsAfterElementOfOtherName) {
    const char doc[] = "<r><S>1</S><T>x</T><S>2</S><S>3</S></r>";
    EXPECT_EQ(eval(doc, "/r/S[1]"), "1");
    EXPECT_EQ(eval(doc, "/r/S[2]"), "3");
    EXPECT_EQ(eval(doc, "/r/S[3]"), "");
}

TEST(XPathEvaluate, NumberingFollowsMostRecentlyClosedElement) {
    // Numbering looks at the element that closed last, whatever its depth:
    // the first child of L, after a closed S, counts as the second S.
    EXPECT_EQ(eval("<r><S>a</S><L><x/></L><S>b</S></r>", "/r/S[1]"), "a");
    EXPECT_EQ(eval("<r><S><x/></S><S>b</S></r>", "/r/S[2]"), "b");
    EXPECT_EQ(eval("<r><S>a</S><L><S>b</S></L></r>", "/r/L/S[2]"), "b");
    EXPECT_EQ(eval("<r><S>a</S><L><S>b</S></L></r>", "/r/L/S[1]"), "");
    // An element nested in its namesake counts on from the one that closed last.
    EXPECT_EQ(eval("<r><S>a</S><S><S>c</S></S></r>", "/r/S/S[2]"), "c");
}

TEST(XPathEvaluate, AttributePredicateMatchesExactValue) {
    const char doc[] =
        "<response><MapElem>"
        "<child name=\"xy\"><IntegerElem>1</IntegerElem></child>"
        "<child name=\"X\"><IntegerElem>2</IntegerElem></child>"
        "<child name=\"x\"><IntegerElem>3</IntegerElem></child>"
        "<child><IntegerElem>4</IntegerElem></child>"
        "</MapElem></response>";
    EXPECT_EQ(eval(doc, "/response/MapElem/child[@name='x']/IntegerElem"), "3");
    EXPECT_EQ(eval(doc, "/response/MapElem/child[@name='X']/IntegerElem"), "2");
    EXPECT_EQ(eval(doc, "/response/MapElem/child[@name='']/IntegerElem"), "4");  // absent = empty
    EXPECT_EQ(eval(doc, "/response/MapElem/child[@name='z']/IntegerElem"), "");
    EXPECT_EQ(eval(doc, "/response/MapElem/child/IntegerElem"), "1");
    EXPECT_EQ(eval(doc, "/response/MapElem/child[@name=x]/IntegerElem"), "1");  // no predicate
}

TEST(XPathEvaluate, UndefinedPredicateNeverMatches) {
    EXPECT_EQ(eval(kList, "/r/L/S[foo]"), "");
    EXPECT_EQ(eval(kList, "/r/L[0]/S"), "");
}

TEST(XPathEvaluate, FirstMatchInOrderOfEndTagsWins) {
    EXPECT_EQ(eval("<r><a><b>1</b></a><a><b>2</b></a></r>", "/r/a/b"), "1");
    // The outer element ends after its descendants: a deeper match wins.
    EXPECT_EQ(eval("<r><a>outer<a>inner</a></a></r>", "/r/a"), "outer");
    EXPECT_EQ(eval("<r><a>outer<a>inner</a></a></r>", "/r/a/a"), "inner");
}

TEST(XPathEvaluate, OnlyOwnTextIsCollected) {
    EXPECT_EQ(eval("<r>a<b>c</b>d</r>", "/r"), "ad");
    EXPECT_EQ(eval("<r>a<b>c</b>d</r>", "/r/b"), "c");
}

TEST(XPathEvaluate, LeadingWhiteSpaceDroppedTrailingKept) {
    EXPECT_EQ(eval("<r><v>\n  abc \n</v></r>", "/r/v"), "abc \n");
    EXPECT_EQ(eval("<r><v>a &amp; b</v></r>", "/r/v"), "a & b");
}

TEST(XPathEvaluate, PathMustMatchFromRootWithSameDepth) {
    EXPECT_EQ(eval(kList, "/L/S"), "");
    EXPECT_EQ(eval(kList, "/r/L"), "");  // L has no own text
    EXPECT_EQ(eval(kList, "/r/L/S/T"), "");
    EXPECT_EQ(eval(kList, ""), "");
    EXPECT_EQ(eval(kList, "/"), "");
    EXPECT_EQ(eval(kList, "/R/L/S"), "");  // names compare with case
}

TEST(XPathEvaluate, FailedParseKeepsEarlierMatchOnly) {
    const char doc[] = "<r><v>1</v><x>2</y></r>";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(eval(doc, "/r/v"), "1");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // stopped before the error
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(eval(doc, "/r/x"), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Parsing error at character 18, '>'\n");
}

TEST(XPathEvaluate, RepeatedQueriesOnOneObjectAreIndependent) {
    simpleXPath query(kList);
    EXPECT_EQ(query.evaluate("/r/L/S[2]"), "b");
    EXPECT_EQ(query.evaluate("/r/L/S[3]"), "");
    EXPECT_EQ(query.evaluate(std::string("/r/L/S")), "a");
    EXPECT_EQ(query.evaluate(static_cast<const char*>(nullptr)), "");
}

TEST(XPathEvaluate, DocumentEndsAtFirstNul) {
    std::string doc("<r><v>1</v>\0<w>2</w></r>", 24);
    EXPECT_EQ(eval(doc, "/r/v"), "1");
    EXPECT_EQ(eval(doc, "/r/w"), "");
}

// A query that can never match still reads the document: a malformed one
// reports the parser's error line exactly as a query matching nothing does.
TEST(XPathEvaluate, NeverMatchingQueryStillReportsMalformedDocument) {
    const std::string bad = "<r><S>a</S><S>b</T></r>";
    for (const char* path : {"/r/S[10]", "/r/S[x]", "/r[0]/S", "/r/nothing"}) {
        simpleXPath query(bad);
        ::testing::internal::CaptureStdout();
        std::string value = query.evaluate(path);
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(value, "") << path;
        EXPECT_EQ(out, "Parsing error at character 18, '>'\n") << path;
    }
    simpleXPath query("<r><S>a</S></r>");
    EXPECT_EQ(query.evaluate("/r/S[1]"), "a");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(query.evaluate("/r/S[10]"), "");  // no earlier result left over
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(query.evaluate("/r/S"), "a");
}

// Queries over a shared document read it in place and give what a copy gives.
TEST(XPathEvaluate, SharedDocumentGivesSameResultsAsCopy) {
    std::string text = "<r><S n=\"1\">a&amp;b</S><S n=\"2\">c</S></r>";
    auto shared = std::make_shared<const std::string>(text + std::string(1, '\0') + "<x/>");
    simpleXPath fromShared(shared);
    simpleXPath fromCopy(text);
    for (const char* path : {"/r/S[1]", "/r/S[2]", "/r/S[@n='2']", "/r/S[3]", "/r/S[10]", "/r"}) {
        EXPECT_EQ(fromShared.evaluate(path), fromCopy.evaluate(path)) << path;
    }
    EXPECT_EQ(fromShared.evaluate("/r/S[1]"), "a&b");
    EXPECT_EQ(fromShared.evaluate("/x"), "");  // the text ends at its first NUL
    simpleXPath none(std::shared_ptr<const std::string>{});
    EXPECT_EQ(none.evaluate("/r"), "");
}

// ---- several queries in one pass, against one plain query each -----------

std::string randomPath(testing::RandomXml& random) {
    static const char* const kNames[] = {"S", "S", "L", "a", "b"};
    static const char* const kPredicates[] = {"",    "",     "",        "",        "[1]",
                                              "[2]", "[3]",  "[9]",     "[10]",    "[@b='x y']",
                                              "[x]", "[ 2]", "[@a='']", "[@S='a']"};
    std::string path = random.below(5) ? "/r" : "";
    for (uint32_t depth = 1 + random.below(random.below(4) ? 2 : 3); depth > 0; --depth)
        path += std::string("/") + kNames[random.below(5)] + kPredicates[random.below(14)];
    return path;
}

// Every answer of a pass is what the plain query gives alone, and what the
// plain query prints is the pass's report exactly when that query found no
// match; a pass prints nothing itself, and evaluate prints what it should.
TEST(XPathEvaluateAll, SameAnswersAndLinesAsOneQueryEachOnRandomDocuments) {
    testing::RandomXml random(11);
    size_t matched = 0, faulty = 0;  // how much of the ground the inputs cover
    for (int round = 0; round < 3000; ++round) {
        std::string doc = round % 4 == 0 ? random.document() : random.tree();
        std::vector<std::string> paths;
        std::vector<XPathQuery> queries;
        for (uint32_t n = 1 + random.below(6); n > 0; --n)
            paths.push_back(randomPath(random));
        // Often one query that can never match beside a few that can.
        if (random.below(2))
            paths.insert(paths.begin() + random.below(static_cast<uint32_t>(paths.size())),
                         random.below(2) ? "/r/S[10]" : "/r/S[x]");
        for (const std::string& path : paths)
            queries.push_back(simpleXPath::compile(path));
        simpleXPath fast(doc);
        std::string report = "old";
        ::testing::internal::CaptureStdout();
        std::vector<XPathAnswer> answers = fast.evaluateAll(queries, report);
        ASSERT_EQ(::testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(answers.size(), paths.size());
        faulty += !report.empty();
        for (size_t q = 0; q < paths.size(); ++q) {
            matched += answers[q].matched;
            testing::careful::XPath careful(doc);
            ::testing::internal::CaptureStdout();
            std::string value = careful.evaluate(paths[q]);
            std::string printed = ::testing::internal::GetCapturedStdout();
            ASSERT_EQ(answers[q].value, value) << doc << " / " << paths[q];
            ASSERT_EQ(answers[q].matched ? "" : report, printed) << doc << " / " << paths[q];
            ::testing::internal::CaptureStdout();
            ASSERT_EQ(fast.evaluate(paths[q]), value) << doc << " / " << paths[q];
            ASSERT_EQ(::testing::internal::GetCapturedStdout(), printed)
                << doc << " / " << paths[q];
        }
    }
    EXPECT_GT(matched, 500u);
    EXPECT_GT(faulty, 500u);
}

TEST(XPathEvaluateAll, MatchedTellsAnEmptyValueFromNoMatch) {
    simpleXPath query("<r><S></S><S>b</S></r><x y");
    std::vector<XPathQuery> queries = {simpleXPath::compile("/r/S[1]"),
                                       simpleXPath::compile("/r/S[2]"),
                                       simpleXPath::compile("/r/S[3]"),
                                       simpleXPath::compile("/r/S[10]"),
                                       {}};
    std::string report;
    std::vector<XPathAnswer> answers = query.evaluateAll(queries, report);
    ASSERT_EQ(answers.size(), 5u);
    EXPECT_TRUE(answers[0].matched);
    EXPECT_EQ(answers[0].value, "");
    EXPECT_TRUE(answers[1].matched);
    EXPECT_EQ(answers[1].value, "b");
    EXPECT_FALSE(answers[2].matched);
    EXPECT_FALSE(answers[3].matched);
    EXPECT_FALSE(answers[4].matched);
    EXPECT_EQ(report, "<<end of string>>\n");
    // The one that can match does so early; the other still reads the
    // whole text for its outcome.
    answers = query.evaluateAll({queries[1], queries[3]}, report);
    EXPECT_EQ(answers[0].value, "b");
    EXPECT_EQ(report, "<<end of string>>\n");
    EXPECT_TRUE(query.evaluateAll({}, report).empty());
    EXPECT_EQ(report, "");
}

TEST(XPathBounds, LargeDocumentsTakeLinearTime) {
    const size_t n = 1 << 17;
    std::string deep, wide, path = "/a";
    for (size_t k = 0; k < n / 3; ++k)
        deep += "<a>";
    for (size_t k = 0; k < n / 3; ++k)
        deep += "</a>";
    wide = "<r>";
    for (size_t k = 0; k < n / 8; ++k)
        wide += "<S k=\"v\">x</S>";
    wide += "</r>";
    for (size_t k = 0; k < 2000; ++k)
        path += "/a";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(eval(deep, path), "");
    EXPECT_EQ(eval(deep, "/a/a"), "");
    EXPECT_EQ(eval(wide, "/r/S[@k='w']"), "");
    EXPECT_EQ(eval(wide, "/r/S[9]"), "x");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace qor
