// qorconfig's password prompt end to end: the program under the virtual
// printer, its standard input a pseudo-terminal (or a pipe) typed into by
// the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
            terminal.type("hunter22\n");
        terminal.waitEcho(true, 30);
        echoed = terminal.shown();
    });
    RunResult r = rig.run("", kArgs, 60, -1, [&] { terminal.becomeControllingStdin(); });
    user.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(wentOff) << "echo never went off";
    EXPECT_TRUE(terminal.echoOn());
    EXPECT_EQ(echoed.find("hunter22"), std::string::npos) << echoed;
    EXPECT_EQ(r.out, "npa data going: 2Please provide the password:\n\n");
    // Item 11, 9 bytes: "hunter22" and its terminator.
    EXPECT_TRUE(journalHas(r, "281100000968756E746572323200"));
    EXPECT_FALSE(contains(r.err, "hunter22"));
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

TEST(QorconfigPrompt, WithoutATerminalASecuredNetworkNeedsThePasswordOption) {
    // A pipe or /dev/null is no one to ask: refused before anything is sent.
    PrinterRig rig;
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    ssize_t n = ::write(input[1], "pw123456\n", 9);
    ASSERT_EQ(n, 9);
    ::close(input[1]);
    RunResult piped = rig.run("", kArgs, 60, input[0]);
    ::close(input[0]);
    RunResult none = rig.run("", kArgs, 60);  // standard input /dev/null
    for (const RunResult* r : {&piped, &none}) {
        EXPECT_EQ(r->status, 1) << r->err;
        EXPECT_EQ(r->out, "");
        EXPECT_EQ(r->err,
                  "qorconfig: --security=WPA needs the network's password: give it with "
                  "--passwd=PASSWORD (standard input is no terminal to ask on)\n");
        EXPECT_TRUE(r->journal.empty());
    }
}

TEST(QorconfigPrompt, EmptyOrShortAnswerIsRefusedAndNothingSent) {
    struct Row {
        const char* typed;
        const char* line;
    } rows[] = {
        {"\n",
         "qorconfig: no password was typed: type the network's password, or give "
         "--passwd=PASSWORD\n"},
        {"\x04",
         "qorconfig: no password was typed: type the network's password, or give "
         "--passwd=PASSWORD\n"},  // end of input
        {"short\n",
         "qorconfig: a WPA password must be 8 to 63 printable ASCII characters or 64 "
         "hexadecimal digits\n"},
    };
    for (const Row& row : rows) {
        PrinterRig rig;
        TestTerminal terminal;
        std::thread user([&] {
            if (terminal.waitEcho(false, 30))
                terminal.type(row.typed);
        });
        RunResult r = rig.run("", kArgs, 60, -1, [&] { terminal.becomeControllingStdin(); });
        user.join();
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(terminal.echoOn());
        EXPECT_TRUE(contains(r.err, "D [QOR] Basic config...\n")) << r.err;
        EXPECT_TRUE(r.err.size() >= std::string(row.line).size() &&
                    r.err.compare(r.err.size() - std::string(row.line).size(), std::string::npos,
                                  row.line) == 0)
            << r.err;
        EXPECT_TRUE(settingRequests(r.journal).empty());
    }
}

TEST(QorconfigPrompt, TopLevelFlowPromptsForEachMessage) {
    // The message shown first and the one sent each ask; the second line
    // typed is the one sent.
    PrinterRig rig;
    TestTerminal terminal;
    std::thread user([&] {
        if (!terminal.waitEcho(false, 30))
            return;
        terminal.type("firstpw1\n");
        // The second prompt follows at once; echo is off again by then.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        if (terminal.waitEcho(false, 30))
            terminal.type("secondpw\n");
    });
    RunResult r = rig.run("", {"--ssid=Home", "--security=WPA"}, 90, -1,
                          [&] { terminal.becomeControllingStdin(); });
    user.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "npa data going: 2Please provide the password:\n\nConfiguring the printer....\n"
              "Resetting the printer....\nConnecting to wireless network....npa data going: 2"
              "Please provide the password:\n\nAcquiring network address....\n"
              "IP-ADDRESS : 192.168.1.20\n");
    EXPECT_TRUE(journalHas(r,
                           "2811000009"
                           "7365636F6E647077"
                           "00"));
    EXPECT_FALSE(contains(r.err, "66 69 72 73 74"));
    EXPECT_FALSE(contains(r.err, "73 65 63 6f 6e 64"));
}

}  // namespace
}  // namespace qor::test
