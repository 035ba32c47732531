// ByteBuffer, WaitSet and the stream side of SocketConnector on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "connector.h"

namespace {

// A TCP listener on 127.0.0.1 with a kernel-chosen port.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
        listen(fd, 4);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<struct sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
};

double secondsOf(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

TEST(ByteBuffer, AssignConsumeAndClamp) {
    ByteBuffer b(8);
    EXPECT_EQ(b.capacity(), 8);
    EXPECT_EQ(b.size(), 0);
    b.assign("abcdef", 6);
    b.consume(2);
    EXPECT_EQ(b.size(), 4);
    EXPECT_EQ(0, memcmp(b.data(), "cdef", 4));
    b.assign("0123456789", 10);  // cut to capacity
    EXPECT_EQ(b.size(), 8);
    b.consume(100);
    EXPECT_EQ(b.size(), 0);
    b.setSize(99);
    EXPECT_EQ(b.size(), 8);
}

TEST(WaitSet, EmptyListsReturnAtOnce) {
    WaitSet w;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(w.wait(5, 0), 0);
    EXPECT_LT(secondsOf(std::chrono::steady_clock::now() - start), 0.5);
}

TEST(WaitSet, IgnoresNegativeKeepsDuplicatesRemovesOnce) {
    WaitSet w;
    w.addRead(-1);
    w.addWrite(-3);
    EXPECT_TRUE(w.readList().empty());
    EXPECT_TRUE(w.writeList().empty());
    w.addBoth(5);
    w.addRead(5);
    w.remove(5);
    EXPECT_EQ(w.readList(), std::vector<int>{5});
    EXPECT_TRUE(w.writeList().empty());
    w.remove(5);
    EXPECT_TRUE(w.readList().empty());
}

TEST(WaitSet, ReportsReadableAndKeepsRemainingTime) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, pair));
    WaitSet w;
    w.addRead(pair[0]);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(w.wait(0, 200000), 0);  // nothing to read: times out
    EXPECT_GE(secondsOf(std::chrono::steady_clock::now() - start), 0.15);
    EXPECT_TRUE(w.timedOut());
    EXPECT_FALSE(w.isReadable(pair[0]));
    ASSERT_EQ(1, write(pair[1], "x", 1));
    EXPECT_EQ(w.wait(3, 0), 1);
    EXPECT_TRUE(w.isReadable(pair[0]));
    EXPECT_FALSE(w.timedOut());
    EXPECT_GT(w.timeout().tv_sec, 1);  // select wrote back what was left
    close(pair[0]);
    close(pair[1]);
}

TEST(SocketConnector, ConnectsReadsAndWritesOverLoopback) {
    Listener listener;
    SocketConnector c;
    ASSERT_EQ(c.Connect("127.0.0.1", listener.port), 0);
    EXPECT_TRUE(c.isConnected());
    EXPECT_GE(c.streamDescriptor(), 0);
    int peer = accept(listener.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ByteBuffer out(16);
    out.assign("hello", 5);
    EXPECT_EQ(c.Write(out), 5);
    char got[8] = {0};
    EXPECT_EQ(read(peer, got, sizeof got), 5);
    EXPECT_STREQ(got, "hello");
    ASSERT_EQ(5, write(peer, "world", 5));
    EXPECT_GT(c.wait(2, 0), 0);
    EXPECT_TRUE(c.isReadable());
    ByteBuffer in(16);
    EXPECT_EQ(c.Read(in), 0);
    EXPECT_EQ(in.size(), 5);
    EXPECT_EQ(0, memcmp(in.data(), "world", 5));
    close(peer);  // peer closed: Read returns 0, size kept
    EXPECT_GT(c.wait(2, 0), 0);
    EXPECT_EQ(c.Read(in), 0);
    EXPECT_EQ(in.size(), 5);
    EXPECT_EQ(c.Disconnect(), 0);
    EXPECT_FALSE(c.isConnected());
    EXPECT_EQ(c.streamDescriptor(), -1);
}

TEST(SocketConnector, RefusedConnectionFails) {
    int port;
    {
        Listener closed;  // bound then released: nobody listens there
        port = closed.port;
    }
    SocketConnector c;
    int result = c.Connect("127.0.0.1", port);
    EXPECT_NE(result, 0);
    EXPECT_FALSE(c.isConnected());
}

TEST(SocketConnector, RejectsEmptyAndNonDottedAddresses) {
    SocketConnector c;
    EXPECT_EQ(c.Connect("", 80), -1);
    EXPECT_EQ(c.Connect("localhost", 80), -1);
    EXPECT_EQ(c.Connect("1.2.3.4:80", 80), -1);
    EXPECT_FALSE(c.isConnected());
}

TEST(SocketConnector, ReceiveWithoutReadableKeepsSize) {
    SocketConnector c;
    ByteBuffer b(16);
    b.assign("abc", 3);
    EXPECT_EQ(c.ReceiveReply(b), 0);
    EXPECT_EQ(b.size(), 3);
}

TEST(SocketConnector, InterfaceListIncludesLoopback) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    auto addresses = SocketConnector::interfaceAddresses(fd);
    close(fd);
    bool loopback = false;
    for (auto& a : addresses)
        loopback |= a.s_addr == htonl(INADDR_LOOPBACK);
    EXPECT_TRUE(loopback);
}
