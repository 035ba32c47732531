#include "SimpleXPath.h"

#include <climits>
#include <cstdio>
#include <string_view>
#include <utility>

#include "qor/ByteReader.h"

namespace qor {

namespace {

constexpr std::string_view kIndexKind = "<INDEX>";
constexpr std::string_view kUndefinedKind = "<UNDEFINED>";

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

XPathQuery simpleXPath::compile(const std::string& path) {
    XPathQuery steps;
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

bool simpleXPath::canMatch(const XPathQuery& query) {
    for (const XPathStep& step : query) {
        if (step.predicateKind == kUndefinedKind)
            return false;
    }
    return !query.empty();
}

std::string simpleXPath::evaluate(const std::string& path) {
    return evaluate(path.c_str());
}

std::string simpleXPath::evaluate(const char* path) {
    std::vector<XPathQuery> queries(1, compile(path ? path : ""));
    std::string report;
    std::vector<XPathAnswer> answers = evaluateAll(queries, report);
    if (!answers[0].matched && !report.empty()) {
        std::fputs(report.c_str(), stdout);
        std::fflush(stdout);
    }
    return std::move(answers[0].value);
}

std::vector<XPathAnswer> simpleXPath::evaluateAll(const std::vector<XPathQuery>& queries,
                                                  std::string& report) {
    report.clear();
    m_Answers.assign(queries.size(), XPathAnswer());
    m_Waiting.assign(queries.size(), false);
    m_Pending = 0;
    m_Hopeless = false;  // a query that no element can match
    for (size_t q = 0; q < queries.size(); ++q) {
        m_Waiting[q] = canMatch(queries[q]);
        if (m_Waiting[q])
            ++m_Pending;
        else
            m_Hopeless = true;
    }
    if (m_Pending > 0) {
        // Until each query that can match has matched, the text is parsed
        // as by a single query that does not match, to its end or fault, so
        // `report` is what each unmatched query would print. Then the pass
        // stops, or, when a hopeless query still wants the whole text's
        // outcome, goes on without events.
        m_Queries = &queries;
        m_Stop = false;
        m_Mute = false;
        SimpleSAXParser(this).parse(m_Document->c_str(), report);
        m_Queries = nullptr;
    } else if (m_Hopeless) {
        SimpleSAXParser(nullptr).parse(m_Document->c_str(), report);
    }
    std::vector<XPathAnswer> answers;
    answers.swap(m_Answers);
    return answers;
}

void simpleXPath::startDocument() {
    m_Depth = 0;
    m_LastClosedName.clear();
    m_LastClosedIndex = 0;
}

void simpleXPath::startElement(const char* name, const attributes& attrs) {
    startElementView(name ? name : "", attrs);
}

void simpleXPath::endElement(const char* name) {
    endElementView(name ? name : "");
}

void simpleXPath::characters(const char* text, int32_t count) {
    charactersView(text ? text : "", count);
}

void simpleXPath::startElementView(std::string_view name, const attributes& attrs) {
    if (m_Depth == m_Open.size())
        m_Open.emplace_back();
    // The record's strings keep their storage from earlier elements.
    XPathStep& open = m_Open[m_Depth++];
    open.name.assign(name.data(), name.size());
    open.text.clear();
    open.attrs = attrs;
    open.index = m_LastClosedName == name ? m_LastClosedIndex + 1 : 1;
    if (open.index <= 0)
        open.index = INT32_MAX;  // saturate rather than wrap on absurd sibling runs
}

void simpleXPath::charactersView(std::string_view text, int32_t count) {
    (void)count;
    if (m_Depth > 0)
        m_Open[m_Depth - 1].text.append(text.data(), text.size());
}

bool simpleXPath::matches(const XPathQuery& query) const {
    if (query.size() != m_Depth)
        return false;
    // From the innermost step out: the steps of the queries run together
    // usually differ only there.
    for (size_t k = m_Depth; k-- > 0;) {
        const XPathStep& want = query[k];
        const XPathStep& have = m_Open[k];
        // A position is compared before the name: it tells the queries of
        // one list apart at the cost of an integer.
        if (want.predicateKind.empty()) {
            if (want.name != have.name)
                return false;
        } else if (want.predicateKind == kIndexKind) {
            if (want.index != have.index || want.name != have.name)
                return false;
        } else if (want.predicateKind == kUndefinedKind) {
            return false;
        } else if (want.name != have.name ||
                   have.attrs.view(want.predicateKind) != want.predicateValue) {
            return false;
        }
    }
    return true;
}

void simpleXPath::endElementView(std::string_view name) {
    (void)name;
    if (m_Depth == 0)
        return;
    const XPathStep& closing = m_Open[m_Depth - 1];
    if (m_Queries != nullptr) {
        for (size_t q = 0; q < m_Queries->size(); ++q) {
            if (m_Waiting[q] && matches((*m_Queries)[q])) {
                m_Answers[q].value = closing.text;
                m_Answers[q].matched = true;
                m_Waiting[q] = false;
                --m_Pending;
            }
        }
        if (m_Pending == 0) {
            if (m_Hopeless)
                m_Mute = true;
            else
                m_Stop = true;
        }
    }
    m_LastClosedName = closing.name;
    m_LastClosedIndex = closing.index;
    --m_Depth;
}

}  // namespace qor
