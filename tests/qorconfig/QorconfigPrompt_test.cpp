// qorconfig's password prompt end to end: the program under the virtual
// printer, its standard input a pseudo-terminal (or a pipe) typed into by
// the test.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "E2eRig.h"
#include "TestTerminal.h"

namespace qor::test {
namespace {

const std::vector<std::string> kArgs = {"-c", "--ssid=Home", "--security=WPA"};

// The first write request's password record value in the journal, as hex.
bool journalHas(const RunResult& r, const std::string& hex) {
    for (const JournalEntry& e : r.journal)
        if (e.kind == "write" && contains(e.hex, hex))
            return true;
    return false;
}

TEST(QorconfigPrompt, TypedPasswordIsHiddenAndSent) {
    PrinterRig rig;
    TestTerminal terminal;
    std::atomic<bool> wentOff{false};
    std::string echoed;
    std::thread user([&] {
        wentOff = terminal.waitEcho(false, 30);
        if (wentOff)
            terminal.type("hunter2\n");
        terminal.waitEcho(true, 30);
        echoed = terminal.shown();
    });
    RunResult r = rig.run("", kArgs, 60, -1, [&] { terminal.becomeControllingStdin(); });
    user.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(wentOff) << "echo never went off";
    EXPECT_TRUE(terminal.echoOn());
    EXPECT_EQ(echoed.find("hunter2"), std::string::npos) << echoed;
    EXPECT_EQ(r.out, "npa data going: 2Please provide the password:\n\n");
    // Item 11, 8 bytes: "hunter2" and its terminator.
    EXPECT_TRUE(journalHas(r, "281100000868756E7465723200"));
    EXPECT_FALSE(contains(r.err, "hunter2"));
}

TEST(QorconfigPrompt, InterruptWhileTypingRestoresEchoAndSendsNothing) {
    PrinterRig rig;
    TestTerminal terminal;
    std::atomic<bool> wentOff{false};
    std::thread user([&] {
        wentOff = terminal.waitEcho(false, 30);
        if (wentOff)
            terminal.type("hun\x03");  // ^C halfway through
    });
    RunResult r = rig.run("", kArgs, 60, -1, [&] { terminal.becomeControllingStdin(); });
    user.join();
    EXPECT_TRUE(wentOff);
    EXPECT_EQ(r.status, 128 + SIGINT) << r.err;
    EXPECT_TRUE(terminal.echoOn());
    EXPECT_TRUE(settingRequests(r.journal).empty());
}

TEST(QorconfigPrompt, PipedPasswordIsReadWithoutATerminal) {
    PrinterRig rig;
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    ssize_t n = ::write(input[1], "pw\n", 3);
    ASSERT_EQ(n, 3);
    ::close(input[1]);
    RunResult r = rig.run("", kArgs, 60, input[0]);
    ::close(input[0]);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(journalHas(r, "2811000003707700"));
}

TEST(QorconfigPrompt, EndOfInputGivesEmptyPassword) {
    PrinterRig rig;
    RunResult r = rig.run("", kArgs, 60);  // standard input /dev/null
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "npa data going: 2Please provide the password:\n\n");
    EXPECT_TRUE(journalHas(r, "281100000100"));
}

TEST(QorconfigPrompt, TopLevelFlowPromptsForEachMessage) {
    // The message shown first and the one sent each ask; the second line
    // typed is the one sent.
    PrinterRig rig;
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    ssize_t n = ::write(input[1], "first\nsecond\n", 13);
    ASSERT_EQ(n, 13);
    ::close(input[1]);
    RunResult r = rig.run("", {"--ssid=Home", "--security=WPA"}, 90, input[0]);
    ::close(input[0]);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "npa data going: 2Please provide the password:\n\nConfiguring the printer....\n"
              "Resetting the printer....\nConnecting to wireless network....npa data going: 2"
              "Please provide the password:\n\nAcquiring network address....\n"
              "IP-ADDRESS : 192.168.1.20\n");
    EXPECT_TRUE(journalHas(r,
                           "2811000007"
                           "7365636F6E64"
                           "00"));
    EXPECT_FALSE(contains(r.err, "66 69 72 73 74"));
    EXPECT_FALSE(contains(r.err, "73 65 63 6f 6e 64"));
}

}  // namespace
}  // namespace qor::test
