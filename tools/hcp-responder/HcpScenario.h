// DNS answers for the HCP discovery responder, and the scenario file that
// describes them.
//
// Scenario file, one directive a line ('#' starts a comment):
//   printer [name=N] [delay=MS] [to=unicast|multicast] [section=answer|authority|additional]
//           [compress=0|1] [repeat=K] [txtrecords=1|2]
//   txt KEY=VALUE        one character-string (\xHH escapes allowed)
//   end
//   raw [delay=MS] [to=...] hex=HEXBYTES     a datagram sent as it stands
//   generate count=N [spread=MS] [size=BYTES] [ip=A.B.C.D] [maker=M] [name=PREFIX]
//           N printers, the k-th (from 0) sent k*MS/N ms after the query:
//           instance PREFIX-<k+1> (default "scale"), IPADDRESS the k-th
//           address from ip (default 10.77.1.1), MACUAA 0200 then k+1 in
//           eight hex digits, 1284STRID MFG:M;MDL:"M Scale <k+1>"; (M
//           default Tamo); with size, entries without "=" pad each datagram
//           to exactly BYTES (when it is shorter).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReplySpec {
    std::string instance = "printer";
    std::vector<std::string> entries;  // TXT character-strings
    std::string section = "answer";    // where the TXT record goes
    bool compress = false;             // TXT name as a pointer to the PTR record's name
    int txtRecords = 1;                // 2: a second TXT record with other entries follows
    int delayMs = 0;
    bool multicast = false;
    int repeat = 1;
    std::vector<uint8_t> raw;  // when not empty, sent instead of a built reply
};

// A DNS response (QR set, AA) with a PTR answer for _host-config._udp.local
// and the TXT record under "<instance>._host-config._udp.local".
std::vector<uint8_t> buildReply(const ReplySpec& spec);

// Parses a scenario text; on error returns false with a message naming the line.
bool parseScenario(const std::string& text, std::vector<ReplySpec>& replies, std::string& error);

// Appends the printers of a generate directive (see above). False with a
// message for a count outside 1..65535, a negative spread, or a size beyond
// what one UDP datagram carries.
struct GenerateSpec {
    int count = 0;
    int spreadMs = 0;
    int size = 0;
    uint32_t firstIp = 0x0A4D0101;  // 10.77.1.1
    std::string maker = "Tamo";
    std::string prefix = "scale";
};
bool generatePrinters(const GenerateSpec& spec, std::vector<ReplySpec>& replies,
                      std::string& error);

// Decodes \xHH escapes (and \\).
std::string unescape(const std::string& text);
