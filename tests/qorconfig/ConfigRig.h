// The configurator on the scripted printer, and the printer's answers, for
// the flow tests.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "FakePrinter.h"
#include "WirelessConfigurator.h"

namespace qor::test {

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

// A configurator on the scripted printer with a scripted password and no
// certificate manager (unless `lists` is given); `passwordReads` counts the
// prompts answered.
inline std::unique_ptr<WirelessConfigurator> makeFakeConfigurator(
    const ConfigDetails& config, FakePrinter& printer, std::string password = "typed",
    std::function<std::unique_ptr<CertificateLists>(const std::string&)> lists = nullptr,
    std::shared_ptr<int> passwordReads = nullptr) {
    ConfiguratorHooks hooks;
    hooks.readPassword = [passwordReads, password] {
        if (passwordReads)
            ++*passwordReads;
        return password;
    };
    hooks.certificateLists = std::move(lists);
    return std::make_unique<WirelessConfigurator>(config, printer.channel(config.usbPath),
                                                  std::move(hooks));
}

// Scripts one answer per request, in order; an empty one is silence.
inline void scriptAnswers(FakePrinter& printer, const std::vector<std::vector<uint8_t>>& answers) {
    for (const auto& answer : answers) {
        if (answer.empty())
            printer.silent();
        else
            printer.answer(answer);
    }
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
    std::vector<uint8_t> body = {0x50,
                                 0xE0,
                                 0xD8,
                                 0x00,
                                 group,
                                 item,
                                 static_cast<uint8_t>(data.size() >> 8),
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    std::vector<uint8_t> inner = wirePacket(body);
    if (!forwarded)
        return inner;
    std::vector<uint8_t> outer = {0x50, 0xE0, 0x63, 0x02, 0x00, 0x00, 0x00};
    outer.insert(outer.end(), inner.begin(), inner.end());
    return wirePacket(outer);
}

// One answer packet (flags 0x50) whose bytes after the flags byte are
// `kept`: what a packet-stream exchange keeps of it.
inline std::vector<uint8_t> streamPacket(const std::vector<uint8_t>& kept) {
    std::vector<uint8_t> body = {0x50};
    body.insert(body.end(), kept.begin(), kept.end());
    return wirePacket(body);
}

}  // namespace qor::test
