// Picks one text value out of an XML document by an absolute path such as
// "/response/MapElem/child[@name='status_code']/IntegerElem".
//
// Each query parses the whole document again with SimpleSAXParser and stops
// at the first element, in order of end tags, whose path matches. A step may
// carry a position predicate [1] to [9] (the n-th of consecutive siblings of
// that name) or an attribute predicate [@name='value'].
#pragma once

#include <cstdint>
#include <memory>
#include <string>
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
    std::string evaluate(const std::string& path);
    std::string evaluate(const char* path);

    void startDocument() override;
    void startElement(const char* name, const attributes& attrs) override;
    void endElement(const char* name) override;
    void characters(const char* text, int32_t count) override;
    void endDocument() override {}

    // Splits `path` into steps (see evaluate); exposed for tests.
    static std::vector<XPathStep> compile(const std::string& path);

  private:
    bool matches() const;

    std::shared_ptr<const std::string> m_Document;
    std::vector<XPathStep> m_Query;
    std::vector<XPathStep> m_Open;
    std::string m_Result;
    XPathStep m_Scratch;
    XPathStep m_LastClosed;
};

}  // namespace qor
