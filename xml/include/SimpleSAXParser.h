// A small event-driven XML parser for the printer's method responses.
//
// It knows elements, double-quoted attributes, text, the five predefined
// character entities, processing instructions and comments; there is no DTD,
// namespace or CDATA support. The text is walked once, left to right, with
// no recursion, and every byte is read through a bounds-checked reader, so
// untrusted input can neither over-read nor exhaust the stack, and the work
// done is proportional to the length of the text. Names, and text runs and
// values without entities, are handed out as views of the text itself:
// nothing is copied per element but attributes and decoded text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// The attributes of one start tag: an ordered map from name to value, both
// byte strings, sorted by byte-wise comparison of the names. Kept as a flat
// list: a tag has few attributes, and names that arrive in order (or one
// alone) are appended without any search; others are put in order on the
// next lookup, so a hostile tag of many attributes costs n log n.
class attributes {
  public:
    attributes() = default;
    attributes(const attributes&) = default;
    attributes& operator=(const attributes&) = default;
    attributes(attributes&&) noexcept = default;
    attributes& operator=(attributes&&) noexcept = default;
    virtual ~attributes() = default;

    // Stores `value` under `name`; an existing entry of that name is replaced.
    void set(std::string_view name, std::string_view value);
    // True when an entry named `name` exists.
    bool has(std::string_view name) const;
    // The value of `name`, or an empty string when absent.
    std::string get(std::string_view name) const;
    // The same without a copy: a view valid until the next change.
    std::string_view view(std::string_view name) const;

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
    struct Entry {
        std::string name;
        std::string value;
    };
    // Sorts by name when names came out of order, keeping the last value set
    // for a repeated name.
    void settle() const {
        if (m_Unsorted)
            sortEntries();
    }
    void sortEntries() const;
    const Entry* find(std::string_view name) const;

    mutable std::vector<Entry> m_Entries;
    mutable bool m_Unsorted = false;
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

    // The parser reports elements and text through these three. `name` and
    // `text` are views of the parsed text (or of a decoded copy of a run)
    // valid for the call only. By default each passes a NUL-terminated copy
    // to the operation above; a handler that can use the views overrides
    // these instead and saves the copy.
    virtual void startElementView(std::string_view name, const attributes& attrs) {
        startElement(std::string(name).c_str(), attrs);
    }
    virtual void endElementView(std::string_view name) { endElement(std::string(name).c_str()); }
    virtual void charactersView(std::string_view text, int32_t count) {
        characters(std::string(text).c_str(), count);
    }

    // Set by the handler to stop the parse; cleared only by the handler.
    bool m_Stop = false;
    // Set by the handler when it needs no more events but the parse is to go
    // on to the end of the text or its fault, for the result and the error
    // lines (as if the parse had had no handler). As after m_Stop, only
    // endDocument follows (and the end of an empty-element tag whose start
    // set it).
    bool m_Mute = false;
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
    // Same as parse(text), except that the error lines are not printed but
    // stored in `report` (with their line ends; empty when nothing would have
    // been printed), for a caller that prints them itself.
    int parse(const char* text, std::string& report);

  private:
    SimpleSAXHandler* m_Handler;
};

}  // namespace qor
