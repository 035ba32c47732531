// A small event-driven XML parser for the printer's method responses.
//
// It knows elements, double-quoted attributes, text, the five predefined
// character entities, processing instructions and comments; there is no DTD,
// namespace or CDATA support. The text is walked once, left to right, with
// no recursion, and every byte is read through a bounds-checked reader, so
// untrusted input can neither over-read nor exhaust the stack, and the work
// done is proportional to the length of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace qor {

// The attributes of one start tag: an ordered map from name to value, both
// byte strings, sorted by byte-wise comparison of the names.
class attributes {
  public:
    attributes() = default;
    attributes(const attributes&) = default;
    attributes& operator=(const attributes&) = default;
    virtual ~attributes() = default;

    // Stores `value` under `name`; an existing entry of that name is replaced.
    void set(const std::string& name, const std::string& value);
    // True when an entry named `name` exists.
    bool has(const std::string& name) const;
    // The value of `name`, or an empty string when absent.
    std::string get(const std::string& name) const;

    // The three copying getters zero all `size` bytes of `buffer`, then copy
    // at most size - 1 bytes of the value (or name) into it and return the
    // number copied. They return 0 (buffer still zeroed) when the name is
    // absent, when `index` is not below count(), or when buffer is null or
    // size is 0. The index-th entry is counted in name order from 0.
    int getValue(const char* name, char* buffer, size_t size) const;
    int getName(int index, char* buffer, size_t size) const;
    int getValue(int index, char* buffer, size_t size) const;

    // Number of entries.
    int count() const;
    // Removes every entry.
    void clear();

  private:
    std::map<std::string, std::string> m_Entries;
};

// Receives the parser's events. Every operation does nothing here; a handler
// overrides the ones it needs and sets m_Stop to ask the parser to stop (the
// parser then sends nothing more except endDocument).
class SimpleSAXHandler {
  public:
    SimpleSAXHandler() = default;
    virtual ~SimpleSAXHandler() = default;

    // Called once at the start of every parse.
    virtual void startDocument() {}
    // A start tag: `name` NUL-terminated, `attrs` its attributes (valid for
    // the call only).
    virtual void startElement(const char* name, const attributes& attrs) {
        (void)name;
        (void)attrs;
    }
    // An end tag, or the end of an empty-element tag ("<a/>").
    virtual void endElement(const char* name) { (void)name; }
    // A run of text with entities decoded, NUL-terminated; `count` is the
    // number of characters the run had before decoding.
    virtual void characters(const char* text, int32_t count) {
        (void)text;
        (void)count;
    }
    // Called once at the end of every parse, also after a failure.
    virtual void endDocument() {}

    // Set by the handler to stop the parse; cleared only by the handler.
    bool m_Stop = false;
};

class SimpleSAXParser {
  public:
    // `handler` is not owned and may be null (then nothing is reported).
    explicit SimpleSAXParser(SimpleSAXHandler* handler);
    virtual ~SimpleSAXParser();

    // Parses `text` (up to its first NUL) from the start, reporting events to
    // the handler. Returns 0, or -1 on a malformed document. A malformed
    // element part prints one error line on standard output:
    // "<<end of string>>" when the error was met at the end of the text, else
    // "Parsing error at character %d, '%c'" with the position and character
    // (preceded by "dunno what to do?!" for stray text outside the elements).
    // An end tag met when no element is open is refused at its '<'.
    int parse(const char* text);
    // Same as parse(text.c_str()): the text ends at its first NUL.
    int parse(const std::string& text);

  private:
    SimpleSAXHandler* m_Handler;
};

}  // namespace qor
