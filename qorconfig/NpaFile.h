// Sending a raw NPA request written out in hexadecimal in a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ConfigDetails.h"
#include "WirelessConfigurator.h"

namespace qor {

// The hexadecimal digits of `text`, in order; everything else is dropped.
std::string hexDigitsOf(const std::string& text);

// Reads `path` into configuration.npaData (its hex digits only) and prints
// "npaFileData: (%d bytes) %s\n" to standard output. Returns 0, -1 when the
// file cannot be opened, or -2 when it holds anything but hexadecimal digit
// pairs and white space (checkNpaText; the refusal goes to `refusal` when
// given). On -1 and -2 npaData is unchanged and nothing is printed.
int loadNpaFile(ConfigDetails& configuration, const std::string& path,
                std::string* refusal = nullptr);

// The request bytes of npaData: two digits to a byte, an odd last digit
// left out (it has no partner).
std::vector<uint8_t> decodeNpaData(const std::string& digits);

// Sends the bytes as they are (never wrapped), collects replies for
// `windowSeconds` and dumps them to standard error. Returns 0.
int sendNPA(WirelessConfigurator& configurator, const uint8_t* bytes, size_t count,
            unsigned windowSeconds);

// The -npa action: decodes npaData, dumps it and sends it. Returns 0.
int sendNpaData(WirelessConfigurator& configurator);

}  // namespace qor
