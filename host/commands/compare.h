// `extension-host compare`: generated conversations played against a reference and a
// candidate side by side; the first difference shrunk to a smallest conversation.
#ifndef HOST_COMMANDS_COMPARE_H_
#define HOST_COMMANDS_COMPARE_H_

#include <string>
#include <vector>

// Runs the compare subcommand on its arguments (those after "compare"). Returns 0 when no
// difference was found, 1 when one was, 2 for a usage error.
int compare_command(const std::vector<std::string>& arguments);

#endif  // HOST_COMMANDS_COMPARE_H_
