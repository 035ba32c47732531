// Asks the certificate manager on the device path given as argument 1 for
// its two name lists through makeCertificateLists, as the 802.1x
// configuration does, and prints the results on standard output:
//   certs <result> <count>
//   cert <name>            (one line per name)
//   cas <result> <count>
//   ca <name>
// Exits 3 when no lists object is made, else 0.
#include <cstdio>
#include <string>
#include <vector>

#include "CertificateLists.h"

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "";
    std::unique_ptr<qor::CertificateLists> lists = qor::makeCertificateLists(path);
    if (!lists) {
        std::printf("no lists\n");
        return 3;
    }
    std::vector<std::string> certs, cas;
    int certResult = lists->queryCertList(certs);
    std::printf("certs %d %zu\n", certResult, certs.size());
    for (const std::string& name : certs)
        std::printf("cert %s\n", name.c_str());
    int caResult = lists->getCACommonNameList(cas);
    std::printf("cas %d %zu\n", caResult, cas.size());
    for (const std::string& name : cas)
        std::printf("ca %s\n", name.c_str());
    return 0;
}
