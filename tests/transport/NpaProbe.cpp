// A small client of the transport library for end-to-end tests: runs NPA
// exchanges with the product's own code (shared transport, connectors,
// exchangeNpaOnce / exchangeNpaStream) and prints what came back.
//
//   npa-probe PATH STEP...
//     once:HEX:SLEEP:CAPACITY   exchangeNpaOnce, prints "ONCE <n> <hex> ms=<t>"
//     stream:HEX:WINDOW         exchangeNpaStream, prints "STREAM <n> <hex> ms=<t>"
// HEX may be "@FILE" to take the hexadecimal request from a file.
// Exit status 0, or 2 on bad arguments.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ByteRoutines.h"
#include "HCUSBTransport.h"
#include "NpaExchange.h"

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

bool requestBytes(const std::string& text, std::vector<uint8_t>& out) {
    std::string hex = text;
    if (!text.empty() && text[0] == '@') {
        std::ifstream in(text.substr(1));
        if (!in)
            return false;
        hex.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r'))
            hex.pop_back();
    }
    if (hex.size() % 2)
        return false;
    out.clear();
    qor::hexToBytes(hex, out);
    return out.size() == hex.size() / 2;
}

std::string toHex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: npa-probe PATH STEP...\n");
        return 2;
    }
    const std::string path = argv[1];
    qor::HCUSBTransport* transport = qor::HCUSBTransport::getInstance();
    int status = 0;
    for (int i = 2; i < argc && status == 0; ++i) {
        std::vector<std::string> parts = split(argv[i], ':');
        std::vector<uint8_t> request;
        if (parts.size() < 3 || !requestBytes(parts[1], request)) {
            std::fprintf(stderr, "npa-probe: bad step '%s'\n", argv[i]);
            status = 2;
            break;
        }
        auto start = std::chrono::steady_clock::now();
        std::string line;
        if (parts[0] == "once" && parts.size() == 4) {
            std::vector<uint8_t> buffer(static_cast<size_t>(std::atoi(parts[3].c_str())), 0);
            int n = qor::exchangeNpaOnce(*transport, path, request.data(), request.size(),
                                         static_cast<unsigned>(std::atoi(parts[2].c_str())),
                                         buffer.data(), buffer.size());
            line = "ONCE " + std::to_string(n) + " " +
                   toHex(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
        } else if (parts[0] == "stream" && parts.size() == 3) {
            std::vector<uint8_t> reply;
            int n = qor::exchangeNpaStream(*transport, path, request.data(), request.size(), reply,
                                           static_cast<unsigned>(std::atoi(parts[2].c_str())));
            line = "STREAM " + std::to_string(n) + " " + toHex(reply.data(), reply.size());
        } else {
            std::fprintf(stderr, "npa-probe: bad step '%s'\n", argv[i]);
            status = 2;
            break;
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        std::printf("%s ms=%lld\n", line.c_str(), static_cast<long long>(ms));
        std::fflush(stdout);
    }
    qor::HCUSBTransport::releaseInstance();
    return status;
}
