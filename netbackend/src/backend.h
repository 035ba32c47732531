// Entry of the network backend: the spooler's backend convention.
//
// Fewer than 6 arguments: listing mode, one device line per accepted printer
// on standard output as each answer arrives. 6 or more: job mode, finds the
// printer named by DEVICE_URI and execs the spooler's socket backend with
// "socket://<ip>".
#pragma once

#include <string>

#include "hcp.h"

// Version printed for a "-v..." query.
constexpr double kBackendVersion = 2.2;

// True when text is only digits and dots with exactly three dots.
bool isDottedAddress(const std::string& text);

// True when inet_pton reads text as an IPv4 address (four numbers 0-255).
bool isValidIpv4(const std::string& text);

// Control characters (below 0x20 and 0x7F) become blanks.
std::string blankControls(const std::string& text);

// blankControls, and a backslash before each double quote or backslash.
std::string quoteField(const std::string& text);

// The device line (without its newline) for device number n.
std::string formatDeviceLine(int n, const std::string& scheme, const HcpDevice& device);

// Splits DEVICE_URI: scheme before the first "://" (the whole value without
// one), target after the first "//" ("" without one).
void splitDeviceUri(const std::string& uri, std::string& scheme, std::string& target);

// Exec path "<serverbin>/backend/socket"; serverbin null means /usr/lib/cups.
std::string socketBackendPath(const char* serverbin);

// Runs the backend; returns the exit status (does not return after a
// successful exec).
int runBackend(int argc, char** argv);
