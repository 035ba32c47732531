#include "InputChecks.h"

#include <cctype>
#include <cstddef>
#include <initializer_list>

#include "Options.h"

namespace qor {

namespace {

const char* const kCommandWords[] = {"-c",    "-ca",  "-s",   "-ip",   "-t",        "-a",   "-r",
                                     "-802s", "-cer", "-npa", "-icer", "-rcerdefs", "-csr", "-h"};

bool isOneOf(const std::string& word, std::initializer_list<const char*> words) {
    for (const char* w : words)
        if (word == w)
            return true;
    return false;
}

bool startsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool isHex(const std::string& text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// A refusal is one line whatever the echoed names hold.
Refusal oneLine(Refusal text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Every spelling the option reader knows, aliases included.
std::vector<std::string> allPrefixes() {
    std::vector<std::string> all;
    for (const OptionPrefix& option : optionPrefixes())
        all.push_back(option.prefix);
    for (const OptionPrefix& option : optionAliases())
        all.push_back(option.prefix);
    return all;
}

// The name part of an argument (up to '='): option names are never secret.
std::string namePart(const std::string& text) {
    return text.substr(0, text.find('='));
}

// Why `text` (an argument or a file line) is not one option written
// --NAME=VALUE or --NAME="VALUE"; empty when it is one. The option reader
// takes a value from wherever a prefix occurs and from the first double
// quote on, so anything else would quietly set a wrong value. `noOption`
// is the refusal for a text that holds no option and no "--" name at all.
Refusal optionForm(const std::string& text, const Refusal& noOption) {
    const std::vector<std::string> prefixes = allPrefixes();
    for (const std::string& prefix : prefixes) {
        std::string name = prefix.substr(0, prefix.size() - 1);
        if (text == name || startsWith(text, name + " ") || startsWith(text, name + "\t"))
            return name + " needs its value in the same word: use " + name + "=VALUE";
    }
    const std::string* found = nullptr;
    int count = 0;
    for (const std::string& prefix : prefixes)
        if (text.find(prefix) != std::string::npos) {
            if (!found || startsWith(text, prefix))
                found = &prefix;  // the one the text begins with, if any
            ++count;
        }
    if (count == 0)
        return startsWith(text, "--")
                   ? "unknown option '" + namePart(text) + "'; qorconfig --help lists the options"
                   : noOption;
    if (!startsWith(text, *found))
        return "an option must begin with its name, as in " + *found + "VALUE";
    if (count > 1)
        return namePart(text) + "= holds more than one option; give each option on its own";
    size_t quote = text.find('"');
    if (quote != std::string::npos) {
        size_t close = text.find('"', quote + 1);
        bool whole =
            quote == found->size() && (close == std::string::npos || close == text.size() - 1);
        if (!whole)
            return "the value of " + *found +
                   " holds a double quote: quotes may only enclose the whole value, as in " +
                   *found + "\"VALUE\"";
    }
    return "";
}

// --- values ---------------------------------------------------------------

bool isPrintableAscii(const std::string& text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// IEEE 802.11i: a passphrase of 8 to 63 printable ASCII characters, or the
// 256-bit key itself as 64 hexadecimal digits.
bool isWpaKey(const std::string& key) {
    return (key.size() >= 8 && key.size() <= 63 && isPrintableAscii(key)) ||
           (key.size() == 64 && isHex(key));
}

// WEP-40 and WEP-104 keys as text or as hexadecimal digits.
bool isWepKey(const std::string& key) {
    return key.size() == 5 || key.size() == 13 ||
           ((key.size() == 10 || key.size() == 26) && isHex(key));
}

const char kWpaRule[] = "8 to 63 printable ASCII characters or 64 hexadecimal digits";
const char kWepRule[] = "5 or 13 characters or 10 or 26 hexadecimal digits";

// The channel record carries 1 to 11; "07" is taken as 7.
Refusal checkChannel(std::string& channel) {
    size_t digits = 0;
    while (digits < channel.size() && channel[digits] == '0')
        ++digits;
    std::string number = channel.substr(digits);
    for (int c = 1; c <= 11; ++c)
        if (number == std::to_string(c)) {
            channel = number;
            return "";
        }
    return "--channel=" + channel + " is no channel: use a number from 1 to 11";
}

Refusal checkMode(std::string& mode) {
    std::string m = lower(mode);
    if (m == "managed")
        mode = "Managed";
    else if (m == "ad-hoc" || m == "adhoc")
        mode = "Ad-Hoc";
    else
        return "--mode=" + mode + " is no mode: use --mode=Managed or --mode=Ad-Hoc";
    return "";
}

// The network name: 1 to 32 bytes (the 802.11 limit).
Refusal checkSsid(const std::string& ssid) {
    if (ssid.empty())
        return "no network name: give it with --ssid=NAME";
    if (ssid.size() > 32)
        return "the network name has " + std::to_string(ssid.size()) +
               " bytes; a network name has 1 to 32";
    return "";
}

// WEP keys 1-4 and the number of the one that transmits. With `required`,
// the transmit key must be given (the network is secured by it).
Refusal checkWepKeys(const ConfigDetails& c, bool required) {
    const std::string& transmit = c.wepTransmit.empty() ? std::string("1") : c.wepTransmit;
    if (!isOneOf(transmit, {"1", "2", "3", "4"}))
        return "--WEP-transmit=" + c.wepTransmit + " names no key: use 1, 2, 3 or 4";
    for (int k = 0; k < 4; ++k) {
        std::string name = "--WEP-key" + std::to_string(k + 1);
        if (!c.wepKey[k].empty() && !isWepKey(c.wepKey[k]))
            return "the key of " + name + "= must be " + kWepRule;
    }
    int t = transmit[0] - '1';
    if (required && c.wepKey[t].empty())
        return "WEP needs its key: give --WEP-key" + transmit +
               "=KEY (the transmit key, --WEP-transmit=" + transmit + ")";
    return "";
}

Refusal checkEncryption(const std::string& encryption) {
    if (encryption.empty() || isOneOf(encryption, {"NONE", "WEP-DYNAMIC", "WEP-STATIC", "WEP",
                                                   "WPA-TKIP", "TKIP", "WPA-AES", "AES"}))
        return "";
    return "--encryption=" + encryption +
           " is not known: use NONE, WEP, WEP-STATIC, WEP-DYNAMIC, TKIP, WPA-TKIP, AES or WPA-AES";
}

Refusal check8021x(const ConfigDetails& c) {
    const char* const kEap = "EAP-MD5, MSCHAPv2, LEAP, PEAP, EAP-TLS or EAP-TTLS";
    bool any = false;
    bool needsPassword = false;
    size_t start = 0;
    while (start <= c.auth802Ext.size()) {
        size_t bar = c.auth802Ext.find('|', start);
        std::string token =
            c.auth802Ext.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        start = bar == std::string::npos ? c.auth802Ext.size() + 1 : bar + 1;
        if (token.empty())
            continue;
        if (!isOneOf(token, {"EAP-MD5", "MSCHAPv2", "LEAP", "PEAP", "EAP-TLS", "EAP-TTLS"}))
            return "--802-auth-ext: '" + token + "' is no EAP type: use " + kEap +
                   ", joined by '|'";
        any = true;
        needsPassword = needsPassword || token != "EAP-TLS";
    }
    if (!any)
        return "802.1x needs its EAP types: give --802-auth-ext=TYPE|TYPE with " +
               std::string(kEap);
    if (!c.auth802Inner.empty() && !isOneOf(c.auth802Inner, {"CHAP", "MSCHAP", "MSCHAPv2", "PAP"}))
        return "--802-auth-inner=" + c.auth802Inner +
               " is not known: use CHAP, MSCHAP, MSCHAPv2 or PAP";
    if (c.user802.empty())
        return "802.1x needs a user name: give it with --802-user=NAME";
    if (c.user802.size() > 31)
        return "the 802.1x user name has " + std::to_string(c.user802.size()) +
               " bytes; at most 31 fit";
    // Only EAP-TLS proves the user with a certificate alone.
    if (needsPassword && c.pwd802.empty())
        return "802.1x with " + c.auth802Ext + " needs a password: give it with --802-pwd=PASSWORD";
    if (c.pwd802.size() > 255)
        return "the 802.1x password has " + std::to_string(c.pwd802.size()) +
               " bytes; at most 255 fit";
    if (c.encryption == "WEP-STATIC")
        return checkWepKeys(c, false);
    return "";
}

Refusal checkBasic(ConfigDetails& c, bool canPrompt) {
    if (!isOneOf(c.security, {"None", "WEP", "WPA", "WPA2", "WPA/WPA2"}))
        return "--security=" + c.security +
               " is not known here: use None, WEP, WPA, WPA2 or WPA/WPA2 (-ca configures "
               "802.1x and the other kinds)";
    if (c.security == "None")
        return "";
    if (c.passwd.empty()) {
        if (canPrompt)
            return "";
        return "--security=" + c.security +
               " needs the network's password: give it with --passwd=PASSWORD (standard input "
               "is no terminal to ask on)";
    }
    return checkPassword(c.security, c.passwd);
}

Refusal checkAdvanced(ConfigDetails& c) {
    const char* const kKinds = "OPEN, SHARED, WPA-PER, WPA-ENT or 802.1x";
    if (c.security.empty() || c.security == "None")
        return "-ca has nothing to configure: give --security= with " + std::string(kKinds);
    if (!isOneOf(c.security, {"OPEN", "SHARED", "WPA-PER", "WPA-ENT", "802.1x"}))
        return "--security=" + c.security + " is not known to -ca: use " + kKinds +
               " (-c configures None, WEP, WPA, WPA2 and WPA/WPA2)";
    Refusal r = checkEncryption(c.encryption);
    if (!r.empty())
        return r;
    if (c.security == "OPEN")
        return c.encryption == "WEP" ? checkWepKeys(c, true) : "";
    if (c.security == "SHARED")
        return checkWepKeys(c, true);
    if (c.security == "802.1x")
        return check8021x(c);
    if (c.psk.empty())
        return "--security=" + c.security + " needs the pre-shared key: give it with --psk=KEY";
    if (!isWpaKey(c.psk))
        return std::string("the pre-shared key (--psk=) must be ") + kWpaRule;
    return "";
}

}  // namespace

bool isCommandWord(const std::string& word) {
    for (const char* w : kCommandWords)
        if (word == w)
            return true;
    return false;
}

std::string commandWordList() {
    std::string list;
    for (const char* w : kCommandWords)
        list += (list.empty() ? "" : ", ") + std::string(w);
    return list + ", --help";
}

static Refusal checkArgumentsRaw(const std::vector<std::string>& args, size_t first,
                                 bool topLevel) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.find('-') == std::string::npos)
            continue;  // the device path
        // Options have two dashes; one names a command word ("-ips", "-S").
        if (topLevel && i == first && a[0] == '-' && !startsWith(a, "--"))
            return "unknown command word '" + namePart(a) + "'; the command words are " +
                   commandWordList();
        Refusal form = optionForm(a, "argument " + std::to_string(i) +
                                         " is neither an option (--NAME=VALUE) nor a device "
                                         "path (a device path holds no '-')");
        if (!form.empty())
            return form;
    }
    return "";
}

static Refusal checkOptionsTextRaw(const std::string& text, const std::string& fileName) {
    size_t start = 0;
    for (size_t number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        std::string where = fileName + " line " + std::to_string(number);
        if (line.size() > 255)
            return where + " is longer than 255 characters";
        if (line.find('\0') != std::string::npos)
            return where + " holds a NUL byte: an options file is text";
        if (!line.empty() && line.back() == '\r')
            return where + " ends in a carriage return: save the file with plain newlines";
        if (line.find_first_not_of(" \t\v\f") == std::string::npos || line[0] == '#')
            continue;
        Refusal form =
            optionForm(line, "holds no option: write --NAME=VALUE, or put '#' first for a comment");
        if (!form.empty())
            return where + ": " + form;
    }
    return "";
}

static Refusal checkPasswordRaw(const std::string& security, const std::string& password) {
    if (isOneOf(security, {"WPA", "WPA2", "WPA/WPA2"}) && !isWpaKey(password))
        return "a " + security + " password must be " + kWpaRule;
    if (security == "WEP" && !isWepKey(password))
        return std::string("a WEP key must be ") + kWepRule;
    return "";
}

static Refusal checkConfigurationRaw(ConfigKind kind, ConfigDetails& c, bool canPrompt) {
    if (kind == ConfigKind::None)
        return "";
    Refusal r = checkSsid(c.ssid);
    if (r.empty())
        r = checkMode(c.mode);
    if (r.empty())
        r = checkChannel(c.channel);
    if (r.empty())
        r = kind == ConfigKind::Basic ? checkBasic(c, canPrompt) : checkAdvanced(c);
    return r;
}

static Refusal checkNpaTextRaw(const std::string& text, const std::string& fileName) {
    size_t line = 1;
    size_t column = 1;
    size_t runStart = 0;  // column where the current run of digits began
    size_t runLength = 0;
    auto at = [&](size_t col) {
        return fileName + " line " + std::to_string(line) + ", column " + std::to_string(col) +
               ": ";
    };
    const char kOddRun[] =
        "an odd number of hexadecimal digits in a row; write every byte as a digit pair";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (std::isxdigit(c)) {
            if (runLength++ == 0)
                runStart = column;
            ++column;
            continue;
        }
        if (!std::isspace(c))
            return at(column) + "only hexadecimal digit pairs and white space may be written";
        if (runLength % 2)
            return at(runStart) + kOddRun;
        runLength = 0;
        if (c == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    if (runLength % 2)
        return at(runStart) + kOddRun;
    return "";
}

Refusal checkArguments(const std::vector<std::string>& args, size_t first, bool topLevel) {
    return oneLine(checkArgumentsRaw(args, first, topLevel));
}

Refusal checkOptionsText(const std::string& text, const std::string& fileName) {
    return oneLine(checkOptionsTextRaw(text, fileName));
}

Refusal checkPassword(const std::string& security, const std::string& password) {
    return oneLine(checkPasswordRaw(security, password));
}

Refusal checkConfiguration(ConfigKind kind, ConfigDetails& c, bool canPrompt) {
    return oneLine(checkConfigurationRaw(kind, c, canPrompt));
}

Refusal checkNpaText(const std::string& text, const std::string& fileName) {
    return oneLine(checkNpaTextRaw(text, fileName));
}

}  // namespace qor
