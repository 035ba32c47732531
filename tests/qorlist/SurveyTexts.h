// Survey listings in the two formats the printers send, as test fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor::test {

// The direct kind: iwlist-style cells, "Channel=" lines, "Signal level=-".
inline const std::string kDirectSurvey =
    "wlan0     Scan completed :\n"
    "          Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
    "                    ESSID:\"HomeNet\"\n"
    "                    Mode:Managed\n"
    "                    Channel=6\n"
    "                    Quality:70/100  Signal level=-45 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:on\n"
    "                    IE: IEEE 802.11i/WPA2 Version 1\n"
    "                    Extra:wpa_ie=30140100000fac040100000fac040100000fac020000\n"
    "          Cell 02 - Address: 00:1A:2B:3C:4D:5F\n"
    "                    ESSID:\"Office Mixed\"\n"
    "                    Mode:Managed\n"
    "                    Channel=11\n"
    "                    Quality:50/100  Signal level=-67 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:on\n"
    "                    IE: WPA Version 1\n"
    "                    Extra:wpa_ie=DD160050f20101000050f20201000050f20201000050f202\n"
    "          Cell 03 - Address: 00:1A:2B:3C:4D:60\n"
    "                    ESSID:\"OldWep\"\n"
    "                    Mode:Managed\n"
    "                    Channel=1\n"
    "                    Quality:30/100  Signal level=-80 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:on\n"
    "          Cell 04 - Address: 00:1A:2B:3C:4D:61\n"
    "                    ESSID:\"Cafe\"\n"
    "                    Mode:Managed\n"
    "                    Channel=3\n"
    "                    Quality:40/100  Signal level=-71 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:off\n"
    "          Cell 05 - Address: 02:11:22:33:44:55\n"
    "                    ESSID:\"PeerLink\"\n"
    "                    Mode:Ad-Hoc\n"
    "                    Channel=9\n"
    "                    Quality:20/100  Signal level=-85 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:off\n"
    "          Cell 06 - Address: 00:1A:2B:3C:4D:62\n"
    "                    ESSID:\"\"\n"
    "                    Mode:Master\n"
    "                    Channel=4\n"
    "                    Quality:60/100  Signal level=-55 dBm  Noise level=-92 dBm\n"
    "                    Encryption key:on\n"
    "                    IE: WPA Version 1\n"
    "                    Extra:wpa_ie=dd16\n";

// The forwarding kind: "(Channel N)" after the frequency, "Signal level:-",
// and the printer's line noise: NUL bytes, high bytes and "=p"/"=q"/"=r".
inline std::vector<uint8_t> forwardedSurveyBytes() {
    std::string text =
        "Scan results\n"
        "Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
        "ESSID:\"Home=pNet\"\n"
        "Mode:Master\n"
        "Frequency:2.437 GHz (Channel 6)\n"
        "Quality=70/100  Signal level:-45 dBm\n"
        "Encryption key:on\n"
        "IE: IEEE 802.11i/WPA2 Version 1\n"
        "Extra:wpa_ie=30\n"
        "Cell 02 - Address: 00:1A:2B:3C:4D:5F\n"
        "ESSID:\"Office\"\n"
        "Mode:Master\n"
        "Frequency:2.462 GHz (Channel 11)\n"
        "Quality=50/100  Signal level:-67 dBm\n"
        "Encryption key:on\n"
        "IE: WPA Version 1\n"
        "Extra:wpa_ie=DD\n"
        "Cell 03 - Address: 00:1A:2B:3C:4D:60\n"
        "ESSID:\"OldWep\"\n"
        "Mode:Master\n"
        "Frequency:2.412 GHz (Channel 1)\n"
        "Quality=30/100  Signal level=-80 dBm\n"
        "Encryption key:on\n"
        "Extra:wpa_ie=30\n"
        "Cell 04 - Address: 00:1A:2B:3C:4D:61\n"
        "ESSID:\"Cafe\"\n"
        "Mode:Master\n"
        "Frequency:2.422 GHz (Channel 3)\n"
        "Quality=40/100\n"
        "Encryption key:off\n"
        "IE: WPA Version 1\n"
        "Cell 05 - Address: 02:11:22:33:44:55\n"
        "ESSID:\"PeerLink\"\n"
        "Mode:Ad-Hoc\n"
        "Frequency:2.452 GHz (Channel 9)\n"
        "Quality=20/100  Signal level:-85 dBm\n"
        "Encryption key:on\n"
        "IE: Unknown: DD0E\n"
        "Extra:wpa_ie=00\n"
        "Cell 06 - Address: 00:1A:2B:3C:4D:62\n"
        "ESSID:\"\"\n"
        "Mode:Master\n"
        "Frequency:2.427 GHz (Channel 4)\n"
        "Quality=60/100  Signal level:-55 dBm\n"
        "Encryption key:on\n"
        "IE: WPA Version 1\n"
        "Extra:wpa_ie=11\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    // Line noise the cleaning removes: a NUL and high bytes inside cell 1,
    // "=q" inside cell 2, "=r" before the first cell.
    auto insertAt = [&bytes](const std::string& marker, std::vector<uint8_t> noise) {
        std::string all(bytes.begin(), bytes.end());
        size_t at = all.find(marker);
        bytes.insert(bytes.begin() + static_cast<long>(at), noise.begin(), noise.end());
    };
    insertAt("Mode:Master\nFrequency:2.437", {0x00, 0x7F, 0xFF, 0x80});
    insertAt("Office", {'=', 'q'});
    insertAt("results", {'=', 'r', 0xC3, 0xA9});
    return bytes;
}

inline std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace qor::test
