// The configuration flows and status polls of qorconfig.
//
// Results: -1 no reply or an error reply (flags 0xD4), 0 success, a
// positive value when a reply came but showed no success in the tries.
// Read answers count only in the form the printer promises (their data are
// checked against the request); every flow leaves the configurator's
// outcome saying why it gave up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
// The top-level flow: prints its progress lines, configures, waits for the
// connection and prints "IP-ADDRESS : <address>" with an address received.
// Stops at the first step that fails, ending the progress line. Returns 0
// (joined, address printed), -1 when the configuration got no answer at all,
// 1 otherwise (refused, not joined, no address, silent after configuring).
int configurePrinter(WirelessConfigurator& configurator);

int showSsid(WirelessConfigurator& configurator);       // -s
int waitAdapter(WirelessConfigurator& configurator);    // -a
int waitConnected(WirelessConfigurator& configurator);  // -t
int showIpAddress(WirelessConfigurator& configurator);  // -ip
// The address polls of -ip without printing: 0 and `address` in dotted form,
// or -1 (no answer at all, or an error answer) or 1.
int readIpAddress(WirelessConfigurator& configurator, std::string& address);
int resetPrinter(WirelessConfigurator& configurator);  // -r

// The line (without "qorconfig: ") that tells the user why a command gave
// up; empty for Failure::None. `path` is the device path.
std::string describeOutcome(const Outcome& outcome, const std::string& path);

}  // namespace qor
