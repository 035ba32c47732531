// NPA request/reply exchanges over the shared transport.
//
// Each exchange opens the device, writes the request, reads the answer and
// closes again; the printer expects the pipe to be closed and opened again
// between requests. The answer's framing tells when it is whole; a fixed
// sleep plus a read window is only the deadline for a slow or silent printer.
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

// The time exchanges run on: CLOCK_REALTIME and absolute sleeps. Tests give
// a virtual one together with a scripted transport.
class ExchangeClock {
  public:
    virtual ~ExchangeClock() = default;
    virtual timespec now() = 0;
    // Returns at `until` (at once when it has passed).
    virtual void sleepUntil(const timespec& until) = 0;
    void sleepMs(unsigned ms);
    // The process's real clock.
    static ExchangeClock& real();
};

// How exchanges go in time. The printer is given a fixed sleep and then a
// read window that every arrival starts again; that is the deadline by which
// an answer must be complete, but a complete answer ends the exchange at
// once. `patience` is when the exchange would have ended had it waited the
// whole sleep and window, counted from when it would have begun had every
// earlier exchange given in the same NpaTiming done so (its `patience` on
// entry). A caller whose answer is not yet the awaited state waits until
// then before its next try (waitOut), so a printer that is slow to get there
// gets as much time as ever; a final answer ends the command early.
struct NpaTiming {
    timespec patience{};  // CLOCK_REALTIME
};

// Sleeps until `timing.patience` (nothing when it has passed).
void waitOut(ExchangeClock& clock, const NpaTiming& timing);

// open, write, then read from right after the write until the answer is
// whole by its framing (and trailing bytes within a short grace), the
// buffer is full, or the deadline of `sleepSeconds` plus the read window
// has passed; close. Returns the bytes read, or -1 when the device can't be
// opened. `timing`, when given, tells how the exchange went in time.
int exchangeNpaOnce(CommTransport& transport, const std::string& path, const uint8_t* request,
                    size_t requestLength, unsigned sleepSeconds, uint8_t* buffer, size_t capacity,
                    NpaTiming* timing = nullptr);
// The same on `clock`, with the sleep in milliseconds.
int exchangeNpaOnce(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                    ByteSpan request, unsigned sleepMs, uint8_t* buffer, size_t capacity,
                    NpaTiming* timing = nullptr);

// The reading half of exchangeNpaOnce, right after the write, with the
// sleep in milliseconds.
int readNpaAnswer(CommTransport& transport, ExchangeClock& clock, unsigned sleepMs, uint8_t* buffer,
                  size_t capacity, NpaTiming* timing = nullptr);

// open (on failure "D [QOR] Failed to open usb device '%s'!\n" on standard
// error and 0), write, readNpaStream after a 2 s pause (cut short by the
// first answer byte) in start-byte-first mode keeping every packet's bytes
// after its flags byte, close. `reply` receives the kept bytes; returns
// their count (0 when nothing was kept, and then `reply` is left
// untouched). `note`, when given, tells what came besides.
int exchangeNpaStream(CommTransport& transport, const std::string& path, const uint8_t* request,
                      size_t requestLength, std::vector<uint8_t>& reply, unsigned windowSeconds,
                      NpaStreamNote* note = nullptr);
// The same on `clock`, with the pause after the write given.
int exchangeNpaStream(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                      const uint8_t* request, size_t requestLength, std::vector<uint8_t>& reply,
                      unsigned windowSeconds, unsigned pauseMs, NpaStreamNote* note = nullptr);

enum class NpaHeaderMode {
    StartByteFirst,  // read 1 byte until 0xA5, then the 2 length bytes
    WholeHeader,     // read 3 bytes at a time: A5 and a non-zero length
};

// Decides on one reply packet body (the bytes after the length field, flags
// byte first). Returns true when the packet is accepted and appends the
// bytes to keep to `kept`.
using NpaAcceptRule = std::function<bool(ByteSpan body, std::vector<uint8_t>& kept)>;

// open, write, readNpaStreamAfter with the caller's header mode and accept
// rule into `kept`, close. False (nothing sent, `kept` untouched) when the
// device can't be opened; prints nothing.
bool exchangeNpaAccepted(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                         ByteSpan request, unsigned pauseMs, unsigned windowSeconds,
                         NpaHeaderMode mode, const NpaAcceptRule& accept,
                         std::vector<uint8_t>& kept, NpaStreamNote* note = nullptr);

// The stream reading right after a write: waits up to `pauseMs` for the
// first answer byte and then reads as readNpaStream does, the window
// lengthened by the pause so that it closes no earlier than after a full
// pause.
std::vector<uint8_t> readNpaStreamAfter(CommTransport& transport, ExchangeClock& clock,
                                        unsigned pauseMs, unsigned windowSeconds,
                                        NpaHeaderMode mode, const NpaAcceptRule& accept,
                                        NpaStreamNote* note = nullptr);

// The clock that bounds the window, in whole seconds.
using NpaClock = std::function<time_t()>;
// Collects reply packets until an accepted packet without the 0x20 flag, an
// error packet (flags bit 0x80), or `windowSeconds` whole seconds of `clock`
// from the start. Returns the kept bytes; `note`, when given, tells what
// came besides them.
std::vector<uint8_t> readNpaStream(CommTransport& transport, unsigned windowSeconds,
                                   NpaHeaderMode mode, const NpaAcceptRule& accept,
                                   const NpaClock& clock, NpaStreamNote* note = nullptr);

}  // namespace qor
