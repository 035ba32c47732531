// The printer's wireless adapter as the site survey lister sees it: the NPA
// requests of the survey and of the wireless-support query, in the two kinds
// of printer (direct E0 D8 queries, or the same queries forwarded to
// sub-channel 2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NpaChannel.h"

namespace qor {

// Makes the channel a device talks through, for a device path. The program
// uses sharedUsbChannels (the process's shared USB transport, real time);
// tests hand out channels over a scripted printer.
using ChannelMaker = std::function<std::unique_ptr<NpaChannel>(const std::string& path)>;
const ChannelMaker& sharedUsbChannels();

class WirelessDeviceInterface {
  public:
    // Talks through `channel`, which holds its transport for the device's
    // life (the last holder of the shared transport deletes it).
    explicit WirelessDeviceInterface(std::unique_ptr<NpaChannel> channel);
    virtual ~WirelessDeviceInterface();
    WirelessDeviceInterface(const WirelessDeviceInterface&) = delete;
    WirelessDeviceInterface& operator=(const WirelessDeviceInterface&) = delete;

    // One survey request and one read into `buffer`; see the derived kinds.
    virtual int surveyOnce(uint8_t* buffer, size_t capacity) = 0;
    // The survey text: `out` receives the kept reply bytes and their count is
    // returned, or -1 when nothing was kept (out then empty). Ends with the
    // answer, or after the request's sleep and reply window (a few seconds).
    virtual int readSurvey(std::vector<uint8_t>& out);
    // As surveyOnce with a longer wait; see the derived kinds.
    virtual int surveyOnceWait(uint8_t* buffer, size_t capacity) = 0;
    // Whether the printer supports wireless; the reply is read into `buffer`.
    virtual int wifiSupport(uint8_t* buffer, size_t capacity) = 0;

    const std::string& path() const { return m_Channel->path(); }

  protected:
    NpaChannel& channel() { return *m_Channel; }

  private:
    std::unique_ptr<NpaChannel> m_Channel;
};

// The direct kind: E0 D8 queries straight to the adapter.
class ISDWirelessDevice : public WirelessDeviceInterface {
  public:
    explicit ISDWirelessDevice(const std::string& path);
    explicit ISDWirelessDevice(std::unique_ptr<NpaChannel> channel);

    // (Times below are each request's sleep: the deadline of its answer.)
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
    explicit PSSDWirelessDevice(const std::string& path);
    explicit PSSDWirelessDevice(std::unique_ptr<NpaChannel> channel);

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
