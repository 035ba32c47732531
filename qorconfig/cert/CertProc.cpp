#include "CertProc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CertMgr.h"
#include "CertificateLists.h"

namespace qor {

namespace {

// One line for the user on standard error: "qorconfig: ...".
void tellUser(const std::string& message) {
    std::fprintf(stderr, "qorconfig: %s\n", message.c_str());
}

// A failed command against a printer that answered nothing says so.
int failed(const CertMgr& mgr) {
    if (mgr.neverAnswered())
        tellUser("no answer from the printer at '" + mgr.devicePath() + "'");
    return 1;
}

// Whether the request file can be written, tried before the printer's
// certificate is replaced: a file made only for the test is removed again,
// an existing one is opened without truncating it.
bool canCreate(const std::string& path, std::string& reason) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0644);
    bool made = fd >= 0;
    if (!made && errno == EEXIST)
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (made)
        ::unlink(path.c_str());
    return true;
}

int readDefaults(CertMgr& mgr) {
    std::string o, ou, c, st, l, cn, an;
    if (mgr.readCertDefaults(o, ou, c, st, l, cn, an) != 0) {
        std::fprintf(stderr, "D [QOR] Failed to read certificate defaults!\n");
        return failed(mgr);
    }
    std::printf("cer-org=%s\n", o.c_str());
    std::printf("cer-unit=%s\n", ou.c_str());
    std::printf("cer-state=%s\n", st.c_str());
    std::printf("cer-country=%s\n", c.c_str());
    std::printf("cer-city=%s\n", l.c_str());
    std::printf("cer-altname=%s\n", an.c_str());
    std::printf("cer-common=%s\n", cn.c_str());
    std::fflush(stdout);
    return 0;
}

int createRequest(CertMgr& mgr, const ConfigDetails& cfg) {
    std::fprintf(stderr, "D [QOR] usb=\"%s\"\n", cfg.usbPath.c_str());
    std::fprintf(stderr, "D [QOR] --cer-org=\"%s\"\n", cfg.cerOrg.c_str());
    std::fprintf(stderr, "D [QOR] --cer-unit=\"%s\"\n", cfg.cerUnit.c_str());
    std::fprintf(stderr, "D [QOR] --cer-state=\"%s\"\n", cfg.cerState.c_str());
    std::fprintf(stderr, "D [QOR] --cer-country=\"%s\"\n", cfg.cerCountry.c_str());
    std::fprintf(stderr, "D [QOR] --cer-city=\"%s\"\n", cfg.cerCity.c_str());
    std::fprintf(stderr, "D [QOR] --cer-altname=\"%s\"\n", cfg.cerAltname.c_str());
    std::fprintf(stderr, "D [QOR] --cer-common=\"%s\"\n", cfg.cerCommon.c_str());
    std::fprintf(stderr, "D [QOR] --cer-path=\"%s\"\n", cfg.cerPath.c_str());
    if (mgr.generateNewCert(cfg.cerOrg, cfg.cerUnit, cfg.cerCountry, cfg.cerState, cfg.cerCity,
                            cfg.cerCommon, cfg.cerAltname, kDefaultFriendlyName) != 0) {
        std::fprintf(stderr, "D [QOR] Error creating Certificate Request!\n");
        return failed(mgr);
    }
    std::fprintf(stderr, "D [QOR] Certificate Request successfully created! Now saving...\n");
    if (mgr.exportPubKey(cfg.cerPath, kDefaultFriendlyName) != 0) {
        std::fprintf(stderr, "D [QOR] Error saving Certificate Request to '%s'!\n",
                     cfg.cerPath.c_str());
        return failed(mgr);
    }
    std::fprintf(stderr, "D [QOR] Certificate Request saved to '%s'!\n", cfg.cerPath.c_str());
    return 0;
}

int installCertificate(const ConfigDetails& cfg, const CertProc::MgrFactory& makeMgr) {
    // The CA file wins when both are given.
    bool isCA = !cfg.caCerFile802.empty();
    const std::string& path = isCA ? cfg.caCerFile802 : cfg.signedCerFile802;
    if (path.empty()) {
        tellUser("-icer needs --802-CA-cer-file=FILE or --802-signed-cer-file=FILE");
        return 1;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "D [QOR] File not found! ('%s')\n", path.c_str());
        return 2;
    }
    // The printer would store whatever it is sent; only a certificate goes.
    if (!isPemCertificateFile(path)) {
        tellUser("'" + path + "' is not a PEM certificate; nothing was installed");
        return 1;
    }
    std::unique_ptr<CertMgr> mgr = makeMgr(cfg.usbPath);
    int result =
        isCA ? mgr->uploadNewCAFile(path) : mgr->uploadSignedCertFile(path, kDefaultFriendlyName);
    if (result != 0) {
        std::fprintf(stderr, "D [QOR] Error installing CA/Signed Certificate!\n");
        return failed(*mgr);
    }
    std::fprintf(stderr, "D [QOR] CA/Signed Certificate successfully installed!\n");
    return 0;
}

// The configurator's view of the certificate manager.
class CertMgrLists : public CertificateLists {
  public:
    explicit CertMgrLists(const std::string& usbPath) : m_Mgr(usbPath) {}
    int queryCertList(std::vector<std::string>& names) override {
        return m_Mgr.queryCertList(names);
    }
    int getCACommonNameList(std::vector<std::string>& names) override {
        return m_Mgr.getCACommonNameList(names);
    }

  private:
    CertMgr m_Mgr;
};

}  // namespace

CertProc::CertProc()
    : m_MakeMgr([](const std::string& path) { return std::make_unique<CertMgr>(path); }) {}

CertProc::CertProc(MgrFactory makeMgr) : m_MakeMgr(std::move(makeMgr)) {}

int CertProc::process(const std::string& command, const ConfigDetails& configuration) {
    try {
        if (command == "-icer")
            return installCertificate(configuration, m_MakeMgr);
        if (command == "-rcerdefs") {
            std::unique_ptr<CertMgr> mgr = m_MakeMgr(configuration.usbPath);
            return readDefaults(*mgr);
        }
        if (command == "-csr") {
            // Checked before the printer's certificate is deleted and replaced.
            std::string reason;
            if (configuration.cerPath.empty()) {
                tellUser("-csr needs --cer-path=FILE to save the certificate request");
                return 1;
            }
            if (!canCreate(configuration.cerPath, reason)) {
                tellUser("cannot write the certificate request to '" + configuration.cerPath +
                         "': " + reason);
                return 1;
            }
            std::unique_ptr<CertMgr> mgr = m_MakeMgr(configuration.usbPath);
            return createRequest(*mgr, configuration);
        }
    } catch (const char* message) {
        // Only an empty device path is refused this way.
        std::fprintf(stderr, "D [QOR] %s\n", message);
        return 1;
    }
    std::fprintf(stderr, "D [QOR] Unknown certificate command!\n");
    return 1;
}

std::unique_ptr<CertificateLists> makeCertificateLists(const std::string& usbPath) {
    if (usbPath.empty()) {
        std::fprintf(stderr, "D [QOR] Error: No USB device is specified!\n");
        return nullptr;
    }
    return std::make_unique<CertMgrLists>(usbPath);
}

}  // namespace qor
