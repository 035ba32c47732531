// The virtual printer's scenario files: whatever text a user writes, with
// the answers of a printer built from it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Framing.h"
#include "Printer.h"
#include "Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Keys that name files would read the machine's files.
    if (text.find("_file") != std::string::npos)
        return 0;
    vprinter::Scenario scenario;
    std::string error;
    if (!vprinter::parseScenario(text, "fuzz", scenario, error)) {
        if (error.rfind("fuzz:", 0) != 0)
            __builtin_trap();
        return 0;
    }
    // A printer made from it answers the usual requests without failing.
    vprinter::Printer printer(scenario);
    static const char* const requests[] = {
        "A5000650E0D8002839",                    // survey
        "A5000F50E063020009A5000650E0D8002839",  // forwarded survey
        "A5000650E0D8000A02",                    // address
        "A5000650E0D8002815",                    // connection
        "A5000750E08100020509",                  // direct support
        "A5000B50E0DA0128080000024100",          // write of the network name
    };
    for (const char* hex : requests) {
        vprinter::Bytes packet;
        vprinter::fromHex(hex, packet);
        printer.handle(packet);
    }
    return 0;
}
