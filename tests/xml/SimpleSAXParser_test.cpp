// Events, entity decoding, error reports, the "xml" name rule and stop
// requests of the SAX parser.
#include "SimpleSAXParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CarefulSaxParser.h"
#include "RandomXml.h"
#include "RecordingHandler.h"

namespace qor {
namespace {

using Events = std::vector<std::string>;
using qor::testing::RecordingHandler;

struct Outcome {
    int result;
    Events events;
    std::string out;  // what the parser printed on standard output
};

Outcome run(const std::string& text, const std::string& stopAfter = "") {
    RecordingHandler handler;
    handler.stopAfter = stopAfter;
    SimpleSAXParser parser(&handler);
    ::testing::internal::CaptureStdout();
    int result = parser.parse(text);
    std::string out = ::testing::internal::GetCapturedStdout();
    return {result, handler.events, out};
}

// ---- text runs and attribute values at the edges of the text -------------

// Parses `text` from a heap block of exactly its length plus the NUL, so a
// read past the end of the text is caught by the address sanitizer.
Outcome runExact(const std::string& text) {
    std::vector<char> block(text.begin(), text.end());
    block.push_back('\0');
    block.shrink_to_fit();
    RecordingHandler handler;
    SimpleSAXParser parser(&handler);
    ::testing::internal::CaptureStdout();
    int result = parser.parse(block.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    return {result, handler.events, out};
}

TEST(SaxTextRuns, RunsWithAndWithoutEntitiesUpToTheEndOfTheText) {
    struct Case {
        const char* text;
        const char* run;  // the characters event
    };
    const Case cases[] = {
        {"<a>plain", "chars [plain] 5"},
        {"<a>x", "chars [x] 1"},
        {"<a>  trailing  ", "chars [trailing  ] 10"},
        {"<a>&amp;", "chars [&] 5"},
        {"<a>x&lt;", "chars [x<] 5"},
        {"<a>x &amp", "chars [x &amp] 6"},
        {"<a>&", "chars [&] 1"},
        {"<a>&;", "chars [] 2"},
        {"<a>&x;y", "chars [y] 4"},
        {"<a>&x;&amp;", "chars [&amp;] 8"},
        {"<a>&amp;lt;", "chars [&lt;] 8"},
        {"<a>a;b&c", "chars [a;b&c] 5"},
    };
    for (const Case& c : cases) {
        Outcome o = runExact(c.text);
        EXPECT_EQ(o.result, 0) << c.text;
        EXPECT_EQ(o.out, "") << c.text;
        EXPECT_EQ(o.events, (Events{"startDocument", "start a", c.run, "endDocument"})) << c.text;
    }
}

TEST(SaxTextRuns, RunEndsAtLessThanWhetherOrNotItHoldsEntities) {
    EXPECT_EQ(runExact("<a>one</a>").events,
              (Events{"startDocument", "start a", "chars [one] 3", "end a", "endDocument"}));
    EXPECT_EQ(runExact("<a>&gt;<b/>&quot;&apos;</a>").events,
              (Events{"startDocument", "start a", "chars [>] 4", "start b", "end b",
                      "chars [\"'] 12", "end a", "endDocument"}));
    // A '<' that starts nothing is passed over and begins the next run.
    EXPECT_EQ(runExact("<a>x<1&amp;</a>").events, (Events{"startDocument", "start a", "chars [x] 1",
                                                          "chars [1&] 6", "end a", "endDocument"}));
}

TEST(SaxTextRuns, AttributeValuesWithAndWithoutEntitiesAtTheEnd) {
    EXPECT_EQ(runExact("<a b=\"v\"").events,
              (Events{"startDocument", "start a b=v", "endDocument"}));
    EXPECT_EQ(runExact("<a b=\"&lt;&x;\"").events,
              (Events{"startDocument", "start a b=<", "endDocument"}));
    EXPECT_EQ(runExact("<a b=\"\"/>").events,
              (Events{"startDocument", "start a b=", "end a", "endDocument"}));
    for (const char* text : {"<a b=\"v", "<a b=\"&amp;", "<a b=\""}) {
        Outcome o = runExact(text);
        EXPECT_EQ(o.result, -1) << text;
        EXPECT_EQ(o.out, "<<end of string>>\n") << text;
        EXPECT_EQ(o.events, (Events{"startDocument", "endDocument"})) << text;
    }
}

// Long runs: the run must be handed over whole, with the count of the raw
// characters, whether the entity sits first, last or nowhere.
TEST(SaxTextRuns, LongRunsKeepEveryByte) {
    const std::string body(100000, 'q');
    struct LongCase {
        std::string raw;
        std::string decoded;
    };
    const LongCase cases[] = {
        {body, body},
        {"&amp;" + body, "&" + body},
        {body + "&amp;", body + "&"},
        {body + "&amp", body + "&amp"},
        {body + "&unknown;" + body, body + body},
    };
    for (const LongCase& c : cases) {
        for (const std::string& tail : {std::string(), std::string("</a>")}) {
            Outcome o = runExact("<a>" + c.raw + tail);
            ASSERT_EQ(o.result, 0);
            ASSERT_GE(o.events.size(), 3u);
            // Compared as a truth value: a failure would print 100 kB twice.
            EXPECT_TRUE(o.events[2] == "chars [" + c.decoded + "] " + std::to_string(c.raw.size()))
                << c.raw.substr(c.raw.size() - 8);
        }
    }
}

// ---- events and their order ---------------------------------------------

TEST(SaxEvents, EmptyElementGivesStartThenEnd) {
    Outcome o = run("<a/>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "endDocument"}));
    EXPECT_EQ(o.out, "");
}

TEST(SaxEvents, PrologAndNestedElementsInDocumentOrder) {
    Outcome o = run("<?xml version=\"1.0\"?>\n<!-- c --><r x=\"1\"><c>t</c><d/></r>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start r x=1", "start c", "chars [t] 1", "end c",
                                "start d", "end d", "end r", "endDocument"}));
}

TEST(SaxEvents, MixedContentGivesOneRunPerStretchOfText) {
    Outcome o = run("<a>x<b>y</b>z</a>");
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "chars [x] 1", "start b", "chars [y] 1",
                                "end b", "chars [z] 1", "end a", "endDocument"}));
}

TEST(SaxEvents, TextRunDropsLeadingAndKeepsTrailingWhiteSpace) {
    Outcome o = run("<a>  hi &lt;b&gt; </a>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events,
              (Events{"startDocument", "start a", "chars [hi <b> ] 13", "end a", "endDocument"}));
}

TEST(SaxEvents, WhiteSpaceOnlyTextGivesNoRun) {
    Outcome o = run("<a>\r\n\t </a>");
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "endDocument"}));
}

TEST(SaxEvents, AttributesAreSortedByNameAndLastValueWins) {
    Outcome o = run("<a z=\"1\" b=\"2\" z=\"3\" B=\"4\"/>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events[1], "start a B=4 b=2 z=3");
}

TEST(SaxEvents, AttributeAllowsWhiteSpaceAroundEqualsAndDecodesEntities) {
    Outcome o = run("<a k \t= \n\"&quot;x&apos;&lt;&gt;&amp;\" m=\"1>2\"/>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events[1], "start a k=\"x'<>& m=1>2");
}

TEST(SaxEvents, TextBeforeFirstElementIsPassedOver) {
    Outcome o = run("junk ]]> & \"<a/>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "endDocument"}));
}

TEST(SaxEvents, AfterRootSkipsCommentsAndInstructionsAndParsesFurtherElement) {
    Outcome o = run("<a/> \n<!--c--><?p?><b>t</b>\n");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "start b", "chars [t] 1",
                                "end b", "endDocument"}));
    EXPECT_EQ(o.out, "");
}

TEST(SaxEvents, ElementsLeftOpenAtEndAreNoError) {
    Outcome o = run("<a><b>text");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events,
              (Events{"startDocument", "start a", "start b", "chars [text] 4", "endDocument"}));
}

TEST(SaxEvents, StartTagCutOffAtEndIsStillReported) {
    Outcome o = run("<abc  ");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start abc", "endDocument"}));
}

TEST(SaxEvents, CommentsAndInstructionsInsideElementsAreSkipped) {
    Outcome o = run("<a><!-- <b> --><?pi <c>?>x</a>");
    EXPECT_EQ(o.events,
              (Events{"startDocument", "start a", "chars [x] 1", "end a", "endDocument"}));
}

TEST(SaxEvents, StrayLessThanInsideElementIsPassedOver) {
    Outcome o = run("<a>< 1</a>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events,
              (Events{"startDocument", "start a", "chars [1] 1", "end a", "endDocument"}));
}

TEST(SaxEvents, EndTagAllowsWhiteSpaceBeforeClosingBracket) {
    Outcome o = run("<a></a \r\n>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "endDocument"}));
}

TEST(SaxEvents, TextEndsAtFirstNul) {
    std::string text("<a/>\0<b/>", 9);
    Outcome o = run(text);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "end a", "endDocument"}));
}

TEST(SaxEvents, NullHandlerAndNullTextAreAccepted) {
    SimpleSAXParser parser(nullptr);
    EXPECT_EQ(parser.parse("<a><b/></a>"), 0);
    EXPECT_EQ(parser.parse(static_cast<const char*>(nullptr)), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(parser.parse("<a>x</b>"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Parsing error at character 7, '>'\n");
}

TEST(SaxEvents, EachParseStartsAfresh) {
    RecordingHandler handler;
    SimpleSAXParser parser(&handler);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(parser.parse("<a><b>"), 0);
    // The element left open by the first parse is forgotten: "</a>" here
    // closes nothing and is refused.
    EXPECT_EQ(parser.parse("<c/></a>"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Parsing error at character 4, '<'\n");
}

// ---- entity decoding ------------------------------------------------------

struct EntityCase {
    const char* raw;
    const char* decoded;
};

TEST(SaxEntities, DecodesTheFiveAndDropsOthers) {
    const EntityCase cases[] = {
        {"&amp;&quot;&apos;&lt;&gt;", "&\"'<>"},
        {"&amp;lt;", "&lt;"},            // a decoded '&' is not decoded again
        {"a&unknown;b", "ab"},           // unknown entity vanishes
        {"a & b", "a & b"},              // no ';' later: '&' kept
        {"a & b;c", "a c"},              // lone '&' up to a later ';' vanishes
        {"&;x", "x"},                    //
        {"x&lt", "x&lt"},                // unterminated
        {"&bad;&amp;", "&amp;"},         // after a removal the next character is not scanned
        {"&bad;x&amp;", "x&"},           //
        {"&AMP;", ""},                   // names are case sensitive
        {"&lt;&lt;&gt;&gt;", "<<>>"},    //
        {"1 &amp; 2 & 3", "1 & 2 & 3"},  //
    };
    for (const EntityCase& c : cases) {
        Outcome o = run(std::string("<a>") + c.raw + "</a>");
        ASSERT_EQ(o.events.size(), 5u) << c.raw;
        EXPECT_EQ(o.events[2],
                  "chars [" + std::string(c.decoded) + "] " + std::to_string(strlen(c.raw)))
            << c.raw;
    }
}

TEST(SaxEntities, EntityThatDecodesToEmptyStillGivesRun) {
    Outcome o = run("<a>&x;</a>");
    EXPECT_EQ(o.events[2], "chars [] 3");
}

// ---- errors: positions and texts -----------------------------------------

struct ErrorCase {
    const char* text;
    const char* out;
};

TEST(SaxErrors, ReportPositionAndCharacterOnStandardOutput) {
    const ErrorCase cases[] = {
        {"<a>x</b>", "Parsing error at character 7, '>'\n"},
        {"<a b='1'/>", "Parsing error at character 5, '''\n"},
        {"<a b/>", "Parsing error at character 4, '/'\n"},
        {"<a b=/>", "Parsing error at character 5, '/'\n"},
        {"<a 1=\"x\"/>", "Parsing error at character 3, '1'\n"},
        {"<a></ a>", "Parsing error at character 5, ' '\n"},
        {"<a></a x>", "Parsing error at character 7, 'x'\n"},
        {"<a></ab>", "Parsing error at character 7, '>'\n"},
        {"<ab></a>", "Parsing error at character 7, '>'\n"},
        {"<a/></a>", "Parsing error at character 4, '<'\n"},
        {"<a/>x", "dunno what to do?!\nParsing error at character 4, 'x'\n"},
        {"<a></a>\n  y", "dunno what to do?!\nParsing error at character 10, 'y'\n"},
    };
    for (const ErrorCase& c : cases) {
        Outcome o = run(c.text);
        EXPECT_EQ(o.result, -1) << c.text;
        EXPECT_EQ(o.out, c.out) << c.text;
        EXPECT_EQ(o.events.back(), "endDocument") << c.text;
    }
}

TEST(SaxErrors, ErrorAtEndOfTextPrintsEndOfString) {
    const char* cases[] = {
        "<a b=\"1",   // no closing quote
        "<a b=",      // value missing
        "<a b",       // '=' missing
        "<a></a",     // '>' missing
        "<a></",      // name missing
        "<a><!-- x",  // unterminated comment
        "<a><?pi",    // unterminated instruction
        "<a/><!-",    //
    };
    for (const char* text : cases) {
        Outcome o = run(text);
        EXPECT_EQ(o.result, -1) << text;
        EXPECT_EQ(o.out, "<<end of string>>\n") << text;
    }
}

TEST(SaxErrors, PrologErrorsFailWithoutReport) {
    for (const char* text : {"<?xml version=\"1.0\"", "<!-- never closed", "  <!DOCTYPE a><a/>"}) {
        Outcome o = run(text);
        EXPECT_EQ(o.result, -1) << text;
        EXPECT_EQ(o.out, "") << text;
        EXPECT_EQ(o.events, (Events{"startDocument", "endDocument"})) << text;
    }
}

TEST(SaxErrors, EventsBeforeFailureAreDelivered) {
    Outcome o = run("<r><a>1</a><b></c></r>");
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.events, (Events{"startDocument", "start r", "start a", "chars [1] 1", "end a",
                                "start b", "endDocument"}));
    EXPECT_EQ(o.out, "Parsing error at character 17, '>'\n");
}

// ---- the "xml" name rule ---------------------------------------------------

TEST(SaxNames, ElementNamesBeginningWithXmlInAnyCaseAreRefused) {
    for (const char* text : {"<xml/>", "<XmLfoo/>", "<xMlfoo/>", "<XML>"}) {
        Outcome o = run(text);
        EXPECT_EQ(o.result, -1) << text;
        EXPECT_EQ(o.out, std::string("Parsing error at character 1, '") + text[1] + "'\n") << text;
    }
    Outcome o = run("<a></xmla>");
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.out, "Parsing error at character 5, 'x'\n");
}

TEST(SaxNames, AttributeNamesAndShorterPrefixesAreAccepted) {
    Outcome o = run("<a xmlns=\"u\" XML-x=\"v\"><xm/><xmfoo/><x.m-l_1:z/></a>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a XML-x=v xmlns=u", "start xm", "end xm",
                                "start xmfoo", "end xmfoo", "start x.m-l_1:z", "end x.m-l_1:z",
                                "end a", "endDocument"}));
}

TEST(SaxNames, ElementNameMustStartWithNameStartCharacter) {
    // "<1a>" and "<-a>" are not tags at all: passed over before the root,
    // and inside an element the '<' is skipped and the rest read as text.
    Outcome o = run("<1a><-a><a><1b></a>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events,
              (Events{"startDocument", "start a", "chars [1b>] 3", "end a", "endDocument"}));
}

// ---- stop requests ---------------------------------------------------------

TEST(SaxStop, StopInEndElementEndsEventsExceptEndDocument) {
    Outcome o = run("<a><b/><c/>x</a> junk", "end b");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "start b", "end b", "endDocument"}));
    EXPECT_EQ(o.out, "");
}

TEST(SaxStop, StopInEndTagSkipsMalformedRest) {
    Outcome o = run("<a><b></b></c>", "end b");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.out, "");
}

TEST(SaxStop, StopInStartDocumentGivesOnlyEndDocument) {
    Outcome o = run("<a/>", "startDocument");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "endDocument"}));
}

TEST(SaxStop, StopInCharacters) {
    Outcome o = run("<a>x<b/></a>", "chars [x] 1");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "chars [x] 1", "endDocument"}));
}

TEST(SaxStop, StopInStartOfEmptyTagStillClosesIt) {
    Outcome o = run("<a><b/><c/></a>", "start b");
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "start b", "end b", "endDocument"}));
}

TEST(SaxStop, StopInStartElement) {
    Outcome o = run("<a><b>t</b></a>", "start b");
    EXPECT_EQ(o.events, (Events{"startDocument", "start a", "start b", "endDocument"}));
}

// ---- attributes --------------------------------------------------------------

TEST(Attributes, SetHasGetAndReplace) {
    attributes a;
    EXPECT_EQ(a.count(), 0);
    EXPECT_FALSE(a.has("k"));
    EXPECT_EQ(a.get("k"), "");
    a.set("k", "1");
    a.set("k", "2");
    a.set("b", "");
    EXPECT_EQ(a.count(), 2);
    EXPECT_TRUE(a.has("b"));
    EXPECT_EQ(a.get("k"), "2");
    attributes copy(a);
    a.clear();
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(copy.get("k"), "2");  // deep copy
}

TEST(Attributes, CopyingGettersZeroBufferAndTruncate) {
    attributes a;
    a.set("name", "hello");
    a.set("alpha", "x");
    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(a.getValue("name", buffer, 4), 3);
    EXPECT_EQ(std::string(buffer), "hel");
    EXPECT_EQ(buffer[4], 'Z');  // only `size` bytes touched
    EXPECT_EQ(a.getValue("name", buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer), "hello");
    EXPECT_EQ(a.getValue("missing", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), "");
    EXPECT_EQ(a.getName(0, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer), "alpha");
    EXPECT_EQ(a.getValue(1, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer), "hello");
    EXPECT_EQ(a.getName(2, buffer, sizeof buffer), 0);
    EXPECT_EQ(a.getName(-1, buffer, sizeof buffer), 0);
    EXPECT_EQ(a.getValue(7, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(a.getValue("name", buffer, 1), 0);
    EXPECT_EQ(a.getValue("name", nullptr, 0), 0);
}

// ---- the parser against the plain one ---------------------------------------

Outcome runCareful(const std::string& text, const std::string& stopAfter = "") {
    RecordingHandler handler;
    handler.stopAfter = stopAfter;
    ::testing::internal::CaptureStdout();
    int result = testing::careful::parse(text.c_str(), &handler);
    std::string out = ::testing::internal::GetCapturedStdout();
    return {result, handler.events, out};
}

// Random documents, whole and cut off, give the same events, results and
// printed lines as the plain parser, also when the handler stops after any
// one of its events; the report form prints nothing and returns those lines.
TEST(SaxFastPaths, SameEventsAndLinesAsThePlainParserOnRandomDocuments) {
    testing::RandomXml random(20261209);
    for (int round = 0; round < 4000; ++round) {
        std::string doc = random.document();
        Outcome careful = runCareful(doc);
        Outcome fast = runExact(doc);
        ASSERT_EQ(fast.result, careful.result) << doc;
        ASSERT_EQ(fast.events, careful.events) << doc;
        ASSERT_EQ(fast.out, careful.out) << doc;

        std::string stopAfter = careful.events[random.below(careful.events.size())];
        Outcome carefulStop = runCareful(doc, stopAfter);
        Outcome fastStop = run(doc, stopAfter);
        ASSERT_EQ(fastStop.result, carefulStop.result) << doc << " / " << stopAfter;
        ASSERT_EQ(fastStop.events, carefulStop.events) << doc << " / " << stopAfter;
        ASSERT_EQ(fastStop.out, carefulStop.out) << doc << " / " << stopAfter;

        SimpleSAXParser silent(nullptr);
        std::string report = "old";
        ::testing::internal::CaptureStdout();
        int result = silent.parse(doc.c_str(), report);
        ASSERT_EQ(::testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(result, careful.result) << doc;
        ASSERT_EQ(report, careful.out) << doc;
    }
}

// Stops or mutes after its n-th element or text event (0: never).
class CountingStopper : public RecordingHandler {
  public:
    size_t after = 0;
    bool mute = false;
    void startElement(const char* name, const attributes& attrs) override {
        RecordingHandler::startElement(name, attrs);
        count();
    }
    void endElement(const char* name) override {
        RecordingHandler::endElement(name);
        count();
    }
    void characters(const char* text, int32_t n) override {
        RecordingHandler::characters(text, n);
        count();
    }

  private:
    void count() {
        if (++m_Seen == after)
            (mute ? m_Mute : m_Stop) = true;
    }
    size_t m_Seen = 0;
};

// A handler that mutes gets the events that a stop at the same point leaves
// it (the end of an empty-element tag included), and the parse ends as one
// without a handler does: same result, same lines.
TEST(SaxMute, EventsStopButTheParseRunsToItsEndOrFault) {
    testing::RandomXml random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string doc = random.document();
        Outcome all = runCareful(doc);
        size_t eventCount = all.events.size() - 2;  // without the document events
        CountingStopper stopper;
        stopper.after = eventCount ? 1 + random.below(eventCount) : 0;
        ::testing::internal::CaptureStdout();
        testing::careful::parse(doc.c_str(), &stopper);
        ::testing::internal::GetCapturedStdout();

        CountingStopper muter;
        muter.after = stopper.after;
        muter.mute = true;
        std::string report;
        int result = SimpleSAXParser(&muter).parse(doc.c_str(), report);
        ASSERT_EQ(muter.events, stopper.events) << doc << " / " << muter.after;
        ASSERT_EQ(result, all.result) << doc;
        ASSERT_EQ(report, all.out) << doc;
    }
    RecordingHandler atStart;
    atStart.stopAfter = "startDocument";
    atStart.m_Mute = true;  // a stop set with it wins
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SimpleSAXParser(&atStart).parse("<a>x</b>"), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(atStart.events, (Events{"startDocument", "endDocument"}));
}

// Names set out of order, repeated or not, read back as a map keeps them.
TEST(Attributes, AnyOrderOfSetsReadsBackSortedWithLastValues) {
    testing::RandomXml random(3);
    for (int round = 0; round < 500; ++round) {
        attributes a;
        std::map<std::string, std::string> model;
        for (uint32_t n = random.below(12); n > 0; --n) {
            std::string name = random.name(), value = random.text();
            a.set(name, value);
            model[name] = value;
            if (random.below(4) == 0) {
                // Lookups in between put the list in order early.
                ASSERT_EQ(a.count(), static_cast<int>(model.size()));
                ASSERT_EQ(a.get(name), value);
            }
        }
        attributes copy = a;
        ASSERT_EQ(copy.count(), static_cast<int>(model.size()));
        int k = 0;
        for (const auto& entry : model) {
            char name[64], value[64];
            copy.getName(k, name, sizeof name);
            copy.getValue(k, value, sizeof value);
            ASSERT_EQ(name, entry.first);
            ASSERT_EQ(value, entry.second);
            ASSERT_TRUE(a.has(entry.first));
            ASSERT_EQ(a.view(entry.first), entry.second);
            ++k;
        }
        ASSERT_FALSE(a.has("missing"));
        ASSERT_EQ(a.view("missing"), "");
    }
}

// ---- bounds and running time -----------------------------------------------

// Inputs far larger than a printer answer; quadratic work would take minutes.
TEST(SaxBounds, LargeHostileInputsTakeLinearTime) {
    const size_t n = 1 << 18;
    std::vector<std::string> inputs;
    {
        std::string s;
        for (size_t k = 0; k < n / 3; ++k)
            s += "<a>";
        inputs.push_back(s);  // deep nesting: no recursion
        for (size_t k = 0; k < n / 3; ++k)
            s += "</a>";
        inputs.push_back(s);
    }
    inputs.push_back("<a>" + std::string(n, '&') + "</a>");
    inputs.push_back("<a>" + std::string(n, '&') + ";</a>");
    {
        std::string s = "<a>";
        for (size_t k = 0; k < n / 6; ++k)
            s += "&amp;";
        inputs.push_back(s + "</a>");
        s = "<a>";
        for (size_t k = 0; k < n / 6; ++k)
            s += "&x;";
        inputs.push_back(s + "</a>");
    }
    {
        std::string s = "<a";
        for (size_t k = 0; k < n / 10; ++k)
            s += " a" + std::to_string(k) + "=\"&lt;\"";
        inputs.push_back(s + "/>");
    }
    inputs.push_back(std::string(n, '<'));
    inputs.push_back("<a>" + std::string(n, '<'));
    {
        std::string s;
        for (size_t k = 0; k < n / 4; ++k)
            s += "<?<!";
        inputs.push_back(s);
        inputs.push_back("<a>" + s);
        s.clear();
        for (size_t k = 0; k < n / 4; ++k)
            s += "<b/>";
        inputs.push_back("<a>" + s + "</a>");
    }
    SimpleSAXParser parser(nullptr);
    RecordingHandler handler;
    SimpleSAXParser recording(&handler);
    auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStdout();
    for (const std::string& s : inputs) {
        parser.parse(s);
        handler.events.clear();
        recording.parse(s);
    }
    ::testing::internal::GetCapturedStdout();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace qor
