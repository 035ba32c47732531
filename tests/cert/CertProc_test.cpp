// The certificate command words over a scripted printer.
#include "CertProc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "CertAnswers.h"
#include "CertMgr.h"
#include "CertTestFiles.h"

using namespace qor;
using namespace qor::test;

namespace {

struct CertProcFixture : ::testing::Test {
    FakePrinter transport;
    int made = 0;
    CertProc proc{[this](const std::string& path) {
        ++made;
        return std::make_unique<CertMgr>(transport.channel(path));
    }};
    ConfigDetails cfg;
    TempDir dir;
    std::string out, err;

    int run(const std::string& command) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int status = proc.process(command, cfg);
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
        return status;
    }
    std::string sentMethod(size_t k) const {
        if (k >= transport.writes.size())
            return "";
        std::string xml = requestXml(transport.writes[k]);
        size_t at = xml.find("<arg name=\"method\">");
        if (at == std::string::npos)
            return "?";
        at += 19;
        return xml.substr(at, xml.find('<', at) - at);
    }
};

const std::string kOk = responseXml("1", "OK");

}  // namespace

TEST_F(CertProcFixture, ReadDefaultsPrintsKeyLinesInOrder) {
    transport.answer(
        certAnswer(responseXml("1", "OK",
                               stringChild("x509_O", "Org") + stringChild("x509_OU", "Unit") +
                                   stringChild("x509_C", "DE") + stringChild("x509_ST", "BY") +
                                   stringChild("x509_L", "Munich") + stringChild("x509_CN", "prn") +
                                   stringChild("x509_AN", "alt"))));
    EXPECT_EQ(run("-rcerdefs"), 0);
    EXPECT_EQ(out,
              "cer-org=Org\ncer-unit=Unit\ncer-state=BY\ncer-country=DE\ncer-city=Munich\n"
              "cer-altname=alt\ncer-common=prn\n");
}

TEST_F(CertProcFixture, ReadDefaultsNonSuccessPrintsOnlyFailureLine) {
    transport.answer(certAnswer(responseXml("2", "denied")));
    EXPECT_EQ(run("-rcerdefs"), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("D [QOR] Failed to read certificate defaults!\n"), std::string::npos) << err;
}

TEST_F(CertProcFixture, CsrGeneratesThenSavesToPath) {
    cfg.cerOrg = "R&D";
    cfg.cerCommon = "printer";
    cfg.cerPath = dir.path("req.csr");
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(responseXml(
        "1", "", "<child name=\"cert_dot_csr_file\"><BinaryElem>Q1NS</BinaryElem></child>")));
    EXPECT_EQ(run("-csr"), 0);
    EXPECT_EQ(sentMethod(0), "deleteIndividualCert");
    EXPECT_EQ(sentMethod(1), "generateNewCert");
    EXPECT_EQ(sentMethod(2), "exportPubKey");
    EXPECT_EQ(readFile(cfg.cerPath), "CSR");
    std::string head =
        "D [QOR] usb=\"/dev/usb/lp0\"\nD [QOR] --cer-org=\"R&D\"\n"
        "D [QOR] --cer-unit=\"\"\nD [QOR] --cer-state=\"\"\n"
        "D [QOR] --cer-country=\"\"\nD [QOR] --cer-city=\"\"\n"
        "D [QOR] --cer-altname=\"\"\nD [QOR] --cer-common=\"printer\"\n"
        "D [QOR] --cer-path=\"" +
        cfg.cerPath + "\"\n";
    EXPECT_EQ(err.substr(0, head.size()), head);
    EXPECT_NE(err.find("D [QOR] Certificate Request successfully created! Now saving...\n"
                       "D [QOR] Certificate Request saved to '" +
                       cfg.cerPath + "'!\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(out, "");
}

// The request file is checked before the printer's certificate is deleted
// and a new one generated: a missing or unwritable path sends nothing, and
// the test file made for the check does not stay behind.
TEST_F(CertProcFixture, CsrChecksTheRequestPathBeforeTouchingThePrinter) {
    const std::string fresh = dir.path("fresh.csr");
    struct Row {
        std::string path;
        std::string err;
    } rows[] = {
        {"", "qorconfig: -csr needs --cer-path=FILE to save the certificate request\n"},
        {dir.path("no/such/dir/req.csr"), "qorconfig: cannot write the certificate request to '" +
                                              dir.path("no/such/dir/req.csr") +
                                              "': No such file or directory\n"},
        {dir.root(), "qorconfig: cannot write the certificate request to '" + dir.root() +
                         "': Is a directory\n"},
    };
    for (const Row& row : rows) {
        cfg.cerPath = row.path;
        EXPECT_EQ(run("-csr"), 1) << row.path;
        EXPECT_EQ(err, row.err);
        EXPECT_EQ(made, 0) << row.path;
        EXPECT_TRUE(transport.writes.empty()) << row.path;
    }
    cfg.cerPath = fresh;
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(responseXml("5", "no key")));
    EXPECT_EQ(run("-csr"), 1);
    EXPECT_EQ(transport.writes.size(), 2u);
    struct stat info {};
    EXPECT_NE(::stat(fresh.c_str(), &info), 0);
}

TEST_F(CertProcFixture, CsrGenerationFailure) {
    cfg.cerPath = dir.path("req.csr");
    transport.answer(certAnswer(kOk));
    transport.answer(certAnswer(responseXml("5", "no key")));
    EXPECT_EQ(run("-csr"), 1);
    EXPECT_NE(err.find("D [QOR] Create Certificate Request error 5\nD [QOR] no key\n"
                       "D [QOR] Error creating Certificate Request!\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(transport.writes.size(), 2u);
}

TEST_F(CertProcFixture, InstallWithBothFilesInstallsCAOnly) {
    cfg.caCerFile802 = dir.path("ca.pem");
    cfg.signedCerFile802 = dir.path("signed.pem");
    writeCertificate(cfg.caCerFile802, "/CN=Root", "100105000000Z", "111231235959Z");
    writeCertificate(cfg.signedCerFile802, "/CN=Signed", "100105000000Z", "111231235959Z");
    transport.answer(certAnswer(kOk));  // the CA list: nothing to remove first
    transport.answer(certAnswer(kOk));
    EXPECT_EQ(run("-icer"), 0);
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_EQ(sentMethod(0), "queryCAList");
    EXPECT_EQ(sentMethod(1), "uploadNewCAFile");
    EXPECT_NE(err.find("D [QOR] CA/Signed Certificate successfully installed!\n"),
              std::string::npos);
}

TEST_F(CertProcFixture, InstallSignedCertificateWithDefaultFriendlyName) {
    cfg.signedCerFile802 = dir.path("signed.pem");
    writeCertificate(cfg.signedCerFile802, "/CN=Signed", "100105000000Z", "111231235959Z");
    transport.answer(certAnswer(kOk));
    EXPECT_EQ(run("-icer"), 0);
    EXPECT_EQ(sentMethod(0), "uploadSignedCertFile");
    EXPECT_NE(requestXml(transport.writes[0]).find("<StringElem>AirJoinHelperTool</StringElem>"),
              std::string::npos);
}

TEST_F(CertProcFixture, InstallFailureAndMissingFiles) {
    cfg.signedCerFile802 = dir.path("signed.pem");
    writeCertificate(cfg.signedCerFile802, "/CN=Signed", "100105000000Z", "111231235959Z");
    transport.answer(certAnswer(responseXml("3", "full")));
    EXPECT_EQ(run("-icer"), 1);
    EXPECT_NE(err.find("D [QOR] Install Signed Cert error 3\nD [QOR] full\n"
                       "D [QOR] Error installing CA/Signed Certificate!\n"),
              std::string::npos)
        << err;

    transport.writes.clear();
    made = 0;
    cfg.caCerFile802 = dir.path("missing.pem");
    EXPECT_EQ(run("-icer"), 2);
    EXPECT_EQ(err, "D [QOR] File not found! ('" + cfg.caCerFile802 + "')\n");
    EXPECT_EQ(made, 0);
    EXPECT_TRUE(transport.writes.empty());

    cfg.caCerFile802.clear();
    cfg.signedCerFile802.clear();
    EXPECT_EQ(run("-icer"), 1);
    EXPECT_EQ(err + out,
              "qorconfig: -icer needs --802-CA-cer-file=FILE or --802-signed-cer-file=FILE\n");
    EXPECT_EQ(made, 0);

    // A file that holds no PEM certificate is never uploaded.
    cfg.signedCerFile802 = dir.path("notes.txt");
    writeFile(cfg.signedCerFile802, "-----BEGIN CERTIFICATE-----\nnot one\n");
    EXPECT_EQ(run("-icer"), 1);
    EXPECT_EQ(err, "qorconfig: '" + cfg.signedCerFile802 +
                       "' is not a PEM certificate; nothing was installed\n");
    EXPECT_EQ(made, 0);
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(CertProcFixture, UnknownCommandAndEmptyDevicePath) {
    EXPECT_EQ(run("-certs"), 1);
    EXPECT_EQ(err, "D [QOR] Unknown certificate command!\n");
    cfg.usbPath.clear();
    EXPECT_EQ(run("-rcerdefs"), 1);
    EXPECT_NE(err.find("Error: No USB device is specified!"), std::string::npos);
}

TEST_F(CertProcFixture, CsrWithSubjectTooLongForItsRequestSendsNothing) {
    // Once escaped, 700 '&' need 3500 bytes: more than the 3072-byte request.
    cfg.cerOrg = std::string(700, '&');
    cfg.cerPath = dir.path("req.csr");
    EXPECT_EQ(run("-csr"), 1);
    EXPECT_NE(err.find("D [QOR] generateNewCert request too long"), std::string::npos) << err;
    EXPECT_NE(err.find("D [QOR] Error creating Certificate Request!\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("successfully created"), std::string::npos) << err;
    // Not even the delete of the old certificate goes out.
    EXPECT_TRUE(transport.writes.empty());
}
