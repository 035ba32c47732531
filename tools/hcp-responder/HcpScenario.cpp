#include "HcpScenario.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "qor/ByteReader.h"

namespace {

void writeName(qor::ByteWriter& w, const std::vector<std::string>& labels) {
    for (const std::string& label : labels) {
        w.writeU8(static_cast<uint8_t>(label.size()));
        w.writeText(label);
    }
    w.writeU8(0);
}

void writeTxtData(qor::ByteWriter& w, const std::vector<std::string>& entries) {
    size_t lengthAt = w.size();
    w.writeBE16(0);
    for (const std::string& entry : entries) {
        std::string e = entry.substr(0, 255);
        w.writeU8(static_cast<uint8_t>(e.size()));
        w.writeText(e);
    }
    w.patchBE16(lengthAt, static_cast<uint16_t>(w.size() - lengthAt - 2));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() + 0 && text[i + 1] == 'x' &&
            hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<uint8_t> buildReply(const ReplySpec& spec) {
    if (!spec.raw.empty())
        return spec.raw;
    qor::ByteWriter w;
    bool inAnswer = spec.section == "answer";
    uint16_t txtCount = static_cast<uint16_t>(spec.txtRecords);
    w.writeBE16(0);       // ID
    w.writeBE16(0x8400);  // response, authoritative
    w.writeBE16(0);       // no question echoed
    w.writeBE16(static_cast<uint16_t>(1 + (inAnswer ? txtCount : 0)));
    w.writeBE16(spec.section == "authority" ? txtCount : 0);
    w.writeBE16(spec.section == "additional" ? txtCount : 0);
    // PTR _host-config._udp.local -> <instance>._host-config._udp.local
    size_t serviceAt = w.size();
    writeName(w, {"_host-config", "_udp", "local"});
    w.writeBE16(12);
    w.writeBE16(1);
    w.writeBE32(120);
    size_t rdAt = w.size();
    w.writeBE16(0);
    size_t instanceAt = w.size();
    w.writeU8(static_cast<uint8_t>(spec.instance.size()));
    w.writeText(spec.instance);
    w.writeU8(static_cast<uint8_t>(0xC0 | (serviceAt >> 8)));
    w.writeU8(static_cast<uint8_t>(serviceAt));
    w.patchBE16(rdAt, static_cast<uint16_t>(w.size() - rdAt - 2));
    for (int r = 0; r < spec.txtRecords; ++r) {
        if (spec.compress) {
            w.writeU8(static_cast<uint8_t>(0xC0 | (instanceAt >> 8)));
            w.writeU8(static_cast<uint8_t>(instanceAt));
        } else {
            writeName(w, {spec.instance, "_host-config", "_udp", "local"});
        }
        w.writeBE16(16);
        w.writeBE16(0x8001);
        w.writeBE32(120);
        if (r == 0) {
            writeTxtData(w, spec.entries);
        } else {
            writeTxtData(w, {"IPADDRESS=0.0.0.0", "MACUAA=FFFFFFFFFFFF"});
        }
    }
    return w.take();
}

bool generatePrinters(const GenerateSpec& spec, std::vector<ReplySpec>& replies,
                      std::string& error) {
    if (spec.count < 1 || spec.count > 65535) {
        error = "count must be 1 to 65535";
        return false;
    }
    if (spec.spreadMs < 0) {
        error = "spread must not be negative";
        return false;
    }
    if (spec.size < 0 || spec.size > 65507) {
        error = "size must be 0 to 65507";
        return false;
    }
    for (int k = 0; k < spec.count; ++k) {
        ReplySpec printer;
        std::string number = std::to_string(k + 1);
        printer.instance = spec.prefix + "-" + number;
        printer.delayMs = static_cast<int>(static_cast<long long>(k) * spec.spreadMs / spec.count);
        struct in_addr address;
        address.s_addr = htonl(spec.firstIp + static_cast<uint32_t>(k));
        char ip[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &address, ip, sizeof ip);
        char mac[16];
        snprintf(mac, sizeof mac, "0200%08X", static_cast<unsigned>(k + 1));
        printer.entries = {
            "IPADDRESS=" + std::string(ip), "MACUAA=" + std::string(mac),
            "1284STRID=MFG:" + spec.maker + ";MDL:\"" + spec.maker + " Scale " + number + "\";"};
        // Pad with strings that hold no "=" (the reader skips them); each
        // adds its length byte and text to the one TXT record.
        long missing = static_cast<long>(spec.size) - static_cast<long>(buildReply(printer).size());
        while (missing > 0) {
            long text = std::min<long>(missing - 1, 255);
            printer.entries.push_back(std::string(static_cast<size_t>(text), 'x'));
            missing -= text + 1;
        }
        replies.push_back(printer);
    }
    return true;
}

namespace {

bool parseGenerate(const std::string& options, std::vector<ReplySpec>& replies,
                   std::string& error) {
    GenerateSpec spec;
    bool counted = false;
    std::istringstream in(options);
    std::string option;
    while (in >> option) {
        size_t eq = option.find('=');
        std::string key = option.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
        try {
            size_t used = 0;
            if (key == "count") {
                spec.count = std::stoi(value, &used);
                counted = true;
            } else if (key == "spread") {
                spec.spreadMs = std::stoi(value, &used);
            } else if (key == "size") {
                spec.size = std::stoi(value, &used);
            } else if (key == "ip") {
                struct in_addr address;
                if (inet_pton(AF_INET, value.c_str(), &address) != 1)
                    throw std::invalid_argument(key);
                spec.firstIp = ntohl(address.s_addr);
                used = value.size();
            } else if (key == "maker" && !value.empty()) {
                spec.maker = value;
                used = value.size();
            } else if (key == "name" && !value.empty()) {
                spec.prefix = value;
                used = value.size();
            } else {
                throw std::invalid_argument(key);
            }
            if (used != value.size())
                throw std::invalid_argument(key);
        } catch (const std::exception&) {
            error = "bad option '" + option + "'";
            return false;
        }
    }
    if (!counted) {
        error = "generate needs count=N";
        return false;
    }
    return generatePrinters(spec, replies, error);
}

}  // namespace

bool parseScenario(const std::string& text, std::vector<ReplySpec>& replies, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool open = false;
    ReplySpec current;
    while (std::getline(in, line)) {
        ++number;
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line = line.substr(start);
        std::string word = line.substr(0, line.find(' '));
        std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
        if (word == "txt") {
            if (!open) {
                error = "line " + std::to_string(number) + ": txt outside printer";
                return false;
            }
            current.entries.push_back(unescape(rest));
            continue;
        }
        if (word == "end") {
            if (!open) {
                error = "line " + std::to_string(number) + ": end without printer";
                return false;
            }
            replies.push_back(current);
            open = false;
            continue;
        }
        if (word == "generate") {
            if (open) {
                error = "line " + std::to_string(number) + ": printer not ended";
                return false;
            }
            if (!parseGenerate(rest, replies, error)) {
                error = "line " + std::to_string(number) + ": " + error;
                return false;
            }
            continue;
        }
        if (word != "printer" && word != "raw") {
            error = "line " + std::to_string(number) + ": unknown directive '" + word + "'";
            return false;
        }
        if (open) {
            error = "line " + std::to_string(number) + ": printer not ended";
            return false;
        }
        current = ReplySpec();
        std::istringstream options(rest);
        std::string option;
        while (options >> option) {
            size_t eq = option.find('=');
            std::string key = option.substr(0, eq);
            std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
            try {
                if (key == "name") {
                    current.instance = value;
                } else if (key == "delay") {
                    current.delayMs = std::stoi(value);
                } else if (key == "to") {
                    current.multicast = value == "multicast";
                } else if (key == "section") {
                    current.section = value;
                } else if (key == "compress") {
                    current.compress = value == "1";
                } else if (key == "repeat") {
                    current.repeat = std::stoi(value);
                } else if (key == "txtrecords") {
                    current.txtRecords = std::stoi(value);
                } else if (key == "hex") {
                    for (size_t i = 0; i + 1 < value.size(); i += 2) {
                        int hi = hexValue(value[i]), lo = hexValue(value[i + 1]);
                        if (hi < 0 || lo < 0)
                            throw std::invalid_argument("hex");
                        current.raw.push_back(static_cast<uint8_t>(hi * 16 + lo));
                    }
                } else {
                    throw std::invalid_argument(key);
                }
            } catch (const std::exception&) {
                error = "line " + std::to_string(number) + ": bad option '" + option + "'";
                return false;
            }
        }
        if (word == "raw") {
            replies.push_back(current);
        } else {
            open = true;
        }
    }
    if (open) {
        error = "printer not ended at end of file";
        return false;
    }
    return true;
}
