#include "NpaExchange.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace qor {

namespace {
constexpr uint8_t kNpaStart = 0xA5;
constexpr uint8_t kFlagError = 0x80;
constexpr uint8_t kFlagMore = 0x20;
constexpr unsigned kStreamSleepSeconds = 2;

void sleepWhole(unsigned seconds) {
    // sleep() may return early on a signal; finish the rest.
    while (seconds > 0)
        seconds = ::sleep(seconds);
}
}  // namespace

int exchangeNpaOnce(CommTransport& transport, const std::string& path, const uint8_t* request,
                    size_t requestLength, unsigned sleepSeconds, uint8_t* buffer, size_t capacity) {
    if (transport.open(path) != 0)
        return -1;
    transport.write(request, requestLength);
    sleepWhole(sleepSeconds);
    int got = transport.read(buffer, capacity);
    transport.close();
    if (got < 0)
        got = 0;
    return got;
}

int exchangeNpaStream(CommTransport& transport, const std::string& path, const uint8_t* request,
                      size_t requestLength, std::vector<uint8_t>& reply, unsigned windowSeconds,
                      NpaStreamNote* note) {
    if (note)
        *note = NpaStreamNote();
    if (transport.open(path) != 0) {
        std::fprintf(stderr, "D [QOR] Failed to open usb device '%s'!\n", path.c_str());
        return 0;
    }
    transport.write(request, requestLength);
    sleepWhole(kStreamSleepSeconds);
    std::vector<uint8_t> kept = readNpaStream(
        transport, windowSeconds, NpaHeaderMode::StartByteFirst,
        [](ByteSpan body, std::vector<uint8_t>& out) {
            ByteSpan afterFlags = body.from(1);
            out.insert(out.end(), afterFlags.begin(), afterFlags.end());
            return true;
        },
        [] { return std::time(nullptr); }, note);
    transport.close();
    if (kept.empty())
        return 0;
    reply = std::move(kept);
    return static_cast<int>(reply.size());
}

std::vector<uint8_t> readNpaStream(CommTransport& transport, unsigned windowSeconds,
                                   NpaHeaderMode mode, const NpaAcceptRule& accept) {
    return readNpaStream(transport, windowSeconds, mode, accept, [] { return std::time(nullptr); });
}

std::vector<uint8_t> readNpaStream(CommTransport& transport, unsigned windowSeconds,
                                   NpaHeaderMode mode, const NpaAcceptRule& accept,
                                   const NpaClock& clock, NpaStreamNote* note) {
    std::vector<uint8_t> kept;
    NpaStreamNote met;
    auto read = [&](uint8_t* buffer, size_t size) {
        int got = transport.read(buffer, size);
        met.heard = met.heard || got > 0;
        return got;
    };
    const time_t start = clock();
    do {
        // The header: start byte and the 16-bit length of what follows.
        uint16_t length = 0;
        if (mode == NpaHeaderMode::StartByteFirst) {
            uint8_t startByte = 0;
            if (read(&startByte, 1) != 1 || startByte != kNpaStart)
                continue;
            uint8_t lengthBytes[2] = {0, 0};
            if (read(lengthBytes, 2) != 2)
                continue;
            ByteReader header(lengthBytes, sizeof lengthBytes);
            header.readBE16(length);
        } else {
            // No byte-wise resynchronisation here: a bad header makes the
            // next three bytes the next header.
            uint8_t headerBytes[3] = {0, 0, 0};
            if (read(headerBytes, 3) != 3)
                continue;
            ByteReader header(headerBytes, sizeof headerBytes);
            uint8_t startByte = 0;
            header.readU8(startByte);
            header.readBE16(length);
            if (startByte != kNpaStart)
                continue;
        }
        if (length == 0)
            continue;

        std::vector<uint8_t> body(length, 0);
        int got = read(body.data(), body.size());
        if (got < 0 || static_cast<size_t>(got) != body.size())
            continue;

        ByteReader reader(ByteSpan(body.data(), body.size()));
        uint8_t flags = 0;
        reader.peekU8(flags);
        if (flags & kFlagError) {
            met.errorAnswer = true;
            break;
        }
        std::vector<uint8_t> keep;
        if (accept && accept(ByteSpan(body.data(), body.size()), keep)) {
            kept.insert(kept.end(), keep.begin(), keep.end());
            if (!(flags & kFlagMore))
                break;
        }
    } while (clock() - start < static_cast<time_t>(windowSeconds));
    if (note)
        *note = met;
    return kept;
}

}  // namespace qor
