// Socket layer of the network backend: a sized byte buffer, a select-based
// wait set and a connector owning one datagram and one stream socket.
#pragma once

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

// A fixed-capacity byte array with a count of bytes in use.
class ByteBuffer {
  public:
    // size 0; capacity is recorded only when the allocation succeeds.
    explicit ByteBuffer(int capacity);
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Copies length bytes to the start; the caller keeps length within capacity
    // (longer input is cut to capacity rather than overrunning).
    void assign(const void* bytes, int length);
    uint8_t* data() { return m_Data; }
    const uint8_t* data() const { return m_Data; }
    int size() const { return m_Size; }
    int capacity() const { return m_Capacity; }
    // Sets the count in use, clamped to [0, capacity].
    void setSize(int n);
    // Removes the first n bytes (clamped to size), moving the rest to the front.
    void consume(int n);

  private:
    int m_Size = 0;
    int m_Capacity = 0;
    uint8_t* m_Data = nullptr;
};

// Waits on lists of descriptors with select(2). Not locked: one thread only.
class WaitSet {
  public:
    WaitSet();

    // A negative descriptor is ignored; duplicates are kept.
    void addRead(int fd);
    void addWrite(int fd);
    void addBoth(int fd);
    // Removes the first occurrence from the read list, then from the write list.
    void remove(int fd);

    // Stores the timeout and waits (waitAgain).
    int wait(long seconds, long microseconds);
    // Waits with what is left of the stored timeout (select writes the rest
    // back). Returns select's result, or 0 at once when both lists are empty.
    int waitAgain();

    bool isReadable(int fd) const;
    bool isWritable(int fd) const;
    // True when the stored timeout has run down to zero.
    bool timedOut() const;

    const std::vector<int>& readList() const { return m_ReadList; }
    const std::vector<int>& writeList() const { return m_WriteList; }
    const struct timeval& timeout() const { return m_Timeout; }

  private:
    fd_set m_ReadSet;
    fd_set m_WriteSet;
    struct timeval m_Timeout;
    std::vector<int> m_ReadList;
    std::vector<int> m_WriteList;
};

class SocketConnector {
  public:
    // Makes and owns a new wait set.
    SocketConnector();
    // Uses the given wait set without owning it.
    explicit SocketConnector(WaitSet& waitSet);
    ~SocketConnector();
    SocketConnector(const SocketConnector&) = delete;
    SocketConnector& operator=(const SocketConnector&) = delete;

    // Binds a UDP socket to port (address reuse), joins 224.0.0.251 and sends
    // the buffer to 224.0.0.251:port once through every IPv4 interface.
    // Returns 1 when at least one send went out, -1 when none did, or the
    // negative bind result ("Broadcast: bind" is printed with perror).
    int Broadcast(const ByteBuffer& buffer, int port);
    // Takes one datagram if the last wait found the socket readable.
    // Returns the byte count, 0 when not readable (the buffer keeps its
    // size), or the negative receive result.
    int ReceiveReply(ByteBuffer& buffer);
    // Closes the datagram socket (removing it from the wait set).
    void Close();

    // Non-blocking TCP connect; waits up to about 15 s for an in-progress
    // connection. Returns 0 when connected, a positive errno for a refused
    // one, or -1 on other failures.
    int Connect(const std::string& ip, int port);
    // Receives into buffer: 0 on data (size = count) or peer close (size
    // kept); a negative result on error (the connection is dropped unless the
    // error is EAGAIN or EINTR).
    int Read(ByteBuffer& buffer);
    // Sends size bytes; returns send's result (dropping the connection on
    // errors other than EAGAIN or EINTR).
    int Write(const ByteBuffer& buffer);
    // Shuts down and closes the stream socket. Returns 0.
    int Disconnect();

    bool isConnected() const { return m_Connected; }
    int streamDescriptor() const { return m_Connected ? m_StreamFD : -1; }
    int datagramDescriptor() const { return m_DatagramFD; }
    bool isReadable() const { return m_WaitSet->isReadable(streamDescriptor()); }
    bool isWritable() const { return m_WaitSet->isWritable(streamDescriptor()); }
    int wait(long seconds, long microseconds) { return m_WaitSet->wait(seconds, microseconds); }
    int waitAgain() { return m_WaitSet->waitAgain(); }

    // The IPv4 addresses of every interface the system lists, in its order.
    static std::vector<struct in_addr> interfaceAddresses(int fd);

    // Receive queue the discovery socket asks for, in the kernel's count
    // (SO_RCVBUF as read back). See sizeReceiveQueue.
    static constexpr int kDiscoveryQueueBytes = 2 * 1024 * 1024;
    // Raises fd's receive queue limit towards kDiscoveryQueueBytes; never
    // lowers it. Root gets it whole (SO_RCVBUFFORCE); otherwise it is capped
    // at twice net.core.rmem_max. Returns the limit the socket ends with.
    static int sizeReceiveQueue(int fd);

  private:
    bool m_Connected = false;
    int m_DatagramFD = -1;
    int m_StreamFD = -1;
    struct sockaddr_in m_Peer;
    WaitSet* m_WaitSet;
    bool m_OwnsWaitSet;
};
