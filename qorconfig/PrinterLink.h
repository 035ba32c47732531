// The configurator's way to the printer: the NPA channel on one device path.
#pragma once

#include <string>

#include "NpaChannel.h"

namespace qor {

// A device path plus one hold on the process's shared USB transport, taken
// at construction and given back at destruction. An exchange whose open
// fails before the device was ever opened in this run throws
// DeviceUnavailable (the path can't be reached; no try is worth spending).
class PrinterLink : public NpaChannel {
  public:
    explicit PrinterLink(const std::string& path) : NpaChannel(path, Unreachable::Stop) {}
};

}  // namespace qor
