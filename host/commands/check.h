// `extension-host check`: the conformance kit.
#ifndef HOST_COMMANDS_CHECK_H_
#define HOST_COMMANDS_CHECK_H_

#include <string>
#include <vector>

// Runs the check subcommand on its arguments (those after "check"). Returns the host's
// exit status: 0 when every case passed, 1 when any failed, 2 for a usage error.
int check_command(const std::vector<std::string>& arguments);

#endif  // HOST_COMMANDS_CHECK_H_
