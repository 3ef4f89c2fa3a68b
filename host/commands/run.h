// `extension-host run`: one conversation held by hand, shown as it happens; and the
// holding of it, which `record` shares.
#ifndef HOST_COMMANDS_RUN_H_
#define HOST_COMMANDS_RUN_H_

#include <optional>
#include <string>
#include <vector>

#include "commands/run_options.h"

// Runs the run subcommand on its arguments (those after "run"). Returns the host's exit
// status: 0 when the conversation went as the protocol says and the extension exited 0,
// 1 when the extension misbehaved or ended otherwise, 2 for a usage error.
int run_command(const std::vector<std::string>& arguments);

// Holds the conversation: starts the extension, opens, makes the calls (those given; else
// typed at a prompt when standard input is a terminal, else read from it as a script),
// and finishes. Hands every byte sent and received to `transcript` when it is not null. Returns
// none, having said why on standard error, when the extension cannot be started; otherwise how the
// conversation ended, which `clean` sums up.
std::optional<SessionEnding> hold_conversation(const RunSettings& settings,
                                               TranscriptSink* transcript);

#endif  // HOST_COMMANDS_RUN_H_
