// A scripted CommTransport under the survey devices: each open() serves the
// next scripted answer (or fails), reads hand it out in the sizes asked for,
// and everything asked of it is recorded.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "CommTransport.h"
#include "WirelessDevice.h"

namespace qor::test {

class ScriptedTransport : public CommTransport {
  public:
    // The next open succeeds and its reads return `bytes`, in pieces of at
    // most `chunk` bytes per read (0: as much as asked).
    void script(std::vector<uint8_t> bytes, size_t chunk = 0) {
        m_Script.push_back({true, std::move(bytes), chunk});
    }
    void scriptOpenFailure() { m_Script.push_back({false, {}, 0}); }

    int open(const std::string& path) override {
        m_Opened.push_back(path);
        m_Pending.clear();
        m_Cursor = 0;
        m_IsOpen = false;
        if (m_Script.empty()) {
            m_IsOpen = true;  // opens, answers nothing
            return 0;
        }
        Answer next = m_Script.front();
        m_Script.pop_front();
        if (!next.opens)
            return -1;
        m_Pending = next.bytes;
        m_Chunk = next.chunk;
        m_IsOpen = true;
        return 0;
    }
    int close() override {
        ++m_Closes;
        m_IsOpen = false;
        return 0;
    }
    int read(uint8_t* buffer, size_t size) override {
        ++m_Reads;
        m_ReadSizes.push_back(size);
        size_t left = m_Pending.size() - m_Cursor;
        size_t n = std::min(size, left);
        if (m_Chunk != 0)
            n = std::min(n, m_Chunk);
        if (n == 0) {
            // A silent printer: don't let a reading loop spin on the CPU.
            struct timespec pause = {0, 5 * 1000 * 1000};
            nanosleep(&pause, nullptr);
            return 0;
        }
        std::memcpy(buffer, m_Pending.data() + m_Cursor, n);
        m_Cursor += n;
        return static_cast<int>(n);
    }
    int write(const uint8_t* buffer, size_t size) override {
        m_Writes.emplace_back(buffer, buffer + size);
        return static_cast<int>(size);
    }

    bool isOpen() const { return m_IsOpen; }

    std::vector<std::string> m_Opened;
    std::vector<std::vector<uint8_t>> m_Writes;
    std::vector<size_t> m_ReadSizes;
    int m_Closes = 0;
    int m_Reads = 0;

  private:
    struct Answer {
        bool opens;
        std::vector<uint8_t> bytes;
        size_t chunk;
    };
    std::deque<Answer> m_Script;
    std::vector<uint8_t> m_Pending;
    size_t m_Cursor = 0;
    size_t m_Chunk = 0;
    bool m_IsOpen = false;
};

// Hands out one scripted transport and records holds and sleeps.
class RecordingEnvironment : public DeviceEnvironment {
  public:
    CommTransport* acquireTransport() override {
        ++m_Holds;
        ++m_Acquired;
        m_Events.push_back("acquire");
        return &m_Transport;
    }
    void releaseTransport() override {
        --m_Holds;
        m_Events.push_back("release");
    }
    void sleepMs(unsigned milliseconds) override { m_Sleeps.push_back(milliseconds); }

    ScriptedTransport m_Transport;
    std::vector<unsigned> m_Sleeps;
    std::vector<std::string> m_Events;
    int m_Holds = 0;
    int m_Acquired = 0;
};

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// An NPA packet: A5, the 16-bit length of `body`, then `body` (flags first).
inline std::vector<uint8_t> npaPacket(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> packet;
    packet.reserve(3 + body.size());
    packet.push_back(0xA5);
    packet.push_back(static_cast<uint8_t>(body.size() >> 8));
    packet.push_back(static_cast<uint8_t>(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

// The direct kind's survey reply: echo 50 E0 D8 00 28 39, data length, data.
inline std::vector<uint8_t> directSurveyReply(const std::string& data, uint8_t flags = 0x50) {
    std::vector<uint8_t> body = {flags,
                                 0xE0,
                                 0xD8,
                                 0x00,
                                 0x28,
                                 0x39,
                                 static_cast<uint8_t>(data.size() >> 8),
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    return npaPacket(body);
}

// The forwarding kind's survey reply: flags, E0 63 02, three bytes, then the
// inner reply (A5 len 50 E0 D8 00 28 39 and its data length), then data.
inline std::vector<uint8_t> forwardedSurveyReply(const std::string& data, uint8_t flags = 0x50) {
    std::vector<uint8_t> body = {flags,
                                 0xE0,
                                 0x63,
                                 0x02,
                                 0x00,
                                 0x00,
                                 0x00,
                                 0xA5,
                                 0x00,
                                 0x00,
                                 0x50,
                                 0xE0,
                                 0xD8,
                                 0x00,
                                 0x28,
                                 0x39,
                                 static_cast<uint8_t>(data.size() >> 8),
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    return npaPacket(body);
}

}  // namespace qor::test
