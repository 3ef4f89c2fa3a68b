// `extension-host conform`: judges any extension of the protocol by the protocol alone.
#ifndef HOST_COMMANDS_CONFORM_H_
#define HOST_COMMANDS_CONFORM_H_

#include <string>
#include <vector>

// Runs the conform subcommand on its arguments (those after "conform"). Returns the
// host's exit status: 0 when no "must" failed, 1 when one did, 2 for a usage error.
int conform_command(const std::vector<std::string>& arguments);

#endif  // HOST_COMMANDS_CONFORM_H_
