// Survey answers as the two kinds of printer send them, for the scripted
// printer under the survey devices.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "FakePrinter.h"

namespace qor::test {

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The direct kind's survey reply: echo 50 E0 D8 00 28 39, data length, data.
inline std::vector<uint8_t> directSurveyReply(const std::string& data, uint8_t flags = 0x50) {
    const uint8_t high = static_cast<uint8_t>(data.size() >> 8);
    const uint8_t low = static_cast<uint8_t>(data.size());
    std::vector<uint8_t> body = {flags, 0xE0, 0xD8, 0x00, 0x28, 0x39, high, low};
    body.insert(body.end(), data.begin(), data.end());
    return wirePacket(body);
}

// The forwarding kind's survey reply: flags, E0 63 02, three bytes, then the
// inner reply (A5 len 50 E0 D8 00 28 39 and its data length), then data.
inline std::vector<uint8_t> forwardedSurveyReply(const std::string& data, uint8_t flags = 0x50) {
    const uint8_t high = static_cast<uint8_t>(data.size() >> 8);
    const uint8_t low = static_cast<uint8_t>(data.size());
    std::vector<uint8_t> body = {flags, 0xE0, 0x63, 0x02, 0x00, 0x00, 0x00, 0xA5, 0x00,
                                 0x00,  0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39, high, low};
    body.insert(body.end(), data.begin(), data.end());
    return wirePacket(body);
}

}  // namespace qor::test
