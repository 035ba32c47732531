#include "SurveyApplication.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qor {

const char kFieldSeparator[] = "&&:&&";
const char kRecordEnd[] = "&&::&&";

const char kUsageText[] =
    "\n"
    "  qorlist \n"
    "      Searches for available wireless network devices.\n"
    "\n"
    "  USAGE:\n"
    "      qorlist -h\n"
    "      qorlist [-x] [USB_PATH]\n"
    "\n"
    "  OPTIONS:\n"
    "      -h           Displays this help.\n"
    "      -x           Dislplays the found site in row.\n"
    "      USB_PATH     Path of the usb of the printer.\n"
    "\n";

const std::vector<std::string>& qorConfPaths() {
    static const std::vector<std::string> paths = {
        "/usr/local/corvane/qor_v2/bin/.scripts/qor.conf",
        "/usr/local/tamo/qor_v2/bin/.scripts/qor.conf",
        "/usr/local/printer/qor_v2/bin/.scripts/qor.conf",
    };
    return paths;
}

namespace {

// The whole of a regular file, or false when it can't be opened or read.
// Non-blocking open so that a FIFO at the path can't stall the lister.
bool readRegularFile(const std::string& path, std::string& contents) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    contents.clear();
    char chunk[4096];
    while (ok) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        contents.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

}  // namespace

int readAdhocFlag(const std::vector<std::string>& paths) {
    int flag = 1;
    std::string contents;
    bool found = false;
    for (const std::string& path : paths) {
        if (readRegularFile(path, contents)) {
            found = true;
            break;
        }
    }
    if (!found)
        return flag;

    // Only newline-terminated lines count; the value starts after "ADHOC=".
    size_t lineStart = 0;
    for (size_t newline = contents.find('\n'); newline != std::string::npos;
         lineStart = newline + 1, newline = contents.find('\n', lineStart)) {
        std::string line = contents.substr(lineStart, newline - lineStart);
        if (line.find("ADHOC") == std::string::npos || line.size() < 6)
            continue;
        flag = line.substr(6) == "1" ? 1 : 0;
    }
    return flag;
}

// ---- site list --------------------------------------------------------------

int SiteList::parse(CellsInterface& parser, const uint8_t* data, int length) {
    m_Parser = &parser;
    m_Count = parser.parse(data, length);
    for (int i = 0; i < m_Count; ++i) {
        SiteRecord record;
        parser.fillRecord(record, i);
        if (!record.ssid.empty())
            m_Records.push_back(record);
    }
    return m_Count;
}

void SiteList::printLines(std::FILE* out) const {
    if (m_Parser == nullptr)
        return;
    std::string line;
    for (int i = 0; i < m_Count; ++i) {
        m_Parser->cellText(line, i);
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    }
}

void SiteList::printRow(std::FILE* out, const std::string& separator, int adhocFlag) const {
    for (const SiteRecord& site : m_Records) {
        if (adhocFlag == 0 && site.mode == "Ad-Hoc")
            continue;
        std::string row = "ssid=" + site.ssid + separator + "channel=" + site.channel + separator +
                          "mode=" + site.mode + separator + "signal=" + site.signal + separator +
                          "security=" + site.security + kRecordEnd + "\n";
        std::fwrite(row.data(), 1, row.size(), out);
    }
}

void SiteList::printRow(std::FILE* out, const std::string& separator) const {
    printRow(out, separator, readAdhocFlag(qorConfPaths()));
}

// ---- tasks ------------------------------------------------------------------

ScanSites::ScanSites(SurveyApplication& application, int rowMode)
    : m_Application(application), m_RowMode(rowMode) {}

int ScanSites::run() {
    m_Data.clear();
    WirelessDeviceInterface* device = m_Application.device();
    m_Length = device != nullptr ? device->readSurvey(m_Data) : -1;
    return m_Length;
}

void ScanSites::print() {
    CellsInterface* parser = m_Application.parser();
    if (m_Length <= 0 || parser == nullptr)
        return;
    int length =
        m_Length <= static_cast<int>(m_Data.size()) ? m_Length : static_cast<int>(m_Data.size());
    if (m_Sites.parse(*parser, m_Data.data(), length) <= 0)
        return;
    if (m_RowMode)
        m_Sites.printRow(m_Application.output(), kFieldSeparator);
    else
        m_Sites.printLines(m_Application.output());
}

int ScanSites::runAlternate() {
    WirelessDeviceInterface* device = m_Application.device();
    if (device == nullptr)
        return 0;
    std::vector<uint8_t> scratch(20000, 0);
    return device->surveyOnce(scratch.data(), scratch.size());
}

DeviceNetConnection::DeviceNetConnection(SurveyApplication& application)
    : m_Application(application) {}

int DeviceNetConnection::run() {
    WirelessDeviceInterface* device = m_Application.device();
    uint8_t buffer[512] = {};
    m_Result = device != nullptr ? device->wifiSupport(buffer, sizeof buffer) : -1;
    return m_Result;
}

void DeviceNetConnection::print() {
    std::fprintf(m_Application.output(), "wifisupport:%d\n", m_Result);
}

int DeviceNetConnection::runAlternate() {
    return run();
}

// ---- application ------------------------------------------------------------

SurveyApplication::SurveyApplication(const ArgumentList& arguments, const ChannelMaker& channels,
                                     std::FILE* out)
    : m_Arguments(new ArgumentList(arguments)), m_Channels(channels), m_Out(out) {
    selectDevice(0);
    selectParser(0);
}

SurveyApplication::~SurveyApplication() {
    // Task first: it refers to the device and parser; the device last, so its
    // release of the transport is the final one.
    m_Task.reset();
    m_Arguments.reset();
    m_Parser.reset();
    m_Device.reset();
}

int SurveyApplication::selectDevice(int kind) {
    m_Device.reset();
    std::string path = m_Arguments->devicePath();
    if (kind == 0) {
        m_Device.reset(new ISDWirelessDevice(m_Channels(path)));
        return 1;
    }
    m_Device.reset(new PSSDWirelessDevice(m_Channels(path)));
    return 2;
}

void SurveyApplication::selectParser(int kind) {
    m_Parser.reset();
    if (kind == 0)
        m_Parser.reset(new ISDCells);
    else
        m_Parser.reset(new PSSDCells);
}

QORListTask* SurveyApplication::makeTask() {
    m_Task.reset();
    if (m_Arguments->hasFlag("-m")) {
        if (m_Device)
            m_Task.reset(new DeviceNetConnection(*this));
    } else if (m_Device && m_Parser) {
        m_Task.reset(new ScanSites(*this, m_Arguments->hasFlag("-x")));
    }
    return m_Task.get();
}

int runSurveyLister(int argc, const char* const* argv, const ChannelMaker& channels,
                    std::FILE* out) {
    ArgumentList arguments(argc, argv);
    if (arguments.wantsUsage()) {
        std::fputs(kUsageText, out);
        std::fflush(out);
        return 0;
    }

    SurveyApplication application(arguments, channels, out);
    QORListTask* task = application.makeTask();
    if (task == nullptr)
        return 0;

    // The forwarding kind first; the direct kind only when it failed. A
    // success from either leaves the forwarding device selected (ctype 2)
    // with the parser of the kind that answered.
    int ctype = 0;
    application.selectDevice(1);
    application.selectParser(1);
    int result = task->run();
    if (result == -1) {
        ctype = application.selectDevice(0);
        application.selectParser(0);
        result = task->run();
    }
    if (result > 0) {
        ctype = application.selectDevice(1);
        task->print();
    }
    std::fprintf(out, "CTYPE=%d%s", ctype, kRecordEnd);
    std::fflush(out);
    return 0;
}

}  // namespace qor
