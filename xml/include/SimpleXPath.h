// Picks one text value out of an XML document by an absolute path such as
// "/response/MapElem/child[@name='status_code']/IntegerElem".
//
// Each query parses the whole document again with SimpleSAXParser and stops
// at the first element, in order of end tags, whose path matches. A step may
// carry a position predicate [1] to [9] (the n-th of consecutive siblings of
// that name) or an attribute predicate [@name='value']. Several queries over
// one document can also share a single parse (evaluateAll) with the same
// results as one evaluate each.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "SimpleSAXParser.h"

namespace qor {

// One compiled path step, or one open element while parsing.
struct XPathStep {
    std::string name;
    std::string text;  // the element's own character data
    attributes attrs;
    int32_t index = 0;  // 1-based position among consecutive same-named siblings
    // Empty: no predicate; "<INDEX>": position predicate; "<UNDEFINED>": a
    // predicate that could not be read (never matches); otherwise the name
    // of the attribute an attribute predicate compares.
    std::string predicateKind;
    std::string predicateValue;

    // Back to empty strings, no attributes and index 0.
    void reset();
};

using XPathQuery = std::vector<XPathStep>;

// What evaluate would have returned for one query, and whether an element
// matched (an empty value and no match are otherwise alike).
struct XPathAnswer {
    std::string value;
    bool matched = false;
};

class simpleXPath : public SimpleSAXHandler {
  public:
    // Keeps a copy of `document` (up to its first NUL) for every query.
    explicit simpleXPath(const std::string& document);
    explicit simpleXPath(const char* document);
    // Shares `document` (read up to its first NUL) instead of copying it, so
    // that many queries over one stored answer do not copy it each time.
    explicit simpleXPath(std::shared_ptr<const std::string> document);
    ~simpleXPath() override = default;

    // The own text of the first element whose path matches `path`, or an
    // empty string when none does (or the document fails to parse before a
    // match). Leading white space of a text run is dropped, trailing kept.
    // A malformed document that is parsed up to its fault prints the
    // parser's error line.
    std::string evaluate(const std::string& path);
    std::string evaluate(const char* path);

    // Every query at once, in one parse that stops when each query that can
    // match has matched (or, when a query that can never match is among
    // them, goes on to the end of the text without events).
    // answers[i] is what evaluate would give for queries[i]. Nothing is
    // printed: the parser's error lines are left in `report` (empty when
    // none), and evaluate of queries[i] alone would print them exactly when
    // answers[i].matched is false.
    std::vector<XPathAnswer> evaluateAll(const std::vector<XPathQuery>& queries,
                                         std::string& report);

    void startDocument() override;
    void startElement(const char* name, const attributes& attrs) override;
    void endElement(const char* name) override;
    void characters(const char* text, int32_t count) override;
    void endDocument() override {}
    void startElementView(std::string_view name, const attributes& attrs) override;
    void endElementView(std::string_view name) override;
    void charactersView(std::string_view text, int32_t count) override;

    // Splits `path` into steps (see evaluate); exposed for tests.
    static XPathQuery compile(const std::string& path);
    // False when no element can match: a path of no steps, or a step with a
    // predicate that could not be read.
    static bool canMatch(const XPathQuery& query);

  private:
    bool matches(const XPathQuery& query) const;

    std::shared_ptr<const std::string> m_Document;
    // The running pass: its queries, their answers so far, and how many of
    // the queries that can match still have not.
    const std::vector<XPathQuery>* m_Queries = nullptr;
    std::vector<XPathAnswer> m_Answers;
    std::vector<bool> m_Waiting;
    size_t m_Pending = 0;
    bool m_Hopeless = false;  // a query of the pass can never match
    // One record per open element, outermost first: the first m_Depth are
    // in use; the rest keep their storage for the next elements.
    std::vector<XPathStep> m_Open;
    size_t m_Depth = 0;
    // Of the most recently ended element only name and position count.
    std::string m_LastClosedName;
    int32_t m_LastClosedIndex = 0;
};

}  // namespace qor
