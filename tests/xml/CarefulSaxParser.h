// The parser as it first stood: every byte read one at a time, every name,
// value and run its own string. Slow but plain; the tests hold the parser's
// fast paths to it, event for event and line for line.
#pragma once

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "SimpleSAXParser.h"
#include "qor/ByteReader.h"

namespace qor::testing::careful {

inline bool isSpace(int c) {
    return c == 0x09 || c == 0x20 || c == 0x0D || c == 0x0A;
}

inline bool isNameStart(int c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline bool isNameChar(int c) {
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

inline int lower(int c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Decodes the five predefined entities in `in`. Each '&' up to the next ';'
// is replaced by its character, or by nothing when the entity is unknown; the
// scan then resumes one character after where the replacement started, so a
// decoded '&' is never decoded again and, after a removed entity, the
// character that moved into its place is passed over unscanned. Without a
// later ';' the rest is kept as it is. Linear: every ';' is consumed once.
inline std::string decodeEntities(ByteSpan in) {
    // Most runs and values hold no entity at all: they stay as they are.
    if (in.empty())
        return std::string();
    if (std::memchr(in.data, '&', in.size) == nullptr)
        return in.toString();
    ByteReader r(in);
    std::string out;
    out.reserve(in.size);
    bool skipNext = false;
    size_t semicolon = 0;  // cached position of the next ';' at or after r
    bool haveSemicolon = false;
    uint8_t c = 0;
    while (r.peekU8(c)) {
        if (skipNext || c != '&') {
            skipNext = false;
            out.push_back(static_cast<char>(c));
            r.skip(1);
            continue;
        }
        size_t start = r.offset();
        if (!haveSemicolon || semicolon < start) {
            haveSemicolon = false;
            for (size_t p = start; r.byteAt(p, c); ++p) {
                if (c == ';') {
                    semicolon = p;
                    haveSemicolon = true;
                    break;
                }
            }
            if (!haveSemicolon) {
                // No ';' anywhere after: decoding ends, the rest stays.
                ByteSpan rest = r.rest();
                out.append(reinterpret_cast<const char*>(rest.data), rest.size);
                return out;
            }
        }
        ByteSpan entity;
        r.readBytes(semicolon - start + 1, entity);
        std::string name = entity.toString();
        if (name == "&amp;")
            out.push_back('&');
        else if (name == "&quot;")
            out.push_back('"');
        else if (name == "&apos;")
            out.push_back('\'');
        else if (name == "&lt;")
            out.push_back('<');
        else if (name == "&gt;")
            out.push_back('>');
        else
            skipNext = true;  // removed: the next character takes its place
    }
    return out;
}

// One parse over the caller's text, read in place (it does not change while
// the parse runs). Positions may run one past the end (a start tag cut off at
// the end of the text steps past '>' that is not there); every read goes
// through the reader, or memchr over one of its spans, and sees nothing there.
class Parse {
  public:
    Parse(const char* text, SimpleSAXHandler* handler)
        : m_Text(text),
          m_Reader(reinterpret_cast<const uint8_t*>(m_Text.data()), m_Text.size()),
          m_Length(m_Text.size()),
          m_Handler(handler) {}

    int run() {
        int r = 0;
        if (m_Handler) {
            m_Handler->startDocument();
            stopCheck();
        }
        while (m_Pos < m_Length && r != -1) {
            if (at(m_Pos) == '<' && at(m_Pos + 1) == '?') {
                r = skipProcessingInstruction();
            } else if (at(m_Pos) == '<' && at(m_Pos + 1) == '!') {
                r = skipComment();
            } else if (at(m_Pos) == '<' && isNameStart(at(m_Pos + 1))) {
                r = elementLoop();
                stopCheck();
                break;
            } else {
                ++m_Pos;
            }
            stopCheck();
        }
        if (m_Handler)
            m_Handler->endDocument();
        return r == -1 ? -1 : 0;
    }

  private:
    // The byte at `pos`, or -1 past the end.
    int at(size_t pos) const {
        uint8_t c = 0;
        return m_Reader.byteAt(pos, c) ? c : -1;
    }

    bool stopRequested() const { return m_Handler && m_Handler->m_Stop; }
    void stopCheck() {
        if (stopRequested())
            m_Pos = m_Length;
    }

    // Position of `pattern` at or after `from`, or npos.
    size_t find(const char* pattern, size_t from) const {
        return from >= m_Length ? std::string::npos : m_Text.find(pattern, from);
    }

    std::string slice(size_t from, size_t to) const {
        ByteReader r(m_Reader.whole());
        ByteSpan span;
        if (!r.seek(from) || to < from || !r.readBytes(to - from, span))
            return std::string();
        return span.toString();
    }

    // Position of the first `c` at or after `from`, else m_Length; a `from`
    // already at or past the end is returned as it is.
    size_t findByte(uint8_t c, size_t from) const {
        ByteSpan rest = m_Reader.whole().from(from);
        if (rest.empty())
            return from;
        const void* hit = std::memchr(rest.data, c, rest.size);
        if (hit == nullptr)
            return m_Length;
        return from + static_cast<size_t>(static_cast<const uint8_t*>(hit) - rest.data);
    }

    void skipSpace() {
        while (isSpace(at(m_Pos)))
            ++m_Pos;
    }

    // "<?" through the first "?>" at or after the '<'.
    int skipProcessingInstruction() {
        size_t end = find("?>", m_Pos);
        if (end == std::string::npos) {
            m_Pos = m_Length;
            return -1;
        }
        m_Pos = end + 2;
        return 0;
    }

    // "<!" through the first "-->" after it.
    int skipComment() {
        size_t end = find("-->", m_Pos + 2);
        if (end == std::string::npos) {
            m_Pos = m_Length;
            return -1;
        }
        m_Pos = end + 3;
        return 0;
    }

    // An element name: 1 at white space, -1 at any other non-name-start
    // character or at a name beginning with "xml" in any case, else 0.
    int readName(std::string& name) {
        int c = at(m_Pos);
        if (isSpace(c))
            return 1;
        if (!isNameStart(c))
            return -1;
        if (lower(at(m_Pos)) == 'x' && lower(at(m_Pos + 1)) == 'm' && lower(at(m_Pos + 2)) == 'l')
            return -1;
        size_t start = m_Pos;
        while (isNameChar(at(m_Pos)))
            ++m_Pos;
        name = slice(start, m_Pos);
        return 0;
    }

    // name="value" at m_Pos; on success m_Pos is at the closing quote.
    int readAttribute(std::string& name, std::string& value) {
        int c = at(m_Pos);
        if (isSpace(c))
            return 1;
        if (!isNameStart(c))
            return -1;
        size_t start = m_Pos;
        while (isNameChar(at(m_Pos)))
            ++m_Pos;
        name = slice(start, m_Pos);
        skipSpace();
        if (at(m_Pos) != '=')
            return -1;
        ++m_Pos;
        skipSpace();
        if (m_Pos >= m_Length)
            return -1;
        c = at(m_Pos);
        if (isSpace(c))
            return 1;
        if (c != '"')
            return -1;
        ++m_Pos;
        start = m_Pos;
        m_Pos = findByte('"', m_Pos);
        if (m_Pos >= m_Length)
            return -1;  // no closing quote
        ByteReader r(m_Reader.whole());
        ByteSpan raw;
        r.seek(start);
        r.readBytes(m_Pos - start, raw);
        value = decodeEntities(raw);
        return 0;
    }

    // At '<' and a name-start character.
    int readStartTag(std::string& name, attributes& attrs, bool& empty) {
        ++m_Pos;
        if (readName(name) != 0)
            return -1;
        for (;;) {
            skipSpace();
            if (m_Pos >= m_Length || at(m_Pos) == '>' || (at(m_Pos) == '/' && at(m_Pos + 1) == '>'))
                break;
            std::string attrName, attrValue;
            if (readAttribute(attrName, attrValue) != 0)
                return -1;
            attrs.set(attrName, attrValue);
            ++m_Pos;
        }
        if (at(m_Pos) == '/' && at(m_Pos + 1) == '>') {
            ++m_Pos;
            empty = true;
        }
        ++m_Pos;
        return 0;
    }

    // At "</"; `open` is the innermost open element name.
    int readEndTag(const std::string& open) {
        m_Pos += 2;
        std::string name;
        if (readName(name) != 0 || name != open)
            return -1;
        skipSpace();
        if (at(m_Pos) != '>')
            return -1;
        ++m_Pos;
        return 0;
    }

    void readTextRun() {
        skipSpace();
        size_t start = m_Pos;
        m_Pos = findByte('<', m_Pos);
        if (m_Pos == start)
            return;
        ByteReader r(m_Reader.whole());
        ByteSpan raw;
        r.seek(start);
        r.readBytes(m_Pos - start, raw);
        if (m_Handler) {
            std::string text = decodeEntities(raw);
            int32_t count = raw.size > static_cast<size_t>(std::numeric_limits<int32_t>::max())
                                ? std::numeric_limits<int32_t>::max()
                                : static_cast<int32_t>(raw.size);
            m_Handler->characters(text.c_str(), count);
            stopCheck();
        }
    }

    int elementLoop() {
        int r = 0;
        std::vector<std::string> open;
        while (m_Pos < m_Length && r == 0) {
            int c = at(m_Pos);
            int next = at(m_Pos + 1);
            if (c != '<') {
                if (open.empty()) {
                    if (isSpace(c)) {
                        ++m_Pos;
                    } else {
                        std::printf("dunno what to do?!\n");
                        r = -1;
                    }
                } else {
                    readTextRun();
                    skipSpace();
                }
            } else if (isNameStart(next)) {
                std::string name;
                attributes attrs;
                bool empty = false;
                if (readStartTag(name, attrs, empty) != 0) {
                    r = -1;
                    break;
                }
                open.push_back(name);
                if (m_Handler) {
                    m_Handler->startElement(name.c_str(), attrs);
                    if (empty)
                        m_Handler->endElement(name.c_str());
                }
                if (empty)
                    open.pop_back();
                stopCheck();
            } else if (next == '/') {
                // With nothing open there is no name to close: refused at '<'.
                if (open.empty() || readEndTag(open.back()) != 0) {
                    r = -1;
                    break;
                }
                if (m_Handler) {
                    m_Handler->endElement(open.back().c_str());
                    stopCheck();
                }
                open.pop_back();
            } else if (next == '?') {
                r = skipProcessingInstruction();
            } else if (next == '!') {
                r = skipComment();
            } else {
                ++m_Pos;
            }
        }
        if (r == -1) {
            if (m_Pos >= m_Length)
                std::printf("<<end of string>>\n");
            else
                std::printf("Parsing error at character %d, '%c'\n", static_cast<int>(m_Pos),
                            at(m_Pos));
            std::fflush(stdout);
            return -1;
        }
        return 0;
    }

    const std::string_view m_Text;
    const ByteReader m_Reader;
    const size_t m_Length;
    SimpleSAXHandler* m_Handler;
    size_t m_Pos = 0;
};

// Parses `text` (up to its first NUL) and reports to `handler` through its
// NUL-terminated operations; prints the error lines itself.
inline int parse(const char* text, SimpleSAXHandler* handler) {
    Parse p(text ? text : "", handler);
    return p.run();
}

}  // namespace qor::testing::careful
