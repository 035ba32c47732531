// The certificate commands of qorconfig end to end, against the virtual
// printer on /dev/usb/lp0 (a node the virtual printer makes in its own
// mount namespace).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "CertTestFiles.h"
#include "RunProcess.h"

using namespace qor::test;

namespace {

std::string buildPath(const std::string& relative) {
    const char* dir = std::getenv("QOR_BUILD_DIR");
    return std::string(dir ? dir : ".") + "/" + relative;
}

bool executable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

struct CertE2E : ::testing::Test {
    std::string vprinter = buildPath("tools/vprinter/qor-vprinter");
    std::string qorconfig = buildPath("qorconfig/qorconfig");
    TempDir dir;

    void SetUp() override {
        if (!executable(vprinter) || !executable(qorconfig))
            GTEST_SKIP() << "needs " << vprinter << " and " << qorconfig;
    }

    // Runs qorconfig with `args` under a virtual printer with `scenario`.
    ProcessResult run(const std::string& scenario, const std::vector<std::string>& args) {
        writeFile(dir.path("scenario"), scenario);
        std::vector<std::string> argv = {vprinter,    "--scenario",        dir.path("scenario"),
                                         "--journal", dir.path("journal"), "--",
                                         qorconfig};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, 90);
    }
    std::string journal() const { return readFile(dir.path("journal")); }
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(CertE2E, ReadDefaultsPrintsKeyLines) {
    ProcessResult r =
        run("cert_default.O = Acme\ncert_default.OU = Ops\ncert_default.C = DE\n"
            "cert_default.ST = Bavaria\ncert_default.L = Munich\n"
            "cert_default.CN = prn.acme\ncert_default.AN = prn\n",
            {"-rcerdefs"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "cer-org=Acme\ncer-unit=Ops\ncer-state=Bavaria\ncer-country=DE\ncer-city=Munich\n"
              "cer-altname=prn\ncer-common=prn.acme\n");
}

TEST_F(CertE2E, ReadDefaultsNonSuccessStatus) {
    ProcessResult r = run("cert_status.readCertDefaults = 2 denied\n", {"-rcerdefs"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "D [QOR] Get cert request defaults error 2\nD [QOR] denied\n")) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Failed to read certificate defaults!\n")) << r.err;
}

TEST_F(CertE2E, CsrIsSavedToPath) {
    std::string path = dir.path("printer.csr");
    ProcessResult r =
        run("", {"-csr", "--cer-org=R&D <x>", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Certificate Request saved to '" + path + "'!\n")) << r.err;
    EXPECT_FALSE(readFile(path).empty());
}

TEST_F(CertE2E, CsrWithEmptyPathFails) {
    ProcessResult r = run("", {"-csr", "--cer-common=prn"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Certificate Request successfully created! Now saving...\n"))
        << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Error saving Certificate Request to ''!\n")) << r.err;
}

TEST_F(CertE2E, InstallCARemovesListedCAOfSameFullNameFirst) {
    std::string path = dir.path("root.pem");
    writeCertificate(path, "/O=Acme/CN=PrinterCA", "100105000000Z", "111231235959Z");
    ProcessResult r = run("ca = PrinterCA_Jan__5_2010_To_Dec_31_2011 | old.pem\n",
                          {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err,
                    "D [QOR] CA Common name to match: "
                    "'PrinterCA_Jan__5_2010_To_Dec_31_2011'\n"
                    "D [QOR] CA cert exist! Removing...\n"))
        << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] CA/Signed Certificate successfully installed!\n")) << r.err;
}

TEST_F(CertE2E, InstallSignedCertificate) {
    std::string path = dir.path("signed.pem");
    writeCertificate(path, "/CN=printer", "20240101000000Z", "20300101000000Z");
    ProcessResult r = run("", {"-icer", "--802-signed-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] CA/Signed Certificate successfully installed!\n")) << r.err;
}

TEST_F(CertE2E, InstallOfMissingFileSendsNothing) {
    std::string path = dir.path("missing.pem");
    ProcessResult r = run("", {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] File not found! ('" + path + "')\n")) << r.err;
    EXPECT_FALSE(has(journal(), "certMgr")) << journal();
}

TEST_F(CertE2E, InstallRefusedByPrinter) {
    std::string path = dir.path("signed.pem");
    writeCertificate(path, "/CN=printer", "20240101000000Z", "20300101000000Z");
    ProcessResult r = run("cert_status.uploadSignedCertFile = 3 store full\n",
                          {"-icer", "--802-signed-cer-file=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Install Signed Cert error 3\nD [QOR] store full\n")) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Error installing CA/Signed Certificate!\n")) << r.err;
}
