// Reading the printer's 802.1x and certificate settings back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "WirelessConfigurator.h"
#include "qor/ByteReader.h"

namespace qor {

// The text of an 802.1x authentication status (0..11; others get a fixed text).
const char* authStatusText(unsigned status);

// -802s: the status byte (0..11 or above), the first data byte of an answer
// of the promised form; -1 when none came.
int query8021xStatus(WirelessConfigurator& configurator);
// -cer: the organisation and common-name queries; always 0.
int certSettings(WirelessConfigurator& configurator);
// 0 when the organisation was found (and logged), else -1.
int queryCertOrganization(WirelessConfigurator& configurator);
// Logs the reply only; always -1.
int queryCertCommonName(WirelessConfigurator& configurator);

}  // namespace qor
