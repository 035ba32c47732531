// DNS answers for the HCP discovery responder, and the scenario file that
// describes them.
//
// Scenario file, one directive a line ('#' starts a comment):
//   printer [name=N] [delay=MS] [to=unicast|multicast] [section=answer|authority|additional]
//           [compress=0|1] [repeat=K] [txtrecords=1|2]
//   txt KEY=VALUE        one character-string (\xHH escapes allowed)
//   end
//   raw [delay=MS] [to=...] hex=HEXBYTES     a datagram sent as it stands
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

// Decodes \xHH escapes (and \\).
std::string unescape(const std::string& text);
