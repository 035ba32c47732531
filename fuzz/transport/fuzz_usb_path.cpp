// The texts that come from the user: the device path that picks the
// connector, and the hexadecimal text of a raw request file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ByteRoutines.h"
#include "HCUSBTransport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return 0;
    // hexToBytes reports a bad digit on standard output: keep the run quiet.
    static FILE* quiet = std::freopen("/dev/null", "w", stdout);
    (void)quiet;

    const std::string text(reinterpret_cast<const char*>(data), size);
    qor::UsbDevicePath path;
    bool ok = qor::parseUsbDevicePath(text, path);
    if (ok != (path.kind != qor::UsbDevicePath::None))
        __builtin_trap();
    if (path.kind == qor::UsbDevicePath::Node && path.number < 0)
        __builtin_trap();
    if (path.kind == qor::UsbDevicePath::BusDevice &&
        (path.bus < 0 || path.device < 0 || text.find(':') == std::string::npos))
        __builtin_trap();

    std::vector<uint8_t> bytes{0x5A};
    int count = qor::hexToBytes(text, bytes);
    if (count != static_cast<int>(size / 2))
        __builtin_trap();
    // Either every pair became a byte, or (bad digit, empty text) none did.
    if (!text.empty() && !bytes.empty() && bytes.size() != size / 2)
        __builtin_trap();
    return 0;
}
