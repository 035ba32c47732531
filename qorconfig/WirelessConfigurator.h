// Builds the NPA setting messages of a configuration and sends them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CertificateLists.h"
#include "ConfigDetails.h"
#include "PrinterLink.h"

namespace qor {

// Setting groups of the printer's configuration store.
constexpr uint8_t kGroupWireless = 0x28;
constexpr uint8_t kGroup8021x = 0x2A;

// What the configurator needs from the process around it, replaceable in tests.
struct ConfiguratorHooks {
    // Reads the hidden password after the prompt has been written.
    std::function<std::string()> readPassword;
    // The printer's certificate lists for addValidateCert; may return null.
    std::function<std::unique_ptr<CertificateLists>(const std::string& usbPath)> certificateLists;

    // Standard input without echo, the certificate library.
    static ConfiguratorHooks process();
};

// Why a flow or status command gave up; the command reports it to the user.
enum class Failure {
    None,
    NoAnswer,           // not one try got a byte back
    ErrorAnswer,        // an error answer (flags 0xD4)
    BadAnswer,          // answers came, none of the promised form
    Refused,            // a write answer whose last byte is not 0x01
    NotJoined,          // connection polls answered, never "connected"
    NoAddress,          // address polls answered, always 0.0.0.0
    AdapterNotReady,    // adapter polls answered, never "ready"
    ResetNotConfirmed,  // reset answered, not with 0x01
};

struct Outcome {
    Failure failure = Failure::None;
    int tries = 0;  // tries made before giving up
    int state = 0;  // NotJoined: the last connection state read
};

class WirelessConfigurator {
  public:
    // Over the shared USB transport on `configuration.usbPath`, with the
    // process's hooks. `configuration` must outlive the configurator.
    explicit WirelessConfigurator(const ConfigDetails& configuration);
    // Over any channel with any hooks (tests).
    WirelessConfigurator(const ConfigDetails& configuration, std::unique_ptr<NpaChannel> channel,
                         ConfiguratorHooks hooks);

    void clearMessage();
    // Appends bytes to the message; `secret` marks them for masked dumps.
    void appendBytes(size_t count, const uint8_t* bytes, bool secret = false);
    // 1: wrap every request in a forwarding packet; 0: send it as it is.
    void setForward(uint32_t value) { m_Forward = value; }
    uint32_t forward() const { return m_Forward; }

    // Record builders: each reads the configuration, appends at most its
    // record(s) and returns the bytes appended (0 when nothing).
    size_t addMode();
    size_t addSecurity();
    size_t addChannel();
    size_t addSsid();
    size_t addPassword();
    size_t addEncryption();
    size_t addPsk();
    size_t addWepKey(int keyNumber);  // 1..4; other numbers append nothing
    size_t addWepTransmitKey();
    size_t addWepAuth();
    size_t addEapTypes();
    size_t addInnerAuth();
    size_t add8021xUser();
    size_t add8021xPassword();
    size_t addValidateCert();

    // Puts the 7-byte write header before the `n` record bytes; returns n + 7.
    size_t frameSet(size_t n);
    // While forwarding, puts the 9-byte forwarding header before the
    // `m`-byte message and returns m + 9; otherwise returns m.
    size_t frameForward(size_t m);
    // The read request for one setting, wrapped while forwarding (9 or 18 bytes).
    std::vector<uint8_t> readRequest(uint8_t group, uint8_t item) const;
    // Wraps any request while forwarding.
    std::vector<uint8_t> forwardRequest(const std::vector<uint8_t>& request) const;

    const std::vector<uint8_t>& message() const { return m_Message; }
    // One flag per message byte: true for password and key bytes.
    const std::vector<bool>& secretMask() const { return m_Secret; }
    const ConfigDetails& config() const { return m_Config; }
    NpaChannel& channel() { return *m_Channel; }
    // What the last flow or status command made of the printer's answers.
    const Outcome& outcome() const { return m_Outcome; }
    void setOutcome(const Outcome& outcome) { m_Outcome = outcome; }

    // The security value that addSecurity sends (0..4) and its log name.
    static uint8_t securityValue(const std::string& security, const std::string& encryption);
    static const char* securityName(unsigned value);

  private:
    // Appends group, item, 00, the 16-bit length and the value; the value's
    // first `secretBytes` bytes are marked secret.
    size_t appendRecord(uint8_t group, uint8_t item, const std::vector<uint8_t>& value,
                        size_t secretBytes = 0);
    size_t appendNumber(uint8_t group, uint8_t item, uint8_t low);
    void prepend(const std::vector<uint8_t>& header);

    std::vector<uint8_t> m_Message;
    std::vector<bool> m_Secret;
    const ConfigDetails& m_Config;
    std::unique_ptr<NpaChannel> m_Channel;
    uint32_t m_Forward = 1;
    ConfiguratorHooks m_Hooks;
    Outcome m_Outcome;
};

// The same number of '*' as `text` has bytes: how secrets appear in output.
std::string maskSecret(const std::string& text);

// Dumps a request to standard error with its secret bytes masked.
void dumpRequest(const std::vector<uint8_t>& bytes, const std::vector<bool>& secret);

}  // namespace qor
