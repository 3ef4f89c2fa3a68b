// The process groups of the extensions this host has started and not yet ended.
//
// Every extension runs in a process group of its own, so that whatever it starts can be
// ended with it. The host ends the groups itself on every ending it controls; this list
// is for the one it does not: an interrupt or termination signal. The handlers end every
// group still listed, then let the signal end the host as it would have.
#ifndef HOST_PROCESS_PROCESS_GROUPS_H_
#define HOST_PROCESS_PROCESS_GROUPS_H_

#include <sys/types.h>

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, once.
void end_groups_on_fatal_signals();

// Lists and unlists a group. Listing fails, returning false, when `kMaxGroups` are listed.
inline constexpr int kMaxGroups = 256;
bool list_group(pid_t group);
void unlist_group(pid_t group);

#endif  // HOST_PROCESS_PROCESS_GROUPS_H_
