// The process's single USB transport over a connector.
#pragma once

#include "CommTransport.h"
#include "HCIOConnector.h"

namespace qor {

class HCUSBTransport : public CommTransport {
  public:
    // The shared instance: created on first use, one count per holder.
    static HCUSBTransport* getInstance();
    // Drops one count; the last release writes
    // "D [QOR] Destroying last instance of usb transport.\n" to standard
    // error and deletes the instance.
    static void releaseInstance();

    int open(const std::string& path) override;
    int close() override;
    int read(uint8_t* buffer, size_t size) override;
    int write(const uint8_t* buffer, size_t size) override;
    ~HCUSBTransport() override;

    // The current connector (null before the first open or after a path
    // that names no connector).
    HCIOConnector* connector() const { return m_Connector; }
    // Replaces the connector with `connector` (owned from now on; the old
    // one is closed and deleted). For tests that bring their own pipe.
    void adoptConnector(HCIOConnector* connector);

  private:
    HCUSBTransport() = default;
    HCIOConnector* m_Connector = nullptr;
    static HCUSBTransport* m_Instance;
    static int m_RefCount;
};

}  // namespace qor
