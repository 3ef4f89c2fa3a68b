// Where the host puts the supervisor's descriptors when it starts it, and so where the
// supervisor finds them: the one map both programs are built from.
//
// The extension's three streams are 0, 1 and 2, and they are all the extension itself is
// given: every other descriptor is closed in its process before its program runs, since a
// program holding the report pipe could write its own verdict.
#ifndef HOST_SANDBOX_DESCRIPTOR_MAP_H_
#define HOST_SANDBOX_DESCRIPTOR_MAP_H_

// The write end of the pipe that carries the supervisor's records to the host.
inline constexpr int REPORTS_FD = 3;
// The read end of the host's control pipe: a byte CONTROL_INPUT_CLOSED says the
// extension's input was closed, CONTROL_TERMINATE asks that the extension be sent SIGTERM;
// its end says the host asks for the end of everything, or is gone.
inline constexpr int CONTROL_FD = 4;
inline constexpr char CONTROL_INPUT_CLOSED = 'i';
inline constexpr char CONTROL_TERMINATE = 't';
// The sealed system call filter, as compiled by the host; absent without a filter.
inline constexpr int FILTER_FD = 5;
// The cgroup.procs files of the groups the supervisor joins, from here on.
inline constexpr int FIRST_GROUP_FD = 6;
inline constexpr int MAX_GROUPS = 2;
// Descriptors 0 .. SUPERVISOR_DESCRIPTORS - 1 are placed; every other is closed.
inline constexpr int SUPERVISOR_DESCRIPTORS = FIRST_GROUP_FD + MAX_GROUPS;
// The extension's standard streams: the descriptors its program is given.
inline constexpr int EXTENSION_DESCRIPTORS = 3;

#endif  // HOST_SANDBOX_DESCRIPTOR_MAP_H_
