// One discovery shared by every instance of the backend that runs at the
// same time in the same network namespace.
//
// When the program is installed under several names the spooler starts them
// all together; they all bind port 5353 with address reuse and the kernel
// hands each unicast answer to only one of those sockets. So the first
// instance (the one that gets an exclusive lock on the lock file) runs the
// discovery and appends each answer that carried the service's TXT record to
// a record file; the others read that file as it grows and parse the same
// answers with their own manufacturer. The wire protocol is unchanged.
//
// Files live in $TMPDIR (or /tmp), named after the effective user and the
// network namespace: ".netbackend-<euid>-<netns>.lock" holds the leader's pid
// while it runs, ".netbackend-<euid>-<netns>-<pid>.rec" its records: a 16-bit
// big-endian length and that many bytes each, a zero length ends the file.
// Files not owned by us, or not regular, make the instance run alone.
#pragma once

#include <string>

#include "hcp.h"

// Runs or joins a shared discovery, calling onDevice for each accepted device
// in arrival order. Returns after the leader's window ends (or at most
// windowSeconds + 5 s for a follower).
void discoverShared(Hcp& finder, const Hcp::DeviceHandler& onDevice, long windowSeconds = 15,
                    int port = 5353);

// Reads complete records from `pending` (removing them), accepting each with
// the finder. Returns true when the end marker was read.
bool consumeSharedRecords(std::string& pending, Hcp& finder, const Hcp::DeviceHandler& onDevice);
