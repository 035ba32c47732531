// A scripted NpaLink that records every request, for the flow tests.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "WirelessConfigurator.h"

namespace qor::test {

struct FakeLinkLog {
    struct Exchange {
        std::vector<uint8_t> request;
        unsigned sleepSeconds = 0;  // exchangeOnce's sleep, or the stream window
        size_t capacity = 0;
        bool stream = false;
    };
    std::vector<Exchange> exchanges;
    std::vector<unsigned> pauses;  // the configurator's sleeps between tries
    // Replies handed out in order; -1 entries (failedOpen) stand for a device
    // that could not be opened. When the script runs dry, nothing is read.
    std::deque<std::vector<uint8_t>> replies;
    std::deque<bool> failedOpen;
    int passwordReads = 0;
};

class FakeLink : public NpaLink {
  public:
    explicit FakeLink(std::shared_ptr<FakeLinkLog> log) : m_Log(std::move(log)) {}

    int exchangeOnce(const uint8_t* request, size_t length, unsigned sleepSeconds, uint8_t* buffer,
                     size_t capacity) override {
        m_Log->exchanges.push_back({{request, request + length}, sleepSeconds, capacity, false});
        if (nextFails())
            return -1;
        std::vector<uint8_t> reply = next();
        size_t n = reply.size() < capacity ? reply.size() : capacity;
        if (n)
            std::memcpy(buffer, reply.data(), n);
        return static_cast<int>(n);
    }

    int exchangeStream(const uint8_t* request, size_t length, std::vector<uint8_t>& reply,
                       unsigned windowSeconds) override {
        m_Log->exchanges.push_back({{request, request + length}, windowSeconds, 0, true});
        if (nextFails())
            return 0;
        std::vector<uint8_t> bytes = next();
        if (bytes.empty())
            return 0;
        reply = bytes;
        return static_cast<int>(reply.size());
    }

  private:
    bool nextFails() {
        if (m_Log->failedOpen.empty())
            return false;
        bool fails = m_Log->failedOpen.front();
        m_Log->failedOpen.pop_front();
        if (fails && !m_Log->replies.empty())
            m_Log->replies.pop_front();
        return fails;
    }
    std::vector<uint8_t> next() {
        if (m_Log->replies.empty())
            return {};
        std::vector<uint8_t> r = m_Log->replies.front();
        m_Log->replies.pop_front();
        return r;
    }
    std::shared_ptr<FakeLinkLog> m_Log;
};

class FakeCertLists : public CertificateLists {
  public:
    FakeCertLists(int listResult, std::vector<std::string> list, int caResult,
                  std::vector<std::string> ca)
        : m_ListResult(listResult),
          m_List(std::move(list)),
          m_CaResult(caResult),
          m_Ca(std::move(ca)) {}
    int queryCertList(std::vector<std::string>& names) override {
        names = m_List;
        return m_ListResult;
    }
    int getCACommonNameList(std::vector<std::string>& names) override {
        names.insert(names.end(), m_Ca.begin(), m_Ca.end());
        return m_CaResult;
    }

  private:
    int m_ListResult;
    std::vector<std::string> m_List;
    int m_CaResult;
    std::vector<std::string> m_Ca;
};

// A configurator over a fake link with no sleeps, a scripted password and
// no certificate manager (unless `lists` is given).
inline std::unique_ptr<WirelessConfigurator> makeFakeConfigurator(
    const ConfigDetails& config, std::shared_ptr<FakeLinkLog> log, std::string password = "typed",
    std::function<std::unique_ptr<CertificateLists>(const std::string&)> lists = nullptr) {
    ConfiguratorHooks hooks;
    hooks.sleep = [log](unsigned s) { log->pauses.push_back(s); };
    hooks.readPassword = [log, password] {
        ++log->passwordReads;
        return password;
    };
    hooks.certificateLists = std::move(lists);
    return std::make_unique<WirelessConfigurator>(config, std::make_unique<FakeLink>(log),
                                                  std::move(hooks));
}

inline std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

// The printer's answer to the read of `group`, `item`: A5, length, the
// request's 50 E0 D8 00 group item, the data length and the data; with
// `forwarded` inside a forwarding answer (inner packet at offset 10).
inline std::vector<uint8_t> readAnswer(uint8_t group, uint8_t item,
                                       const std::vector<uint8_t>& data, bool forwarded = true) {
    auto packet = [](std::vector<uint8_t> body) {
        size_t n = body.size();
        body.insert(body.begin(), {0xA5, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        return body;
    };
    std::vector<uint8_t> body = {0x50,
                                 0xE0,
                                 0xD8,
                                 0x00,
                                 group,
                                 item,
                                 static_cast<uint8_t>(data.size() >> 8),
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    std::vector<uint8_t> inner = packet(body);
    if (!forwarded)
        return inner;
    std::vector<uint8_t> outer = {0x50, 0xE0, 0x63, 0x02, 0x00, 0x00, 0x00};
    outer.insert(outer.end(), inner.begin(), inner.end());
    return packet(outer);
}

// The same answer as a packet-stream exchange collects it: without the
// start byte, the length and the flags byte.
inline std::vector<uint8_t> streamAnswer(uint8_t group, uint8_t item,
                                         const std::vector<uint8_t>& data, bool forwarded = true) {
    std::vector<uint8_t> whole = readAnswer(group, item, data, forwarded);
    return std::vector<uint8_t>(whole.begin() + 4, whole.end());
}

}  // namespace qor::test
