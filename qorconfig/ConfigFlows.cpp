#include "ConfigFlows.h"

#include <cstdio>
#include <string>

#include "HCUSBTransport.h"
#include "NpaPacket.h"
#include "StatusQueries.h"
#include "qor/ByteReader.h"

namespace qor {

namespace {

// One exchange; a failed open counts as nothing read. Returns the reply.
ByteSpan exchange(WirelessConfigurator& configurator, const std::vector<uint8_t>& request,
                  unsigned sleepSeconds, std::vector<uint8_t>& buffer) {
    int got = configurator.channel().exchangeOnce(request, sleepSeconds * 1000, buffer.data(),
                                                  buffer.size());
    if (got < 0)
        got = 0;
    if (static_cast<size_t>(got) > buffer.size())
        got = static_cast<int>(buffer.size());
    return ByteSpan(buffer.data(), static_cast<size_t>(got));
}

bool isErrorReply(ByteSpan reply) {
    uint8_t flags = 0;
    return ByteReader(reply).byteAt(3, flags) && flags == kErrorReplyFlags;
}

bool lastByte(ByteSpan reply, uint8_t& value) {
    return !reply.empty() && ByteReader(reply).byteAt(reply.size - 1, value);
}

// What one try of a read request brought back.
enum class Got { Nothing, Error, Unusable, Data };

Got judgeRead(const std::vector<uint8_t>& request, ByteSpan reply, ByteSpan& data) {
    if (reply.empty())
        return Got::Nothing;
    if (isErrorReply(reply))
        return Got::Error;
    return readAnswerData(request, reply, data) ? Got::Data : Got::Unusable;
}

// The tries of one status command, and what to report when it gives up:
// the command's own reason once a usable answer came, else the worst of
// what came instead.
struct Tries {
    int made = 0;
    int answered = 0;  // any bytes at all
    int errors = 0;
    int usable = 0;

    void count(Got got) {
        ++made;
        answered += got != Got::Nothing;
        errors += got == Got::Error;
        usable += got == Got::Data;
    }
    bool noneAnswered() const { return answered == 0; }
    Outcome giveUp(Failure reason, int state = 0) const {
        if (usable > 0)
            return {reason, made, state};
        if (errors > 0)
            return {Failure::ErrorAnswer, made, 0};
        return {answered > 0 ? Failure::BadAnswer : Failure::NoAnswer, made, 0};
    }
};

// One try of a read poll: it goes out no sooner than the earlier try would
// have ended under the full sleep and read window, and its answer is
// judged, checked by `usable` and counted.
template <typename Usable>
Got pollTry(WirelessConfigurator& c, const std::vector<uint8_t>& request, unsigned sleepSeconds,
            std::vector<uint8_t>& buffer, Tries& tries, ByteSpan& data, Usable usable) {
    if (tries.made > 0)
        c.channel().waitOutLastTry();
    Got got = judgeRead(request, exchange(c, request, sleepSeconds, buffer), data);
    if (got == Got::Data && !usable(data))
        got = Got::Unusable;
    tries.count(got);
    return got;
}

bool anyData(ByteSpan) {
    return true;
}

// Builds and frames the current message; the builders have appended `n`.
std::vector<uint8_t> finishMessage(WirelessConfigurator& configurator, size_t n) {
    configurator.frameForward(configurator.frameSet(n));
    return configurator.message();
}

std::vector<uint8_t> basicMessage(WirelessConfigurator& c) {
    c.clearMessage();
    size_t n = c.addMode();
    n += c.addSecurity();
    n += c.addChannel();
    n += c.addSsid();
    n += c.addPassword();
    return finishMessage(c, n);
}

size_t addWepKeys(WirelessConfigurator& c) {
    size_t n = 0;
    for (int k = 1; k <= 4; ++k)
        n += c.addWepKey(k);
    return n + c.addWepTransmitKey();
}

size_t addNetwork(WirelessConfigurator& c) {
    size_t n = c.addMode();
    n += c.addSecurity();
    n += c.addChannel();
    return n + c.addSsid();
}

int sendDumped(WirelessConfigurator& c, size_t n) {
    std::vector<uint8_t> request = finishMessage(c, n);
    dumpRequest(request, c.secretMask());
    return sendConfig(c, request);
}

int configureWpa(WirelessConfigurator& c, const char* firstLine) {
    std::fputs(firstLine, stderr);
    c.clearMessage();
    size_t n = c.addPsk();
    n += c.addEncryption();
    n += addNetwork(c);
    return sendDumped(c, n);
}

}  // namespace

int sendConfig(WirelessConfigurator& configurator, const std::vector<uint8_t>& request) {
    std::vector<uint8_t> buffer(1000, 0);
    ByteSpan reply = exchange(configurator, request, 5, buffer);
    if (reply.empty() || isErrorReply(reply)) {
        configurator.setOutcome({reply.empty() ? Failure::NoAnswer : Failure::ErrorAnswer, 1, 0});
        return -1;
    }
    // A write answer is judged by its last byte alone.
    uint8_t last = 0;
    lastByte(reply, last);
    configurator.setOutcome({last == 0x01 ? Failure::None : Failure::Refused, 1, 0});
    return last == 0x01 ? 0 : 1;
}

int basicConfig(WirelessConfigurator& configurator) {
    std::fputs("D [QOR] Basic config...\n", stderr);
    int result = sendConfig(configurator, basicMessage(configurator));
    std::fprintf(stderr, "D [QOR] Basic config ret = %d\n", result);
    return result;
}

int configureWpaEnterprise(WirelessConfigurator& c) {
    return configureWpa(c, "D [QOR] Configuring WPA Enterprise...\n");
}

int configureWpaPersonal(WirelessConfigurator& c) {
    return configureWpa(c, "D [QOR] Configuring WPA Personal...\n");
}

int configureOpen(WirelessConfigurator& c) {
    std::fputs("D [QOR] Configuring Open Mode...\n", stderr);
    c.clearMessage();
    size_t n = 0;
    if (c.config().encryption == "WEP") {
        n += addWepKeys(c);
        n += c.addWepAuth();
    }
    n += addNetwork(c);
    return sendDumped(c, n);
}

int configureShared(WirelessConfigurator& c) {
    std::fputs("D [QOR] Configuring Shared Mode...\n", stderr);
    c.clearMessage();
    size_t n = addWepKeys(c);
    n += c.addWepAuth();
    n += addNetwork(c);
    return sendDumped(c, n);
}

int set8021xOptions(WirelessConfigurator& c) {
    std::fputs("D [QOR] Setting 8021x Options...\n", stderr);
    c.clearMessage();
    size_t n = c.addEncryption();
    n += c.addEapTypes();
    n += c.addInnerAuth();
    n += c.add8021xUser();
    n += c.add8021xPassword();
    n += c.addValidateCert();
    if (c.config().encryption == "WEP-STATIC")
        n += addWepKeys(c);
    int result = sendDumped(c, n);
    std::fprintf(stderr, "D [QOR] Setting 802.1x ret = %d\n", result);
    return result;
}

int configure8021x(WirelessConfigurator& c) {
    std::fputs("D [QOR] Configuring for 8021x...\n", stderr);
    // A refused or unanswered options message is the flow's result: the
    // network message is not sent then, and success would be a false report.
    int result = set8021xOptions(c);
    if (result == 0) {
        c.clearMessage();
        size_t n = c.addMode();
        n += c.addSecurity();
        n += c.addSsid();
        n += c.addChannel();
        result = sendDumped(c, n);
    }
    // The status is only logged here: the messages decide the outcome.
    Outcome sent = c.outcome();
    query8021xStatus(c);
    c.setOutcome(sent);
    return result;
}

int advancedConfig(WirelessConfigurator& c) {
    const std::string& security = c.config().security;
    std::fputs("D [QOR] Advanced config...\n", stderr);
    std::fprintf(stderr, "D [QOR] Master security = '%s'\n", security.c_str());
    static const struct {
        const char* security;
        int (*flow)(WirelessConfigurator&);
        const char* line;
    } kFlows[] = {
        {"802.1x", configure8021x, "D [QOR] Adv 8021x ret = %d\n"},
        {"OPEN", configureOpen, "D [QOR] Adv OPEN ret = %d\n"},
        {"SHARED", configureShared, "D [QOR] Adv SHARED ret = %d\n"},
        {"WPA-PER", configureWpaPersonal, "D [QOR] Adv WPA-Personal ret = %d\n"},
        {"WPA-ENT", configureWpaEnterprise, "D [QOR] Adv WPA-Ent ret = %d\n"},
    };
    for (const auto& entry : kFlows) {
        if (security != entry.security)
            continue;
        int result = entry.flow(c);
        std::fprintf(stderr, entry.line, result);
        return result;
    }
    return 0;
}

namespace {

// The top-level flow gives up on its configuration message: the progress
// line is ended, and the result says whether the printer answered at all.
int stopFlow(WirelessConfigurator& c) {
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return c.outcome().failure == Failure::NoAnswer ? -1 : 1;
}

}  // namespace

int configurePrinter(WirelessConfigurator& c) {
    std::vector<uint8_t> message = basicMessage(c);
    const std::vector<bool>& secret = c.secretMask();
    for (size_t i = 0; i < message.size(); ++i) {
        if (i < secret.size() && secret[i])
            std::fputs("** ", stderr);
        else
            std::fprintf(stderr, "%x ", message[i]);
    }
    std::fputs("Configuring the printer....\n", stdout);
    std::fputs("Resetting the printer....\n", stdout);
    std::fputs("Connecting to wireless network....", stdout);
    std::fflush(stdout);
    try {
        int sent = basicConfig(c);
        if (sent == -1) {
            c.setForward(0);
            sent = basicConfig(c);
        }
        // Polling a printer that refused or never got the settings would
        // only find the old network's state.
        if (sent != 0)
            return stopFlow(c);
        // The printer took the settings: whatever fails from here, it did
        // answer, so the failure is 1.
        if (waitConnected(c) != 0) {
            stopFlow(c);
            return 1;
        }
    } catch (const DeviceUnavailable&) {
        stopFlow(c);
        throw;
    }
    std::fputs("Acquiring network address....\n", stdout);
    std::fflush(stdout);
    // The address line is written whole, and only with an address received.
    std::string address;
    if (readIpAddress(c, address) != 0)
        return 1;
    std::fprintf(stdout, "IP-ADDRESS : %s\n", address.c_str());
    std::fflush(stdout);
    return 0;
}

int showSsid(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(kGroupWireless, 0x08);
    std::vector<uint8_t> buffer(512, 0);
    Tries tries;
    for (int attempt = 1; attempt <= 7; ++attempt) {
        ByteSpan data;
        Got got = pollTry(c, request, 2, buffer, tries, data, anyData);
        if (got == Got::Error) {
            c.setOutcome(tries.giveUp(Failure::ErrorAnswer));
            return -1;
        }
        if (got != Got::Data)
            continue;
        // The name ends at its first 0x00 byte or with the data; an empty
        // name is an empty line.
        size_t length = 0;
        while (length < data.size && data.data[length] != 0x00)
            ++length;
        std::fwrite(data.data, 1, length, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        c.setOutcome({});
        return 0;
    }
    c.setOutcome(tries.giveUp(Failure::BadAnswer));
    return tries.noneAnswered() ? -1 : 1;
}

int waitAdapter(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(0x06, 0x1F);
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 6;
    Tries tries;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan data;
        uint8_t last = 0;
        Got got = pollTry(c, request, 0, buffer, tries, data,
                          [&last](ByteSpan d) { return lastByte(d, last); });
        if (got == Got::Data && last == '-') {
            c.setOutcome({});
            return 0;
        }
        if (attempt < kTries) {
            c.channel().waitOutLastTry();
            c.channel().pause(10 * 1000);
        }
    }
    c.setOutcome(tries.giveUp(Failure::AdapterNotReady));
    return 1;
}

int waitConnected(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(kGroupWireless, 0x15);
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 4;
    Tries tries;
    int state = 0;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan data;
        uint8_t last = 0;
        Got got = pollTry(c, request, 2, buffer, tries, data,
                          [&last](ByteSpan d) { return lastByte(d, last); });
        if (got == Got::Error) {
            c.setOutcome(tries.giveUp(Failure::ErrorAnswer));
            return -1;
        }
        if (got != Got::Data)
            continue;
        if (last == 0) {
            c.setOutcome({});
            return 0;
        }
        state = last;
        if (attempt == kTries) {
            c.setOutcome(tries.giveUp(Failure::NotJoined, state));
            return state;
        }
    }
    c.setOutcome(tries.giveUp(Failure::NotJoined, state));
    return tries.noneAnswered() ? -1 : 1;
}

int readIpAddress(WirelessConfigurator& c, std::string& address) {
    std::vector<uint8_t> request = c.readRequest(0x0A, 0x02);
    std::vector<uint8_t> buffer(255, 0);
    Tries tries;
    for (int attempt = 1; attempt <= 7; ++attempt) {
        std::fill(buffer.begin(), buffer.end(), 0);
        ByteSpan data;
        uint8_t a = 0, b = 0, d3 = 0, d4 = 0;
        // The address is the last four data bytes.
        Got got = pollTry(c, request, 3, buffer, tries, data, [&](ByteSpan d) {
            ByteReader reader(d.from(d.size < 4 ? d.size : d.size - 4));
            return reader.readU8(a) && reader.readU8(b) && reader.readU8(d3) && reader.readU8(d4);
        });
        if (got == Got::Error) {
            c.setOutcome(tries.giveUp(Failure::ErrorAnswer));
            return -1;
        }
        if (got == Got::Data && (a | b | d3 | d4)) {
            char text[16];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", a, b, d3, d4);
            address = text;
            c.setOutcome({});
            return 0;
        }
    }
    c.setOutcome(tries.giveUp(Failure::NoAddress));
    return tries.noneAnswered() ? -1 : 1;
}

int showIpAddress(WirelessConfigurator& c) {
    std::string address;
    int result = readIpAddress(c, address);
    if (result == 0) {
        std::fprintf(stdout, "%s\n", address.c_str());
        std::fflush(stdout);
    }
    return result;
}

int resetPrinter(WirelessConfigurator& c) {
    // One record: group 06, item 14, the value 01.
    const uint8_t record[] = {0x06, 0x14, 0x00, 0x00, 0x01, 0x01};
    std::vector<uint8_t> request =
        c.forwardRequest(npaWriteRequest(ByteSpan(record, sizeof record)));
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 2;
    Tries tries;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan reply = exchange(c, request, 5, buffer);
        // A write answer: its last byte alone decides, error flags or not.
        uint8_t last = 0;
        bool confirmed = lastByte(reply, last) && last == 0x01;
        tries.count(reply.empty() ? Got::Nothing : confirmed ? Got::Data : Got::Unusable);
        if (confirmed) {
            c.setOutcome({});
            return 0;
        }
        if (attempt < kTries) {
            c.channel().waitOutLastTry();
            c.channel().pause(50 * 1000);
        }
    }
    c.setOutcome(
        {tries.noneAnswered() ? Failure::NoAnswer : Failure::ResetNotConfirmed, tries.made, 0});
    return 1;
}

std::string describeOutcome(const Outcome& outcome, const std::string& path) {
    char text[160];
    switch (outcome.failure) {
        case Failure::None:
            return "";
        case Failure::NoAnswer:
            return "no answer from the printer at '" + path + "'";
        case Failure::ErrorAnswer:
            return "the printer answered with an error";
        case Failure::BadAnswer:
            return "the printer's answers were cut short or malformed";
        case Failure::Refused:
            return "the printer refused the configuration";
        case Failure::NotJoined:
            std::snprintf(text, sizeof text,
                          "the printer did not join the network after %d polls (state %d)",
                          outcome.tries, outcome.state);
            return text;
        case Failure::NoAddress:
            std::snprintf(text, sizeof text, "the printer got no network address after %d polls",
                          outcome.tries);
            return text;
        case Failure::AdapterNotReady:
            std::snprintf(text, sizeof text,
                          "the printer's wireless adapter was not ready after %d polls",
                          outcome.tries);
            return text;
        case Failure::ResetNotConfirmed:
            std::snprintf(text, sizeof text, "the printer did not confirm the reset after %d tries",
                          outcome.tries);
            return text;
    }
    return "";
}

}  // namespace qor
