#include "WirelessConfigurator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ConfigRig.h"

namespace qor {
namespace {

using test::bytesOf;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Builder {
    ConfigDetails config;
    test::FakePrinter printer;
    std::shared_ptr<int> passwordReads = std::make_shared<int>(0);
    std::unique_ptr<WirelessConfigurator> make(std::string password = "typed") {
        return test::makeFakeConfigurator(config, printer, password, nullptr, passwordReads);
    }
};

// Runs one builder on a fresh message and returns the bytes it appended.
template <typename F>
std::vector<uint8_t> record(Builder& b, F build, size_t* returned = nullptr) {
    auto c = b.make();
    c->clearMessage();
    CaptureStderr();
    CaptureStdout();
    size_t n = build(*c);
    GetCapturedStdout();
    GetCapturedStderr();
    if (returned)
        *returned = n;
    EXPECT_EQ(n, c->message().size());
    return c->message();
}

TEST(ModeRecord, OnlyAdHocSpelledSoIsOne) {
    Builder b;
    b.config.mode = "Ad-Hoc";
    EXPECT_EQ(record(b, [](auto& c) { return c.addMode(); }),
              bytesOf({0x28, 0x02, 0, 0, 4, 0, 0, 0, 1}));
    b.config.mode = "Ad-hoc";
    EXPECT_EQ(record(b, [](auto& c) { return c.addMode(); }),
              bytesOf({0x28, 0x02, 0, 0, 4, 0, 0, 0, 0}));
    b.config.mode = "Managed";
    EXPECT_EQ(record(b, [](auto& c) { return c.addMode(); }),
              bytesOf({0x28, 0x02, 0, 0, 4, 0, 0, 0, 0}));
    b.config.mode = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addMode(); }).empty());
}

TEST(ChannelRecord, UnknownChannelsBecomeSix) {
    Builder b;
    for (const char* text : {"6", "12", "abc", "", "07", " 1"}) {
        b.config.channel = text;
        EXPECT_EQ(record(b, [](auto& c) { return c.addChannel(); }),
                  bytesOf({0x28, 0x05, 0, 0, 4, 0, 0, 0, 6}))
            << text;
    }
    for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 10, 11}) {
        b.config.channel = std::to_string(n);
        EXPECT_EQ(record(b, [](auto& c) { return c.addChannel(); }),
                  bytesOf({0x28, 0x05, 0, 0, 4, 0, 0, 0, n}));
    }
}

TEST(SsidRecord, TextWithTerminator) {
    Builder b;
    b.config.ssid = "Home";
    EXPECT_EQ(record(b, [](auto& c) { return c.addSsid(); }),
              bytesOf({0x28, 0x08, 0x00, 0x00, 0x05, 0x48, 0x6F, 0x6D, 0x65, 0x00}));
    b.config.ssid = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addSsid(); }).empty());
}

TEST(SecurityValue, FollowsTheDecisionOrder) {
    EXPECT_EQ(WirelessConfigurator::securityValue("WPA-ENT", ""), 4);
    EXPECT_EQ(WirelessConfigurator::securityValue("WPA2", ""), 4);
    EXPECT_EQ(WirelessConfigurator::securityValue("OPEN", "WEP"), 1);
    EXPECT_EQ(WirelessConfigurator::securityValue("OPEN", "NONE"), 0);
    EXPECT_EQ(WirelessConfigurator::securityValue("WEP", ""), 1);
    EXPECT_EQ(WirelessConfigurator::securityValue("SHARED", ""), 1);
    EXPECT_EQ(WirelessConfigurator::securityValue("WPA", ""), 2);
    EXPECT_EQ(WirelessConfigurator::securityValue("WPA-PER", ""), 2);
    EXPECT_EQ(WirelessConfigurator::securityValue("WPA/WPA2", ""), 2);
    EXPECT_EQ(WirelessConfigurator::securityValue("802.1x", ""), 3);
    EXPECT_EQ(WirelessConfigurator::securityValue("None", ""), 0);
    EXPECT_EQ(WirelessConfigurator::securityValue("", ""), 0);
    EXPECT_EQ(WirelessConfigurator::securityValue("wpa", ""), 0);
    EXPECT_STREQ(WirelessConfigurator::securityName(4), "WPA-2 only PSK");
    EXPECT_STREQ(WirelessConfigurator::securityName(9), "Undefined");
}

TEST(SecurityRecord, WritesFragmentToStdoutAndLinesToStderr) {
    ConfigDetails config;
    config.security = "WPA";
    test::FakePrinter printer;
    auto c = test::makeFakeConfigurator(config, printer);
    CaptureStderr();
    CaptureStdout();
    c->addSecurity();
    EXPECT_EQ(GetCapturedStdout(), "npa data going: 2");
    EXPECT_EQ(GetCapturedStderr(),
              "D [QOR] Security = 'WPA'\nD [QOR] Security mode: 2 (WPA PSK (Auto 1 or 2))\n");
    EXPECT_EQ(c->message(), bytesOf({0x28, 0x22, 0, 0, 4, 0, 0, 0, 2}));
}

TEST(PasswordRecord, ItemFollowsSecurity) {
    Builder b;
    b.config.passwd = "pw";
    b.config.security = "WEP";
    EXPECT_EQ(record(b, [](auto& c) { return c.addPassword(); }),
              bytesOf({0x28, 0x09, 0, 0, 3, 'p', 'w', 0}));
    b.config.security = "WPA";
    EXPECT_EQ(record(b, [](auto& c) { return c.addPassword(); }),
              bytesOf({0x28, 0x11, 0, 0, 3, 'p', 'w', 0}));
    b.config.security = "None";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addPassword(); }).empty());
    EXPECT_EQ(*b.passwordReads, 0);
}

TEST(PasswordRecord, EmptyPasswordPromptsEveryTime) {
    ConfigDetails config;
    config.security = "";  // empty is not "None"
    test::FakePrinter printer;
    auto passwordReads = std::make_shared<int>(0);
    auto c = test::makeFakeConfigurator(config, printer, "abc", nullptr, passwordReads);
    CaptureStdout();
    c->addPassword();
    c->addPassword();
    EXPECT_EQ(GetCapturedStdout(),
              "Please provide the password:\n\nPlease provide the password:\n\n");
    EXPECT_EQ(*passwordReads, 2);
    EXPECT_EQ(config.passwd, "");
    EXPECT_EQ(c->message(), bytesOf({0x28, 0x11, 0, 0, 4, 'a', 'b', 'c', 0, 0x28, 0x11, 0, 0, 4,
                                     'a', 'b', 'c', 0}));
}

TEST(PskRecord, CutAtSixtyFourWithoutTerminator) {
    Builder b;
    b.config.psk = std::string(70, 'k');
    auto bytes = record(b, [](auto& c) { return c.addPsk(); });
    ASSERT_EQ(bytes.size(), 69u);
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(bytes[4], 0x40);
    b.config.psk = "";
    EXPECT_EQ(record(b, [](auto& c) { return c.addPsk(); }), bytesOf({0x28, 0x11, 0, 0, 0}));
}

TEST(WepKeyRecord, ItemsAndCut) {
    Builder b;
    b.config.wepKey[0] = "k1";
    b.config.wepKey[1] = std::string(30, 'x');
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepKey(1); }),
              bytesOf({0x28, 0x09, 0, 0, 2, 'k', '1'}));
    auto k2 = record(b, [](auto& c) { return c.addWepKey(2); });
    ASSERT_EQ(k2.size(), 31u);
    EXPECT_EQ(k2[1], 0x0B);
    EXPECT_EQ(k2[4], 26);
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepKey(3); }), bytesOf({0x28, 0x0D, 0, 0, 0}));
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepKey(4); }), bytesOf({0x28, 0x0F, 0, 0, 0}));
    EXPECT_TRUE(record(b, [](auto& c) { return c.addWepKey(5); }).empty());
}

TEST(WepTransmitRecord, DecimalPrefixLowByte) {
    Builder b;
    b.config.wepTransmit = "3";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepTransmitKey(); }),
              bytesOf({0x28, 0x1F, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x03}));
    b.config.wepTransmit = "";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepTransmitKey(); })[8], 1);
    b.config.wepTransmit = "x";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepTransmitKey(); })[8], 0);
    b.config.wepTransmit = "258abc";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepTransmitKey(); })[8], 2);
    b.config.wepTransmit = "99999999999999999999";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepTransmitKey(); }).size(), 9u);
}

TEST(WepAuthRecord, OpenAndShared) {
    Builder b;
    b.config.encryption = "WEP";
    b.config.security = "OPEN";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepAuth(); })[8], 1);
    b.config.security = "SHARED";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepAuth(); })[8], 2);
    b.config.encryption = "NONE";
    EXPECT_EQ(record(b, [](auto& c) { return c.addWepAuth(); }),
              bytesOf({0x28, 0x23, 0, 0, 4, 0, 0, 0, 0}));
    b.config.encryption = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addWepAuth(); }).empty());
}

TEST(EncryptionRecord, Table) {
    Builder b;
    const std::pair<const char*, int> table[] = {
        {"NONE", 0}, {"WEP-DYNAMIC", 1}, {"WEP-STATIC", 2}, {"WEP", 2}, {"WPA-TKIP", 3},
        {"TKIP", 3}, {"WPA-AES", 4},     {"AES", 4},        {"aes", 0}};
    for (auto [text, value] : table) {
        b.config.encryption = text;
        EXPECT_EQ(record(b, [](auto& c) { return c.addEncryption(); }),
                  bytesOf({0x28, 0x26, 0, 0, 4, 0, 0, 0, value}))
            << text;
    }
    b.config.encryption = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addEncryption(); }).empty());
}

TEST(EapTypesRecord, SubstringsOfTokens) {
    Builder b;
    auto values = [&](const std::string& ext) {
        b.config.auth802Ext = ext;
        auto bytes = record(b, [](auto& c) { return c.addEapTypes(); });
        EXPECT_EQ(bytes.size(), 36u);
        std::vector<int> out;
        for (size_t i = 0; i + 6 <= bytes.size(); i += 6) {
            EXPECT_EQ(bytes[i], 0x2A);
            EXPECT_EQ(bytes[i + 1], 0x14 + i / 6);
            EXPECT_EQ(bytes[i + 4], 1);
            out.push_back(bytes[i + 5]);
        }
        return out;
    };
    EXPECT_EQ(values("PEAP|EAP-TTLS"), (std::vector<int>{0, 0, 0, 1, 0, 1}));
    EXPECT_EQ(values(""), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(values("PEAP-TLS"), (std::vector<int>{0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(values("||EAP-MD5|LEAP||"), (std::vector<int>{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(values("EAP-|TLS"), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST(InnerAuthRecord, Table) {
    Builder b;
    const std::pair<const char*, int> table[] = {
        {"CHAP", 0}, {"MSCHAP", 1}, {"MSCHAPv2", 2}, {"PAP", 3}, {"x", 0}};
    for (auto [text, value] : table) {
        b.config.auth802Inner = text;
        EXPECT_EQ(record(b, [](auto& c) { return c.addInnerAuth(); }),
                  bytesOf({0x2A, 0x1A, 0, 0, 4, 0, 0, 0, value}));
    }
    b.config.auth802Inner = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.addInnerAuth(); }).empty());
}

TEST(Dot1xUserRecord, PaddedAndCut) {
    Builder b;
    b.config.user802 = "bob";
    EXPECT_EQ(record(b, [](auto& c) { return c.add8021xUser(); }),
              bytesOf({0x2A, 0x02, 0, 0, 4, 'b', 'o', 'b', 0}));
    b.config.user802 = std::string(40, 'u');
    auto bytes = record(b, [](auto& c) { return c.add8021xUser(); });
    ASSERT_EQ(bytes.size(), 37u);
    EXPECT_EQ(bytes[4], 32);
    EXPECT_EQ(bytes[35], 'u');
    EXPECT_EQ(bytes[36], 0);
}

TEST(Dot1xPasswordRecord, LengthReaches256) {
    Builder b;
    b.config.pwd802 = std::string(300, 'p');
    auto bytes = record(b, [](auto& c) { return c.add8021xPassword(); });
    ASSERT_EQ(bytes.size(), 261u);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[4], 0x00);
    EXPECT_EQ(bytes[259], 'p');
    EXPECT_EQ(bytes[260], 0);
    b.config.pwd802 = "";
    EXPECT_TRUE(record(b, [](auto& c) { return c.add8021xPassword(); }).empty());
}

TEST(ValidateCertRecord, FollowsTheCertificateLists) {
    auto value = [](std::function<std::unique_ptr<CertificateLists>(const std::string&)> lists) {
        ConfigDetails config;
        test::FakePrinter printer;
        auto c = test::makeFakeConfigurator(config, printer, "", lists);
        CaptureStderr();
        c->addValidateCert();
        std::string err = GetCapturedStderr();
        EXPECT_EQ(c->message().size(), 6u);
        EXPECT_EQ(err, "D [QOR] Validate certificate? " + std::to_string(c->message()[5]) + "\n");
        return c->message()[5];
    };
    auto fake = [](int r1, std::vector<std::string> l1, int r2, std::vector<std::string> l2) {
        return [=](const std::string&) {
            return std::unique_ptr<CertificateLists>(new test::FakeCertLists(r1, l1, r2, l2));
        };
    };
    EXPECT_EQ(value(nullptr), 0);
    EXPECT_EQ(value([](const std::string&) { return std::unique_ptr<CertificateLists>(); }), 0);
    EXPECT_EQ(value(fake(0, {"a", "b"}, -1, {})), 1);
    EXPECT_EQ(value(fake(0, {"a"}, -1, {})), 0);
    EXPECT_EQ(value(fake(0, {"a"}, 0, {"ca"})), 1);
    // The friendly-name list is emptied before the authorities are read.
    EXPECT_EQ(value(fake(-1, {"a"}, 0, {})), 0);
    EXPECT_EQ(value(fake(-1, {"a", "b"}, -1, {"ca"})), 0);
}

TEST(Framing, WriteRequestWithAndWithoutForwarding) {
    ConfigDetails config;
    config.ssid = "A";
    test::FakePrinter printer;
    auto c = test::makeFakeConfigurator(config, printer);
    CaptureStderr();
    c->setForward(0);
    c->clearMessage();
    size_t n = c->addSsid();
    EXPECT_EQ(c->frameSet(n), 14u);
    EXPECT_EQ(c->frameForward(14), 14u);
    EXPECT_EQ(c->message(), bytesOf({0xA5, 0x00, 0x0B, 0x50, 0xE0, 0xDA, 0x01, 0x28, 0x08, 0x00,
                                     0x00, 0x02, 0x41, 0x00}));
    c->setForward(1);
    c->clearMessage();
    n = c->addSsid();
    EXPECT_EQ(c->frameForward(c->frameSet(n)), 23u);
    GetCapturedStderr();
    EXPECT_EQ(c->message(),
              bytesOf({0xA5, 0x00, 0x14, 0x50, 0xE0, 0x63, 0x02, 0x00, 0x0E, 0xA5, 0x00, 0x0B,
                       0x50, 0xE0, 0xDA, 0x01, 0x28, 0x08, 0x00, 0x00, 0x02, 0x41, 0x00}));
}

TEST(Framing, ReadRequestIsNineOrEighteenBytes) {
    ConfigDetails config;
    test::FakePrinter printer;
    auto c = test::makeFakeConfigurator(config, printer);
    EXPECT_EQ(c->readRequest(0x28, 0x08), bytesOf({0xA5, 0, 0x0F, 0x50, 0xE0, 0x63, 0x02, 0, 0x09,
                                                   0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
    c->setForward(0);
    EXPECT_EQ(c->readRequest(0x28, 0x08), bytesOf({0xA5, 0, 6, 0x50, 0xE0, 0xD8, 0, 0x28, 0x08}));
}

TEST(Masking, DiagnosticLinesHideSecretsButKeepLength) {
    ConfigDetails config;
    config.psk = "hunter22";
    config.wepKey[2] = "abcde";
    config.pwd802 = "s3cret";
    config.user802 = "bob";
    test::FakePrinter printer;
    auto c = test::makeFakeConfigurator(config, printer);
    CaptureStderr();
    c->addPsk();
    c->addWepKey(3);
    c->add8021xPassword();
    c->add8021xUser();
    std::string err = GetCapturedStderr();
    EXPECT_EQ(err,
              "D [QOR] PSK (Pre-shared key) = ******** (8 bytes)\n"
              "D [QOR] WEP Key 3 = '*****' (5 bytes)\n"
              "D [QOR] 802.1x password = ****** (6 bytes)\n"
              "D [QOR] 802.1x User = bob (3 bytes)\n");
    EXPECT_EQ(err.find("hunter"), std::string::npos);
}

TEST(Masking, SecretBytesAreFlaggedThroughFraming) {
    ConfigDetails config;
    config.security = "WPA";
    config.passwd = "pw";
    config.ssid = "S";
    test::FakePrinter printer;
    auto c = test::makeFakeConfigurator(config, printer);
    CaptureStderr();
    c->clearMessage();
    size_t n = c->addSsid();
    n += c->addPassword();
    c->frameForward(c->frameSet(n));
    GetCapturedStderr();
    const auto& msg = c->message();
    const auto& secret = c->secretMask();
    ASSERT_EQ(secret.size(), msg.size());
    std::string shown;
    for (size_t i = 0; i < msg.size(); ++i)
        if (secret[i])
            shown.push_back(static_cast<char>(msg[i]));
    EXPECT_EQ(shown, "pw");
    // The terminator after the password is not a secret.
    EXPECT_FALSE(secret.back());
}

}  // namespace
}  // namespace qor
