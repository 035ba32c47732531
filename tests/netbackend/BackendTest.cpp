// Device lines, URI handling and address checks of the backend entry.
#include <gtest/gtest.h>

#include "backend.h"

namespace {
HcpDevice device(std::string mac, std::string ip, std::string model, std::string manufacturer) {
    HcpDevice d;
    d.mac = mac;
    d.ip = ip;
    d.model = model;
    d.manufacturer = manufacturer;
    return d;
}
}  // namespace

TEST(DeviceLine, MatchesTheDocumentedExample) {
    EXPECT_EQ(
        formatDeviceLine(1, "SCHEME", device("02AB34CD56EF", "192.168.1.20", "Laser 5000", "Tamo")),
        "network SCHEME://02AB34CD56EF \"Tamo Laser 5000\" \"Tamo Network Printer #1 "
        "(02AB34CD56EF)\" \"192.168.1.20\"");
}

TEST(DeviceLine, ModelContainingManufacturerStandsAlone) {
    EXPECT_EQ(formatDeviceLine(2, "tamo", device("A", "1.2.3.4", "ACME Tamo 100", "Tamo")),
              "network tamo://A \"ACME Tamo 100\" \"Tamo Network Printer #2 (A)\" \"1.2.3.4\"");
    EXPECT_EQ(formatDeviceLine(3, "", device("", "", "", "")),
              "network :// \"\" \" Network Printer #3 ()\" \"\"");
}

TEST(DeviceLine, BlanksControlsAndEscapesQuotes) {
    std::string line = formatDeviceLine(
        1, "generic", device("A1", "1.2.3.4\"x", "M\nnetwork evil://x \"a\\b\"", "Tamo\x7f"));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line,
              "network generic://A1 \"Tamo  M network evil://x \\\"a\\\\b\\\"\" \"Tamo  Network "
              "Printer #1 (A1)\" \"1.2.3.4\\\"x\"");
}

TEST(DottedAddress, CountsDotsAndDigitsOnly) {
    EXPECT_TRUE(isDottedAddress("10.0.0.5"));
    EXPECT_TRUE(isDottedAddress("..."));
    EXPECT_TRUE(isDottedAddress("999.1.1.1"));
    EXPECT_FALSE(isDottedAddress("1.2.3"));
    EXPECT_FALSE(isDottedAddress("1.2.3.4.5"));
    EXPECT_FALSE(isDottedAddress(""));
    EXPECT_FALSE(isDottedAddress("1.2.3.4/"));
    EXPECT_FALSE(isDottedAddress("02AB34CD56EF"));
}

TEST(DottedAddress, ValidIpv4NeedsFourNumbersInRange) {
    EXPECT_TRUE(isValidIpv4("10.0.0.5"));
    EXPECT_TRUE(isValidIpv4("255.255.255.255"));
    EXPECT_FALSE(isValidIpv4("256.1.1.1"));
    EXPECT_FALSE(isValidIpv4("..."));
    EXPECT_FALSE(isValidIpv4("1.2.3"));
    EXPECT_FALSE(isValidIpv4("evil.example:9100"));
    EXPECT_FALSE(isValidIpv4("1.2.3.4?x=y"));
    EXPECT_FALSE(isValidIpv4("1.2.3.4:80"));
    EXPECT_FALSE(isValidIpv4(std::string("1.2.3.4\0x", 9)));
    EXPECT_FALSE(isValidIpv4(""));
}

TEST(DeviceUri, SplitsSchemeAndTarget) {
    std::string scheme, target;
    splitDeviceUri("tamo://02AB34CD56EF", scheme, target);
    EXPECT_EQ(scheme, "tamo");
    EXPECT_EQ(target, "02AB34CD56EF");
    splitDeviceUri("tamo://02AB34CD56EF/?x", scheme, target);
    EXPECT_EQ(target, "02AB34CD56EF/?x");
    splitDeviceUri("plain", scheme, target);
    EXPECT_EQ(scheme, "plain");
    EXPECT_EQ(target, "");
    splitDeviceUri("", scheme, target);
    EXPECT_EQ(scheme + target, "");
    std::string longMac(100000, 'A');
    splitDeviceUri("x://" + longMac, scheme, target);
    EXPECT_EQ(target, longMac);
}

TEST(DeviceUri, SocketBackendPath) {
    EXPECT_EQ(socketBackendPath(nullptr), "/usr/lib/cups/backend/socket");
    EXPECT_EQ(socketBackendPath(""), "/backend/socket");
    std::string longDir(8000, 'd');
    EXPECT_EQ(socketBackendPath(longDir.c_str()), longDir + "/backend/socket");
}
