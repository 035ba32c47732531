// The shared process runner against real programs (/bin/sh and coreutils).
#include "ProcessRunner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qor::proc {
namespace {

Options shell(const std::string& script) {
    Options o;
    o.argv = {"/bin/sh", "-c", script};
    return o;
}

// Fields 5 and 6 of /proc/PID/stat of `cat` itself: process group and session.
std::pair<long, long> groupAndSession(const Result& r) {
    std::string text = r.out.substr(r.out.rfind(')') + 2);
    std::istringstream in(text);
    std::string state;
    long ppid = 0, pgrp = 0, session = 0;
    in >> state >> ppid >> pgrp >> session;
    return {pgrp, session};
}

bool gone(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        if (::kill(pid, 0) != 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(ProcessRunner, OutputsLargerThanThePipesAreCollectedInFull) {
    Result r = run(shell("head -c 300000 /dev/zero | tr '\\0' a; "
                         "head -c 300000 /dev/zero | tr '\\0' b >&2; echo; echo x"),
                   30);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, std::string(300000, 'a') + "\nx\n");
    EXPECT_EQ(r.err, std::string(300000, 'b'));
    EXPECT_EQ(r.outLineSeconds.size(), 2u);
}

TEST(ProcessRunner, InputBytesReachStandardInputWhileOutputIsRead) {
    std::string bytes;
    for (int i = 0; i < 400000; ++i)
        bytes += static_cast<char>(i * 7);  // NUL and high bytes included
    Options o;
    o.argv = {"/bin/cat"};
    o.input = bytes;
    Result r = run(o, 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == bytes) << r.out.size() << " bytes came back";

    // A program that reads nothing: the test is not stopped by SIGPIPE.
    o.argv = {"/bin/true"};
    r = run(o, 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.timedOut);

    // Without input standard input is /dev/null.
    r = run(std::vector<std::string>{"/bin/cat"}, 10);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(ProcessRunner, DeadlineKillsTheWholeGroup) {
    auto begin = std::chrono::steady_clock::now();
    Result r = run(shell("sleep 30 & echo $!; wait"), 1);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.termSignal, SIGKILL);
    EXPECT_LT(took, 5.0);
    pid_t sleeper = std::atoi(r.out.c_str());
    ASSERT_GT(sleeper, 1) << r.out;
    EXPECT_TRUE(gone(sleeper)) << "the background sleep outlived the deadline";

    // Outputs closed early do not let the program run past the deadline.
    begin = std::chrono::steady_clock::now();
    r = run(shell("exec >&- 2>&-; sleep 30"), 1);
    took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_TRUE(r.timedOut);
    EXPECT_LT(took, 5.0);
}

TEST(ProcessRunner, ExitStatusesSignalsAndMissingPrograms) {
    Result r = run(shell("echo out; echo err >&2; exit 3"), 10);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");

    r = run(shell("kill -TERM $$"), 10);
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.termSignal, SIGTERM);

    r = run(std::vector<std::string>{"/nonexistent/program"}, 10);
    EXPECT_EQ(r.status, 127);
    Options o;
    o.argv = {"no-such-program-on-path"};
    o.searchPath = true;
    EXPECT_EQ(run(o, 10).status, 127);
}

TEST(ProcessRunner, EnvironmentDirectoryAndPathSearch) {
    ::setenv("QOR_RUNNER_KEPT", "kept", 1);
    ::setenv("QOR_RUNNER_GONE", "gone", 1);
    ::setenv("QOR_RUNNER_CHANGED", "old", 1);
    Options o;
    o.argv = {"env"};
    o.searchPath = true;
    o.env = {"QOR_RUNNER_NEW=a=b", "QOR_RUNNER_GONE", "QOR_RUNNER_CHANGED=new"};
    o.workDir = "/";
    Result r = run(o, 10);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\nQOR_RUNNER_KEPT=kept\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nQOR_RUNNER_NEW=a=b\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nQOR_RUNNER_CHANGED=new\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("QOR_RUNNER_CHANGED=old"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("QOR_RUNNER_GONE"), std::string::npos) << r.out;

    o.argv = {"pwd"};
    o.env.clear();
    o.workDir = "/usr";
    EXPECT_EQ(run(o, 10).out, "/usr\n");
    ::unsetenv("QOR_RUNNER_KEPT");
    ::unsetenv("QOR_RUNNER_GONE");
    ::unsetenv("QOR_RUNNER_CHANGED");
}

TEST(ProcessRunner, GroupAndSessionOfTheChild) {
    Options o;
    o.argv = {"/bin/cat", "/proc/self/stat"};
    Result own = run(o, 10);
    pid_t ownPid = std::atoi(own.out.c_str());
    EXPECT_EQ(groupAndSession(own), std::make_pair(long(ownPid), long(::getsid(0))));

    o.group = Group::Session;
    Result session = run(o, 10);
    pid_t sessionPid = std::atoi(session.out.c_str());
    EXPECT_EQ(groupAndSession(session), std::make_pair(long(sessionPid), long(sessionPid)));

    o.group = Group::Inherit;
    EXPECT_EQ(groupAndSession(run(o, 10)), std::make_pair(long(::getpgrp()), long(::getsid(0))));
}

TEST(ProcessRunner, LinesAreTimedAsTheyArrive) {
    Result r = run(shell("echo first; sleep 1; printf 'second\\nthird\\n'; printf tail"), 10);
    EXPECT_EQ(r.out, "first\nsecond\nthird\ntail");
    ASSERT_EQ(r.outLineSeconds.size(), 3u);
    EXPECT_LT(r.outLineSeconds[0], 0.8);
    EXPECT_GT(r.outLineSeconds[1] - r.outLineSeconds[0], 0.8);
    EXPECT_GE(r.seconds, r.outLineSeconds[2]);
}

TEST(ProcessRunner, BackgroundChildWritesItsLogAndIsStoppedByPid) {
    char pattern[] = "/tmp/qor-runner-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string log = std::string(pattern) + "/log";
    Options o = shell("echo out; echo err >&2; exec sleep 30");
    o.logPath = log;
    Process p(o);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.outFd(), -1);
    pid_t pid = p.release();
    EXPECT_FALSE(waitExit(pid, 0.3));
    stopProcess(pid, 5);
    int status = 0;
    EXPECT_TRUE(waitExit(pid, 0, &status));
    EXPECT_EQ(status, -1) << "already reaped";
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "out\nerr\n");
    std::remove(log.c_str());
    ::rmdir(pattern);
}

}  // namespace
}  // namespace qor::proc
