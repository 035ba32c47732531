// Both site survey parsers over arbitrary printer bytes: cutting, cleaning,
// every record and every cell text. The first byte picks how the rest is
// offered (whole, or split in two parses that append).
#include <cstddef>
#include <cstdint>
#include <string>

#include "SurveyCells.h"

namespace {

// `signalNeverEmpty`: the forwarding format falls back to "99" for any empty
// signal; the direct one only for a missing label.
template <typename Cells>
void exercise(const uint8_t* data, size_t size, bool split, bool signalNeverEmpty) {
    Cells cells;
    int total = 0;
    if (split && size > 1) {
        size_t half = size / 2;
        total += cells.parse(data, static_cast<int>(half));
        total += cells.parse(data + half, static_cast<int>(size - half));
    } else {
        total = cells.parse(data, static_cast<int>(size));
    }
    if (total < 0 || static_cast<size_t>(total) != cells.cells().size())
        __builtin_trap();
    std::string text;
    for (int i = 0; i <= total; ++i) {
        qor::SiteRecord record;
        cells.fillRecord(record, i);
        cells.cellText(text, i);
        if (signalNeverEmpty && record.signal.empty())
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > (1u << 20))
        return 0;
    bool split = (data[0] & 1) != 0;
    exercise<qor::PSSDCells>(data + 1, size - 1, split, true);
    exercise<qor::ISDCells>(data + 1, size - 1, split, false);
    return 0;
}
