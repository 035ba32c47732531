// The options file reader over arbitrary text, and the same text split into
// command-line arguments. Every value taken must be a piece of the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Options.h"

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// A field that an option changed holds a piece of `text` of at most `limit` bytes.
void checkFields(const qor::ConfigDetails& config, const std::string& text, size_t limit) {
    qor::ConfigDetails defaults;
    qor::ConfigDetails changed = config;
    for (const qor::OptionPrefix& option : qor::optionPrefixes()) {
        const std::string& value = qor::optionField(changed, option);
        const std::string& original = qor::optionField(defaults, option);
        if (value == original)
            continue;
        check(value.size() <= limit);
        check(text.find(value) != std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    qor::ConfigDetails fromFile;
    qor::parseOptionsText(fromFile, text);
    checkFields(fromFile, text, 255);  // the file is read in pieces of 255
    for (const qor::OptionPrefix& option : qor::optionPrefixes())
        check(qor::optionField(fromFile, option).find('\0') == std::string::npos);

    // The lines as arguments (argument 0 is the program).
    std::vector<std::string> lines = {"qorconfig"};
    size_t start = 0;
    while (start <= text.size() && lines.size() < 64) {
        size_t end = text.find('\n', start);
        lines.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& line : lines)
        argv.push_back(line.c_str());
    qor::ConfigDetails fromLine;
    qor::parseOptions(fromLine, static_cast<int>(argv.size()), argv.data());
    checkFields(fromLine, text, text.size());
    qor::ConfigDetails pathOnly;
    qor::parseUsbPath(pathOnly, static_cast<int>(argv.size()), argv.data());
    check(pathOnly.usbPath.find('-') == std::string::npos);
    return 0;
}
