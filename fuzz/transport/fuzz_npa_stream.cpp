// The reply packet stream reader over a scripted connector: the bytes a
// printer might send, handed out by the connector in reads of a chosen size,
// through the shared transport's read and readNpaStream.
//
// Input: byte 0 picks the header mode (bit 0) and the accept rule (bits 1-2);
// byte 1 is the largest count one connector read hands out (0: no limit);
// the rest is what the printer sends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "HCIOConnector.h"
#include "HCUSBTransport.h"
#include "NpaExchange.h"

namespace {

// Hands out the script; once it is used up every wait fails at once, so the
// transport's read returns without its 4-second window.
class ScriptConnector : public qor::HCIOConnector {
  public:
    ScriptConnector(const uint8_t* data, size_t size, size_t chunk)
        : m_Data(data), m_Size(size), m_Chunk(chunk) {}
    int open() override { return 0; }
    int close() override { return 0; }
    int read(uint8_t* buffer, size_t size) override {
        size_t n = m_Size - m_Offset;
        if (n > size)
            n = size;
        if (m_Chunk && n > m_Chunk)
            n = m_Chunk;
        if (n == 0) {
            m_Status = qor::IO_AGAIN;
            return -1;
        }
        std::memcpy(buffer, m_Data + m_Offset, n);
        m_Offset += n;
        return static_cast<int>(n);
    }
    int query(uint8_t*, size_t) override { return 0; }
    int write(const uint8_t*, size_t size) override { return static_cast<int>(size); }
    qor::IoStatus waitReadable(uint32_t) override {
        return exhausted() ? qor::IO_FAILED : qor::IO_READABLE;
    }
    qor::IoStatus waitWritable(uint32_t) override { return qor::IO_WRITABLE; }
    bool exhausted() const { return m_Offset >= m_Size; }

  private:
    const uint8_t* m_Data;
    size_t m_Size;
    size_t m_Offset = 0;
    size_t m_Chunk;
};

using Kept = std::vector<uint8_t>;

bool keepAfterFlags(qor::ByteSpan body, Kept& kept) {
    qor::ByteSpan rest = body.from(1);
    kept.insert(kept.end(), rest.begin(), rest.end());
    return true;
}

// The direct survey answer: the echoed query, a data length, the data.
bool keepSurveyData(qor::ByteSpan body, Kept& kept) {
    static const uint8_t echo[] = {0x50, 0xE0, 0xD8, 0x00, 0x28, 0x39};
    qor::ByteReader reader(body);
    qor::ByteSpan head;
    uint16_t length = 0;
    if (!reader.readBytes(sizeof echo, head) || std::memcmp(head.data, echo, sizeof echo) != 0 ||
        !reader.readBE16(length))
        return false;
    qor::ByteSpan data = reader.readAtMost(length);
    kept.insert(kept.end(), data.begin(), data.end());
    return true;
}

// The forwarded survey answer (inner reply from body byte 7) or a bare
// continuation packet (class byte at body byte 1).
bool keepForwarded(qor::ByteSpan body, Kept& kept) {
    qor::ByteReader reader(body);
    uint8_t b11 = 0, b12 = 0, b14 = 0, b15 = 0, b1 = 0;
    if (reader.byteAt(11, b11) && reader.byteAt(12, b12) && reader.byteAt(14, b14) &&
        reader.byteAt(15, b15) && b11 == 0xE0 && b12 == 0xD8 && b14 == 0x28 && b15 == 0x39) {
        qor::ByteSpan rest = body.from(18);
        kept.insert(kept.end(), rest.begin(), rest.end());
        return true;
    }
    if (reader.byteAt(1, b1) && b1 == 0xE0) {
        qor::ByteSpan rest = body.from(2);
        kept.insert(kept.end(), rest.begin(), rest.end());
        return true;
    }
    return false;
}

bool rejectAll(qor::ByteSpan, Kept&) {
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 18))
        return 0;
    // One hold on the shared transport for the whole run: its last release
    // would print a line for every input.
    static qor::HCUSBTransport* transport = qor::HCUSBTransport::getInstance();

    const qor::NpaHeaderMode mode =
        (data[0] & 1) ? qor::NpaHeaderMode::WholeHeader : qor::NpaHeaderMode::StartByteFirst;
    static const qor::NpaAcceptRule rules[] = {keepAfterFlags, keepSurveyData, keepForwarded,
                                               rejectAll};
    const qor::NpaAcceptRule& rule = rules[(data[0] >> 1) & 3];
    const uint8_t* stream = data + 2;
    const size_t streamSize = size - 2;

    auto owned = std::make_unique<ScriptConnector>(stream, streamSize, data[1]);
    ScriptConnector* connector = owned.get();
    transport->adoptConnector(std::move(owned));
    // The clock stands still while bytes remain and jumps past the window
    // once the script is used up.
    time_t now = 0;
    std::vector<uint8_t> kept = qor::readNpaStream(*transport, 4, mode, rule, [connector, &now] {
        if (connector->exhausted())
            now += 10;
        return now;
    });
    transport->adoptConnector(nullptr);  // closes and destroys the script

    // Nothing is kept that did not arrive: at most the packet bytes after
    // each 3-byte header and flags byte.
    if (kept.size() > streamSize)
        __builtin_trap();
    return 0;
}
