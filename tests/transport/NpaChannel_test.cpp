// The channel's exchanges in time, on the scripted printer's virtual clock:
// each ends when the answer is whole by its framing, and waits out the old
// sleep plus read window only for a printer that is slow or silent.
#include "NpaChannel.h"

#include <gtest/gtest.h>

#include "FakePrinter.h"
#include "HCUSBTransport.h"
#include "NpaPacket.h"

namespace qor {
namespace {

using test::FakePrinter;
using Bytes = std::vector<uint8_t>;

const Bytes kRequest = npaReadRequest(0x28, 0x08);

Bytes packet(uint8_t flags, size_t dataBytes) {
    Bytes body(1 + dataBytes, 0x33);
    body[0] = flags;
    return npaPacket(body);
}

Bytes join(const Bytes& a, const Bytes& b) {
    return npaConcat(a, b);
}

// The printer's clock starts on a whole second, so a one-shot exchange with
// a sleep of S ms gives up at S + 5000 ms (the window closes on the second).
// A whole answer is followed by the short grace for bytes behind it.
constexpr long long kGrace = 20;
TEST(NpaChannelOnce, EndsAtTheWholeAnswerOrAtTheDeadline) {
    const Bytes whole = packet(0x50, 10);
    const Bytes more = join(packet(0x70, 4), packet(0x50, 4));
    struct Row {
        const char* name;
        Bytes answer;
        size_t pieceSize;
        unsigned gapMs, delayMs;
        size_t got;
        long long endsAtMs;
    } rows[] = {
        {"at once", whole, 0, 0, 0, whole.size(), 0 + kGrace},
        {"split with gaps", whole, 5, 400, 0, whole.size(), 800 + kGrace},
        {"more packets announced", more, 8, 300, 0, more.size(), 300 + kGrace},
        {"slow, inside the deadline", whole, 0, 0, 6900, whole.size(), 6900 + kGrace},
        {"slow, past the deadline", whole, 0, 0, 7100, 0, 7000},
        {"silent", {}, 0, 0, 0, 0, 7000},
        {"cut short", Bytes(whole.begin(), whole.end() - 1), 0, 0, 0, whole.size() - 1, 7000},
        {"error answer", packet(0xD4, 2), 0, 0, 0, 6, kGrace},
    };
    for (const Row& row : rows) {
        FakePrinter printer;
        printer.answerInPieces(row.answer, row.pieceSize, row.gapMs, row.delayMs);
        auto channel = printer.channel("/dev/usb/lp0");
        Bytes buffer(255);
        int got = channel->exchangeOnce(kRequest, 2000, buffer.data(), buffer.size());
        EXPECT_EQ(got, static_cast<int>(row.got)) << row.name;
        EXPECT_EQ(printer.elapsedMs(), row.endsAtMs) << row.name;
        EXPECT_EQ(printer.writes, std::vector<Bytes>{kRequest}) << row.name;
        EXPECT_EQ(printer.closes, 1) << row.name;
    }
}

TEST(NpaChannelOnce, BytesBehindTheAnswerAreTakenWithinTheGrace) {
    for (unsigned lateMs : {10u, 100u}) {
        FakePrinter printer;
        Bytes answer = join(packet(0x50, 3), Bytes{0xEE, 0xEE});
        printer.answerInPieces(answer, answer.size() - 2, lateMs);
        Bytes buffer(64);
        int got = printer.channel("p")->exchangeOnce(kRequest, 0, buffer.data(), buffer.size());
        EXPECT_EQ(got, static_cast<int>(lateMs < 20 ? answer.size() : answer.size() - 2)) << lateMs;
        EXPECT_LE(printer.elapsedMs(), 20) << lateMs;
    }
}

// A poll whose answers say "not yet": each try ends at its answer, and the
// next one goes out when the earlier would have ended under the full wait.
TEST(NpaChannelOnce, PollsKeepTheirPatienceAfterEarlyAnswers) {
    FakePrinter printer;
    for (int i = 0; i < 3; ++i)
        printer.answer(packet(0x50, 2), 100);
    auto channel = printer.channel("p");
    Bytes buffer(64);
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            channel->waitOutLastTry();
        channel->exchangeOnce(kRequest, 3000, buffer.data(), buffer.size());
    }
    EXPECT_EQ(printer.writeTimesMs, (std::vector<long long>{0, 8000, 16000}));
    EXPECT_EQ(printer.elapsedMs(), 16100 + kGrace);
}

TEST(NpaChannelStream, FirstByteCutsThePauseAndSilenceWaitsItOut) {
    FakePrinter answered;
    answered.answer(join(packet(0x70, 2), packet(0x50, 2)), 300);
    Bytes kept;
    EXPECT_EQ(answered.channel("p")->exchangeStream(kRequest, kept, 3), 4);
    EXPECT_EQ(answered.elapsedMs(), 300);

    FakePrinter silent;
    silent.silent();
    auto channel = silent.channel("p");
    EXPECT_EQ(channel->exchangeStream(kRequest, kept, 3), 0);
    EXPECT_FALSE(channel->lastStreamNote().heard);
    // The 2 s pause, then a window of 3 whole seconds.
    EXPECT_GE(silent.elapsedMs(), 5000);
    EXPECT_LE(silent.elapsedMs(), 7000);
}

TEST(NpaChannelTries, StopsAtTheAwaitedAnswerAndSpacesTheOthers) {
    FakePrinter printer;
    printer.answer(packet(0x50, 1)).answer(packet(0x50, 1)).answer(packet(0x50, 9));
    Bytes buffer(64);
    int tries = 0;
    int got = printer.channel("p")->exchangeTries(kRequest, 1000, 5, buffer.data(), buffer.size(),
                                                  [&tries](ByteSpan reply) {
                                                      ++tries;
                                                      return reply.size == 13;
                                                  });
    EXPECT_EQ(got, 13);
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(printer.opened.size(), 1u);
    EXPECT_EQ(printer.writeTimesMs, (std::vector<long long>{0, 6000, 12000}));
}

TEST(NpaChannelOpen, FailsOrStopsWhenTheDeviceNeverOpened) {
    Bytes buffer(16);
    FakePrinter printer;
    printer.failOpen().failOpen();
    EXPECT_EQ(printer.channel("p")->exchangeOnce(kRequest, 0, buffer.data(), buffer.size()), -1);
    auto stopping = printer.channel("/dev/usb/lp9", NpaChannel::Unreachable::Stop);
    EXPECT_THROW(stopping->exchangeOnce(kRequest, 0, buffer.data(), buffer.size()),
                 DeviceUnavailable);
    EXPECT_TRUE(printer.writes.empty());
}

TEST(NpaChannel, HoldsItsTransportForItsLife) {
    FakePrinter printer;
    {
        auto first = printer.channel("a");
        auto second = printer.channel("b");
        EXPECT_EQ(printer.holds, 2);
    }
    EXPECT_EQ(printer.holds, 0);
    EXPECT_EQ(printer.events,
              (std::vector<std::string>{"acquire", "acquire", "release", "release"}));
}

}  // namespace
}  // namespace qor
