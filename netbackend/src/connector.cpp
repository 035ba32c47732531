#include "connector.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "TraceLog.h"

#define CONNECTOR_TRACE(function, ...) \
    log_write('F', __LINE__, "src/connector", function, __VA_ARGS__)

ByteBuffer::ByteBuffer(int capacity) {
    if (capacity > 0) {
        m_Data = static_cast<uint8_t*>(calloc(static_cast<size_t>(capacity), 1));
        if (m_Data)
            m_Capacity = capacity;
    }
}

ByteBuffer::~ByteBuffer() {
    free(m_Data);
}

void ByteBuffer::assign(const void* bytes, int length) {
    int n = std::max(0, std::min(length, m_Capacity));
    if (n > 0)
        memcpy(m_Data, bytes, static_cast<size_t>(n));
    m_Size = n;
}

void ByteBuffer::setSize(int n) {
    m_Size = std::max(0, std::min(n, m_Capacity));
}

void ByteBuffer::consume(int n) {
    n = std::max(0, std::min(n, m_Size));
    memmove(m_Data, m_Data + n, static_cast<size_t>(m_Size - n));
    m_Size -= n;
}

WaitSet::WaitSet() {
    FD_ZERO(&m_ReadSet);
    FD_ZERO(&m_WriteSet);
    m_Timeout.tv_sec = 0;
    m_Timeout.tv_usec = 0;
}

void WaitSet::addRead(int fd) {
    if (fd >= 0)
        m_ReadList.push_back(fd);
}

void WaitSet::addWrite(int fd) {
    if (fd >= 0)
        m_WriteList.push_back(fd);
}

void WaitSet::addBoth(int fd) {
    addRead(fd);
    addWrite(fd);
}

void WaitSet::remove(int fd) {
    auto r = std::find(m_ReadList.begin(), m_ReadList.end(), fd);
    if (r != m_ReadList.end())
        m_ReadList.erase(r);
    auto w = std::find(m_WriteList.begin(), m_WriteList.end(), fd);
    if (w != m_WriteList.end())
        m_WriteList.erase(w);
}

int WaitSet::wait(long seconds, long microseconds) {
    m_Timeout.tv_sec = seconds;
    m_Timeout.tv_usec = microseconds;
    return waitAgain();
}

int WaitSet::waitAgain() {
    FD_ZERO(&m_ReadSet);
    FD_ZERO(&m_WriteSet);
    int highRead = -1, highWrite = -1;
    for (int fd : m_ReadList) {
        if (fd >= FD_SETSIZE)
            continue;  // select cannot carry it
        FD_SET(fd, &m_ReadSet);
        highRead = std::max(highRead, fd);
    }
    for (int fd : m_WriteList) {
        if (fd >= FD_SETSIZE)
            continue;
        FD_SET(fd, &m_WriteSet);
        highWrite = std::max(highWrite, fd);
    }
    if (highRead == -1 && highWrite == -1)
        return 0;
    return select(std::max(highRead, highWrite) + 1, highRead >= 0 ? &m_ReadSet : nullptr,
                  highWrite >= 0 ? &m_WriteSet : nullptr, nullptr, &m_Timeout);
}

bool WaitSet::isReadable(int fd) const {
    return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &m_ReadSet);
}

bool WaitSet::isWritable(int fd) const {
    return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &m_WriteSet);
}

bool WaitSet::timedOut() const {
    return m_Timeout.tv_sec == 0 && m_Timeout.tv_usec == 0;
}

SocketConnector::SocketConnector() : m_WaitSet(new WaitSet), m_OwnsWaitSet(true) {
    memset(&m_Peer, 0, sizeof m_Peer);
}

SocketConnector::SocketConnector(WaitSet& waitSet) : m_WaitSet(&waitSet), m_OwnsWaitSet(false) {
    memset(&m_Peer, 0, sizeof m_Peer);
}

SocketConnector::~SocketConnector() {
    if (m_DatagramFD >= 0)
        ::close(m_DatagramFD);
    if (m_StreamFD >= 0)
        ::close(m_StreamFD);
    if (m_OwnsWaitSet)
        delete m_WaitSet;
}

std::vector<struct in_addr> SocketConnector::interfaceAddresses(int fd) {
    std::vector<struct in_addr> result;
    int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return result;
    // Grow the buffer until the list fits: a full buffer may have been cut short.
    std::vector<struct ifreq> records;
    for (size_t count = 8; count <= 65536; count *= 2) {
        records.assign(count, ifreq());
        struct ifconf conf;
        conf.ifc_len = static_cast<int>(count * sizeof(struct ifreq));
        conf.ifc_req = records.data();
        if (ioctl(probe, SIOCGIFCONF, &conf) < 0) {
            records.clear();
            break;
        }
        if (static_cast<size_t>(conf.ifc_len) < count * sizeof(struct ifreq)) {
            records.resize(static_cast<size_t>(conf.ifc_len) / sizeof(struct ifreq));
            break;
        }
    }
    ::close(probe);
    for (struct ifreq& record : records) {
        record.ifr_addr.sa_family = AF_INET;
        struct in_addr address;
        address.s_addr = htonl(INADDR_ANY);
        if (ioctl(fd, SIOCGIFADDR, &record) == 0) {
            struct sockaddr_in in;
            memcpy(&in, &record.ifr_addr, sizeof in);
            address = in.sin_addr;
        }
        result.push_back(address);
    }
    return result;
}

namespace {

int receiveQueueLimit(int fd) {
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0)
        return 0;
    return bytes;
}

}  // namespace

// Printers answer a query within about a second, up to a couple of hundred
// on one network, and the replies wait in the socket's queue until we read
// them. We read quickly, but nothing guarantees that we run during that
// second (a busy host, a spooler slow to drain our standard output), so the
// queue holds a whole second's replies by itself: 256 replies of the 4096
// bytes we read at most. The kernel charges each datagram its buffers, not
// its payload: a 4096-byte reply comes as three Ethernet fragments and costs
// about 6.9 KiB (2304 bytes a fragment on a veth link), so count 8 KiB, which
// gives 2 MiB. The kernel's default (net.core.rmem_default, often 208 KiB)
// holds some 30 such replies. Memory is only taken while datagrams wait.
int SocketConnector::sizeReceiveQueue(int fd) {
    int current = receiveQueueLimit(fd);
    if (current >= kDiscoveryQueueBytes)
        return current;
    int ask = kDiscoveryQueueBytes / 2;  // the kernel doubles it for its bookkeeping
    if (geteuid() == 0 && setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &ask, sizeof ask) == 0)
        return receiveQueueLimit(fd);
    // Without the privilege the request is cut to net.core.rmem_max. A
    // default above twice that cap would then shrink, so try a spare socket
    // first.
    int spare = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (spare >= 0) {
        bool larger = setsockopt(spare, SOL_SOCKET, SO_RCVBUF, &ask, sizeof ask) == 0 &&
                      receiveQueueLimit(spare) > current;
        ::close(spare);
        if (larger)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ask, sizeof ask);
    }
    return receiveQueueLimit(fd);
}

int SocketConnector::Broadcast(const ByteBuffer& buffer, int port) {
    CONNECTOR_TRACE("Broadcast", "begin data.size=%d port=%d", buffer.size(), port);
    int result = -1;
    m_DatagramFD = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_DatagramFD < 0) {
        CONNECTOR_TRACE("Broadcast", "end with ret=%d", result);
        return result;
    }
    int one = 1;
    setsockopt(m_DatagramFD, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(m_DatagramFD, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sizeReceiveQueue(m_DatagramFD);  // before the first reply can arrive
    fcntl(m_DatagramFD, F_SETFL, O_NONBLOCK);

    struct sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    int bound = bind(m_DatagramFD, reinterpret_cast<struct sockaddr*>(&local), sizeof local);
    if (bound < 0) {
        perror("Broadcast: bind");
        ::close(m_DatagramFD);
        m_DatagramFD = -1;
        CONNECTOR_TRACE("Broadcast", "end bind with error ret=%d", bound);
        return bound;
    }

    struct sockaddr_in destination;
    memset(&destination, 0, sizeof destination);
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "224.0.0.251", &destination.sin_addr);

    bool sent = false;
    for (const struct in_addr& address : interfaceAddresses(m_DatagramFD)) {
        // Responders that follow RFC 6762 answer a first QU question by
        // multicast, so listen on the group of every interface we ask on.
        struct ip_mreq membership;
        membership.imr_multiaddr = destination.sin_addr;
        membership.imr_interface = address;
        setsockopt(m_DatagramFD, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
        setsockopt(m_DatagramFD, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address);
        ssize_t n = sendto(m_DatagramFD, buffer.data(), static_cast<size_t>(buffer.size()), 0,
                           reinterpret_cast<struct sockaddr*>(&destination), sizeof destination);
        if (n > 0)
            sent = true;
    }
    if (sent) {
        m_WaitSet->addRead(m_DatagramFD);
        result = 1;
    } else {
        ::close(m_DatagramFD);
        m_DatagramFD = -1;
        result = -1;
    }
    CONNECTOR_TRACE("Broadcast", "end with ret=%d", result);
    return result;
}

int SocketConnector::ReceiveReply(ByteBuffer& buffer) {
    CONNECTOR_TRACE("ReceiveReply", "begin");
    int received = 0;
    if (m_DatagramFD >= 0 && m_WaitSet->isReadable(m_DatagramFD)) {
        ssize_t n = recv(m_DatagramFD, buffer.data(), static_cast<size_t>(buffer.capacity()), 0);
        received = static_cast<int>(n);
        if (n > 0) {
            buffer.setSize(received);
            log_dump(__LINE__, "src/connector", "ReceiveReply", buffer.data(),
                     static_cast<size_t>(buffer.size()));
        }
    }
    CONNECTOR_TRACE("ReceiveReply", "end with data.size=%d ret=%d", buffer.size(), received);
    return received;
}

void SocketConnector::Close() {
    if (m_DatagramFD >= 0) {
        m_WaitSet->remove(m_DatagramFD);
        ::close(m_DatagramFD);
        m_DatagramFD = -1;
    }
}

int SocketConnector::Connect(const std::string& ip, int port) {
    CONNECTOR_TRACE("Connect", "begin with ip=%s port=%d", ip.c_str(), port);
    int result = -1;
    if (!ip.empty()) {
        if (m_StreamFD >= 0)
            Disconnect();
        m_StreamFD = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_StreamFD >= 0) {
            int sendBuffer = 0x36000;
            setsockopt(m_StreamFD, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
            int one = 1;
            result = setsockopt(m_StreamFD, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fcntl(m_StreamFD, F_SETFL, fcntl(m_StreamFD, F_GETFL) | O_NONBLOCK);
        }
        memset(&m_Peer, 0, sizeof m_Peer);
        m_Peer.sin_family = AF_INET;
        m_Peer.sin_port = htons(static_cast<uint16_t>(port));
        if (result >= 0 && inet_pton(AF_INET, ip.c_str(), &m_Peer.sin_addr) != 1)
            result = -1;
        for (int attempt = 0; result >= 0 && attempt < 3; ++attempt) {
            if (connect(m_StreamFD, reinterpret_cast<struct sockaddr*>(&m_Peer), sizeof m_Peer) ==
                0) {
                m_WaitSet->addBoth(m_StreamFD);
                m_Connected = true;
                result = 0;
                break;
            }
            int error = errno;
            if (error == EINPROGRESS) {
                CONNECTOR_TRACE("Connect", "connection is in progress");
                WaitSet local;
                local.addWrite(m_StreamFD);
                result = -1;
                for (int pass = 0; pass < 15; ++pass) {
                    int ready = local.wait(1, 0);
                    if (ready > 0 && local.isWritable(m_StreamFD)) {
                        int socketError = 0;
                        socklen_t length = sizeof socketError;
                        getsockopt(m_StreamFD, SOL_SOCKET, SO_ERROR, &socketError, &length);
                        if (socketError == 0) {
                            CONNECTOR_TRACE("Connect", "connection established");
                            m_WaitSet->addBoth(m_StreamFD);
                            m_Connected = true;
                            result = 0;
                        } else {
                            result = socketError;  // refused, unreachable: the errno, positive
                        }
                        break;
                    }
                    if (ready < 0 && errno != EINTR)
                        break;
                }
                break;
            }
            if (error == EAGAIN || error == EINTR) {
                result = -1;
                if (attempt < 2)
                    result = 0;  // keep trying
                continue;
            }
            result = error;
            break;
        }
        if (!m_Connected && m_StreamFD >= 0) {
            ::close(m_StreamFD);
            m_StreamFD = -1;
            if (result == 0)
                result = -1;
        }
    }
    CONNECTOR_TRACE("Connect", "end with ret=%d", result);
    return result;
}

int SocketConnector::Read(ByteBuffer& buffer) {
    if (!m_Connected)
        return -1;
    ssize_t n = recv(m_StreamFD, buffer.data(), static_cast<size_t>(buffer.capacity()), 0);
    if (n > 0) {
        buffer.setSize(static_cast<int>(n));
        return 0;
    }
    if (n == 0)
        return 0;
    if (errno != EAGAIN && errno != EINTR)
        Disconnect();
    return static_cast<int>(n);
}

int SocketConnector::Write(const ByteBuffer& buffer) {
    if (!m_Connected)
        return -1;
    ssize_t n = send(m_StreamFD, buffer.data(), static_cast<size_t>(buffer.size()), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        Disconnect();
    return static_cast<int>(n);
}

int SocketConnector::Disconnect() {
    if (m_Connected) {
        m_WaitSet->remove(m_StreamFD);
        shutdown(m_StreamFD, SHUT_RDWR);
        ::close(m_StreamFD);  // released here so a reconnect does not leak it
        m_StreamFD = -1;
        m_Connected = false;
    }
    return 0;
}
