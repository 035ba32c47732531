// The configurator's way to the printer: NPA exchanges on one device path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "NpaExchange.h"

namespace qor {

class CommTransport;
class HCUSBTransport;

// The exchanges a configuration command makes. Tests give a scripted one;
// the program uses PrinterLink over the shared USB transport.
class NpaLink {
  public:
    virtual ~NpaLink() = default;
    // Open, write `request`, read at most `capacity` bytes into `buffer`
    // until the answer is whole or `sleepSeconds` plus the transport's read
    // window have passed, close. Returns the bytes read, or -1 when the device
    // could not be opened.
    virtual int exchangeOnce(const uint8_t* request, size_t length, unsigned sleepSeconds,
                             uint8_t* buffer, size_t capacity) = 0;
    // Writes `request` and collects reply packets for up to `windowSeconds`;
    // `reply` receives the bytes after each packet's flags byte. Returns
    // their count (0 when nothing came or the device could not be opened).
    virtual int exchangeStream(const uint8_t* request, size_t length, std::vector<uint8_t>& reply,
                               unsigned windowSeconds) = 0;
    // Before the next try after an answer that is not yet the awaited state:
    // waits until the earlier exchanges would have ended had each waited its
    // whole sleep and read window (links without a clock return at once).
    virtual void waitOutLastTry() {}
    // What the last exchangeStream met besides the bytes it kept (any byte
    // at all, an error answer); links that can't tell say neither.
    virtual NpaStreamNote lastStreamNote() const { return {}; }
};

// A device path plus one hold on the process's shared USB transport, taken
// at construction and given back at destruction. An exchange whose open
// fails before the device was ever opened in this run throws
// DeviceUnavailable (the path can't be reached; no try is worth spending).
class PrinterLink : public NpaLink {
  public:
    explicit PrinterLink(const std::string& path);
    ~PrinterLink() override;
    PrinterLink(const PrinterLink&) = delete;
    PrinterLink& operator=(const PrinterLink&) = delete;

    int exchangeOnce(const uint8_t* request, size_t length, unsigned sleepSeconds, uint8_t* buffer,
                     size_t capacity) override;
    int exchangeStream(const uint8_t* request, size_t length, std::vector<uint8_t>& reply,
                       unsigned windowSeconds) override;
    NpaStreamNote lastStreamNote() const override { return m_StreamNote; }
    void waitOutLastTry() override { waitOut(m_Timing); }

    const std::string& path() const { return m_Path; }

  private:
    std::string m_Path;
    HCUSBTransport* m_Transport;
    NpaStreamNote m_StreamNote;
    NpaTiming m_Timing;
};

}  // namespace qor
