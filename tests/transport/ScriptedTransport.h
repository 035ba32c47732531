// A CommTransport that hands out scripted reply bytes and records what it
// was asked. Reads return at once (no window): what is left, up to the size.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "CommTransport.h"

namespace qortest {

class ScriptedTransport : public qor::CommTransport {
  public:
    explicit ScriptedTransport(std::vector<uint8_t> reply = {}) : m_Reply(std::move(reply)) {}

    int open(const std::string& path) override {
        m_Opened.push_back(path);
        return m_FailOpen ? -1 : 0;
    }
    int close() override {
        ++m_Closes;
        return 0;
    }
    int read(uint8_t* buffer, size_t size) override {
        ++m_Reads;
        size_t n = std::min(size, m_Reply.size() - m_Offset);
        if (n)
            std::memcpy(buffer, m_Reply.data() + m_Offset, n);
        m_Offset += n;
        return static_cast<int>(n);
    }
    int write(const uint8_t* buffer, size_t size) override {
        m_Written.insert(m_Written.end(), buffer, buffer + size);
        return static_cast<int>(size);
    }

    size_t consumed() const { return m_Offset; }

    std::vector<uint8_t> m_Reply;
    size_t m_Offset = 0;
    bool m_FailOpen = false;
    std::vector<std::string> m_Opened;
    std::vector<uint8_t> m_Written;
    int m_Closes = 0;
    int m_Reads = 0;
};

}  // namespace qortest
