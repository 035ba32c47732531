// The site survey lister: the application object with its current device and
// parser, the two tasks, the site list and its line and row outputs.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ArgumentList.h"
#include "SurveyCells.h"
#include "WirelessDevice.h"

namespace qor {

// Field separator of the row output; records end with kRecordEnd.
extern const char kFieldSeparator[];  // "&&:&&"
extern const char kRecordEnd[];       // "&&::&&"

// The places searched, in order, for qor.conf.
const std::vector<std::string>& qorConfPaths();

// The ad-hoc flag from the first readable regular file of `paths`: 1 unless a
// newline-terminated line containing "ADHOC" has a value (from its seventh
// character on) other than exactly "1"; the last such line counts. A line
// shorter than six characters has no value and is ignored. A missing,
// unreadable or non-regular file counts as missing. Files are only read.
int readAdhocFlag(const std::vector<std::string>& paths);

// The sites of one survey as the parser found them.
class SiteList {
  public:
    // Parses `length` bytes with `parser` and keeps the records whose ssid is
    // not empty, in survey order. Returns the parser's cell count (which the
    // line output goes by), not the number of records kept.
    int parse(CellsInterface& parser, const uint8_t* data, int length);
    // Each cell's text as the parser holds it, one per line.
    void printLines(std::FILE* out) const;
    // One line of named fields per kept record; with `adhocFlag` 0 the
    // records whose mode is exactly "Ad-Hoc" are left out.
    void printRow(std::FILE* out, const std::string& separator, int adhocFlag) const;
    // As above with the flag read from qor.conf.
    void printRow(std::FILE* out, const std::string& separator) const;

    int count() const { return m_Count; }
    const std::vector<SiteRecord>& records() const { return m_Records; }

  private:
    int m_Count = 0;
    std::vector<SiteRecord> m_Records;
    const CellsInterface* m_Parser = nullptr;
};

class SurveyApplication;

class QORListTask {
  public:
    // Talks to the device; returns the device's result (-1 on failure).
    virtual int run() = 0;
    // Writes the task's output to the application's output stream.
    virtual void print() = 0;
    // The task's other request; see the derived tasks.
    virtual int runAlternate() = 0;
    virtual ~QORListTask() = default;
};

// Lists the sites of a survey.
class ScanSites : public QORListTask {
  public:
    ScanSites(SurveyApplication& application, int rowMode);
    // The current device's survey into m_Data; returns its length or -1.
    int run() override;
    // When a survey was read and the current parser finds cells in it: the
    // row output with m_RowMode, else the line output. Otherwise nothing.
    void print() override;
    // One-shot survey into a scratch buffer; returns the device's result, 0
    // without a device.
    int runAlternate() override;

    const SiteList& sites() const { return m_Sites; }

  private:
    SurveyApplication& m_Application;
    int m_RowMode;
    std::vector<uint8_t> m_Data;
    int m_Length = -1;
    SiteList m_Sites;
};

// Asks whether the printer supports wireless.
class DeviceNetConnection : public QORListTask {
  public:
    explicit DeviceNetConnection(SurveyApplication& application);
    // The current device's support query with a 512-byte buffer.
    int run() override;
    // "wifisupport:%d\n".
    void print() override;
    int runAlternate() override;

  private:
    SurveyApplication& m_Application;
    int m_Result = 0;
};

class SurveyApplication {
  public:
    // Selects the direct kind of device and parser over the arguments' path.
    SurveyApplication(const ArgumentList& arguments, const ChannelMaker& channels, std::FILE* out);
    ~SurveyApplication();
    SurveyApplication(const SurveyApplication&) = delete;
    SurveyApplication& operator=(const SurveyApplication&) = delete;

    // Replaces the device: kind 0 the direct kind (returns 1), kind 1 the
    // forwarding kind (returns 2). The old device is deleted first.
    int selectDevice(int kind);
    // Replaces the parser: kind 0 ISDCells, kind 1 PSSDCells.
    void selectParser(int kind);
    // A ScanSites (row mode from "-x"), or with "-m" a DeviceNetConnection;
    // null when the device or parser it needs is missing. Kept in m_Task.
    QORListTask* makeTask();

    WirelessDeviceInterface* device() { return m_Device.get(); }
    CellsInterface* parser() { return m_Parser.get(); }
    const ArgumentList& arguments() const { return *m_Arguments; }
    std::FILE* output() { return m_Out; }

  private:
    std::unique_ptr<QORListTask> m_Task;
    std::unique_ptr<WirelessDeviceInterface> m_Device;
    std::unique_ptr<CellsInterface> m_Parser;
    std::unique_ptr<ArgumentList> m_Arguments;
    ChannelMaker m_Channels;
    std::FILE* m_Out;
};

// The usage text, byte for byte.
extern const char kUsageText[];

// The whole program: usage for a first "-h"; otherwise the forwarding kind,
// then the direct kind when that failed, the output, and "CTYPE=%d&&::&&"
// without a newline. Returns the exit status (always 0).
int runSurveyLister(int argc, const char* const* argv, const ChannelMaker& channels,
                    std::FILE* out);

}  // namespace qor
