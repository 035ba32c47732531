// The NPA hex file reader, its check and the decoding of its digits over
// arbitrary file contents. The input is given to the reader as a real file.
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

// The rule by another road: white-space separated words, each made of
// hexadecimal digit pairs.
bool wholePairs(const std::string& text) {
    size_t run = 0;
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (std::isxdigit(c)) {
            ++run;
            continue;
        }
        if (!std::isspace(c) || run % 2)
            return false;
        run = 0;
    }
    return run % 2 == 0;
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
    std::string refusal;
    int result = qor::loadNpaFile(config, "/proc/self/fd/" + std::to_string(fd), &refusal);
    std::vector<uint8_t> bytes = qor::decodeNpaData(config.npaData);
    stdout = realOut;

    std::string text(reinterpret_cast<const char*>(data), size);
    check(result == (wholePairs(text) ? 0 : -2));
    check(refusal.empty() == (result == 0));
    check(refusal.find('\n') == std::string::npos);
    check(result == 0 || config.npaData.empty());
    check(config.npaData.size() % 2 == 0);
    check(config.npaData.size() <= size);
    for (char c : config.npaData)
        check(std::isxdigit(static_cast<unsigned char>(c)));
    check(bytes.size() == config.npaData.size() / 2);
    return 0;
}
