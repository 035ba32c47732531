// Reading a password from standard input without echo.
#pragma once

#include <string>

namespace qor {

// Reads one line from file descriptor `fd` (the newline is not kept; end of
// input or a read error ends the text). When `fd` is a terminal its echo is
// switched off while reading (applied with a flush of pending input) and the
// earlier settings are put back on every way out: the end of the line, end
// of input, an error, and SIGINT, SIGTERM, SIGQUIT, SIGHUP or SIGTSTP while
// reading (the signal then takes its default action after the restore; after
// a stop and continue, echo goes off again). A descriptor that is no
// terminal is read without touching any settings.
std::string readHiddenLine(int fd);

}  // namespace qor
