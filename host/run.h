// `extension-host run`: one conversation held by hand, shown as it happens.
#ifndef HOST_RUN_H_
#define HOST_RUN_H_

#include <string>
#include <vector>

// Runs the run subcommand on its arguments (those after "run"). Returns the host's exit
// status: 0 when the conversation went as the protocol says and the extension exited 0,
// 1 when the extension misbehaved or ended otherwise, 2 for a usage error.
int run_command(const std::vector<std::string>& arguments);

#endif  // HOST_RUN_H_
