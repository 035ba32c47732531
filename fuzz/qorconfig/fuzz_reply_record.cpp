// The printer's replies over arbitrary bytes: the record search of the
// status queries, and every status command and query decoding the same
// bytes as its reply. Input: group, item, a mode byte, then the reply.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ConfigFlows.h"
#include "StatusQueries.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// Answers every exchange with the same reply bytes.
class ReplyLink : public qor::NpaLink {
  public:
    ReplyLink(const uint8_t* reply, size_t size) : m_Reply(reply), m_Size(size) {}
    int exchangeOnce(const uint8_t*, size_t, unsigned, uint8_t* buffer, size_t capacity) override {
        size_t n = m_Size < capacity ? m_Size : capacity;
        if (n)
            std::memcpy(buffer, m_Reply, n);
        return static_cast<int>(n);
    }
    int exchangeStream(const uint8_t*, size_t, std::vector<uint8_t>& reply, unsigned) override {
        reply.assign(m_Reply, m_Reply + m_Size);
        return static_cast<int>(m_Size);
    }

  private:
    const uint8_t* m_Reply;
    size_t m_Size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t group = data[0], item = data[1], mode = data[2];
    const uint8_t* reply = data + 3;
    const size_t count = size - 3;

    size_t need = (mode & 3) == 0 ? 0 : (mode & 3) == 1 ? 1 : qor::kWholeData;
    auto found = qor::findReplyRecord(qor::ByteSpan(reply, count), group, item, need);
    if (found) {
        const size_t at = found->position;
        check(at + 11 <= count);
        check(reply[at] == 0xA5 && reply[at + 3] == 0x50 && reply[at + 4] == 0xE0 &&
              reply[at + 5] == 0xD8 && reply[at + 6] == 0x00 && reply[at + 7] == group &&
              reply[at + 8] == item);
        check(found->dataLength == (reply[at + 9] << 8 | reply[at + 10]));
        check(found->data.data == reply + at + 11);
        check(found->data.size <= found->dataLength && at + 11 + found->data.size <= count);
        check(need == qor::kWholeData ? found->data.size == found->dataLength
                                      : found->data.size >= need);
    }

    // The commands print what they find; keep it off the run.
    FILE* realOut = stdout;
    FILE* realErr = stderr;
    static FILE* sink = std::fopen("/dev/null", "w");
    if (sink)
        stdout = stderr = sink;
    qor::ConfigDetails config;
    qor::WirelessConfigurator configurator(config, std::make_unique<ReplyLink>(reply, count),
                                           qor::ConfiguratorHooks{});
    configurator.setForward(mode & 4 ? 0 : 1);
    int results[] = {
        qor::query8021xStatus(configurator), qor::certSettings(configurator),
        qor::showSsid(configurator),         qor::showIpAddress(configurator),
        qor::waitConnected(configurator),    qor::waitAdapter(configurator),
        qor::resetPrinter(configurator),     qor::sendConfig(configurator, {0xA5, 0x00, 0x00}),
    };
    stdout = realOut;
    stderr = realErr;

    check(results[0] >= -1 && results[0] <= 255);
    check(results[1] == 0);
    for (size_t i = 2; i < sizeof results / sizeof results[0]; ++i)
        check(results[i] >= -1 && results[i] <= 255);
    return 0;
}
