#include "SimpleXPath.h"

#include <climits>
#include <iterator>
#include <utility>

#include "qor/ByteReader.h"

namespace qor {

namespace {

const char kIndexKind[] = "<INDEX>";
const char kUndefinedKind[] = "<UNDEFINED>";

// Leading and trailing blanks (0x20 only) removed.
std::string trimBlanks(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    size_t last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

// Leading decimal integer the way atoi reads it (white space, sign, digits),
// saturated instead of overflowing.
long leadingInteger(const std::string& s) {
    ByteReader r(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    uint8_t c = 0;
    while (r.peekU8(c) && (c == ' ' || (c >= '\t' && c <= '\r')))
        r.skip(1);
    bool negative = false;
    if (r.peekU8(c) && (c == '+' || c == '-')) {
        negative = c == '-';
        r.skip(1);
    }
    long value = 0;
    while (r.readU8(c) && c >= '0' && c <= '9') {
        if (value < LONG_MAX / 10)
            value = value * 10 + (c - '0');
        else
            value = LONG_MAX;
    }
    return negative ? -value : value;
}

XPathStep compileStep(const std::string& text) {
    XPathStep step;
    size_t open = text.find('[');
    if (open == std::string::npos) {
        step.name = text;
        return step;
    }
    step.name = trimBlanks(text.substr(0, open));
    size_t close = text.find(']', open + 1);
    if (close == std::string::npos)
        return step;
    std::string inner = text.substr(open + 1, close - open - 1);
    long number = leadingInteger(trimBlanks(inner));
    if (number >= 1 && number <= 9) {
        step.predicateKind = kIndexKind;
        step.predicateValue = inner;
        step.index = static_cast<int32_t>(number);
        return step;
    }
    size_t at = inner.find('@');
    if (at == std::string::npos) {
        step.predicateKind = kUndefinedKind;
        return step;
    }
    size_t equals = inner.find('=', at + 1);
    if (equals == std::string::npos)
        return step;
    size_t quote1 = inner.find('\'', equals + 1);
    if (quote1 == std::string::npos)
        return step;
    size_t quote2 = inner.find('\'', quote1 + 1);
    if (quote2 == std::string::npos)
        return step;
    step.predicateKind = trimBlanks(inner.substr(at + 1, equals - at - 1));
    step.predicateValue = inner.substr(quote1 + 1, quote2 - quote1 - 1);
    return step;
}

}  // namespace

void XPathStep::reset() {
    name.clear();
    text.clear();
    attrs.clear();
    index = 0;
    predicateKind.clear();
    predicateValue.clear();
}

simpleXPath::simpleXPath(const std::string& document)
    : m_Document(std::make_shared<const std::string>(document.c_str())) {}

simpleXPath::simpleXPath(const char* document)
    : m_Document(std::make_shared<const std::string>(document ? document : "")) {}

simpleXPath::simpleXPath(std::shared_ptr<const std::string> document)
    : m_Document(document ? std::move(document) : std::make_shared<const std::string>()) {}

std::vector<XPathStep> simpleXPath::compile(const std::string& path) {
    std::vector<XPathStep> steps;
    size_t slash = path.find('/');
    while (slash != std::string::npos) {
        size_t next = path.find('/', slash + 1);
        size_t end = next == std::string::npos ? path.size() : next;
        std::string text = trimBlanks(path.substr(slash + 1, end - slash - 1));
        if (!text.empty())
            steps.push_back(compileStep(text));
        slash = next;
    }
    return steps;
}

std::string simpleXPath::evaluate(const std::string& path) {
    return evaluate(path.c_str());
}

std::string simpleXPath::evaluate(const char* path) {
    std::vector<XPathStep> steps = compile(path ? path : "");
    bool canMatch = true;
    for (const XPathStep& step : steps)
        canMatch = canMatch && step.predicateKind != kUndefinedKind;
    if (!canMatch) {
        // No element can match, so no event is needed; the document is still
        // parsed, without a handler, so that a malformed one reports its
        // error line just as a query that matches nothing does.
        m_Result.clear();
        SimpleSAXParser(nullptr).parse(*m_Document);
        return m_Result;
    }
    SimpleSAXParser parser(this);
    m_Query.insert(m_Query.end(), std::make_move_iterator(steps.begin()),
                   std::make_move_iterator(steps.end()));
    m_Stop = false;
    parser.parse(*m_Document);
    m_Query.clear();
    return m_Result;
}

void simpleXPath::startDocument() {
    m_Result.clear();
    m_Scratch.reset();
    m_LastClosed.reset();
    m_Open.clear();
}

void simpleXPath::startElement(const char* name, const attributes& attrs) {
    m_Scratch.reset();
    m_Scratch.name = name;
    m_Scratch.attrs = attrs;
    m_Scratch.index = m_LastClosed.name == m_Scratch.name ? m_LastClosed.index + 1 : 1;
    if (m_Scratch.index <= 0)
        m_Scratch.index = INT32_MAX;  // saturate rather than wrap on absurd sibling runs
    // m_Scratch is reset before every use, so its contents can move.
    m_Open.push_back(std::move(m_Scratch));
}

void simpleXPath::characters(const char* text, int32_t count) {
    (void)count;
    if (!m_Open.empty())
        m_Open.back().text.append(text);
}

bool simpleXPath::matches() const {
    if (m_Query.empty() || m_Query.size() != m_Open.size())
        return false;
    for (size_t k = 0; k < m_Query.size(); ++k) {
        const XPathStep& want = m_Query[k];
        const XPathStep& have = m_Open[k];
        if (want.name != have.name)
            return false;
        if (want.predicateKind.empty())
            continue;
        if (want.predicateKind == kUndefinedKind)
            return false;
        if (want.predicateKind == kIndexKind) {
            if (want.index != have.index)
                return false;
        } else if (have.attrs.get(want.predicateKind) != want.predicateValue) {
            return false;
        }
    }
    return true;
}

void simpleXPath::endElement(const char* name) {
    (void)name;
    if (m_Open.empty())
        return;
    if (matches()) {
        m_Result = m_Open.back().text;
        m_Stop = true;
    }
    m_LastClosed = std::move(m_Open.back());
    m_Open.pop_back();
}

}  // namespace qor
