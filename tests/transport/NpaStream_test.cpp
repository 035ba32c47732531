#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "FakePrinter.h"
#include "NpaExchange.h"

using namespace qor;
using qor::test::FakePrinter;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {
// Bytes on the line before the reading starts.
FakePrinter sent(Bytes bytes = {}) {
    FakePrinter printer;
    printer.arrive(std::move(bytes));
    return printer;
}

// readNpaStream with its window on the printer's virtual clock.
Bytes readStream(FakePrinter& printer, unsigned window, NpaHeaderMode mode,
                 const NpaAcceptRule& accept) {
    return readNpaStream(printer, window, mode, accept,
                         [&printer] { return printer.now().tv_sec; });
}

bool keepAfterFlags(ByteSpan body, Bytes& kept) {
    ByteSpan rest = body.from(1);
    kept.insert(kept.end(), rest.begin(), rest.end());
    return true;
}
}  // namespace

TEST(NpaStream, SkipsGarbageBeforeStartByte) {
    FakePrinter t = sent({0x00, 0xA5, 0x00, 0x03, 0x50, 0xE0, 0xD8});
    EXPECT_EQ(readStream(t, 5, NpaHeaderMode::StartByteFirst, keepAfterFlags), (Bytes{0xE0, 0xD8}));
}

TEST(NpaStream, ErrorReplyStopsAndContributesNothing) {
    FakePrinter t = sent({0xA5, 0x00, 0x03, 0xD0, 0xE0, 0xD8,  // error reply
                          0xA5, 0x00, 0x02, 0x50, 0x01});      // never read
    EXPECT_TRUE(readStream(t, 5, NpaHeaderMode::StartByteFirst, keepAfterFlags).empty());
    EXPECT_EQ(t.taken, 6u);
}

TEST(NpaStream, MoreFlagContinuesToNextPacket) {
    FakePrinter t = sent({0xA5, 0x00, 0x02, 0x70, 0x01,  // 0x20: more follows
                          0xA5, 0x00, 0x03, 0x50, 0x02, 0x03, 0xA5, 0x00, 0x02, 0x50,
                          0x09});  // not read: the last one ended it
    EXPECT_EQ(readStream(t, 5, NpaHeaderMode::StartByteFirst, keepAfterFlags),
              (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(t.taken, 11u);
}

TEST(NpaStream, ZeroLengthAndShortBodyAreSkipped) {
    FakePrinter zero = sent({0xA5, 0x00, 0x00, 0xA5, 0x00, 0x02, 0x50, 0x07});
    EXPECT_EQ(readStream(zero, 5, NpaHeaderMode::StartByteFirst, keepAfterFlags), Bytes{0x07});
    // A length that reaches past the received bytes is never trusted.
    FakePrinter shortBody = sent({0xA5, 0x00, 0x10, 0x50, 0x01, 0x02});
    EXPECT_TRUE(readStream(shortBody, 1, NpaHeaderMode::StartByteFirst, keepAfterFlags).empty());
    EXPECT_LT(shortBody.elapsedMs(), 5000);
}

TEST(NpaStream, RejectedPacketIsDroppedAndReadingGoesOn) {
    FakePrinter t = sent({0xA5, 0x00, 0x02, 0x50, 0xAA, 0xA5, 0x00, 0x02, 0x50, 0xBB});
    auto onlyBB = [](ByteSpan body, Bytes& kept) {
        ByteReader r(body);
        uint8_t flags = 0, value = 0;
        if (!r.readU8(flags) || !r.readU8(value) || value != 0xBB)
            return false;
        kept.push_back(value);
        return true;
    };
    EXPECT_EQ(readStream(t, 5, NpaHeaderMode::StartByteFirst, onlyBB), Bytes{0xBB});
}

TEST(NpaStream, WholeHeaderModeHasNoByteResync) {
    FakePrinter garbage = sent({0x00, 0xA5, 0x00, 0x03, 0x50, 0xE0, 0xD8});
    EXPECT_TRUE(readStream(garbage, 1, NpaHeaderMode::WholeHeader, keepAfterFlags).empty());
    FakePrinter clean = sent({0xA5, 0x00, 0x03, 0x50, 0xE0, 0xD8});
    EXPECT_EQ(readStream(clean, 5, NpaHeaderMode::WholeHeader, keepAfterFlags),
              (Bytes{0xE0, 0xD8}));
    // A zero length is a bad header in this mode too.
    FakePrinter zero = sent({0xA5, 0x00, 0x00, 0xA5, 0x00, 0x02, 0x50, 0x05});
    EXPECT_EQ(readStream(zero, 5, NpaHeaderMode::WholeHeader, keepAfterFlags), Bytes{0x05});
}

TEST(NpaStream, WindowBoundsSilence) {
    FakePrinter silent;
    EXPECT_TRUE(readStream(silent, 1, NpaHeaderMode::StartByteFirst, keepAfterFlags).empty());
    // One header read that waits out the transport's quiet time.
    EXPECT_EQ(silent.reads, 1);
    EXPECT_LT(silent.elapsedMs(), 5000);
}

TEST(NpaExchange, OnceOpensWritesReadsCloses) {
    const Bytes request{0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};
    FakePrinter t;
    t.answer({0xA5, 0x00, 0x02, 0x50, 0x01});
    uint8_t buf[100] = {};
    EXPECT_EQ(
        exchangeNpaOnce(t, "/dev/usb/lp0", request.data(), request.size(), 0, buf, sizeof buf), 5);
    EXPECT_EQ(t.opened, std::vector<std::string>{"/dev/usb/lp0"});
    EXPECT_EQ(t.writes, std::vector<Bytes>{request});
    EXPECT_EQ(t.closes, 1);
    EXPECT_EQ(buf[4], 0x01);
}

TEST(NpaExchange, OnceFailsWhenOpenFails) {
    FakePrinter t;
    t.failOpen();
    uint8_t buf[4];
    const uint8_t req[] = {0xA5};
    EXPECT_EQ(exchangeNpaOnce(t, "usb0", req, 1, 0, buf, sizeof buf), -1);
    EXPECT_TRUE(t.writes.empty());
}

TEST(NpaExchange, StreamFailurePrintsLineAndLeavesReply) {
    FakePrinter t;
    t.failOpen();
    Bytes reply{9};
    const uint8_t req[] = {0xA5};
    CaptureStderr();
    EXPECT_EQ(exchangeNpaStream(t, "usb0", req, 1, reply, 5), 0);
    EXPECT_EQ(GetCapturedStderr(), "D [QOR] Failed to open usb device 'usb0'!\n");
    EXPECT_EQ(reply, Bytes{9});
    EXPECT_EQ(t.closes, 0);
}

TEST(NpaExchange, StreamKeepsBytesAfterFlags) {
    FakePrinter t;
    t.answer({0x00, 0xA5, 0x00, 0x04, 0x50, 0xE0, 0xDA, 0x01});
    Bytes reply;
    const uint8_t req[] = {0xA5, 0x00, 0x01, 0x50};
    EXPECT_EQ(exchangeNpaStream(t, "1:2", req, sizeof req, reply, 5), 3);
    EXPECT_EQ(reply, (Bytes{0xE0, 0xDA, 0x01}));
    EXPECT_EQ(t.closes, 1);
}

TEST(NpaStream, WindowCountsWholeSecondsFromTheStart) {
    // The loop goes on while fewer than `window` seconds have passed: with a
    // clock that moves one second per look, a window of 3 reads 3 headers.
    FakePrinter silent;
    time_t now = 100;
    auto clock = [&now] { return now++; };
    EXPECT_TRUE(
        readNpaStream(silent, 3, NpaHeaderMode::StartByteFirst, keepAfterFlags, clock).empty());
    EXPECT_EQ(silent.reads, 3);
    FakePrinter once;
    now = 0;
    readNpaStream(once, 0, NpaHeaderMode::WholeHeader, keepAfterFlags, clock);
    EXPECT_EQ(once.reads, 1);  // a window of 0 still reads one header
}

TEST(NpaStream, LengthBeyondWhatArrivedKeepsNothingAndReadsNoFurther) {
    // Every cut of a good two-packet reply: whatever is incomplete is dropped,
    // what was complete is kept.
    const Bytes reply{0xA5, 0x00, 0x02, 0x70, 0x01, 0xA5, 0x00, 0x03, 0x50, 0x02, 0x03};
    for (size_t cut = 0; cut <= reply.size(); ++cut) {
        FakePrinter t = sent(Bytes(reply.begin(), reply.begin() + static_cast<long>(cut)));
        time_t now = 0;
        Bytes kept = readNpaStream(t, 2, NpaHeaderMode::StartByteFirst, keepAfterFlags,
                                   [&now] { return now++; });
        Bytes expected;
        if (cut >= 5)
            expected.push_back(0x01);
        if (cut == reply.size())
            expected.insert(expected.end(), {0x02, 0x03});
        EXPECT_EQ(kept, expected) << "cut at " << cut;
        EXPECT_LE(t.taken, cut);
    }
}

// What the reading met besides the kept bytes: an answer that leaves nothing
// kept is told apart from no answer at all.
TEST(NpaStream, NoteTellsSilenceFromAnswersThatKeepNothing) {
    struct Row {
        const char* name;
        Bytes bytes;
        bool heard, errorAnswer;
    } rows[] = {
        {"silence", {}, false, false},
        {"no start byte", {0x5A, 0xFF, 0x00}, true, false},
        {"error packet", {0xA5, 0x00, 0x03, 0xD4, 0xE0, 0xD8}, true, true},
        {"whole answer", {0xA5, 0x00, 0x02, 0x50, 0x01}, true, false},
    };
    for (const Row& row : rows) {
        FakePrinter t = sent(row.bytes);
        NpaStreamNote note;
        note.heard = !row.heard;
        readNpaStream(
            t, 1, NpaHeaderMode::StartByteFirst, keepAfterFlags, [&t] { return t.now().tv_sec; },
            &note);
        EXPECT_EQ(note.heard, row.heard) << row.name;
        EXPECT_EQ(note.errorAnswer, row.errorAnswer) << row.name;
    }
}
