// The NPA hex file reader and the decoding of its digits over arbitrary
// file contents. The input is given to the reader as a real file.
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "NpaFile.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// One in-memory file for the whole run, rewritten for every input.
int scratchFile() {
    static int fd = memfd_create("npa-file", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = scratchFile();
    if (fd < 0 || ftruncate(fd, 0) != 0)
        return 0;
    if (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;

    // The reader prints the digits to standard output; keep it off the run.
    FILE* realOut = stdout;
    static FILE* sink = std::fopen("/dev/null", "w");
    if (sink)
        stdout = sink;
    qor::ConfigDetails config;
    int result = qor::loadNpaFile(config, "/proc/self/fd/" + std::to_string(fd));
    std::vector<uint8_t> bytes = qor::decodeNpaData(config.npaData);
    stdout = realOut;

    check(result == 0);
    check(config.npaData.size() <= size);
    for (char c : config.npaData)
        check(std::isxdigit(static_cast<unsigned char>(c)));
    check(bytes.size() == config.npaData.size() / 2);
    return 0;
}
