// The printer's wireless adapter as the site survey lister sees it: the NPA
// requests of the survey and of the wireless-support query, in the two kinds
// of printer (direct E0 D8 queries, or the same queries forwarded to
// sub-channel 2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CommTransport.h"

namespace qor {

// Where a device gets its transport and how it waits between request and
// reply. The default (sharedUsbEnvironment) holds the process's shared
// HCUSBTransport and really sleeps; tests give a scripted transport and a
// recording sleeper.
class DeviceEnvironment {
  public:
    // One hold on the transport; never null. Paired with releaseTransport.
    virtual CommTransport* acquireTransport() = 0;
    virtual void releaseTransport() = 0;
    // Waits `milliseconds`; may block for that long and no longer.
    virtual void sleepMs(unsigned milliseconds) = 0;
    virtual ~DeviceEnvironment() = default;
};

// The process's shared USB transport (getInstance / releaseInstance) and
// real sleeps.
DeviceEnvironment& sharedUsbEnvironment();

// Request packets, byte for byte.
namespace survey_requests {
// A5 len=6, flags 50, class E0, D8 query of the site survey (00 28 39).
extern const uint8_t kSurveyQuery[9];
// E0 81 support query of the direct kind.
extern const uint8_t kDirectSupportQuery[10];
// E0 63 forward to sub-channel 2 of an inner 9-byte D8 query (00 28 01).
extern const uint8_t kForwardedSupportQuery[18];
// A wake-up packet with flags 80, the forward header, then the survey query.
extern const uint8_t kForwardedSurvey[37];
}  // namespace survey_requests

class WirelessDeviceInterface {
  public:
    // Takes one hold on the environment's transport for the device's life.
    WirelessDeviceInterface(const std::string& path, DeviceEnvironment& environment);
    // Gives the hold back (the last holder of the shared transport deletes it).
    virtual ~WirelessDeviceInterface();
    WirelessDeviceInterface(const WirelessDeviceInterface&) = delete;
    WirelessDeviceInterface& operator=(const WirelessDeviceInterface&) = delete;

    // One survey request and one read into `buffer`; see the derived kinds.
    virtual int surveyOnce(uint8_t* buffer, size_t capacity) = 0;
    // The survey text: `out` receives the kept reply bytes and their count is
    // returned, or -1 when nothing was kept (out then empty). Blocks for the
    // request's sleep and reply window (a few seconds).
    virtual int readSurvey(std::vector<uint8_t>& out);
    // As surveyOnce with a longer wait; see the derived kinds.
    virtual int surveyOnceWait(uint8_t* buffer, size_t capacity) = 0;
    // Whether the printer supports wireless; the reply is read into `buffer`.
    virtual int wifiSupport(uint8_t* buffer, size_t capacity) = 0;

    const std::string& path() const { return m_Path; }

  protected:
    CommTransport& transport() { return *m_Transport; }
    DeviceEnvironment& environment() { return m_Environment; }

    std::string m_Path;

  private:
    DeviceEnvironment& m_Environment;
    CommTransport* m_Transport;
};

// The direct kind: E0 D8 queries straight to the adapter.
class ISDWirelessDevice : public WirelessDeviceInterface {
  public:
    explicit ISDWirelessDevice(const std::string& path,
                               DeviceEnvironment& environment = sharedUsbEnvironment());

    // Survey query, 3 s, one read. -1 for a D8/E0 error echo, 0 when the
    // device can't be opened, else the bytes read.
    int surveyOnce(uint8_t* buffer, size_t capacity) override;
    // Survey query, 1.5 s, then whole-header packets for 3 s; the first packet
    // echoing 50 E0 D8 00 28 39 gives its data (length at body bytes 6-7).
    int readSurvey(std::vector<uint8_t>& out) override;
    // As surveyOnce with 5 s; fewer than 9 bytes give -1.
    int surveyOnceWait(uint8_t* buffer, size_t capacity) override;
    // Up to five query/read rounds until a 12-byte reply; -1 on a D4/E0 error,
    // a reply of 10 bytes or fewer, or one that does not echo the query;
    // otherwise the reply's last byte (0-255).
    int wifiSupport(uint8_t* buffer, size_t capacity) override;
};

// The forwarding kind: queries wrapped in E0 63 packets for sub-channel 2.
class PSSDWirelessDevice : public WirelessDeviceInterface {
  public:
    explicit PSSDWirelessDevice(const std::string& path,
                                DeviceEnvironment& environment = sharedUsbEnvironment());

    // Up to five rounds of the forwarded survey, 2 s, one read, until 100
    // bytes came; -1 on a D4 reply or fewer than 37 bytes, else the bytes read.
    int surveyOnce(uint8_t* buffer, size_t capacity) override;
    // Forwarded survey, 2 s, whole-header packets for 4 s: a forwarded survey
    // reply gives its body from byte 18, any other E0 reply its body from byte
    // 2; packets flagged 0x20 announce more.
    int readSurvey(std::vector<uint8_t>& out) override;
    // Sends nothing; returns 0.
    int surveyOnceWait(uint8_t* buffer, size_t capacity) override;
    // Forwarded support query, 1 s, one read: 2 when more than 18 bytes came
    // and the last is 1, else -1.
    int wifiSupport(uint8_t* buffer, size_t capacity) override;
};

}  // namespace qor
