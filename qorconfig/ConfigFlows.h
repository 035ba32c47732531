// The configuration flows and status polls of qorconfig.
//
// Results: -1 no reply or an error reply (flags 0xD4), 0 success, a
// positive value when a reply came but showed no success in the tries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "WirelessConfigurator.h"

namespace qor {

// The flags byte of the printer's error reply.
constexpr uint8_t kErrorReplyFlags = 0xD4;

// One exchange (sleep 5 s, 1000 bytes): -1 for no reply or an error reply,
// 0 when the last byte is 0x01, else 1.
int sendConfig(WirelessConfigurator& configurator, const std::vector<uint8_t>& request);

int basicConfig(WirelessConfigurator& configurator);     // -c
int advancedConfig(WirelessConfigurator& configurator);  // -ca
int configureOpen(WirelessConfigurator& configurator);
int configureShared(WirelessConfigurator& configurator);
int configureWpaPersonal(WirelessConfigurator& configurator);
int configureWpaEnterprise(WirelessConfigurator& configurator);
int set8021xOptions(WirelessConfigurator& configurator);
int configure8021x(WirelessConfigurator& configurator);
// The top-level flow: prints its progress lines, configures, waits and
// shows the address. Returns the length of the basic message.
int configurePrinter(WirelessConfigurator& configurator);

int showSsid(WirelessConfigurator& configurator);       // -s
int waitAdapter(WirelessConfigurator& configurator);    // -a
int waitConnected(WirelessConfigurator& configurator);  // -t
int showIpAddress(WirelessConfigurator& configurator);  // -ip
int resetPrinter(WirelessConfigurator& configurator);   // -r

}  // namespace qor
