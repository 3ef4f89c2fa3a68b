// `extension-host record`: a conversation held as `run` holds it, kept as a golden case.
#ifndef HOST_COMMANDS_RECORD_H_
#define HOST_COMMANDS_RECORD_H_

#include <string>
#include <vector>

// Runs the record subcommand on its arguments (those after "record"). Returns 0 when the
// case was written, 1 when the conversation could not be kept as a case (nothing is
// written then), 2 for a usage error, an existing folder among them.
int record_command(const std::vector<std::string>& arguments);

#endif  // HOST_COMMANDS_RECORD_H_
