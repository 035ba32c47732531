// The virtual printer's scenario: the values it answers with and the faults
// it injects, read from a text file of `key = value` lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Framing.h"

namespace vprinter {

enum class PrinterKind { Forward, Direct };

// What a fault rule does to the answer of a matching request.
enum class FaultAction {
    Silent,    // no answer at all
    Error,     // an error answer with flags `value` (0xD4 or 0xD8)
    Truncate,  // only the first `value` bytes of the answer
    Garble,    // the answer with its start byte and checksum-free body bytes flipped
    Garbage,   // `bytes` sent before the answer
    Split,     // the answer byte by byte, `value` ms between bytes
    Delay,     // the answer after `value` ms
};

// Which requests a fault rule applies to.
struct FaultSelector {
    std::string kind = "any";  // any, read, write, support, certmgr, unknown, preamble
    int forwarded = -1;        // -1 either, 0 direct only, 1 forwarded only
    int group = -1;            // for read/write: a setting, -1 for any
    int item = -1;
    int sequence = 0;    // > 0: only the request with this number
    std::string method;  // for certmgr: a method name, empty for any
};

struct FaultRule {
    FaultSelector selector;
    FaultAction action = FaultAction::Silent;
    int value = 0;
    Bytes bytes;
    int times = -1;  // how many matches it still applies to; -1 without limit
};

// A CA certificate held by the printer.
struct CaEntry {
    std::string commonName;
    std::string fileName;
    std::string pemPath;
};

struct Scenario {
    PrinterKind kind = PrinterKind::Forward;
    std::map<uint16_t, Bytes> settings;  // (group << 8 | item) -> data of a read answer
    std::string surveyForward;           // survey text of the forwarding kind
    std::string surveyDirect;            // survey text of the direct kind
    int surveyPackets = 1;               // forwarding kind: packets the survey is cut into
    int adapterAfter = 0;                // adapter polls answered "not ready" first (-1 never)
    uint8_t adapterReady = '-';
    uint8_t adapterBusy = 'B';
    int connectAfter = 0;  // connection polls answered "not connected" first (-1 never)
    uint8_t notConnectedState = 3;
    int ipAfter = 0;             // address polls answered 0.0.0.0 first (-1 never)
    uint8_t supportByte = 1;     // last byte of the direct support answer
    uint8_t writeStatus = 0x01;  // last byte of a write answer
    int stopAfter = -1;          // answer only the first N requests (-1 all)
    bool foreignError = false;   // the other kind's requests get an error answer, not silence
    std::vector<FaultRule> faults;
    // Certificate manager store.
    std::map<std::string, std::string> certDefaults;  // O, OU, C, ST, L, CN, AN
    std::vector<CaEntry> cas;
    std::vector<std::string> certs;
    std::map<std::string, std::pair<int, std::string>> certStatus;  // method -> forced status
    size_t certChunk = 1024;                                        // XML bytes per answer packet

    Scenario();
};

// Reads a scenario file into `out` (which keeps its defaults for keys not
// named). On failure returns false with "FILE:LINE: reason" in `error`.
bool loadScenario(const std::string& path, Scenario& out, std::string& error);
// Applies the lines of `text` (as a file would hold them); `origin` names the
// source in messages.
bool parseScenario(const std::string& text, const std::string& origin, Scenario& out,
                   std::string& error);

// The key of a setting in Scenario::settings.
inline uint16_t settingKey(uint8_t group, uint8_t item) {
    return static_cast<uint16_t>(group << 8 | item);
}

}  // namespace vprinter
