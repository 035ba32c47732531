// Feeds arbitrary datagrams to the reply parser, with each accepted
// manufacturer, and to the name decoder at every offset of the header.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "hcp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is caught.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size) memcpy(exact.get(), data, size);
    qor::ByteSpan datagram(exact.get(), size);
    for (const char* name : {"generic", "tamo", "kessa"}) {
        Hcp hcp(name);
        HcpDevice device;
        hcp.acceptReply(datagram, device);
    }
    std::string first, second;
    size_t consumed = 0;
    for (size_t offset = 0; offset < 16 && offset <= size; ++offset) {
        decodeName(datagram, offset, first, second, consumed);
    }
    return 0;
}
