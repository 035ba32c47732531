// How the printer names the CA certificates it holds.
#pragma once

#include <string>

#include "Framing.h"

namespace vprinter {

// The name under which the printer lists an uploaded CA certificate: the
// common name (everything after the first "CN=" of the one-line subject,
// later components included) and the validity period, as in
// PrinterCA_Jan__5_2010_To_Dec_31_2011 (a day below 10 is written "_5", so
// that every tag has the same width). False, with the reason in `why`, when
// the bytes hold no PEM certificate, no common name or unreadable dates.
bool caListName(const Bytes& pem, std::string& name, std::string& why);

// Whether the bytes hold a PEM certificate at all.
bool isPemCertificate(const Bytes& pem);

}  // namespace vprinter
