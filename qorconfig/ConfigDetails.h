// The qorconfig configuration record: every value a command may use, as the
// user gave it (nothing is validated when options are read).
#pragma once

#include <string>

namespace qor {

struct ConfigDetails {
    std::string usbPath = "/dev/usb/lp0";
    std::string ssid;
    std::string channel = "6";
    std::string mode = "Managed";
    std::string security = "None";
    std::string passwd;
    std::string npaData;
    std::string encryption;
    std::string auth802Ext;
    std::string auth802Inner;
    std::string user802;
    std::string pwd802;
    std::string caCerFile802;
    std::string signedCerFile802;
    std::string wepKey[4];
    std::string wepTransmit;
    std::string psk;
    std::string cerCommon;
    std::string cerOrg;
    std::string cerUnit;
    std::string cerState;
    std::string cerCountry;
    std::string cerCity;
    std::string cerAltname;
    std::string cerFriendlyName;
    std::string cerPath;
};

}  // namespace qor
