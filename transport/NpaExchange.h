// NPA request/reply exchanges over the shared transport.
//
// Each exchange opens the device, writes the request, sleeps a fixed time,
// reads within a window and closes again; the printer expects the pipe to be
// closed and opened again between requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "CommTransport.h"
#include "qor/ByteReader.h"

namespace qor {

// What a packet-stream reading met besides the kept bytes: an answer that
// leaves nothing kept (garbled, cut short, an error packet) is still one.
struct NpaStreamNote {
    bool heard = false;        // any byte arrived
    bool errorAnswer = false;  // an error packet (flags bit 0x80) ended the reading
};

// open, write, sleep `sleepSeconds`, one read of up to `capacity` bytes,
// close. Returns the bytes read, or -1 when the device can't be opened.
int exchangeNpaOnce(CommTransport& transport, const std::string& path, const uint8_t* request,
                    size_t requestLength, unsigned sleepSeconds, uint8_t* buffer, size_t capacity);

// open (on failure "D [QOR] Failed to open usb device '%s'!\n" on standard
// error and 0), write, sleep 2 s, readNpaStream in start-byte-first mode
// keeping every packet's bytes after its flags byte, close. `reply` receives
// the kept bytes; returns their count (0 when nothing was kept, and then
// `reply` is left untouched). `note`, when given, tells what came besides.
int exchangeNpaStream(CommTransport& transport, const std::string& path, const uint8_t* request,
                      size_t requestLength, std::vector<uint8_t>& reply, unsigned windowSeconds,
                      NpaStreamNote* note = nullptr);

enum class NpaHeaderMode {
    StartByteFirst,  // read 1 byte until 0xA5, then the 2 length bytes
    WholeHeader,     // read 3 bytes at a time: A5 and a non-zero length
};

// Decides on one reply packet body (the bytes after the length field, flags
// byte first). Returns true when the packet is accepted and appends the
// bytes to keep to `kept`.
using NpaAcceptRule = std::function<bool(ByteSpan body, std::vector<uint8_t>& kept)>;

// Collects reply packets until an accepted packet without the 0x20 flag, an
// error packet (flags bit 0x80), or `windowSeconds` whole seconds from the
// start. Returns the kept bytes.
std::vector<uint8_t> readNpaStream(CommTransport& transport, unsigned windowSeconds,
                                   NpaHeaderMode mode, const NpaAcceptRule& accept);

// The clock that bounds the window, in whole seconds (std::time by default).
using NpaClock = std::function<time_t()>;
// The same loop with its clock given (a fuzzer or a test drives the window);
// `note`, when given, tells what came besides the kept bytes.
std::vector<uint8_t> readNpaStream(CommTransport& transport, unsigned windowSeconds,
                                   NpaHeaderMode mode, const NpaAcceptRule& accept,
                                   const NpaClock& clock, NpaStreamNote* note = nullptr);

}  // namespace qor
