// Names under which the printer lists a CA, read from PEM files made here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "CertMgr.h"
#include "CertTestFiles.h"

using namespace qor;
using namespace qor::test;

namespace {

struct Names {
    int result;
    std::string common, full, err;
};

Names namesOf(const std::string& path) {
    Names n{0, "unset", "unset", ""};
    ::testing::internal::CaptureStderr();
    n.result = getCertNames(path, n.common, n.full);
    n.err = ::testing::internal::GetCapturedStderr();
    return n;
}

}  // namespace

TEST(CertNames, CommonNameWithValidityTag) {
    TempDir dir;
    writeCertificate(dir.path("ca.pem"), "/CN=PrinterCA", "100105000000Z", "111231235959Z");
    Names n = namesOf(dir.path("ca.pem"));
    EXPECT_EQ(n.result, 0);
    EXPECT_EQ(n.common, "PrinterCA");
    EXPECT_EQ(n.full, "PrinterCA_Jan__5_2010_To_Dec_31_2011");
}

TEST(CertNames, CommonNameRunsToEndOfSubjectText) {
    TempDir dir;
    writeCertificate(dir.path("ca.pem"), "/C=DE/CN=Root CA/O=Acme", "20200301000000Z",
                     "20300909000000Z");
    Names n = namesOf(dir.path("ca.pem"));
    EXPECT_EQ(n.result, 0);
    EXPECT_EQ(n.common, "Root CA/O=Acme");
    EXPECT_EQ(n.full, "Root CA/O=Acme_Mar__1_2020_To_Sep__9_2030");
}

TEST(CertNames, TwoDigitYearsBelowFiftyAreThisCentury) {
    TempDir dir;
    writeCertificate(dir.path("a.pem"), "/CN=A", "491010000000Z", "500228000000Z");
    EXPECT_EQ(namesOf(dir.path("a.pem")).full, "A_Oct_10_2049_To_Feb_28_1950");
    writeCertificate(dir.path("b.pem"), "/CN=B", "000131000000Z", "991231000000Z");
    Names b = namesOf(dir.path("b.pem"));
    EXPECT_EQ(b.full, "B_Jan_31_2000_To_Dec_31_1999");
}

TEST(CertNames, FourDigitYearsOfGeneralizedTime) {
    TempDir dir;
    writeCertificate(dir.path("a.pem"), "/CN=Far", "20491231000000Z", "21060704000000Z");
    EXPECT_EQ(namesOf(dir.path("a.pem")).full, "Far_Dec_31_2049_To_Jul__4_2106");
}

TEST(CertNames, NoCommonNameFailsWithoutLine) {
    TempDir dir;
    writeCertificate(dir.path("a.pem"), "/C=DE/O=Acme", "20100105000000Z", "20111231000000Z");
    Names n = namesOf(dir.path("a.pem"));
    EXPECT_EQ(n.result, -1);
    EXPECT_EQ(n.full, "unset");
    EXPECT_EQ(n.err, "");
}

TEST(CertNames, UnreadableFilesFailWithTheirLines) {
    TempDir dir;
    Names missing = namesOf(dir.path("missing.pem"));
    EXPECT_EQ(missing.result, -1);
    EXPECT_EQ(missing.err, "D [QOR] Failed to read Pem file '" + dir.path("missing.pem") + "'?!\n");
    writeFile(dir.path("junk.pem"), "-----BEGIN CERTIFICATE-----\nnot base64\n");
    Names junk = namesOf(dir.path("junk.pem"));
    EXPECT_EQ(junk.result, -1);
    EXPECT_EQ(junk.err, "D [QOR] PEM_read failed?!\n");
}

TEST(CertNames, EncryptedPemFailsWithoutAskingForPassphrase) {
    TempDir dir;
    writeCertificate(dir.path("enc.pem"), "/CN=Secret", "20100105000000Z", "20111231000000Z",
                     "password");
    Names n = namesOf(dir.path("enc.pem"));
    EXPECT_EQ(n.result, -1);
    EXPECT_EQ(n.err, "D [QOR] PEM_read failed?!\n");
}

TEST(CertNames, ValidityDateOutsideThirteenToTwentyCharactersFailsTheName) {
    TempDir dir;
    // An 11-character time text and a 21-character one.
    writeCertificate(dir.path("a.pem"), "/CN=A", "1001050000Z", "20111231000000Z");
    Names a = namesOf(dir.path("a.pem"));
    EXPECT_EQ(a.result, -1);
    EXPECT_EQ(a.full, "unset");
    EXPECT_EQ(a.err, "D [QOR] Unreadable validity date in '" + dir.path("a.pem") + "'\n");
    writeCertificate(dir.path("b.pem"), "/CN=B", "20100105000000Z", "201112310000000000000");
    Names b = namesOf(dir.path("b.pem"));
    EXPECT_EQ(b.result, -1);
    EXPECT_EQ(b.common, "unset");
    EXPECT_NE(b.err.find("Unreadable validity date"), std::string::npos) << b.err;
}

TEST(Asn1Date, ReadsBothTimeFormsAndRefusesTheRest) {
    auto date = [](const std::string& text) {
        int y = -1, m = -1, d = -1;
        bool ok = readAsn1Date(ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                               y, m, d);
        return ok ? std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d)
                  : std::string("refused");
    };
    EXPECT_EQ(date("100105000000Z"), "2010-1-5");
    EXPECT_EQ(date("500105000000Z"), "1950-1-5");
    EXPECT_EQ(date("20100105000000Z"), "2010-1-5");
    EXPECT_EQ(date("20100105000000.123+0100"), "refused");  // 23 characters
    EXPECT_EQ(date("2010010500000000000Z"), "2010-1-5");    // 20 characters
    EXPECT_EQ(date("1001050000Z0"), "refused");             // 12 characters
    EXPECT_EQ(date(""), "refused");
    EXPECT_EQ(date("1x0105000000Z"), "refused");
    EXPECT_EQ(date("101305000000Z"), "refused");
    EXPECT_EQ(date("100100000000Z"), "refused");
    EXPECT_EQ(date("100132000000Z"), "refused");
}

TEST(ValidityTag, FixedWidthDaysAndMonthNames) {
    EXPECT_EQ(validityTag(2010, 1, 5, 2011, 12, 31), "Jan__5_2010_To_Dec_31_2011");
    EXPECT_EQ(validityTag(999, 6, 10, 2024, 2, 9), "Jun_10_0999_To_Feb__9_2024");
    EXPECT_EQ(validityTag(2010, 0, 5, 2011, 12, 31), "");
    EXPECT_EQ(validityTag(2010, 1, 5, 2011, 13, 31), "");
}

namespace {

// Runs `read` in a child without a controlling terminal whose standard input
// holds the passphrase, so a passphrase prompt would be answered from it.
// Returns the child's exit status (read's result), or -1 when it had to be
// killed.
int readWithPassphraseOnStdin(const std::function<int()>& read) {
    int feed[2];
    if (::pipe(feed) != 0)
        return -2;
    ::ssize_t wrote = ::write(feed[1], "password\n", 9);
    ::close(feed[1]);
    if (wrote != 9)
        return -2;
    ::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();  // no /dev/tty: a prompt falls back to standard input
        ::dup2(feed[0], 0);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::_exit(read());
    }
    ::close(feed[0]);
    for (int k = 0; k < 200; ++k) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(100 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

}  // namespace

TEST(CertNames, PassphraseOnStandardInputIsNeverAskedFor) {
    TempDir dir;
    std::string path = dir.path("enc.pem");
    writeCertificate(path, "/CN=Secret", "20100105000000Z", "20111231000000Z", "password");
    // The setting can answer a prompt: libcrypto's own prompt reads it.
    int control = readWithPassphraseOnStdin([&] {
        BIO* bio = BIO_new_file(path.c_str(), "r");
        X509* cert = PEM_read_bio_X509_AUX(bio, nullptr, nullptr, nullptr);
        int ok = cert != nullptr;
        X509_free(cert);
        BIO_free(bio);
        return ok ? 10 : 20;
    });
    ASSERT_EQ(control, 10) << "libcrypto did not read the passphrase from standard input";
    int result = readWithPassphraseOnStdin([&] {
        std::string common, full;
        return getCertNames(path, common, full) == 0 ? 10 : 20;
    });
    EXPECT_EQ(result, 20);
}
