// The certificate commands of qorconfig end to end, against the virtual
// printer on /dev/usb/lpN (a node the virtual printer makes in its own
// mount namespace): exact output lines, exit statuses, and the requests the
// printer received, from its journal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CertTestFiles.h"
#include "ExpectedRequests.h"
#include "Journal.h"
#include "ProcessRunner.h"

using namespace qor::test;
using ProcessResult = qor::proc::Result;

namespace {

const char kPreambleHex[] = "A5001080A45BA45B10EFA45B11EE00FF13EC2E";
const char kFriendly[] = "AirJoinHelperTool";
// Written when the certificate manager gives back the last hold on the transport.
const char kTransportGone[] = "D [QOR] Destroying last instance of usb transport.\n";

struct CertE2E : ::testing::Test {
    TempDir dir;
    double seconds = 0;  // how long the last run took

    // Runs `command` under a virtual printer with `scenario` on /dev/usb/lp`lp`.
    ProcessResult runUnder(const std::string& scenario, std::vector<std::string> command,
                           int lp = 0) {
        writeFile(dir.path("scenario"), scenario);
        std::vector<std::string> argv = {
            VPRINTER_BIN,        "--scenario", dir.path("scenario"), "--journal",
            dir.path("journal"), "--lp",       std::to_string(lp),   "--"};
        argv.insert(argv.end(), command.begin(), command.end());
        ProcessResult r = qor::proc::run(argv, 90);
        seconds = r.seconds;
        return r;
    }
    ProcessResult run(const std::string& scenario, const std::vector<std::string>& args) {
        std::vector<std::string> command = {QORCONFIG_BIN};
        command.insert(command.end(), args.begin(), args.end());
        return runUnder(scenario, command);
    }
    std::vector<JournalEntry> journal() const {
        return parseJournal(readFile(dir.path("journal")));
    }
    // The certificate manager calls of the journal, checked to be preceded
    // each by the preamble packet and answered.
    std::vector<JournalEntry> certCalls() const {
        std::vector<JournalEntry> all = journal(), calls;
        for (size_t k = 0; k < all.size(); ++k) {
            if (all[k].kind != "certmgr")
                continue;
            EXPECT_TRUE(k > 0 && all[k - 1].kind == "preamble" && all[k - 1].hex == kPreambleHex)
                << "call " << all[k].method << " without the preamble packet before it";
            calls.push_back(all[k]);
        }
        return calls;
    }
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// ---- -rcerdefs ---------------------------------------------------------------

TEST_F(CertE2E, ReadDefaultsPrintsKeyLinesFromAnswerSpreadOverPackets) {
    // Small answer packets: the text arrives in continued packets, each
    // opened by the filler byte.
    ProcessResult r =
        run("cert_chunk = 16\n"
            "cert_default.O = Acme & Sons\ncert_default.OU = Ops\ncert_default.C = DE\n"
            "cert_default.ST = Bavaria\ncert_default.L = Munich\n"
            "cert_default.CN = prn.acme\ncert_default.AN = prn\n",
            {"-rcerdefs"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "cer-org=Acme & Sons\ncer-unit=Ops\ncer-state=Bavaria\ncer-country=DE\n"
              "cer-city=Munich\ncer-altname=prn\ncer-common=prn.acme\n");
    EXPECT_EQ(r.err, kTransportGone);
    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "readCertDefaults");
    EXPECT_EQ(calls[0].hex, hexOf(xmlPacket(expected::k100)));
    EXPECT_TRUE(calls[0].answered);
}

TEST_F(CertE2E, ReadDefaultsOnOtherDeviceNode) {
    ProcessResult r =
        runUnder("cert_default.O = Acme\n", {QORCONFIG_BIN, "-rcerdefs", "/dev/usb/lp3"}, 3);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "cer-org=Acme\n")) << r.out;
    EXPECT_EQ(certCalls().size(), 1u);
}

TEST_F(CertE2E, ReadDefaultsFromMissingDeviceNodeSendsNothing) {
    // The private /dev of the virtual printer holds lp0 only.
    ProcessResult r = runUnder("", {QORCONFIG_BIN, "-rcerdefs", "/dev/usb/lp5"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "D [QOR] Failed to open usb device '/dev/usb/lp5'!\n")) << r.err;
    EXPECT_TRUE(has(r.err,
                    "qorconfig: cannot open the printer at '/dev/usb/lp5': No such file "
                    "or directory\n"))
        << r.err;
    EXPECT_FALSE(has(r.err, "Failed to read certificate defaults")) << r.err;
    EXPECT_TRUE(journal().empty());
}

TEST_F(CertE2E, ReadDefaultsNonSuccessStatus) {
    ProcessResult r = run("cert_status.readCertDefaults = 2 denied\n", {"-rcerdefs"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("D [QOR] Get cert request defaults error 2\nD [QOR] denied\n"
                                 "D [QOR] Failed to read certificate defaults!\n") +
                         kTransportGone);
}

TEST_F(CertE2E, ReadDefaultsAnswerWithWrongHeaderFailsWithCodeZero) {
    // A whole packet of another kind arrives first and ends the answer.
    ProcessResult r = run("fault = certmgr garbage A5000350E0C1\n", {"-rcerdefs"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err,
                    "D [QOR] Get cert request defaults error 0\nD [QOR] \n"
                    "D [QOR] Failed to read certificate defaults!\n"))
        << r.err;
}

TEST_F(CertE2E, ReadDefaultsSilentPrinterFailsAfterItsWindow) {
    ProcessResult r = run("fault = certmgr silent\n", {"-rcerdefs"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "D [QOR] Failed to read certificate defaults!\n")) << r.err;
    // No answer: no status line of the certificate manager.
    EXPECT_FALSE(has(r.err, "defaults error")) << r.err;
    // 2 s after writing, then the 5 s window counted in whole seconds
    // (a 10 s window would take at least 11 s).
    EXPECT_GE(seconds, 5.9);
    EXPECT_LT(seconds, 10.5);
}

// ---- -csr --------------------------------------------------------------------

TEST_F(CertE2E, CsrIsGeneratedExportedAndSaved) {
    std::string path = dir.path("printer.csr");
    ProcessResult r = run(
        "cert_chunk = 24\ncert = AirJoinHelperTool\n",
        {"-csr", "--cer-org=R&D <x>", "--cer-unit=Ops", "--cer-state=Bavaria", "--cer-country=DE",
         "--cer-city=Munich", "--cer-altname=alt", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "D [QOR] usb=\"/dev/usb/lp0\"\n"
              "D [QOR] --cer-org=\"R&D <x>\"\n"
              "D [QOR] --cer-unit=\"Ops\"\n"
              "D [QOR] --cer-state=\"Bavaria\"\n"
              "D [QOR] --cer-country=\"DE\"\n"
              "D [QOR] --cer-city=\"Munich\"\n"
              "D [QOR] --cer-altname=\"alt\"\n"
              "D [QOR] --cer-common=\"prn\"\n"
              "D [QOR] --cer-path=\"" +
                  path +
                  "\"\n"
                  "D [QOR] Certificate Request successfully created! Now saving...\n"
                  "D [QOR] Certificate Request saved to '" +
                  path + "'!\n" + kTransportGone);

    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].xml, fillTemplate(expected::k510, {kFriendly}));
    // Friendly name, O, AN, C, CN, L, OU, ST; subject fields escaped.
    std::string generate = fillTemplate(expected::k200, {kFriendly, "R&amp;D &lt;x&gt;", "alt",
                                                         "DE", "prn", "Munich", "Ops", "Bavaria"});
    EXPECT_EQ(calls[1].xml, generate);
    EXPECT_EQ(calls[1].hex, hexOf(xmlPacket(generate)));
    EXPECT_EQ(calls[2].xml, fillTemplate(expected::k210, {kFriendly}));

    // The printer's request text for this subject, decoded from its answer.
    std::string subject = "/C=DE/ST=Bavaria/L=Munich/O=R&D <x>/OU=Ops/CN=prn";
    EXPECT_EQ(readFile(path), "-----BEGIN CERTIFICATE REQUEST-----\n" + base64Of(subject) +
                                  "\n-----END CERTIFICATE REQUEST-----\n");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0644u & ~mask);
}

TEST_F(CertE2E, CsrGoesOnWhenNoCertificateOfThatNameWasThere) {
    std::string path = dir.path("printer.csr");
    ProcessResult r = run("", {"-csr", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Delete signed cert error 2\nD [QOR] Certificate not found\n"))
        << r.err;
    EXPECT_EQ(certMethods(certCalls()), "deleteIndividualCert generateNewCert exportPubKey");
    EXPECT_FALSE(readFile(path).empty());
}

TEST_F(CertE2E, CsrWithoutPathLeavesThePrinterAlone) {
    ProcessResult r = run("", {"-csr", "--cer-common=prn"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "qorconfig: -csr needs --cer-path=FILE to save the certificate request\n");
    EXPECT_TRUE(journal().empty());
}

TEST_F(CertE2E, CsrExportWaitsItsLongerWindowForAnAnswer) {
    std::string path = dir.path("printer.csr");
    ProcessResult r = run("fault = certmgr:exportPubKey silent\n",
                          {"-csr", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] Error saving Certificate Request to '" + path + "'!\n"))
        << r.err;
    EXPECT_FALSE(has(r.err, "Save Cert Request error")) << r.err;
    EXPECT_EQ(certMethods(certCalls()), "deleteIndividualCert generateNewCert exportPubKey");
    // Two calls that end at their answers, then 2 s and the 10 s window of
    // the silent export (a 5 s window would end the run within 7 s).
    EXPECT_GE(seconds, 11.0);
    EXPECT_LT(seconds, 16.0);
}

TEST_F(CertE2E, CsrGenerationRefusedByPrinter) {
    std::string path = dir.path("printer.csr");
    ProcessResult r = run("cert_status.generateNewCert = 6 no key\n",
                          {"-csr", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err,
                    "D [QOR] Create Certificate Request error 6\nD [QOR] no key\n"
                    "D [QOR] Error creating Certificate Request!\n"))
        << r.err;
    EXPECT_EQ(certMethods(certCalls()), "deleteIndividualCert generateNewCert");
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(CertE2E, CsrExportRefusedByPrinter) {
    std::string path = dir.path("printer.csr");
    ProcessResult r = run("cert_status.exportPubKey = 2 busy\n",
                          {"-csr", "--cer-common=prn", "--cer-path=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err,
                    "D [QOR] Save Cert Request error 2\n\nD [QOR] busy\n\n"
                    "D [QOR] Error saving Certificate Request to '" +
                        path + "'!\n"))
        << r.err;
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

// ---- -icer -------------------------------------------------------------------

TEST_F(CertE2E, InstallCARemovesListedCAOfSameFullNameFirst) {
    std::string path = dir.path("root.pem");
    writeCertificate(path, "/O=Acme/CN=PrinterCA", "100105000000Z", "111231235959Z");
    ProcessResult r =
        run("cert_chunk = 20\nca = Other_CA\nca = PrinterCA_Jan__5_2010_To_Dec_31_2011 | old.pem\n",
            {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "D [QOR] Loading file " + path + ", " + std::to_string(readFile(path).size()) +
                         " bytes\n"
                         "D [QOR] CA Common name to match: "
                         "'PrinterCA_Jan__5_2010_To_Dec_31_2011'\n"
                         "D [QOR] CA cert exist! Removing...\n"
                         "D [QOR] CA/Signed Certificate successfully installed!\n" +
                         kTransportGone);

    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].xml, expected::k420);
    EXPECT_EQ(calls[1].xml, fillTemplate(expected::k410, {"PrinterCA_Jan__5_2010_To_Dec_31_2011"}));
    std::string pem = readFile(path);
    std::string upload =
        fillTemplate(expected::k400, {"root.pem", std::to_string(pem.size()), base64Of(pem)});
    EXPECT_EQ(calls[2].xml, upload);
    EXPECT_EQ(calls[2].hex, hexOf(xmlPacket(upload)));
}

TEST_F(CertE2E, InstallCAWithoutListedNameDeletesNothing) {
    std::string path = dir.path("root.pem");
    writeCertificate(path, "/CN=PrinterCA", "100105000000Z", "111231235959Z");
    ProcessResult r = run("ca = PrinterCA\nca = PrinterCA_Jan__5_2010_To_Dec_31_2012\n",
                          {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has(r.err, "CA cert exist!")) << r.err;
    EXPECT_EQ(certMethods(certCalls()), "queryCAList uploadNewCAFile");
}

TEST_F(CertE2E, InstallWithBothFilesInstallsTheCAOnly) {
    std::string ca = dir.path("ca.pem"), signed_ = dir.path("signed.pem");
    writeCertificate(ca, "/CN=Root", "20200101000000Z", "20300101000000Z");
    writeCertificate(signed_, "/CN=printer", "20240101000000Z", "20300101000000Z");
    ProcessResult r =
        run("", {"-icer", "--802-signed-cer-file=" + signed_, "--802-CA-cer-file=" + ca});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(certMethods(certCalls()), "queryCAList uploadNewCAFile");
    EXPECT_TRUE(has(certCalls().back().xml, "<StringElem>ca.pem</StringElem>"));
}

TEST_F(CertE2E, InstallSignedCertificateUnderDefaultFriendlyName) {
    std::string path = dir.path("signed.pem");
    writeCertificate(path, "/CN=printer", "20240101000000Z", "20300101000000Z");
    ProcessResult r = run("cert_chunk = 8\n", {"-icer", "--802-signed-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string pem = readFile(path);
    EXPECT_EQ(r.err, "D [QOR] Loading file " + path + ", " + std::to_string(pem.size()) +
                         " bytes\nD [QOR] CA/Signed Certificate successfully installed!\n" +
                         kTransportGone);
    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].xml,
              fillTemplate(expected::k500, {kFriendly, std::to_string(pem.size()), base64Of(pem)}));
}

TEST_F(CertE2E, InstallOfMissingFileSendsNothing) {
    for (std::string option : {"--802-CA-cer-file=", "--802-signed-cer-file="}) {
        std::string path = dir.path("missing.pem");
        ProcessResult r = run("", {"-icer", option + path});
        EXPECT_EQ(r.status, 2) << r.err;
        // No certificate manager was made: not even the transport's line.
        EXPECT_EQ(r.err, "D [QOR] File not found! ('" + path + "')\n");
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(journal().empty()) << readFile(dir.path("journal"));
    }
}

TEST_F(CertE2E, InstallWithoutFileOptionSaysSo) {
    ProcessResult r = run("", {"-icer"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "qorconfig: -icer needs --802-CA-cer-file=FILE or --802-signed-cer-file=FILE\n");
    EXPECT_TRUE(journal().empty());
}

TEST_F(CertE2E, InstallOfFileTooLargeForItsRequestSendsNothing) {
    // 12287 bytes: the Base64 text alone fills the 16384-byte buffer. The
    // files are certificates with text before them, as a PEM file may have.
    std::string path = dir.path("big.pem");
    writeCertificate(path, "/CN=Big", "20200101000000Z", "20300101000000Z");
    const std::string pem = readFile(path);
    for (size_t size : {12288u, 12287u}) {
        std::string text;
        while (text.size() + pem.size() < size)
            text +=
                std::string(std::min<size_t>(63, size - pem.size() - text.size() - 1), 'y') + "\n";
        writeFile(path, text + pem);
        ASSERT_EQ(readFile(path).size(), size);
        for (std::string option : {"--802-CA-cer-file=", "--802-signed-cer-file="}) {
            ProcessResult r = run("", {"-icer", option + path});
            EXPECT_EQ(r.status, 1) << size << r.err;
            EXPECT_TRUE(has(
                r.err, "D [QOR] Loading file " + path + ", " + std::to_string(size) + " bytes\n"))
                << r.err;
            EXPECT_TRUE(has(r.err, "D [QOR] Error installing CA/Signed Certificate!\n")) << r.err;
            EXPECT_TRUE(certCalls().empty()) << size << option;
        }
    }
}

TEST_F(CertE2E, InstallOfLargestSendableFile) {
    // The request is the template, the name "ca.pem", the decimal size and
    // the Base64 text, with its NUL, in 16384 bytes.
    std::string name = "ca.pem";
    size_t fixed = std::string(expected::k400).size() - 6 + name.size() + 1;
    size_t largest = 0;
    for (size_t size = 1; size < 12288; ++size)
        if (fixed + std::to_string(size).size() + (size + 2) / 3 * 4 <= 16384)
            largest = size;
    // A certificate brought to that size by explanatory text before it.
    std::string path = dir.path(name);
    writeCertificate(path, "/CN=Big", "20200101000000Z", "20300101000000Z");
    std::string pem = readFile(path);
    auto padded = [&](size_t size) {
        std::string text;
        while (text.size() + pem.size() < size) {
            size_t line = std::min<size_t>(64, size - pem.size() - text.size());
            text += std::string(line - 1, 'y') + "\n";
        }
        return text + pem;
    };
    std::string file = padded(largest);
    ASSERT_EQ(file.size(), largest);
    writeFile(path, file);
    ProcessResult r = run("", {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "queryCAList");
    EXPECT_EQ(calls[1].xml,
              fillTemplate(expected::k400, {name, std::to_string(largest), base64Of(file)}));
    EXPECT_LE(calls[1].xml.size() + 1, 16384u);

    // One byte more does not fit, and nothing goes out.
    writeFile(path, padded(largest + 1));
    r = run("", {"-icer", "--802-CA-cer-file=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] uploadNewCAFile request too long")) << r.err;
    EXPECT_TRUE(certCalls().empty());
}

TEST_F(CertE2E, InstallRefusedByPrinter) {
    std::string path = dir.path("signed.pem");
    writeCertificate(path, "/CN=printer", "20240101000000Z", "20300101000000Z");
    ProcessResult r = run("cert_status.uploadSignedCertFile = 3 store full\n",
                          {"-icer", "--802-signed-cer-file=" + path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err,
                    "D [QOR] Install Signed Cert error 3\nD [QOR] store full\n"
                    "D [QOR] Error installing CA/Signed Certificate!\n"))
        << r.err;
}

// ---- the lists behind the 802.1x certificate check ---------------------------

TEST_F(CertE2E, CertificateListsOverTheRealTransport) {
    std::string scenario = "cert_chunk = 30\nca = Root_A\nca = Root_B\n";
    for (int k = 1; k <= 12; ++k)
        scenario += "cert = cert" + std::to_string(k) + "\n";
    ProcessResult r = runUnder(scenario, {CERT_LISTS_PROBE_BIN, "/dev/usb/lp0"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Index predicates stop at 9: the first nine names.
    std::string certs = "certs 0 9\n";
    for (int k = 1; k <= 9; ++k)
        certs += "cert cert" + std::to_string(k) + "\n";
    EXPECT_EQ(r.out, certs + "cas 0 2\nca Root_A\nca Root_B\n");
    std::vector<JournalEntry> calls = certCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].xml, expected::k520);
    EXPECT_EQ(calls[1].xml, expected::k420);
    EXPECT_TRUE(has(r.err, "D [QOR] List of friendly names (9):\nD [QOR] [0] cert1\n")) << r.err;
}

TEST_F(CertE2E, CertificateListsRefusedByPrinter) {
    ProcessResult r = runUnder("cert_status.queryCertList = 2 no\ncert_status.queryCAList = 3 no\n",
                               {CERT_LISTS_PROBE_BIN, "/dev/usb/lp0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "certs -1 0\ncas -1 0\n");
    EXPECT_TRUE(has(r.err, "D [QOR] Error getting list of friendly names 2\nD [QOR] no\n"))
        << r.err;
    EXPECT_TRUE(has(r.err, "D [QOR] getCACommonNameList error 3\nD [QOR] no\n")) << r.err;
}

TEST_F(CertE2E, CertificateListsNeedADevicePath) {
    ProcessResult r = qor::proc::run({CERT_LISTS_PROBE_BIN, ""}, 30);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "no lists\n");
    EXPECT_EQ(r.err, "D [QOR] Error: No USB device is specified!\n");
}
