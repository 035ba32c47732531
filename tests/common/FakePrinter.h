// A scripted printer on a virtual clock: the one fake under every talker's
// NpaChannel (survey devices, configurator and flows, status queries,
// certificate manager). Each write takes the next scripted answer, whose
// bytes arrive at virtual times after it; reads and waits move the clock
// instead of sleeping, so a test of a 50 s pause runs at once and still
// sees when every request went out.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "HCUSBTransport.h"
#include "NpaChannel.h"

namespace qor::test {

// An NPA packet as a printer puts it on the line: A5, the 16-bit length of
// `body`, then `body` (flags first). Built here, apart from the product's
// builder, so that tests state the bytes on their own.
inline std::vector<uint8_t> wirePacket(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> packet;
    packet.reserve(3 + body.size());
    packet.push_back(0xA5);
    packet.push_back(static_cast<uint8_t>(body.size() >> 8));
    packet.push_back(static_cast<uint8_t>(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

class FakePrinter : public CommTransport, public ExchangeClock {
  public:
    // ---- the script, taken in order ----------------------------------------
    // The next write is answered with `bytes`, `delayMs` after it.
    FakePrinter& answer(std::vector<uint8_t> bytes, unsigned delayMs = 0) {
        return answerInPieces(std::move(bytes), 0, 0, delayMs);
    }
    // The same in pieces of `pieceSize` bytes (0: whole), `gapMs` apart.
    FakePrinter& answerInPieces(std::vector<uint8_t> bytes, size_t pieceSize, unsigned gapMs,
                                unsigned delayMs = 0) {
        m_Script.push_back({Step::Answer, std::move(bytes), pieceSize, gapMs, delayMs});
        return *this;
    }
    // The next write gets nothing back.
    FakePrinter& silent() {
        m_Script.push_back({Step::Silent, {}, 0, 0, 0});
        return *this;
    }
    // Bytes that are on the line already, as if answering an earlier request.
    FakePrinter& arrive(std::vector<uint8_t> bytes) {
        if (!bytes.empty())
            m_Pending.push_back({nowMs(), std::move(bytes), 0});
        return *this;
    }
    // The next open fails.
    FakePrinter& failOpen() {
        m_Script.push_back({Step::FailOpen, {}, 0, 0, 0});
        return *this;
    }

    // ---- channels on this printer --------------------------------------------
    // A channel that counts as one hold on the printer for its life.
    std::unique_ptr<NpaChannel> channel(
        const std::string& path,
        NpaChannel::Unreachable unreachable = NpaChannel::Unreachable::Fail) {
        return std::make_unique<HeldChannel>(*this, path, unreachable);
    }
    std::function<std::unique_ptr<NpaChannel>(const std::string&)> channels() {
        return [this](const std::string& path) { return channel(path); };
    }

    // ---- CommTransport -------------------------------------------------------
    int open(const std::string& path) override {
        opened.push_back(path);
        m_Pending.clear();
        if (!m_Script.empty() && m_Script.front().kind == Step::FailOpen) {
            m_Script.pop_front();
            return -1;
        }
        m_EverOpened = true;
        return 0;
    }
    int close() override {
        ++closes;
        m_Pending.clear();
        return 0;
    }
    int write(const uint8_t* buffer, size_t size) override {
        writes.emplace_back(buffer, buffer + size);
        writeTimesMs.push_back(elapsedMs());
        firstWaitMs.push_back(-1);
        firstReadSize.push_back(0);
        if (m_Script.empty() || m_Script.front().kind == Step::FailOpen)
            return static_cast<int>(size);
        Step step = m_Script.front();
        m_Script.pop_front();
        if (step.kind == Step::Answer) {
            size_t piece = step.pieceSize ? step.pieceSize : step.bytes.size();
            long long due = nowMs() + step.delayMs;
            for (size_t at = 0; at < step.bytes.size(); at += piece, due += step.gapMs) {
                size_t n = std::min(piece, step.bytes.size() - at);
                m_Pending.push_back(
                    {due, {step.bytes.begin() + at, step.bytes.begin() + at + n}, 0});
            }
        }
        return static_cast<int>(size);
    }
    // As the USB transport: fills the buffer, or gives up after a quiet
    // read window (4.5 s here) without new bytes.
    int read(uint8_t* buffer, size_t size) override {
        ++reads;
        readSizes.push_back(size);
        size_t got = 0;
        long long quietFrom = nowMs();
        while (got < size && !m_Pending.empty()) {
            if (m_Pending.front().dueMs > quietFrom + kQuietMs)
                break;
            advanceTo(m_Pending.front().dueMs);
            got += take(buffer + got, size - got);
            quietFrom = nowMs();
        }
        if (got < size)
            advanceTo(quietFrom + kQuietMs);
        return static_cast<int>(got);
    }
    int readArrived(uint8_t* buffer, size_t size, const timespec& until) override {
        ++reads;
        readSizes.push_back(size);
        long long untilMs = toMs(until);
        if (!firstWaitMs.empty() && firstWaitMs.back() < 0) {
            firstWaitMs.back() = untilMs - nowMs();
            firstReadSize.back() = size;
        }
        if (m_Pending.empty() || m_Pending.front().dueMs > untilMs) {
            advanceTo(untilMs);
            return 0;
        }
        advanceTo(m_Pending.front().dueMs);
        return static_cast<int>(take(buffer, size));
    }
    void requireOpenedOnce(const std::string& path) const override {
        if (!m_EverOpened)
            throw DeviceUnavailable(path, "No such file or directory");
    }

    // ---- ExchangeClock -------------------------------------------------------
    timespec now() override { return m_Now; }
    void sleepUntil(const timespec& until) override {
        long long ms = toMs(until) - nowMs();
        if (ms > 0)
            sleepsMs.push_back(static_cast<unsigned>(ms));
        advanceTo(toMs(until));
    }

    // Virtual milliseconds since the printer was made.
    long long elapsedMs() const { return nowMs() - kStartMs; }

    // ---- what the talkers did ------------------------------------------------
    std::vector<std::string> opened;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<long long> writeTimesMs;  // virtual time of each write
    // Per write: how long the first wait for its answer could last (the
    // exchange's deadline, or a stream's pause) and how much it asked for.
    std::vector<long long> firstWaitMs;
    std::vector<size_t> firstReadSize;
    std::vector<size_t> readSizes;
    std::vector<unsigned> sleepsMs;   // waits that moved the clock
    std::vector<std::string> events;  // "acquire" / "release" of channels
    int closes = 0;
    int reads = 0;
    size_t taken = 0;  // bytes handed to reads
    int holds = 0;
    int channelsMade = 0;

  private:
    static constexpr long long kStartMs = 1000000LL * 1000;
    static constexpr long long kQuietMs = 4500;

    struct Step {
        enum Kind { Answer, Silent, FailOpen } kind;
        std::vector<uint8_t> bytes;
        size_t pieceSize;
        unsigned gapMs;
        unsigned delayMs;
    };
    struct Piece {
        long long dueMs;
        std::vector<uint8_t> bytes;
        size_t taken = 0;
    };
    class HeldChannel : public NpaChannel {
      public:
        HeldChannel(FakePrinter& printer, const std::string& path, Unreachable unreachable)
            : NpaChannel(path, printer, printer, unreachable), m_Printer(printer) {
            ++m_Printer.holds;
            ++m_Printer.channelsMade;
            m_Printer.events.push_back("acquire");
        }
        ~HeldChannel() override {
            --m_Printer.holds;
            m_Printer.events.push_back("release");
        }

      private:
        FakePrinter& m_Printer;
    };

    static long long toMs(const timespec& t) {
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    long long nowMs() const { return toMs(m_Now); }
    void advanceTo(long long ms) {
        if (ms <= nowMs())
            return;
        m_Now.tv_sec = static_cast<time_t>(ms / 1000);
        m_Now.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    }
    // Takes due bytes of the first piece (only what has arrived by now).
    size_t take(uint8_t* buffer, size_t size) {
        size_t got = 0;
        while (got < size && !m_Pending.empty() && m_Pending.front().dueMs <= nowMs()) {
            Piece& piece = m_Pending.front();
            size_t n = std::min(size - got, piece.bytes.size() - piece.taken);
            std::memcpy(buffer + got, piece.bytes.data() + piece.taken, n);
            piece.taken += n;
            taken += n;
            got += n;
            if (piece.taken == piece.bytes.size())
                m_Pending.pop_front();
        }
        return got;
    }

    std::deque<Step> m_Script;
    std::deque<Piece> m_Pending;
    timespec m_Now{static_cast<time_t>(kStartMs / 1000), 0};
    bool m_EverOpened = false;
};

}  // namespace qor::test
