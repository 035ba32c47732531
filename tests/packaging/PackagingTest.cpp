// What `cmake --install` and the Debian package put where: the backend under
// every configured name as hard links of one file in the spooler's backend
// folder, the two USB programs in the binary folder, the manual pages and
// the README; the package's dependencies; and the package installed into
// this machine with dpkg, run, and removed again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <thread>

#include "../cups/BackendNames.h"
#include "../cups/ProcessRun.h"

using namespace qortest;

namespace {

mode_t backendMode() {
    return static_cast<mode_t>(strtol(QOR_BACKEND_MODE, nullptr, 8));
}

// The regular files a staged tree must hold (relative to the root, with
// prefix /usr), and their modes.
std::map<std::string, mode_t> expectedFiles() {
    std::map<std::string, mode_t> files = {
        {"usr/bin/qorlist", 0755},
        {"usr/bin/qorconfig", 0755},
        {"usr/share/man/man8/netbackend.8", 0644},
        {"usr/share/man/man1/qorlist.1", 0644},
        {"usr/share/man/man1/qorconfig.1", 0644},
        {"usr/share/doc/qorprint/README.md", 0644},
    };
    std::string backendDir = std::string(QOR_CUPS_BACKEND_DIR).substr(1);
    for (const std::string& name : installNames())
        files[backendDir + "/" + name] = backendMode();
    return files;
}

// Every regular file under root, relative to it.
void listFiles(const std::string& root, std::set<std::string>& files) {
    RunResult found = runProgram({"find", root, "-type", "f", "-printf", "%P\\n"}, 30);
    for (const std::string& line : splitLines(found.out))
        files.insert(line);
    RunResult links = runProgram({"find", root, "-type", "l", "-printf", "%P\\n"}, 30);
    EXPECT_EQ("", links.out) << "no symbolic links are installed";
}

// Checks a staged tree: exactly the expected files with their modes, and the
// backend names sharing one inode.
void checkTree(const std::string& root) {
    std::set<std::string> files;
    listFiles(root, files);
    std::set<std::string> want;
    for (const auto& [path, mode] : expectedFiles()) {
        want.insert(path);
        struct stat st;
        ASSERT_EQ(0, lstat((root + "/" + path).c_str(), &st)) << path;
        EXPECT_EQ(mode, st.st_mode & 07777) << path;
    }
    EXPECT_EQ(want, files);
    std::string backendDir = root + QOR_CUPS_BACKEND_DIR;
    std::vector<std::string> names = installNames();
    struct stat first;
    ASSERT_EQ(0, stat((backendDir + "/" + names[0]).c_str(), &first));
    EXPECT_EQ(static_cast<nlink_t>(names.size()), first.st_nlink);
    for (const std::string& name : names) {
        struct stat st;
        ASSERT_EQ(0, stat((backendDir + "/" + name).c_str(), &st));
        EXPECT_EQ(first.st_ino, st.st_ino) << name;
    }
}

class Packaging : public ::testing::Test {
  protected:
    std::string m_Dir;

    void SetUp() override {
        char pattern[] = "/tmp/qorpkg.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        m_Dir = pattern;
    }

    void TearDown() override {
        if (m_Dir.rfind("/tmp/qorpkg.", 0) == 0)
            runProgram({"rm", "-rf", m_Dir}, 60);
    }

    std::string buildPackage() {
        RunResult pack = runProgram({QOR_CPACK_COMMAND, "-G", "DEB", "--config",
                                     buildDir() + "/CPackConfig.cmake", "-B", m_Dir + "/out"},
                                    300);
        EXPECT_EQ(0, pack.status) << pack.out << pack.err;
        RunResult arch = runProgram({"dpkg", "--print-architecture"}, 10);
        std::string deb = m_Dir + "/out/qorprint_" QOR_VERSION "_" +
                          arch.out.substr(0, arch.out.find('\n')) + ".deb";
        EXPECT_EQ(0, access(deb.c_str(), R_OK)) << pack.out;
        return deb;
    }
};

TEST_F(Packaging, CmakeInstallStagesEveryFileWithItsMode) {
    RunResult install = runProgram({QOR_CMAKE_COMMAND, "--install", buildDir(), "--prefix", "/usr"},
                                   120, {"DESTDIR=" + m_Dir + "/stage"});
    ASSERT_EQ(0, install.status) << install.out << install.err;
    checkTree(m_Dir + "/stage");
}

TEST_F(Packaging, DebianPackageHoldsHardLinksAndDependencies) {
    std::string deb = buildPackage();
    ASSERT_FALSE(HasFailure());

    RunResult fields = runProgram({"dpkg-deb", "-f", deb, "Package", "Version", "Depends"}, 20);
    ASSERT_EQ(0, fields.status) << fields.err;
    EXPECT_EQ("Package: qorprint\nVersion: " QOR_VERSION
              "\nDepends: libc6, libusb-0.1-4, libssl3 | libssl3t64\n",
              fields.out);

    // In the archive the names after the first are hard-link entries.
    RunResult contents = runProgram({"dpkg-deb", "-c", deb}, 20);
    ASSERT_EQ(0, contents.status) << contents.err;
    std::vector<std::string> names = installNames();
    std::string backendDir = std::string(".") + QOR_CUPS_BACKEND_DIR + "/";
    size_t linkEntries = 0;
    for (const std::string& line : splitLines(contents.out)) {
        EXPECT_NE('l', line[0]) << "symbolic link in the package: " << line;
        EXPECT_NE(std::string::npos, line.find(" root/root ")) << line;
        if (line[0] == 'h') {
            ++linkEntries;
            EXPECT_NE(std::string::npos, line.find(" link to " + backendDir)) << line;
        }
    }
    EXPECT_EQ(names.size() - 1, linkEntries) << contents.out;

    RunResult extract = runProgram({"dpkg-deb", "-x", deb, m_Dir + "/x"}, 60);
    ASSERT_EQ(0, extract.status) << extract.err;
    checkTree(m_Dir + "/x");
}

// Runs dpkg, waiting while another package tool holds its lock.
RunResult dpkg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"dpkg"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r;
    for (int attempt = 0; attempt < 60; ++attempt) {
        r = runProgram(argv, 120, {"DEBIAN_FRONTEND=noninteractive"});
        if (r.status == 0 || r.err.find("lock") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    return r;
}

TEST_F(Packaging, InstallsIntoTheMachineAndRemovesCleanly) {
    std::string deb = buildPackage();
    ASSERT_FALSE(HasFailure());
    RunResult install = dpkg({"-i", deb});
    struct Remove {
        ~Remove() { dpkg({"-r", "qorprint"}); }
    } removeAtEnd;
    ASSERT_EQ(0, install.status) << install.out << install.err;

    RunResult owned = runProgram({"dpkg", "-L", "qorprint"}, 20);
    for (const auto& [path, mode] : expectedFiles()) {
        EXPECT_NE(std::string::npos, owned.out.find("/" + path + "\n")) << path;
        struct stat st;
        ASSERT_EQ(0, lstat(("/" + path).c_str(), &st)) << path;
        EXPECT_EQ(mode, st.st_mode & 07777) << path;
    }
    std::vector<std::string> names = installNames();
    struct stat first;
    ASSERT_EQ(0, stat((std::string(QOR_CUPS_BACKEND_DIR) + "/" + names[0]).c_str(), &first));
    EXPECT_EQ(static_cast<nlink_t>(names.size()), first.st_nlink);

    // The version query runs no discovery; every name answers it.
    for (const std::string& name : names) {
        RunResult version = runProgram({std::string(QOR_CUPS_BACKEND_DIR) + "/" + name, "-v"}, 10);
        EXPECT_EQ(0, version.status) << name;
        EXPECT_EQ("2.2\n", version.out) << name;
    }
    RunResult help = runProgram({"/usr/bin/qorlist", "-h"}, 10);
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(
        "\n  qorlist \n      Searches for available wireless network devices.\n\n  USAGE:\n"
        "      qorlist -h\n      qorlist [-x] [USB_PATH]\n\n  OPTIONS:\n"
        "      -h           Displays this help.\n"
        "      -x           Dislplays the found site in row.\n"
        "      USB_PATH     Path of the usb of the printer.\n\n",
        help.out);
    RunResult usage = runProgram({"/usr/bin/qorconfig"}, 10);
    EXPECT_EQ(0, usage.status);
    EXPECT_EQ(0u, usage.out.find("\n  qorconfig\n\tConfigures printer")) << usage.out;
    RunResult where = runProgram({"man", "-w", "netbackend"}, 10);
    EXPECT_EQ("/usr/share/man/man8/netbackend.8\n", where.out) << where.err;

    RunResult remove = dpkg({"-r", "qorprint"});
    ASSERT_EQ(0, remove.status) << remove.err;
    for (const auto& [path, mode] : expectedFiles())
        EXPECT_NE(0, access(("/" + path).c_str(), F_OK)) << path << " left after removal";
}

}  // namespace
