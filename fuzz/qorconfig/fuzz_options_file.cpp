// The options file reader over arbitrary text, and the same text split into
// command-line arguments. Every value taken must be a piece of the input;
// the input checks give one-line refusals, and a configuration they accept
// holds only values that fit the setting records.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "InputChecks.h"
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

void checkRefusal(const std::string& refusal) {
    for (char c : refusal)
        check(static_cast<unsigned char>(c) >= 0x20);
}

// What an accepted configuration promises the record builders.
void checkAccepted(qor::ConfigDetails config, qor::ConfigKind kind) {
    std::string refusal = qor::checkConfiguration(kind, config, false);
    checkRefusal(refusal);
    if (!refusal.empty())
        return;
    check(!config.ssid.empty() && config.ssid.size() <= 32);
    check(config.mode == "Managed" || config.mode == "Ad-Hoc");
    bool channel = false;
    for (int c = 1; c <= 11; ++c)
        channel = channel || config.channel == std::to_string(c);
    check(channel);
    if (kind == qor::ConfigKind::Basic && config.security != "None") {
        check(!config.passwd.empty() && config.passwd.size() <= 64);
        check(qor::checkPassword(config.security, config.passwd).empty());
    }
    if (kind == qor::ConfigKind::Advanced) {
        check(config.security != "None" && !config.security.empty());
        const std::string& s = config.security;
        if (s == "802.1x")
            check(!config.user802.empty() && config.user802.size() <= 31 &&
                  config.pwd802.size() <= 255);
        if (s == "WPA-PER" || s == "WPA-ENT")
            check(config.psk.size() >= 8 && config.psk.size() <= 64);
        bool wep = s == "SHARED" || (s == "OPEN" && config.encryption == "WEP") ||
                   (s == "802.1x" && config.encryption == "WEP-STATIC");
        for (const std::string& key : config.wepKey)
            check(!wep || key.empty() || key.size() == 5 || key.size() == 13 || key.size() == 10 ||
                  key.size() == 26);
    }
}

// A line the checks accept is blank, a comment, or begins with an option.
bool acceptedLineShape(const std::string& line) {
    if (line.find_first_not_of(" \t\v\f") == std::string::npos || line[0] == '#')
        return true;
    for (const qor::OptionPrefix& option : qor::optionPrefixes())
        if (line.rfind(option.prefix, 0) == 0)
            return true;
    for (const qor::OptionPrefix& option : qor::optionAliases())
        if (line.rfind(option.prefix, 0) == 0)
            return true;
    return false;
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
    std::string fileRefusal = qor::checkOptionsText(text, "f");
    checkRefusal(fileRefusal);
    if (fileRefusal.empty()) {
        for (size_t i = 1; i < lines.size(); ++i)
            check(lines[i].size() <= 255 && acceptedLineShape(lines[i]));
        checkAccepted(fromFile, qor::ConfigKind::Basic);
        checkAccepted(fromFile, qor::ConfigKind::Advanced);
    }

    std::vector<const char*> argv;
    for (const std::string& line : lines)
        argv.push_back(line.c_str());
    qor::ConfigDetails fromLine;
    qor::parseOptions(fromLine, static_cast<int>(argv.size()), argv.data());
    checkFields(fromLine, text, text.size());
    for (bool topLevel : {false, true}) {
        std::string refusal = qor::checkArguments(lines, topLevel ? 1 : 2, topLevel);
        checkRefusal(refusal);
        if (refusal.empty())
            checkAccepted(fromLine, qor::ConfigKind::Basic);
    }
    qor::ConfigDetails pathOnly;
    qor::parseUsbPath(pathOnly, static_cast<int>(argv.size()), argv.data());
    check(pathOnly.usbPath.find('-') == std::string::npos);
    return 0;
}
