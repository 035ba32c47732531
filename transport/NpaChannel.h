// The one way every talker reaches the printer: a device path, a hold on a
// transport for the channel's life, and the NPA exchanges on a clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CommTransport.h"
#include "NpaExchange.h"
#include "qor/ByteReader.h"

namespace qor {

class NpaChannel {
  public:
    // What an exchange does when the device could not be opened.
    enum class Unreachable {
        Fail,  // the exchange fails and the caller decides
        Stop,  // a path never opened in this run throws (DeviceUnavailable)
    };

    // Over the process's shared USB transport (getInstance now,
    // releaseInstance at destruction) and the real clock.
    explicit NpaChannel(std::string path, Unreachable unreachable = Unreachable::Fail);
    // Over a transport and clock the caller owns (tests); no hold is taken.
    NpaChannel(std::string path, CommTransport& transport, ExchangeClock& clock,
               Unreachable unreachable = Unreachable::Fail);
    virtual ~NpaChannel();
    NpaChannel(const NpaChannel&) = delete;
    NpaChannel& operator=(const NpaChannel&) = delete;

    const std::string& path() const { return m_Path; }

    // One-shot exchange: open, write `request`, read at most `capacity`
    // bytes until the answer is whole or `sleepMs` plus the read window have
    // passed, close. Returns the bytes read, or -1 when the device could
    // not be opened.
    int exchangeOnce(ByteSpan request, unsigned sleepMs, uint8_t* buffer, size_t capacity);

    // Up to `tries` one-shot tries on one open: each writes `request` and
    // reads as exchangeOnce does; `done` (given the try's reply) ends them
    // early. A try after one that was not `done` starts no earlier than
    // the earlier one would have ended under the full sleep and window.
    // Returns the last try's byte count, or -1 when the device could not be
    // opened.
    int exchangeTries(ByteSpan request, unsigned sleepMs, int tries, uint8_t* buffer,
                      size_t capacity, const std::function<bool(ByteSpan reply)>& done);

    // Packet-stream exchange (start-byte-first, each packet's bytes after
    // its flags byte kept): see exchangeNpaStream. Returns the kept count.
    int exchangeStream(ByteSpan request, std::vector<uint8_t>& reply, unsigned windowSeconds,
                       unsigned pauseMs = 2000);

    // Packet-stream exchange with the caller's header mode and accept rule.
    // Returns false (nothing sent) when the device could not be opened.
    bool exchangeAccepted(ByteSpan request, unsigned pauseMs, unsigned windowSeconds,
                          NpaHeaderMode mode, const NpaAcceptRule& accept,
                          std::vector<uint8_t>& kept);

    // What the last stream exchange met besides the bytes it kept.
    const NpaStreamNote& lastStreamNote() const { return m_StreamNote; }

    // Before the next try after an answer that is not yet the awaited
    // state: waits until the exchanges so far would have ended had each
    // waited its whole sleep and read window.
    void waitOutLastTry();
    // A pause between tries.
    void pause(unsigned ms) { m_Clock.sleepMs(ms); }

  private:
    void afterOpenFailure();

    std::string m_Path;
    CommTransport& m_Transport;
    ExchangeClock& m_Clock;
    bool m_Shared = false;
    Unreachable m_Unreachable;
    NpaTiming m_Timing;
    NpaStreamNote m_StreamNote;
};

}  // namespace qor
