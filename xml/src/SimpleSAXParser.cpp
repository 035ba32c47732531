#include "SimpleSAXParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "qor/ByteReader.h"

namespace qor {

// ---- attributes ----------------------------------------------------------

void attributes::set(std::string_view name, std::string_view value) {
    if (!m_Unsorted && !m_Entries.empty()) {
        int order = std::string_view(m_Entries.back().name).compare(name);
        if (order == 0) {
            m_Entries.back().value.assign(value.data(), value.size());
            return;
        }
        if (order > 0)
            m_Unsorted = true;  // put in order on the next lookup
    }
    m_Entries.push_back(Entry{std::string(name), std::string(value)});
}

void attributes::sortEntries() const {
    m_Unsorted = false;
    // Stable, so of a repeated name the entry set last is the last of its run.
    std::stable_sort(m_Entries.begin(), m_Entries.end(),
                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
    size_t kept = 0;
    for (size_t k = 0; k < m_Entries.size(); ++k) {
        if (k + 1 < m_Entries.size() && m_Entries[k + 1].name == m_Entries[k].name)
            continue;
        if (kept != k)
            m_Entries[kept] = std::move(m_Entries[k]);
        ++kept;
    }
    m_Entries.resize(kept);
}

const attributes::Entry* attributes::find(std::string_view name) const {
    settle();
    auto it = std::lower_bound(
        m_Entries.begin(), m_Entries.end(), name,
        [](const Entry& e, std::string_view n) { return std::string_view(e.name) < n; });
    return it != m_Entries.end() && it->name == name ? &*it : nullptr;
}

bool attributes::has(std::string_view name) const {
    return find(name) != nullptr;
}

std::string attributes::get(std::string_view name) const {
    return std::string(view(name));
}

std::string_view attributes::view(std::string_view name) const {
    const Entry* e = find(name);
    return e ? std::string_view(e->value) : std::string_view();
}

namespace {

int copyOut(const std::string& from, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    std::memset(buffer, 0, size);
    size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(buffer, from.data(), n);
    return static_cast<int>(n);
}

}  // namespace

int attributes::getValue(const char* name, char* buffer, size_t size) const {
    if (buffer != nullptr && size > 0)
        std::memset(buffer, 0, size);
    if (name == nullptr)
        return 0;
    const Entry* e = find(name);
    return e ? copyOut(e->value, buffer, size) : 0;
}

int attributes::getName(int index, char* buffer, size_t size) const {
    if (buffer != nullptr && size > 0)
        std::memset(buffer, 0, size);
    if (index < 0 || index >= count())
        return 0;
    return copyOut(m_Entries[static_cast<size_t>(index)].name, buffer, size);
}

int attributes::getValue(int index, char* buffer, size_t size) const {
    if (buffer != nullptr && size > 0)
        std::memset(buffer, 0, size);
    if (index < 0 || index >= count())
        return 0;
    return copyOut(m_Entries[static_cast<size_t>(index)].value, buffer, size);
}

int attributes::count() const {
    settle();
    return m_Entries.size() > static_cast<size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(m_Entries.size());
}

void attributes::clear() {
    m_Entries.clear();
    m_Unsorted = false;
}

// ---- parser ----------------------------------------------------------------

namespace {

// Byte classes, one table lookup each in the scanning loops.
enum : uint8_t { kSpace = 1, kNameStart = 2, kNameChar = 4 };

struct ByteClasses {
    uint8_t of[256] = {};
    constexpr ByteClasses() {
        of[0x09] = of[0x20] = of[0x0D] = of[0x0A] = kSpace;
        for (int c = 'A'; c <= 'Z'; ++c)
            of[c] = of[c + ('a' - 'A')] = kNameStart | kNameChar;
        of[0x3A] = of[0x5F] = kNameStart | kNameChar;  // ':' and '_'
        for (int c = '0'; c <= '9'; ++c)
            of[c] = kNameChar;
        of[0x2D] = of[0x2E] = kNameChar;  // '-' and '.'
    }
};
constexpr ByteClasses kClasses;

// -1 (past the end) is in no class.
bool is(int c, uint8_t cls) {
    return c >= 0 && (kClasses.of[c] & cls) != 0;
}

int lower(int c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

std::string_view viewOf(ByteSpan span) {
    return std::string_view(reinterpret_cast<const char*>(span.data), span.size);
}

// Number of leading bytes of `span` in class `cls`.
size_t countIn(ByteSpan span, uint8_t cls) {
    size_t n = 0;
    for (uint8_t c : span) {
        if ((kClasses.of[c] & cls) == 0)
            break;
        ++n;
    }
    return n;
}

// Number of leading bytes of `span` before the first `c` (all when none).
size_t countBefore(ByteSpan span, uint8_t c) {
    if (span.empty())
        return 0;
    const void* hit = std::memchr(span.data, c, span.size);
    return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - span.data) : span.size;
}

// The character an entity ("&...;") stands for, or 0 for an unknown one.
char entityCharacter(std::string_view entity) {
    if (entity == "&amp;")
        return '&';
    if (entity == "&quot;")
        return '"';
    if (entity == "&apos;")
        return '\'';
    if (entity == "&lt;")
        return '<';
    if (entity == "&gt;")
        return '>';
    return 0;
}

// Decodes the five predefined entities of `in` into `out`. Each '&' up to
// the next ';' is replaced by its character, or by nothing when the entity
// is unknown; the scan then resumes one character after where the
// replacement started, so a decoded '&' is never decoded again and, after a
// removed entity, the character that moved into its place is passed over
// unscanned. Without a later ';' the rest is kept as it is. Linear: the
// stretches between entities are copied whole, and every ';' is found once.
void decodeEntities(ByteSpan in, std::string& out) {
    out.clear();
    ByteReader r(in);
    size_t semicolon = 0;  // the next ';' at or after the last '&', if found
    bool haveSemicolon = false;
    ByteSpan piece;
    while (!r.atEnd()) {
        r.readBytes(countBefore(r.rest(), '&'), piece);
        out.append(viewOf(piece));
        if (r.atEnd())
            break;
        size_t start = r.offset();
        if (!haveSemicolon || semicolon < start) {
            ByteSpan rest = r.rest();
            size_t n = countBefore(rest, ';');
            if (n == rest.size) {
                // No ';' anywhere after: decoding ends, the rest stays.
                out.append(viewOf(rest));
                return;
            }
            semicolon = start + n;
            haveSemicolon = true;
        }
        r.readBytes(semicolon - start + 1, piece);
        if (char c = entityCharacter(viewOf(piece))) {
            out.push_back(c);
        } else {
            uint8_t next = 0;  // removed: the next character takes its place
            if (r.readU8(next))
                out.push_back(static_cast<char>(next));
        }
    }
}

// The names of the open elements, innermost last. A printer's answer nests
// a few levels deep: those live in place, and only a deeper text makes the
// stack allocate, once per doubling.
class NameStack {
  public:
    bool empty() const { return m_Size == 0; }
    std::string_view back() const {
        return m_Size <= kInPlace ? m_InPlace[m_Size - 1] : m_Deeper[m_Size - 1 - kInPlace];
    }
    void push_back(std::string_view name) {
        if (m_Size < kInPlace)
            m_InPlace[m_Size] = name;
        else
            m_Deeper.push_back(name);
        ++m_Size;
    }
    void pop_back() {
        if (m_Size > kInPlace)
            m_Deeper.pop_back();
        --m_Size;
    }

  private:
    static constexpr size_t kInPlace = 16;
    std::string_view m_InPlace[kInPlace];
    std::vector<std::string_view> m_Deeper;
    size_t m_Size = 0;
};

// One parse over the caller's text, read in place (it does not change while
// the parse runs) through one reader whose offset is the parse position.
// The text may end in the middle of anything: every fetch is checked, and a
// step past the end (a start tag cut off where its '>' would be) stays at
// the end, which the rules treat alike.
class Parse {
  public:
    Parse(const char* text, SimpleSAXHandler* handler, std::string* report)
        : m_Reader(reinterpret_cast<const uint8_t*>(text), std::strlen(text)),
          m_Handler(handler),
          m_Events(handler),
          m_Report(report) {}

    int run() {
        int r = 0;
        if (m_Handler) {
            m_Handler->startDocument();
            stopCheck();
        }
        while (!m_Reader.atEnd() && r != -1) {
            // Text before the first element is passed over.
            m_Reader.skip(countBefore(m_Reader.rest(), '<'));
            int next = peek(1);
            if (m_Reader.atEnd()) {
                break;
            } else if (next == '?') {
                r = skipProcessingInstruction();
            } else if (next == '!') {
                r = skipComment();
            } else if (is(next, kNameStart)) {
                r = elementLoop();
                stopCheck();
                break;
            } else {
                step(1);
            }
            stopCheck();
        }
        if (m_Handler)
            m_Handler->endDocument();
        return r == -1 ? -1 : 0;
    }

  private:
    // The byte `ahead` bytes after the position, or -1 past the end.
    int peek(size_t ahead = 0) const {
        uint8_t c = 0;
        return m_Reader.byteAt(m_Reader.offset() + ahead, c) ? c : -1;
    }

    void step(size_t count) {
        if (!m_Reader.skip(count))
            m_Reader.seek(m_Reader.size());
    }

    std::string_view take(size_t count) {
        ByteSpan span;
        m_Reader.readBytes(count, span);
        return viewOf(span);
    }

    void skipSpace() { m_Reader.skip(countIn(m_Reader.rest(), kSpace)); }

    // After every event: a stop ends the parse here; a mute lets it run on
    // without events.
    void stopCheck() {
        if (m_Events == nullptr)
            return;
        if (m_Events->m_Stop)
            m_Reader.seek(m_Reader.size());
        else if (m_Events->m_Mute)
            m_Events = nullptr;
    }

    // Moves past the first `pattern` found `from` bytes after the position;
    // -1 at the end of the text when there is none.
    int skipPast(std::string_view pattern, size_t from) {
        std::string_view rest = viewOf(m_Reader.rest().from(from));
        size_t hit = rest.find(pattern);
        if (hit == std::string_view::npos) {
            m_Reader.seek(m_Reader.size());
            return -1;
        }
        step(from + hit + pattern.size());
        return 0;
    }

    // "<?" through the first "?>" at or after the '<'.
    int skipProcessingInstruction() { return skipPast("?>", 0); }
    // "<!" through the first "-->" after it.
    int skipComment() { return skipPast("-->", 2); }

    // An element name: 1 at white space, -1 at any other non-name-start
    // character or at a name beginning with "xml" in any case, else 0.
    int readName(std::string_view& name) {
        int c = peek();
        if (is(c, kSpace))
            return 1;
        if (!is(c, kNameStart))
            return -1;
        if (lower(c) == 'x' && lower(peek(1)) == 'm' && lower(peek(2)) == 'l')
            return -1;
        name = take(countIn(m_Reader.rest(), kNameChar));
        return 0;
    }

    // name="value" at the position; on success the position is at the
    // closing quote.
    int readAttribute(attributes& attrs) {
        int c = peek();
        if (is(c, kSpace))
            return 1;
        if (!is(c, kNameStart))
            return -1;
        std::string_view name = take(countIn(m_Reader.rest(), kNameChar));
        skipSpace();
        if (peek() != '=')
            return -1;
        step(1);
        skipSpace();
        if (m_Reader.atEnd())
            return -1;
        c = peek();
        if (is(c, kSpace))
            return 1;
        if (c != '"')
            return -1;
        step(1);
        ByteSpan rest = m_Reader.rest();
        size_t length = countBefore(rest, '"');
        if (length == rest.size) {
            m_Reader.seek(m_Reader.size());  // no closing quote: refused at the end
            return -1;
        }
        ByteSpan raw;
        m_Reader.readBytes(length, raw);
        if (countBefore(raw, '&') == raw.size) {
            attrs.set(name, viewOf(raw));
        } else {
            decodeEntities(raw, m_Decoded);
            attrs.set(name, m_Decoded);
        }
        return 0;
    }

    // At '<' and a name-start character.
    int readStartTag(std::string_view& name, attributes& attrs, bool& empty) {
        step(1);
        if (readName(name) != 0)
            return -1;
        for (;;) {
            skipSpace();
            int c = peek();
            if (c == -1 || c == '>' || (c == '/' && peek(1) == '>'))
                break;
            if (readAttribute(attrs) != 0)
                return -1;
            step(1);
        }
        if (peek() == '/' && peek(1) == '>') {
            step(1);
            empty = true;
        }
        step(1);
        return 0;
    }

    // At "</"; `open` is the innermost open element name.
    int readEndTag(std::string_view open) {
        step(2);
        // The open name was read by readName, so the text holds the same
        // name here exactly when it starts with it and no name character
        // follows; only a mismatch needs readName, for where it stops.
        ByteSpan rest = m_Reader.rest();
        if (rest.size >= open.size() && viewOf(rest.first(open.size())) == open &&
            !is(peek(open.size()), kNameChar)) {
            m_Reader.skip(open.size());
        } else {
            std::string_view name;
            if (readName(name) != 0 || name != open)
                return -1;
        }
        skipSpace();
        if (peek() != '>')
            return -1;
        step(1);
        return 0;
    }

    void readTextRun() {
        skipSpace();
        if (peek() == '<')
            return;  // only white space between two tags, the usual case
        ByteSpan raw;
        m_Reader.readBytes(countBefore(m_Reader.rest(), '<'), raw);
        if (raw.empty() || !m_Events)
            return;
        int32_t count = raw.size > static_cast<size_t>(std::numeric_limits<int32_t>::max())
                            ? std::numeric_limits<int32_t>::max()
                            : static_cast<int32_t>(raw.size);
        if (countBefore(raw, '&') == raw.size) {
            m_Events->charactersView(viewOf(raw), count);
        } else {
            decodeEntities(raw, m_Decoded);
            m_Events->charactersView(m_Decoded, count);
        }
        stopCheck();
    }

    void reportError() {
        std::string line;
        if (m_Reader.atEnd()) {
            line = "<<end of string>>\n";
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "Parsing error at character %d, '%c'\n",
                          static_cast<int>(m_Reader.offset()), peek());
            line = text;
        }
        say(line);
    }

    void say(const std::string& line) {
        if (m_Report) {
            *m_Report += line;
        } else {
            std::fputs(line.c_str(), stdout);
            std::fflush(stdout);
        }
    }

    int elementLoop() {
        int r = 0;
        // Names are never decoded: the open ones are views of the text.
        NameStack open;
        attributes attrs;
        while (!m_Reader.atEnd() && r == 0) {
            int c = peek();
            int next = peek(1);
            if (c != '<') {
                if (open.empty()) {
                    if (is(c, kSpace)) {
                        skipSpace();
                    } else {
                        say("dunno what to do?!\n");
                        r = -1;
                    }
                } else {
                    readTextRun();
                    skipSpace();
                }
            } else if (is(next, kNameStart)) {
                std::string_view name;
                bool empty = false;
                attrs.clear();
                if (readStartTag(name, attrs, empty) != 0) {
                    r = -1;
                    break;
                }
                if (m_Events) {
                    m_Events->startElementView(name, attrs);
                    if (empty)
                        m_Events->endElementView(name);
                }
                if (!empty)
                    open.push_back(name);
                stopCheck();
            } else if (next == '/') {
                // With nothing open there is no name to close: refused at '<'.
                if (open.empty() || readEndTag(open.back()) != 0) {
                    r = -1;
                    break;
                }
                if (m_Events) {
                    m_Events->endElementView(open.back());
                    stopCheck();
                }
                open.pop_back();
            } else if (next == '?') {
                r = skipProcessingInstruction();
            } else if (next == '!') {
                r = skipComment();
            } else {
                step(1);
            }
        }
        if (r == -1) {
            reportError();
            return -1;
        }
        return 0;
    }

    ByteReader m_Reader;
    SimpleSAXHandler* m_Handler;  // startDocument and endDocument
    SimpleSAXHandler* m_Events;   // everything else; null once muted
    std::string* m_Report;        // null: error lines go to standard output
    std::string m_Decoded;        // the decoded copy of the current run or value
};

}  // namespace

SimpleSAXParser::SimpleSAXParser(SimpleSAXHandler* handler) : m_Handler(handler) {}

SimpleSAXParser::~SimpleSAXParser() {
    m_Handler = nullptr;
}

int SimpleSAXParser::parse(const char* text) {
    Parse p(text ? text : "", m_Handler, nullptr);
    return p.run();
}

int SimpleSAXParser::parse(const std::string& text) {
    return parse(text.c_str());
}

int SimpleSAXParser::parse(const char* text, std::string& report) {
    report.clear();
    Parse p(text ? text : "", m_Handler, &report);
    return p.run();
}

}  // namespace qor
