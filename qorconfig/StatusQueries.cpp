#include "StatusQueries.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ByteRoutines.h"
#include "NpaPacket.h"

namespace qor {

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

// A query's request and what came back for it.
struct Query {
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    bool heard = false;  // any byte arrived, kept or not
    bool errorAnswer = false;
};

// Writes the first line, sends the read request and logs what came back.
Query queryExchange(WirelessConfigurator& configurator, uint8_t group, uint8_t item,
                    const char* firstLine, const char* responseFormat) {
    std::fputs(firstLine, stderr);
    Query q;
    q.request = configurator.readRequest(group, item);
    int count = configurator.channel().exchangeStream(q.request, q.reply, 3);
    if (count < 0 || static_cast<size_t>(count) > q.reply.size())
        count = static_cast<int>(q.reply.size());
    q.reply.resize(static_cast<size_t>(count));
    NpaStreamNote note = configurator.channel().lastStreamNote();
    q.heard = count > 0 || note.heard;
    q.errorAnswer = count == 0 && note.errorAnswer;
    std::fprintf(stderr, responseFormat, count);
    hexDump(q.reply.data(), q.reply.size());
    return q;
}

// Why a query found no data: nothing came, an error answer, or bytes of
// another form (garbled or cut short, kept or not).
Outcome missing(const Query& q) {
    if (q.errorAnswer)
        return {Failure::ErrorAnswer, 1, 0};
    return {q.heard ? Failure::BadAnswer : Failure::NoAnswer, 1, 0};
}

}  // namespace

int query8021xStatus(WirelessConfigurator& configurator) {
    Query q =
        queryExchange(configurator, kGroup8021x, 0x1D, "D [QOR] 802.1x Authentication status...\n",
                      "D [QOR] Auth status response (%d bytes)\n");
    ByteSpan data;
    uint8_t status = 0;
    if (!streamAnswerData(q.request, q.reply, data) || !ByteReader(data).peekU8(status)) {
        configurator.setOutcome(missing(q));
        return -1;
    }
    std::fprintf(stderr, "D [QOR] Status: %d (%s)\n", status, authStatusText(status));
    configurator.setOutcome({});
    return static_cast<int>(status);
}

int queryCertOrganization(WirelessConfigurator& configurator) {
    Query q = queryExchange(configurator, kGroup8021x, 0x06, "D [QOR] Cert Organization...\n",
                            "D [QOR] Cert org (%d bytes)\n");
    ByteSpan data;
    if (!streamAnswerData(q.request, q.reply, data)) {
        configurator.setOutcome(missing(q));
        return -1;
    }
    std::fprintf(stderr, "D [QOR] Organization (%d bytes): ", static_cast<int>(data.size));
    std::fwrite(data.data, 1, data.size, stderr);
    std::fputc('\n', stderr);
    configurator.setOutcome({});
    return 0;
}

int queryCertCommonName(WirelessConfigurator& configurator) {
    Query q = queryExchange(configurator, kGroup8021x, 0x0A, "D [QOR] Cert common name...\n",
                            "D [QOR] Common name resp (%d bytes)\n");
    configurator.setOutcome(missing(q));
    return -1;
}

int certSettings(WirelessConfigurator& configurator) {
    std::fputs("D [QOR] Certifcate settings...\n", stderr);
    queryCertOrganization(configurator);
    bool organizationUnanswered = configurator.outcome().failure == Failure::NoAnswer;
    queryCertCommonName(configurator);
    bool nameUnanswered = configurator.outcome().failure == Failure::NoAnswer;
    // Only a printer that answered neither query is worth a report (and an
    // unwrapped try): the settings themselves are only logged.
    configurator.setOutcome(
        organizationUnanswered && nameUnanswered ? Outcome{Failure::NoAnswer, 2, 0} : Outcome{});
    return 0;
}

}  // namespace qor
