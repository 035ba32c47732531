// Entry of the network backend: the spooler's backend convention.
//
// Fewer than 6 arguments: listing mode, one device line per accepted printer
// on standard output as each answer arrives. 6 or more: job mode, finds the
// printer named by DEVICE_URI and execs the spooler's socket backend with
// "socket://<ip>". A printer that does not answer is looked for again, round
// after round, until it answers or the job is cancelled (SIGTERM, status 0);
// only a job of a class (CLASS set) gives up after one round with status 1,
// so that the scheduler can hand it to another printer of the class.
#pragma once

#include <string>

#include "hcp.h"

// Version printed for a "-v..." query.
constexpr double kBackendVersion = 2.2;

// Job mode: each round listens this long for the printer's answer, and
// rounds without one are this far apart.
constexpr long kJobWindowSeconds = 15;
constexpr long kJobPauseSeconds = 10;

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
