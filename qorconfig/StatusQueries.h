// Reading the printer's 802.1x and certificate settings back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "WirelessConfigurator.h"
#include "qor/ByteReader.h"

namespace qor {

// A read reply record found in collected reply bytes.
struct ReplyRecord {
    size_t position;      // of its 0xA5 start byte
    uint16_t dataLength;  // as the record declares it
    ByteSpan data;        // the data bytes present (at most dataLength)
};

// Asks for the whole declared data to be present.
constexpr size_t kWholeData = static_cast<size_t>(-1);

// The first position i where bytes[i] is 0xA5 and bytes[i+3..i+8] are
// 50 E0 D8 00 `group` `item`, the 16-bit data length at i+9 lies within the
// bytes, and at least `needData` data bytes (or all of them for kWholeData)
// follow at i+11. Never reads outside `bytes`.
std::optional<ReplyRecord> findReplyRecord(ByteSpan bytes, uint8_t group, uint8_t item,
                                           size_t needData = 0);

// The text of an 802.1x authentication status (0..11; others get a fixed text).
const char* authStatusText(unsigned status);

// -802s: the status byte (0..11 or above), or -1 when no record came.
int query8021xStatus(WirelessConfigurator& configurator);
// -cer: the organisation and common-name queries; always 0.
int certSettings(WirelessConfigurator& configurator);
// 0 when the organisation was found (and logged), else -1.
int queryCertOrganization(WirelessConfigurator& configurator);
// Logs the reply only; always -1.
int queryCertCommonName(WirelessConfigurator& configurator);

}  // namespace qor
