#include "Options.h"

#include <cstdio>

namespace qor {

const std::vector<OptionPrefix>& optionPrefixes() {
    static const std::vector<OptionPrefix> prefixes = {
        {"--ssid=", &ConfigDetails::ssid, -1},
        {"--channel=", &ConfigDetails::channel, -1},
        {"--mode=", &ConfigDetails::mode, -1},
        {"--security=", &ConfigDetails::security, -1},
        {"--passwd=", &ConfigDetails::passwd, -1},
        {"--encryption=", &ConfigDetails::encryption, -1},
        {"--802-auth-ext=", &ConfigDetails::auth802Ext, -1},
        {"--802-auth-inner=", &ConfigDetails::auth802Inner, -1},
        {"--802-user=", &ConfigDetails::user802, -1},
        {"--802-pwd=", &ConfigDetails::pwd802, -1},
        {"--802-CA-cer-file=", &ConfigDetails::caCerFile802, -1},
        {"--802-signed-cer-file=", &ConfigDetails::signedCerFile802, -1},
        {"--WEP-key1=", nullptr, 0},
        {"--WEP-key2=", nullptr, 1},
        {"--WEP-key3=", nullptr, 2},
        {"--WEP-key4=", nullptr, 3},
        {"--WEP-transmit=", &ConfigDetails::wepTransmit, -1},
        {"--psk=", &ConfigDetails::psk, -1},
        {"--cer-common=", &ConfigDetails::cerCommon, -1},
        {"--cer-org=", &ConfigDetails::cerOrg, -1},
        {"--cer-unit=", &ConfigDetails::cerUnit, -1},
        {"--cer-state=", &ConfigDetails::cerState, -1},
        {"--cer-country=", &ConfigDetails::cerCountry, -1},
        {"--cer-city=", &ConfigDetails::cerCity, -1},
        {"--cer-altname=", &ConfigDetails::cerAltname, -1},
        {"--cer-friendly-name=", &ConfigDetails::cerFriendlyName, -1},
        {"--cer-path=", &ConfigDetails::cerPath, -1},
    };
    return prefixes;
}

const std::vector<OptionPrefix>& optionAliases() {
    static const std::vector<OptionPrefix> aliases = {
        {"--password=", &ConfigDetails::passwd, -1},
    };
    return aliases;
}

std::string& optionField(ConfigDetails& configuration, const OptionPrefix& option) {
    if (option.wepKeyIndex >= 0)
        return configuration.wepKey[option.wepKeyIndex];
    return configuration.*(option.field);
}

bool extractOptionValue(const std::string& argument, const std::string& prefix,
                        std::string& field) {
    if (argument.find(prefix) == std::string::npos)
        return false;
    size_t quote = argument.find('"');
    if (quote != std::string::npos) {
        size_t close = argument.find('"', quote + 1);
        field = argument.substr(quote + 1,
                                close == std::string::npos ? std::string::npos : close - quote - 1);
    } else {
        // The prefix is expected at the start; a prefix found further in still
        // cuts at its length, as the option reader always has.
        field = prefix.size() < argument.size() ? argument.substr(prefix.size()) : std::string();
    }
    return true;
}

void applyOptionPrefixes(ConfigDetails& configuration, const std::string& text) {
    for (const OptionPrefix& option : optionPrefixes())
        extractOptionValue(text, option.prefix, optionField(configuration, option));
    for (const OptionPrefix& option : optionAliases())
        extractOptionValue(text, option.prefix, optionField(configuration, option));
}

void parseOptions(ConfigDetails& configuration, int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i] ? argv[i] : "";
        if (argument.find('-') != std::string::npos)
            applyOptionPrefixes(configuration, argument);
        else
            configuration.usbPath = argument;
    }
}

void parseOptionsText(ConfigDetails& configuration, const std::string& text) {
    // Lines are taken in pieces of at most 255 characters, like a 256-byte
    // line buffer; a newline ends a piece and is not part of it.
    const size_t kPiece = 255;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t newline = text.find('\n', pos);
        size_t lineEnd = newline == std::string::npos ? text.size() : newline;
        size_t pieceEnd = lineEnd - pos > kPiece ? pos + kPiece : lineEnd;
        std::string piece = text.substr(pos, pieceEnd - pos);
        pos = pieceEnd == lineEnd && newline != std::string::npos ? lineEnd + 1 : pieceEnd;
        // A line is text: a NUL byte ends it, as it ends the command-line
        // arguments, so no value ever carries one.
        piece = piece.substr(0, piece.find('\0'));
        if (!piece.empty() && piece[0] == '#')
            continue;
        applyOptionPrefixes(configuration, piece);
    }
}

bool readFileText(const std::string& path, std::string& text) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    text.clear();
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        text.append(buffer, got);
    std::fclose(in);
    return true;
}

int parseOptionsFile(ConfigDetails& configuration, const std::string& file,
                     const std::string& devicePath) {
    configuration.usbPath = devicePath;
    std::string text;
    if (!readFileText(file, text))
        return -1;
    parseOptionsText(configuration, text);
    return 0;
}

void parseUsbPath(ConfigDetails& configuration, int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i] ? argv[i] : "";
        if (argument.find('-') == std::string::npos)
            configuration.usbPath = argument;
    }
}

const char* usageText() {
    return "\n"
           "  qorconfig\n"
           "\tConfigures printer to connect to other wireless devices.\n"
           "\n"
           "  USAGE:\n"
           "        qorconfig --ssid=\"<SSID>\" --mode=\"[Ad-hoc|Managed]\" "
           "--security=\"[None|WEP|WPA|WPA2|802.1x]\" /\n"
           "        --channel=\"[1-6]\" --passwd=\"<password>\" [USB_PATH]\n"
           "\n"
           "  OPTIONS:\n"
           "      --ssid          Name of the network you want to connect.\n"
           "      --mode          Type of connection.\n"
           "      --security      Security of the network you are connecting.\n"
           "      --channel       Channel of the ad-hoc network you are connecting.\n"
           "      --password      Password of the network if security is equal to None\n"
           "\n"
           "      -h              displays this help.\n"
           "      USB_PATH        path of the usb where the printer you want to configure is "
           "connected.\n"
           "\n";
}

const char* commandWordsText() {
    return "  COMMAND WORDS (the first argument; none runs the whole setup):\n"
           "      -c              configure the network from the options above.\n"
           "      -ca             advanced configuration: --security=OPEN, SHARED, WPA-PER,\n"
           "                      WPA-ENT or 802.1x with --psk, --encryption, --WEP-key1..4,\n"
           "                      --WEP-transmit, --802-auth-ext, --802-auth-inner,\n"
           "                      --802-user and --802-pwd.\n"
           "      -c -file FILE, -ca -file FILE [USB_PATH]\n"
           "                      read the options from FILE, one --NAME=VALUE a line.\n"
           "      -s              print the network name the printer is set to.\n"
           "      -ip             print the printer's IP address.\n"
           "      -t              wait until the printer has joined the network.\n"
           "      -a              wait until the wireless adapter is ready.\n"
           "      -r              reset the printer.\n"
           "      -802s           read the 802.1x authentication status.\n"
           "      -cer            read the certificate settings.\n"
           "      -npa -file FILE USB_PATH\n"
           "                      send the NPA request written in hexadecimal in FILE.\n"
           "      -icer           install --802-CA-cer-file or --802-signed-cer-file.\n"
           "      -rcerdefs       print the certificate request defaults.\n"
           "      -csr            make a certificate request, saved to --cer-path.\n"
           "      -h, --help      displays this help.\n"
           "\n";
}

int usage() {
    std::fputs(usageText(), stdout);
    std::fputs(commandWordsText(), stdout);
    std::fflush(stdout);
    return 0;
}

}  // namespace qor
