// The exit statuses: the host's only word on how a conversation ended.
#ifndef SAMPLE_PROTOCOL_EXIT_STATUS_H_
#define SAMPLE_PROTOCOL_EXIT_STATUS_H_

// "shutdown" arrived, or the input ended cleanly once registration was done.
inline constexpr int EXIT_OK = 0;
// A protocol violation, a line that is not a message, a failed read or write, or no memory.
inline constexpr int EXIT_PROTOCOL = 2;
// The command line is not exactly "--protocol" "1".
inline constexpr int EXIT_USAGE = 3;

#endif  // SAMPLE_PROTOCOL_EXIT_STATUS_H_
