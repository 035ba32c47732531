// Feeds arbitrary bytes through the request assembler and the printer's
// request handling, as they would arrive on the pipe.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Framing.h"
#include "Printer.h"
#include "Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that reading one byte too far is caught.
    std::vector<uint8_t> copy(data, data + size);
    vprinter::Scenario scenario;
    scenario.kind = size % 2 ? vprinter::PrinterKind::Forward : vprinter::PrinterKind::Direct;
    vprinter::Printer printer(scenario);
    vprinter::PacketAssembler assembler;
    // Feed in two pieces so that partial packets are exercised.
    size_t half = copy.size() / 2;
    assembler.feed(qor::ByteSpan(copy.data(), half));
    vprinter::Bytes packet, garbage;
    while (assembler.next(packet, garbage))
        printer.handle(packet);
    assembler.feed(qor::ByteSpan(copy.data() + half, copy.size() - half));
    while (assembler.next(packet, garbage))
        printer.handle(packet);
    bool complete = false;
    vprinter::parseRecords(qor::ByteSpan(copy.data(), copy.size()), complete);
    return 0;
}
