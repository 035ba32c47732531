#include "NpaExchange.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "NpaPacket.h"

namespace qor {

namespace {
constexpr unsigned kStreamPauseMs = 2000;
// The transport's read window gives up once the whole-second clock has
// moved more than 4 s past the second in which it last waited afresh.
constexpr time_t kWindowSeconds = 5;
// Bytes that follow a whole answer are taken within this grace (a printer
// that sends more than it announced sends it right behind the answer).
constexpr long kGraceNs = 20L * 1000 * 1000;

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

timespec plusNs(timespec t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

// The end of the read window that starts afresh at `from`.
timespec windowEnd(const timespec& from) {
    timespec end{};
    end.tv_sec = from.tv_sec + kWindowSeconds;
    return end;
}

class RealClock : public ExchangeClock {
  public:
    timespec now() override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now;
    }
    void sleepUntil(const timespec& until) override {
        // Absolute, so a signal that cuts a sleep short costs nothing.
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
};

// Serves bytes already taken off the pipe before reading on.
class PrimedTransport : public CommTransport {
  public:
    PrimedTransport(CommTransport& inner, std::vector<uint8_t> held)
        : m_Inner(inner), m_Held(std::move(held)) {}
    int open(const std::string& path) override { return m_Inner.open(path); }
    int close() override { return m_Inner.close(); }
    int write(const uint8_t* buffer, size_t size) override { return m_Inner.write(buffer, size); }
    void requireOpenedOnce(const std::string& path) const override {
        m_Inner.requireOpenedOnce(path);
    }
    int read(uint8_t* buffer, size_t size) override {
        size_t n = 0;
        while (n < size && m_Next < m_Held.size())
            buffer[n++] = m_Held[m_Next++];
        if (n == size)
            return static_cast<int>(n);
        int more = m_Inner.read(buffer + n, size - n);
        return static_cast<int>(n) + (more > 0 ? more : 0);
    }

  private:
    CommTransport& m_Inner;
    std::vector<uint8_t> m_Held;
    size_t m_Next = 0;
};
}  // namespace

ExchangeClock& ExchangeClock::real() {
    static RealClock clock;
    return clock;
}

void ExchangeClock::sleepMs(unsigned ms) {
    sleepUntil(plusNs(now(), static_cast<long>(ms) * 1000000L));
}

void waitOut(ExchangeClock& clock, const NpaTiming& timing) {
    if (before(clock.now(), timing.patience))
        clock.sleepUntil(timing.patience);
}

int readNpaAnswer(CommTransport& transport, ExchangeClock& clock, unsigned sleepMs, uint8_t* buffer,
                  size_t capacity, NpaTiming* timing) {
    // The window would start after the sleep, and again at every arrival;
    // the sleep after the previous exchange's whole time, when that is later.
    timespec windowFrom = clock.now();
    if (timing && before(windowFrom, timing->patience))
        windowFrom = timing->patience;
    windowFrom = plusNs(windowFrom, static_cast<long>(sleepMs) * 1000000L);
    size_t got = 0;
    bool complete = false;
    timespec graceEnd{};
    while (got < capacity) {
        if (!complete && npaAnswerComplete(ByteSpan(buffer, got))) {
            // A printer that sends more than it announced sends it right
            // behind the answer: take that within the grace.
            complete = true;
            graceEnd = plusNs(clock.now(), kGraceNs);
        }
        const timespec until = complete ? graceEnd : windowEnd(windowFrom);
        int n = transport.readArrived(buffer + got, capacity - got, until);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n) > capacity - got ? capacity - got : static_cast<size_t>(n);
        timespec now = clock.now();
        if (before(windowFrom, now))
            windowFrom = now;
    }
    if (timing)
        timing->patience = windowEnd(windowFrom);
    return static_cast<int>(got);
}

int exchangeNpaOnce(CommTransport& transport, const std::string& path, const uint8_t* request,
                    size_t requestLength, unsigned sleepSeconds, uint8_t* buffer, size_t capacity,
                    NpaTiming* timing) {
    return exchangeNpaOnce(transport, ExchangeClock::real(), path, ByteSpan(request, requestLength),
                           sleepSeconds * 1000, buffer, capacity, timing);
}

int exchangeNpaOnce(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                    ByteSpan request, unsigned sleepMs, uint8_t* buffer, size_t capacity,
                    NpaTiming* timing) {
    if (transport.open(path) != 0)
        return -1;
    transport.write(request.data, request.size);
    int got = readNpaAnswer(transport, clock, sleepMs, buffer, capacity, timing);
    transport.close();
    return got;
}

int exchangeNpaStream(CommTransport& transport, const std::string& path, const uint8_t* request,
                      size_t requestLength, std::vector<uint8_t>& reply, unsigned windowSeconds,
                      NpaStreamNote* note) {
    return exchangeNpaStream(transport, ExchangeClock::real(), path, request, requestLength, reply,
                             windowSeconds, kStreamPauseMs, note);
}

int exchangeNpaStream(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                      const uint8_t* request, size_t requestLength, std::vector<uint8_t>& reply,
                      unsigned windowSeconds, unsigned pauseMs, NpaStreamNote* note) {
    std::vector<uint8_t> kept;
    NpaAcceptRule keepAfterFlags = [](ByteSpan body, std::vector<uint8_t>& out) {
        ByteSpan afterFlags = body.from(1);
        out.insert(out.end(), afterFlags.begin(), afterFlags.end());
        return true;
    };
    if (!exchangeNpaAccepted(transport, clock, path, ByteSpan(request, requestLength), pauseMs,
                             windowSeconds, NpaHeaderMode::StartByteFirst, keepAfterFlags, kept,
                             note)) {
        std::fprintf(stderr, "D [QOR] Failed to open usb device '%s'!\n", path.c_str());
        return 0;
    }
    if (kept.empty())
        return 0;
    reply = std::move(kept);
    return static_cast<int>(reply.size());
}

bool exchangeNpaAccepted(CommTransport& transport, ExchangeClock& clock, const std::string& path,
                         ByteSpan request, unsigned pauseMs, unsigned windowSeconds,
                         NpaHeaderMode mode, const NpaAcceptRule& accept,
                         std::vector<uint8_t>& kept, NpaStreamNote* note) {
    if (note)
        *note = NpaStreamNote();
    if (transport.open(path) != 0)
        return false;
    transport.write(request.data, request.size);
    kept = readNpaStreamAfter(transport, clock, pauseMs, windowSeconds, mode, accept, note);
    transport.close();
    return true;
}

std::vector<uint8_t> readNpaStreamAfter(CommTransport& transport, ExchangeClock& clock,
                                        unsigned pauseMs, unsigned windowSeconds,
                                        NpaHeaderMode mode, const NpaAcceptRule& accept,
                                        NpaStreamNote* note) {
    const NpaClock seconds = [&clock] { return clock.now().tv_sec; };
    const timespec pauseEnd = plusNs(clock.now(), static_cast<long>(pauseMs) * 1000000L);
    uint8_t first = 0;
    if (transport.readArrived(&first, 1, pauseEnd) == 1) {
        // The answer has begun: read it now, but keep the window open as
        // long as after a full pause.
        PrimedTransport primed(transport, {first});
        unsigned extra = (pauseMs + 999) / 1000;
        std::vector<uint8_t> kept =
            readNpaStream(primed, windowSeconds + extra, mode, accept, seconds, note);
        if (note)
            note->heard = true;
        return kept;
    }
    clock.sleepUntil(pauseEnd);
    return readNpaStream(transport, windowSeconds, mode, accept, seconds, note);
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
            if (read(&startByte, 1) != 1 || startByte != kNpaStartByte)
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
            if (startByte != kNpaStartByte)
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
        if (flags & kNpaFlagError) {
            met.errorAnswer = true;
            break;
        }
        std::vector<uint8_t> keep;
        if (accept && accept(ByteSpan(body.data(), body.size()), keep)) {
            kept.insert(kept.end(), keep.begin(), keep.end());
            if (!(flags & kNpaFlagMore))
                break;
        }
    } while (clock() - start < static_cast<time_t>(windowSeconds));
    if (note)
        *note = met;
    return kept;
}

}  // namespace qor
