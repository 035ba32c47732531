#include "StatusQueries.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ByteRoutines.h"

namespace qor {

std::optional<ReplyRecord> findReplyRecord(ByteSpan bytes, uint8_t group, uint8_t item,
                                           size_t needData) {
    const uint8_t kHeader[] = {0x50, 0xE0, 0xD8, 0x00, group, item};
    for (size_t i = 0; i < bytes.size; ++i) {
        ByteReader reader(bytes);
        uint8_t start = 0;
        ByteSpan header;
        uint16_t length = 0;
        if (!reader.seek(i) || !reader.readU8(start) || start != 0xA5)
            continue;
        if (!reader.skip(2) || !reader.readBytes(sizeof kHeader, header))
            continue;
        bool same = true;
        for (size_t k = 0; k < sizeof kHeader; ++k)
            same = same && header.data[k] == kHeader[k];
        if (!same || !reader.readBE16(length))
            continue;
        ByteSpan data = reader.readAtMost(length);
        size_t need = needData == kWholeData ? length : needData;
        if (data.size < need)
            continue;
        return ReplyRecord{i, length, data};
    }
    return std::nullopt;
}

const char* authStatusText(unsigned status) {
    static const char* const kTexts[] = {"802.1x not enabled",
                                         "NOT authenticated (deprecated)",
                                         "Authenticated",
                                         "Not Connected",
                                         "Server Cert Not Yet Valid",
                                         "Server Cert Expired",
                                         "Other Server Cert Verification Failure",
                                         "Client Cert Verification Failed",
                                         "EAP Type Mismatch",
                                         "Authentication Failed (general)",
                                         "Authentication in Progress",
                                         "CA Certificate Not Installed"};
    return status < 12 ? kTexts[status] : "Unknown status";
}

namespace {

// Writes the first line, sends the read request and logs what came back.
std::vector<uint8_t> queryExchange(WirelessConfigurator& configurator, uint8_t group, uint8_t item,
                                   const char* firstLine, const char* responseFormat) {
    std::fputs(firstLine, stderr);
    std::vector<uint8_t> request = configurator.readRequest(group, item);
    std::vector<uint8_t> reply;
    int count = configurator.link().exchangeStream(request.data(), request.size(), reply, 3);
    if (count < 0 || static_cast<size_t>(count) > reply.size())
        count = static_cast<int>(reply.size());
    reply.resize(static_cast<size_t>(count));
    std::fprintf(stderr, responseFormat, count);
    hexDump(reply.data(), reply.size());
    return reply;
}

}  // namespace

int query8021xStatus(WirelessConfigurator& configurator) {
    std::vector<uint8_t> reply =
        queryExchange(configurator, kGroup8021x, 0x1D, "D [QOR] 802.1x Authentication status...\n",
                      "D [QOR] Auth status response (%d bytes)\n");
    auto record = findReplyRecord(reply, kGroup8021x, 0x1D, 1);
    if (!record)
        return -1;
    unsigned status = record->data.data[0];
    std::fprintf(stderr, "D [QOR] Status: %d (%s)\n", status, authStatusText(status));
    return static_cast<int>(status);
}

int queryCertOrganization(WirelessConfigurator& configurator) {
    std::vector<uint8_t> reply =
        queryExchange(configurator, kGroup8021x, 0x06, "D [QOR] Cert Organization...\n",
                      "D [QOR] Cert org (%d bytes)\n");
    auto record = findReplyRecord(reply, kGroup8021x, 0x06, kWholeData);
    if (!record)
        return -1;
    std::string organization = record->data.first(record->dataLength).toString();
    std::fprintf(stderr, "D [QOR] Organization (%d bytes): ", static_cast<int>(record->dataLength));
    std::fwrite(organization.data(), 1, organization.size(), stderr);
    std::fputc('\n', stderr);
    return 0;
}

int queryCertCommonName(WirelessConfigurator& configurator) {
    queryExchange(configurator, kGroup8021x, 0x0A, "D [QOR] Cert common name...\n",
                  "D [QOR] Common name resp (%d bytes)\n");
    return -1;
}

int certSettings(WirelessConfigurator& configurator) {
    std::fputs("D [QOR] Certifcate settings...\n", stderr);
    queryCertOrganization(configurator);
    queryCertCommonName(configurator);
    return 0;
}

}  // namespace qor
