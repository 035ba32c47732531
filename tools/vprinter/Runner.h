// Runs a command against the virtual printer: a pseudo-terminal pair whose
// slave is mounted over /dev/usb/lpN in a private mount namespace of the
// command, while this process answers on the master.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "Printer.h"

namespace vprinter {

// Exit status of qor-vprinter itself when it cannot set up or run the command.
constexpr int kRunnerFailure = 125;

struct RunOptions {
    int lp = 0;                        // the N of /dev/usb/lpN
    std::vector<std::string> command;  // program and arguments (searched on PATH)
    FILE* log = nullptr;               // the printer's own messages; null: none
};

// Serves `printer` until the command exits. Returns the command's exit status
// (128 + signal number when it was killed), or kRunnerFailure with a message on
// standard error when the pty, the namespace or the exec could not be set up.
// Blocks for as long as the command runs. Needs CAP_SYS_ADMIN (mounts).
int runWithPrinter(Printer& printer, const RunOptions& options);

}  // namespace vprinter
