#include "ConfigFlows.h"

#include <cstdio>
#include <string>

#include "StatusQueries.h"
#include "qor/ByteReader.h"

namespace qor {

namespace {

// One exchange; a failed open counts as nothing read. Returns the reply.
ByteSpan exchange(WirelessConfigurator& configurator, const std::vector<uint8_t>& request,
                  unsigned sleepSeconds, std::vector<uint8_t>& buffer) {
    int got = configurator.link().exchangeOnce(request.data(), request.size(), sleepSeconds,
                                               buffer.data(), buffer.size());
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
    if (reply.empty() || isErrorReply(reply))
        return -1;
    uint8_t last = 0;
    lastByte(reply, last);
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
    query8021xStatus(c);
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
    if (basicConfig(c) == -1) {
        c.setForward(0);
        basicConfig(c);
    }
    waitConnected(c);
    std::fputs("Acquiring network address....\n", stdout);
    std::fputs("IP-ADDRESS : ", stdout);
    std::fflush(stdout);
    showIpAddress(c);
    std::fflush(stdout);
    return static_cast<int>(message.size());
}

int showSsid(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(kGroupWireless, 0x08);
    // A reply longer than the request plus 2 holds the name. It is the data
    // of the reply to the read request: byte 11 of a direct reply, byte 21
    // of a forwarded one (its inner reply starts at 10); an empty name is an
    // empty line.
    size_t nameOffset = c.forward() == 1 ? 21 : 11;
    std::vector<uint8_t> buffer(512, 0);
    for (int attempt = 1; attempt <= 7; ++attempt) {
        ByteSpan reply = exchange(c, request, 2, buffer);
        if (reply.size > 3 && isErrorReply(reply))
            return -1;
        if (reply.size > request.size() + 2) {
            ByteSpan rest = reply.from(nameOffset);
            size_t length = 0;
            while (length < rest.size && rest.data[length] != 0x00)
                ++length;
            std::fwrite(rest.data, 1, length, stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            return 0;
        }
    }
    return 1;
}

int waitAdapter(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(0x06, 0x1F);
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 6;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan reply = exchange(c, request, 0, buffer);
        uint8_t last = 0;
        if (lastByte(reply, last) && last == '-')
            return 0;
        if (attempt < kTries)
            c.sleep(10);
    }
    return 1;
}

int waitConnected(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(kGroupWireless, 0x15);
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 4;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan reply = exchange(c, request, 2, buffer);
        // A reply too short to hold the flags byte is a failed try.
        if (reply.size < 4) {
            if (attempt == kTries)
                return 1;
            continue;
        }
        if (isErrorReply(reply))
            return -1;
        uint8_t last = 0;
        lastByte(reply, last);
        if (last == 0)
            return 0;
        if (attempt == kTries)
            return last;
    }
    return 1;
}

int showIpAddress(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.readRequest(0x0A, 0x02);
    std::vector<uint8_t> buffer(255, 0);
    for (int attempt = 1; attempt <= 7; ++attempt) {
        std::fill(buffer.begin(), buffer.end(), 0);
        ByteSpan reply = exchange(c, request, 3, buffer);
        if (reply.size < 4)
            continue;
        if (isErrorReply(reply))
            return -1;
        ByteReader address(reply.from(reply.size - 4));
        uint8_t a = 0, b = 0, d3 = 0, d4 = 0;
        address.readU8(a);
        address.readU8(b);
        address.readU8(d3);
        address.readU8(d4);
        if (a | b | d3 | d4) {
            std::fprintf(stdout, "%u.%u.%u.%u\n", a, b, d3, d4);
            std::fflush(stdout);
            return 0;
        }
    }
    return 1;
}

int resetPrinter(WirelessConfigurator& c) {
    std::vector<uint8_t> request = c.forwardRequest(
        {0xA5, 0x00, 0x0A, 0x50, 0xE0, 0xDA, 0x01, 0x06, 0x14, 0x00, 0x00, 0x01, 0x01});
    std::vector<uint8_t> buffer(255, 0);
    const int kTries = 2;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        ByteSpan reply = exchange(c, request, 5, buffer);
        uint8_t last = 0;
        if (lastByte(reply, last) && last == 0x01)
            return 0;
        if (attempt < kTries)
            c.sleep(50);
    }
    return 1;
}

}  // namespace qor
