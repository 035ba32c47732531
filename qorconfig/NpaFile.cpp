#include "NpaFile.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "ByteRoutines.h"
#include "InputChecks.h"
#include "Options.h"

namespace qor {

std::string hexDigitsOf(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
    return digits;
}

int loadNpaFile(ConfigDetails& configuration, const std::string& path, std::string* refusal) {
    std::string text;
    if (!readFileText(path, text))
        return -1;
    // A stray character would drop out and shift every later byte.
    std::string problem = checkNpaText(text, path);
    if (!problem.empty()) {
        if (refusal)
            *refusal = problem;
        return -2;
    }
    configuration.npaData = hexDigitsOf(text);
    std::fprintf(stdout, "npaFileData: (%d bytes) %s\n",
                 static_cast<int>(configuration.npaData.size()), configuration.npaData.c_str());
    return 0;
}

int sendNPA(WirelessConfigurator& configurator, const uint8_t* bytes, size_t count,
            unsigned windowSeconds) {
    std::vector<uint8_t> reply;
    int got = configurator.channel().exchangeStream(ByteSpan(bytes, count), reply, windowSeconds);
    if (got < 0 || static_cast<size_t>(got) > reply.size())
        got = static_cast<int>(reply.size());
    std::fprintf(stderr, "D [QOR] sendNPA response (%d bytes)\n", got);
    hexDump(reply.data(), static_cast<size_t>(got));
    return 0;
}

std::vector<uint8_t> decodeNpaData(const std::string& npaData) {
    std::string digits = npaData;
    if (digits.size() % 2)
        digits.pop_back();
    std::vector<uint8_t> bytes;
    if (!digits.empty())
        hexToBytes(digits, bytes);
    return bytes;
}

int sendNpaData(WirelessConfigurator& configurator) {
    std::vector<uint8_t> bytes = decodeNpaData(configurator.config().npaData);
    std::fprintf(stderr, "D [QOR] NPA data: %d bytes\n", static_cast<int>(bytes.size()));
    hexDump(bytes.data(), bytes.size());
    sendNPA(configurator, bytes.data(), bytes.size(), 10);
    return 0;
}

}  // namespace qor
