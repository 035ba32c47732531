// Process-wide trace log of the network backend.
//
// Off unless a marker file exists in $TMPDIR: ".slog" turns on every record,
// ".slog_mura" only level-'I' records. When on, records are appended to
// "<home>/<program>|<pid>.log" (home of the real user's password entry).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

// Levels of gLogLevel.
constexpr int LOG_FULL = 0xF0F0;
constexpr int LOG_INFO = 0x1F1F;

// -1: not decided yet; 0: off; greater than 0: the open log file.
extern int gLogFD;
extern int gLogLevel;
extern pthread_mutex_t gLogLock;

// Decides once (lazily) whether logging is on and opens the file; returns gLogFD.
// A failed program-name or home lookup leaves the decision open for the next record.
int log_open();

// Closes the log file (registered with atexit by log_open).
extern "C" void log_exit();

// Writes one record: header, the expanded format, trailer " [file-line-function]".
// The format knows %% %c %d %u %x %X %f %s (null text prints "(null)"), no
// flags or widths; any other conversion is dropped. Texts from the network must
// go in as %s arguments, never as the format.
void log_write(char level, int line, const char* file, const char* function, const char* format,
               ...);

// Writes bytes as "%.2X " groups, 39 per line (a level-'F' record).
void log_dump(int line, const char* file, const char* function, const uint8_t* bytes,
              size_t length);

// Returns the trace log to its undecided state (closing any open file), so a
// process can decide again; used by tests.
void log_reset();

// Whether a marker path names a regular file we may write: symbolic links are
// not followed and devices or FIFOs are never opened.
bool log_marker_present(const char* path);
