// The certificate manager requests as the printer must receive them,
// written out here independently of the code under test, and the
// packet that carries one.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qor::test {

namespace expected {
// clang-format off
const char* const k410 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="410"><arg name="objName">applications.certMgr</arg><arg name="method">deleteIndividualCA</arg><arg name="params"><ListElem><ListElem><MapElem><child name="ca_common_name"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* const k510 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="510"><arg name="objName">applications.certMgr</arg><arg name="method">deleteIndividualCert</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* const k100 = R"(<?xml version="1.0"?><method name="callMethod" requestID="100"><arg name="objName">applications.certMgr</arg><arg name="method">readCertDefaults</arg><arg name="params"><ListElem><ListElem><MapElem></MapElem></ListElem></ListElem></arg></method>)";
const char* const k500 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="500"><arg name="objName">applications.certMgr</arg><arg name="method">uploadSignedCertFile</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>%s</StringElem></child><child name="cert_syst_dot_pem_size"><IntegerElem>%d</IntegerElem></child><child name="cert_syst_dot_pem_file"><BinaryElem>%s</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* const k520 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="520"><arg name="objName">applications.certMgr</arg><arg name="method">queryCertList</arg><arg name="params"><ListElem><ListElem></ListElem></ListElem></arg></method>)";
const char* const k420 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="420"><arg name="objName">applications.certMgr</arg><arg name="method">queryCAList</arg><arg name="params"><ListElem><ListElem></ListElem></ListElem></arg></method>)";
const char* const k400 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="400"><arg name="objName">applications.certMgr</arg><arg name="method">uploadNewCAFile</arg><arg name="params"><ListElem><ListElem><MapElem><child name="ca_file_name"><StringElem>%s</StringElem></child><child name="ca_dot_pem_size"><IntegerElem>%d</IntegerElem></child><child name="ca_dot_pem_file"><BinaryElem>%s</BinaryElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* const k210 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="210"><arg name="objName">applications.certMgr</arg><arg name="method">exportPubKey</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
const char* const k200 = R"(<?xml version="1.0" encoding="UTF-8"?><method name="callMethod" requestID="200"><arg name="objName">applications.certMgr</arg><arg name="method">generateNewCert</arg><arg name="params"><ListElem><ListElem><MapElem><child name="cert_friendly_name"><StringElem>%s</StringElem></child><child name="x509_O"><StringElem>%s</StringElem></child><child name="x509_AN"><StringElem>%s</StringElem></child><child name="x509_C"><StringElem>%s</StringElem></child><child name="x509_CN"><StringElem>%s</StringElem></child><child name="x509_L"><StringElem>%s</StringElem></child><child name="x509_OU"><StringElem>%s</StringElem></child><child name="x509_ST"><StringElem>%s</StringElem></child></MapElem></ListElem></ListElem></arg></method>)";
// clang-format on
}  // namespace expected

// `templ` with each "%s" or "%d", in order, replaced by the next value.
inline std::string fillTemplate(const std::string& templ, const std::vector<std::string>& values) {
    std::string out;
    size_t next = 0;
    for (size_t k = 0; k < templ.size(); ++k) {
        if (templ[k] == '%' && k + 1 < templ.size() &&
            (templ[k + 1] == 's' || templ[k + 1] == 'd')) {
            out += next < values.size() ? values[next] : std::string("<missing>");
            ++next;
            ++k;
        } else {
            out.push_back(templ[k]);
        }
    }
    return out;
}

// Standard Base64 with padding, by libcrypto.
inline std::string base64Of(const std::string& data) {
    std::vector<unsigned char> out((data.size() + 2) / 3 * 4 + 1, 0);
    int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(data.size()));
    return std::string(reinterpret_cast<const char*>(out.data()),
                       n > 0 ? static_cast<size_t>(n) : 0);
}

// The packet that carries `xml`: A5, BE16(length + 6), 50, E0 C0 03 00 01, XML.
inline std::vector<uint8_t> xmlPacket(const std::string& xml) {
    size_t length = xml.size() + 6;
    const uint8_t head[] = {0xA5,
                            static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length),
                            0x50,
                            0xE0,
                            0xC0,
                            0x03,
                            0x00,
                            0x01};
    std::vector<uint8_t> packet(sizeof head + xml.size(), 0);
    std::memcpy(packet.data(), head, sizeof head);
    if (!xml.empty())
        std::memcpy(packet.data() + sizeof head, xml.data(), xml.size());
    return packet;
}

}  // namespace qor::test
