#include "WirelessConfigurator.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "ByteRoutines.h"
#include "InputChecks.h"
#include "NpaPacket.h"
#include "PasswordPrompt.h"
#include "qor/ByteReader.h"

namespace qor {

ConfiguratorHooks ConfiguratorHooks::process() {
    ConfiguratorHooks hooks;
    hooks.readPassword = [] { return readHiddenLine(STDIN_FILENO); };
    hooks.certificateLists = [](const std::string& path) { return makeCertificateLists(path); };
    return hooks;
}

WirelessConfigurator::WirelessConfigurator(const ConfigDetails& configuration)
    : WirelessConfigurator(configuration, std::make_unique<PrinterLink>(configuration.usbPath),
                           ConfiguratorHooks::process()) {}

WirelessConfigurator::WirelessConfigurator(const ConfigDetails& configuration,
                                           std::unique_ptr<NpaChannel> channel,
                                           ConfiguratorHooks hooks)
    : m_Config(configuration), m_Channel(std::move(channel)), m_Hooks(std::move(hooks)) {}

std::string maskSecret(const std::string& text) {
    return std::string(text.size(), '*');
}

void dumpRequest(const std::vector<uint8_t>& bytes, const std::vector<bool>& secret) {
    hexDump(bytes.data(), bytes.size(), secret);
}

void WirelessConfigurator::clearMessage() {
    m_Message.clear();
    m_Secret.clear();
}

void WirelessConfigurator::appendBytes(size_t count, const uint8_t* bytes, bool secret) {
    m_Message.insert(m_Message.end(), bytes, bytes + count);
    m_Secret.insert(m_Secret.end(), count, secret);
}

size_t WirelessConfigurator::appendRecord(uint8_t group, uint8_t item,
                                          const std::vector<uint8_t>& value, size_t secretBytes) {
    std::vector<uint8_t> header = npaRecordHeader(group, item, value.size());
    appendBytes(header.size(), header.data());
    size_t secret = secretBytes < value.size() ? secretBytes : value.size();
    appendBytes(secret, value.data(), true);
    appendBytes(value.size() - secret, value.data() + secret);
    return header.size() + value.size();
}

size_t WirelessConfigurator::appendNumber(uint8_t group, uint8_t item, uint8_t low) {
    return appendRecord(group, item, {0x00, 0x00, 0x00, low});
}

namespace {

std::vector<uint8_t> textBytes(const std::string& text, size_t count) {
    return std::vector<uint8_t>(text.begin(), text.begin() + static_cast<long>(count));
}

// The low 8 bits of the number a C decimal conversion reads at the start
// of `text` (optional blanks and sign, then digits; 0 when there are none).
uint8_t leadingDecimal(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned value = 0;  // modulo 256 keeps exactly the low 8 bits
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = (value * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFF;
    return static_cast<uint8_t>(negative ? (256 - value) & 0xFF : value);
}

}  // namespace

size_t WirelessConfigurator::addMode() {
    std::fprintf(stderr, "D [QOR] Mode = '%s'\n", m_Config.mode.c_str());
    if (m_Config.mode.empty())
        return 0;
    return appendNumber(kGroupWireless, 0x02, m_Config.mode == "Ad-Hoc" ? 1 : 0);
}

uint8_t WirelessConfigurator::securityValue(const std::string& securityText,
                                            const std::string& encryption) {
    const std::string& security = securityText.empty() ? std::string("None") : securityText;
    if (security == "OPEN" && encryption == "WEP")
        return 1;
    if (security == "WEP" || security == "SHARED")
        return 1;
    if (security == "WPA" || security == "WPA-PER")
        return 2;
    if (security == "WPA2" || security == "WPA-ENT")
        return 4;
    if (security == "WPA/WPA2")
        return 2;
    if (security == "802.1x")
        return 3;
    return 0;
}

const char* WirelessConfigurator::securityName(unsigned value) {
    switch (value) {
        case 0:
            return "No Security";
        case 1:
            return "WEP";
        case 2:
            return "WPA PSK (Auto 1 or 2)";
        case 3:
            return "802.1x";
        case 4:
            return "WPA-2 only PSK";
        default:
            return "Undefined";
    }
}

size_t WirelessConfigurator::addSecurity() {
    std::fprintf(stderr, "D [QOR] Security = '%s'\n", m_Config.security.c_str());
    uint8_t s = securityValue(m_Config.security, m_Config.encryption);
    std::fprintf(stdout, "npa data going: %x", s);
    std::fprintf(stderr, "D [QOR] Security mode: %d (%s)\n", s, securityName(s));
    return appendNumber(kGroupWireless, 0x22, s);
}

size_t WirelessConfigurator::addChannel() {
    static const char* const kChannels[] = {"1", "2", "3", "4", "5", "7", "8", "9", "10", "11"};
    uint8_t c = 6;
    for (const char* name : kChannels)
        if (m_Config.channel == name)
            c = leadingDecimal(name);
    return appendNumber(kGroupWireless, 0x05, c);
}

size_t WirelessConfigurator::addSsid() {
    std::fprintf(stderr, "D [QOR] SSID = %s\n", m_Config.ssid.c_str());
    if (m_Config.ssid.empty())
        return 0;
    std::vector<uint8_t> value = textBytes(m_Config.ssid, m_Config.ssid.size());
    value.push_back(0x00);
    return appendRecord(kGroupWireless, 0x08, value);
}

size_t WirelessConfigurator::addPassword() {
    if (m_Config.security == "None")
        return 0;
    std::string password = m_Config.passwd;
    if (password.empty()) {
        std::fputs("Please provide the password:", stdout);
        std::fflush(stdout);
        if (m_Hooks.readPassword)
            password = m_Hooks.readPassword();
        std::fputs("\n\n", stdout);
        std::fflush(stdout);
        // A typed password keeps the rules of a given one; nothing of this
        // message has been sent yet.
        if (password.empty())
            throw InputRefused(
                "no password was typed: type the network's password, or give --passwd=PASSWORD");
        std::string refusal = checkPassword(m_Config.security, password);
        if (!refusal.empty())
            throw InputRefused(refusal);
    }
    std::vector<uint8_t> value = textBytes(password, password.size());
    value.push_back(0x00);
    return appendRecord(kGroupWireless, m_Config.security == "WEP" ? 0x09 : 0x11, value,
                        password.size());
}

size_t WirelessConfigurator::addEncryption() {
    const std::string& e = m_Config.encryption;
    std::fprintf(stderr, "D [QOR] Encryption (advanced) = %s\n", e.c_str());
    if (e.empty())
        return 0;
    uint8_t value = 0;
    if (e == "WEP-DYNAMIC")
        value = 1;
    else if (e == "WEP-STATIC" || e == "WEP")
        value = 2;
    else if (e == "WPA-TKIP" || e == "TKIP")
        value = 3;
    else if (e == "WPA-AES" || e == "AES")
        value = 4;
    return appendNumber(kGroupWireless, 0x26, value);
}

size_t WirelessConfigurator::addPsk() {
    const std::string& psk = m_Config.psk;
    std::fprintf(stderr, "D [QOR] PSK (Pre-shared key) = %s (%d bytes)\n", maskSecret(psk).c_str(),
                 static_cast<int>(psk.size()));
    size_t count = psk.size() < 64 ? psk.size() : 64;
    return appendRecord(kGroupWireless, 0x11, textBytes(psk, count), count);
}

size_t WirelessConfigurator::addWepKey(int keyNumber) {
    static const uint8_t kItems[] = {0x09, 0x0B, 0x0D, 0x0F};
    if (keyNumber < 1 || keyNumber > 4)
        return 0;
    const std::string& key = m_Config.wepKey[keyNumber - 1];
    std::fprintf(stderr, "D [QOR] WEP Key %d = '%s' (%d bytes)\n", keyNumber,
                 maskSecret(key).c_str(), static_cast<int>(key.size()));
    size_t count = key.size() < 26 ? key.size() : 26;
    return appendRecord(kGroupWireless, kItems[keyNumber - 1], textBytes(key, count), count);
}

size_t WirelessConfigurator::addWepTransmitKey() {
    std::fprintf(stderr, "D [QOR] WEP Transmit key = %s\n", m_Config.wepTransmit.c_str());
    const std::string& text =
        m_Config.wepTransmit.empty() ? std::string("1") : m_Config.wepTransmit;
    return appendNumber(kGroupWireless, 0x1F, leadingDecimal(text));
}

size_t WirelessConfigurator::addWepAuth() {
    if (m_Config.encryption.empty())
        return 0;
    uint8_t a = 0;
    if (m_Config.encryption == "WEP" && m_Config.security == "OPEN")
        a = 1;
    if (m_Config.encryption == "WEP" && m_Config.security == "SHARED")
        a = 2;
    static const char* const kNames[] = {"Auto", "Open", "Shared"};
    std::fprintf(stderr, "D [QOR] WEP auth mode: %d (%s)\n", a, a < 3 ? kNames[a] : "undefined");
    return appendNumber(kGroupWireless, 0x23, a);
}

size_t WirelessConfigurator::addEapTypes() {
    static const struct {
        uint8_t item;
        const char* name;
    } kTypes[] = {{0x14, "EAP-MD5"}, {0x15, "MSCHAPv2"}, {0x16, "LEAP"},
                  {0x17, "PEAP"},    {0x18, "EAP-TLS"},  {0x19, "EAP-TTLS"}};
    const std::string& ext = m_Config.auth802Ext;
    std::fprintf(stderr, "D [QOR] 802.1x Auth Extension = %s\n", ext.c_str());
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= ext.size()) {
        size_t bar = ext.find('|', start);
        size_t end = bar == std::string::npos ? ext.size() : bar;
        if (end > start)
            tokens.push_back(ext.substr(start, end - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    size_t total = 0;
    for (const auto& type : kTypes) {
        uint8_t on = 0;
        for (const std::string& token : tokens)
            if (token.find(type.name) != std::string::npos)
                on = 1;
        total += appendRecord(kGroup8021x, type.item, {on});
    }
    return total;
}

size_t WirelessConfigurator::addInnerAuth() {
    const std::string& inner = m_Config.auth802Inner;
    std::fprintf(stderr, "D [QOR] 802.1x Inner Auth = %s\n", inner.c_str());
    if (inner.empty())
        return 0;
    uint8_t value = 0;
    if (inner == "MSCHAP")
        value = 1;
    else if (inner == "MSCHAPv2")
        value = 2;
    else if (inner == "PAP")
        value = 3;
    return appendNumber(kGroup8021x, 0x1A, value);
}

size_t WirelessConfigurator::add8021xUser() {
    const std::string& user = m_Config.user802;
    std::fprintf(stderr, "D [QOR] 802.1x User = %s (%d bytes)\n", user.c_str(),
                 static_cast<int>(user.size()));
    if (user.empty())
        return 0;
    size_t count = user.size() < 31 ? user.size() : 31;
    std::vector<uint8_t> value = textBytes(user, count);
    value.resize(user.size() + 1 < 32 ? user.size() + 1 : 32, 0x00);
    return appendRecord(kGroup8021x, 0x02, value);
}

size_t WirelessConfigurator::add8021xPassword() {
    const std::string& pwd = m_Config.pwd802;
    std::fprintf(stderr, "D [QOR] 802.1x password = %s (%d bytes)\n", maskSecret(pwd).c_str(),
                 static_cast<int>(pwd.size()));
    if (pwd.empty())
        return 0;
    size_t count = pwd.size() < 255 ? pwd.size() : 255;
    std::vector<uint8_t> value = textBytes(pwd, count);
    value.resize(pwd.size() + 1 < 256 ? pwd.size() + 1 : 256, 0x00);
    return appendRecord(kGroup8021x, 0x03, value, count);
}

size_t WirelessConfigurator::addValidateCert() {
    uint8_t validate = 0;
    std::unique_ptr<CertificateLists> lists;
    if (m_Hooks.certificateLists)
        lists = m_Hooks.certificateLists(m_Config.usbPath);
    if (lists) {
        std::vector<std::string> names;
        if (lists->queryCertList(names) == 0 && names.size() > 1) {
            validate = 1;
        } else {
            names.clear();
            if (lists->getCACommonNameList(names) == 0 && !names.empty())
                validate = 1;
        }
    }
    lists.reset();
    std::fprintf(stderr, "D [QOR] Validate certificate? %d\n", validate);
    return appendRecord(kGroup8021x, 0x24, {validate});
}

void WirelessConfigurator::prepend(const std::vector<uint8_t>& header) {
    m_Message.insert(m_Message.begin(), header.begin(), header.end());
    m_Secret.insert(m_Secret.begin(), header.size(), false);
}

size_t WirelessConfigurator::frameSet(size_t n) {
    prepend(npaWriteHeader(n));
    return n + kNpaWriteHeaderSize;
}

size_t WirelessConfigurator::frameForward(size_t m) {
    if (m_Forward != 1)
        return m;
    prepend(npaForwardHeader(m));
    return m + kNpaForwardHeaderSize;
}

std::vector<uint8_t> WirelessConfigurator::forwardRequest(
    const std::vector<uint8_t>& request) const {
    return m_Forward == 1 ? npaForwarded(request) : request;
}

std::vector<uint8_t> WirelessConfigurator::readRequest(uint8_t group, uint8_t item) const {
    return forwardRequest(npaReadRequest(group, item));
}

}  // namespace qor
