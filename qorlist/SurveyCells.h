// Site survey parsers: cut the printer's wireless scan listing into cells and
// turn each cell into a SiteRecord.
//
// The survey text comes from the printer and is untrusted: cutting and
// extraction only look inside it and take time proportional to its length
// (markers are short fixed strings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor {

// One site as the lister reports it. `encryption` carries the value of the
// "Encryption key:" label (on/off); nothing prints it.
struct SiteRecord {
    std::string ssid;
    std::string channel;
    std::string mode;
    std::string signal;
    std::string security;
    std::string encryption;
};

// A survey text parser, owned and deleted by the application through this
// base (hence the virtual destructor).
class CellsInterface {
  public:
    // Cuts `length` bytes at `data` into cells and appends them to the cell
    // list; returns the number of cells found in this text (0 when `data` is
    // null or `length` is not positive).
    virtual int parse(const uint8_t* data, int length) = 0;
    // The text of cell `index` unchanged; empty for an index outside the list.
    virtual void cellText(std::string& out, int index) const = 0;
    // Fills `record` from cell `index` (all fields empty or fixed values for an
    // index outside the list); returns 0.
    virtual int fillRecord(SiteRecord& record, int index) const = 0;
    virtual ~CellsInterface() = default;

    // The stored cell texts, in survey order.
    const std::vector<std::string>& cells() const { return m_Cells; }

  protected:
    // Stores the cells of `text`: everything before the first "Cell" is
    // dropped, each "Cell" ends the current cell and starts the next (the word
    // itself belongs to none), a non-empty last cell is kept. Returns the
    // number stored.
    int cutCells(const std::string& text);

    std::vector<std::string> m_Cells;
};

// The survey format of printers reached through the forwarding sub-channel.
class PSSDCells : public CellsInterface {
  public:
    int parse(const uint8_t* data, int length) override;
    void cellText(std::string& out, int index) const override;
    int fillRecord(SiteRecord& record, int index) const override;

    // The text between the first `startMarker` and the first `endMarker`
    // after it; empty when the start marker is missing or no end marker
    // follows it.
    static void extractBetween(std::string& out, const std::string& text,
                               const std::string& startMarker, const std::string& endMarker);

    // Drops NUL bytes, bytes of value 127 or more, and "=" directly followed
    // by 'p', 'q' or 'r' together with that letter.
    static std::string clean(const uint8_t* data, size_t length);
};

// The survey format of printers whose wireless adapter answers directly.
class ISDCells : public CellsInterface {
  public:
    int parse(const uint8_t* data, int length) override;
    void cellText(std::string& out, int index) const override;
    int fillRecord(SiteRecord& record, int index) const override;

    // As PSSDCells::extractBetween, and with `includeStart` 1 the result
    // begins with the start marker itself. A start marker that is missing or
    // stands at the very start of the text gives "None" for "IE:" and "99"
    // for "Signal level=-"; other missing markers give an empty result.
    static void extractBetween(std::string& out, const std::string& text,
                               const std::string& startMarker, const std::string& endMarker,
                               int includeStart);
};

}  // namespace qor
