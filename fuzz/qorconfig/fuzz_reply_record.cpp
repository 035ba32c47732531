// The printer's replies over arbitrary bytes: the answer-form check of read
// answers (as one exchange reads them and as a packet stream collects
// them), and every status command and query reading the same bytes as its
// answer off the line. Input: group, item, a mode byte, then the reply.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ConfigFlows.h"
#include "FakePrinter.h"
#include "NpaPacket.h"
#include "StatusQueries.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t group = data[0], item = data[1], mode = data[2];
    const uint8_t* reply = data + 3;
    const size_t count = size - 3;

    // The read request the answer is checked against, wrapped or not.
    std::vector<uint8_t> request = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0xD8, 0x00, group, item};
    if (!(mode & 4))
        request.insert(request.begin(), {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x09});
    qor::ByteSpan answer;
    if (qor::readAnswerData(request, qor::ByteSpan(reply, count), answer)) {
        // The data lie inside what was read, after the answer packet's start
        // byte, its length, the echoed request bytes and the data length.
        check(answer.data >= reply + 11 && answer.data + answer.size <= reply + count);
        const uint8_t* at = answer.data - 11;
        check(at[0] == 0xA5 && at[3] == 0x50 && at[4] == 0xE0 && at[5] == 0xD8 && at[6] == 0 &&
              at[7] == group && at[8] == item);
        check(static_cast<size_t>(at[9] << 8 | at[10]) == answer.size);
        check(3u + (at[1] << 8 | at[2]) >= 11 + answer.size);
        if (!(mode & 4))
            check(at >= reply + 10 && at[-10] == 0xA5);  // inside its forwarding answer
    }
    if (qor::streamAnswerData(request, qor::ByteSpan(reply, count), answer)) {
        const size_t at = mode & 4 ? 0 : 6;  // a stream drops start byte, length and flags
        check(answer.data + answer.size <= reply + count);
        check(mode & 4 ? answer.data == reply + 7 : answer.data == reply + at + 11);
    }

    // Whether an exchange may stop reading: once whole, more bytes after
    // the answer never make it incomplete again.
    if (qor::npaAnswerComplete(qor::ByteSpan(reply, count / 2)))
        check(qor::npaAnswerComplete(qor::ByteSpan(reply, count)));

    // The commands print what they find; keep it off the run.
    FILE* realOut = stdout;
    FILE* realErr = stderr;
    static FILE* sink = std::fopen("/dev/null", "w");
    if (sink)
        stdout = stderr = sink;
    // Every request gets the same bytes: one-shot exchanges read them as
    // they come, packet streams through the stream reader. The printer's
    // clock is virtual, so deadlines and pauses cost no time.
    qor::test::FakePrinter printer;
    for (int i = 0; i < 40; ++i)
        printer.answer(std::vector<uint8_t>(reply, reply + count));
    qor::ConfigDetails config;
    qor::WirelessConfigurator configurator(config, printer.channel(config.usbPath),
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
