#include "NpaChannel.h"

#include <utility>

#include "HCUSBTransport.h"

namespace qor {

NpaChannel::NpaChannel(std::string path, Unreachable unreachable)
    : m_Path(std::move(path)),
      m_Transport(*HCUSBTransport::getInstance()),
      m_Clock(ExchangeClock::real()),
      m_Shared(true),
      m_Unreachable(unreachable) {}

NpaChannel::NpaChannel(std::string path, CommTransport& transport, ExchangeClock& clock,
                       Unreachable unreachable)
    : m_Path(std::move(path)), m_Transport(transport), m_Clock(clock), m_Unreachable(unreachable) {}

NpaChannel::~NpaChannel() {
    if (m_Shared)
        HCUSBTransport::releaseInstance();
}

void NpaChannel::afterOpenFailure() {
    if (m_Unreachable == Unreachable::Stop)
        m_Transport.requireOpenedOnce(m_Path);
}

int NpaChannel::exchangeOnce(ByteSpan request, unsigned sleepMs, uint8_t* buffer, size_t capacity) {
    int got = exchangeNpaOnce(m_Transport, m_Clock, m_Path, request, sleepMs, buffer, capacity,
                              &m_Timing);
    if (got < 0)
        afterOpenFailure();
    return got;
}

int NpaChannel::exchangeTries(ByteSpan request, unsigned sleepMs, int tries, uint8_t* buffer,
                              size_t capacity, const std::function<bool(ByteSpan reply)>& done) {
    if (m_Transport.open(m_Path) != 0) {
        afterOpenFailure();
        return -1;
    }
    NpaTiming timing;
    int got = 0;
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (attempt > 0)
            waitOut(m_Clock, timing);
        m_Transport.write(request.data, request.size);
        got = readNpaAnswer(m_Transport, m_Clock, sleepMs, buffer, capacity, &timing);
        size_t count = got < 0 ? 0 : static_cast<size_t>(got);
        if (done && done(ByteSpan(buffer, count < capacity ? count : capacity)))
            break;
    }
    m_Transport.close();
    return got;
}

int NpaChannel::exchangeStream(ByteSpan request, std::vector<uint8_t>& reply,
                               unsigned windowSeconds, unsigned pauseMs) {
    int got = exchangeNpaStream(m_Transport, m_Clock, m_Path, request.data, request.size, reply,
                                windowSeconds, pauseMs, &m_StreamNote);
    // The stream exchange reports a failed open itself; only the stop
    // remains to be made here.
    if (m_Unreachable == Unreachable::Stop)
        m_Transport.requireOpenedOnce(m_Path);
    return got;
}

bool NpaChannel::exchangeAccepted(ByteSpan request, unsigned pauseMs, unsigned windowSeconds,
                                  NpaHeaderMode mode, const NpaAcceptRule& accept,
                                  std::vector<uint8_t>& kept) {
    bool sent = exchangeNpaAccepted(m_Transport, m_Clock, m_Path, request, pauseMs, windowSeconds,
                                    mode, accept, kept, &m_StreamNote);
    if (!sent)
        afterOpenFailure();
    return sent;
}

void NpaChannel::waitOutLastTry() {
    waitOut(m_Clock, m_Timing);
}

}  // namespace qor
