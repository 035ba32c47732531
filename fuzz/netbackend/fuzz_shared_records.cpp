// Feeds arbitrary bytes as the shared record file that instances of the
// backend read from each other.
#include <cstddef>
#include <cstdint>
#include <string>

#include "SharedDiscovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string pending(reinterpret_cast<const char*>(data), size);
    Hcp finder("generic");
    consumeSharedRecords(pending, finder, [](const HcpDevice&) { return false; });
    return 0;
}
