// The sandbox's options, the same in every command.
#ifndef HOST_COMMANDS_SANDBOX_OPTIONS_H_
#define HOST_COMMANDS_SANDBOX_OPTIONS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/policy.h"
#include "sandbox/sandbox.h"

// The options' lines of help.
extern const char SANDBOX_OPTIONS_HELP[];

// When `options[*at]` is a sandbox option, takes it (and its value) into `*policy`,
// moves `*at` to its last word and returns true; a malformed one also sets `*problem`
// (for usage_error). Returns false for any other option.
bool read_sandbox_option(const std::vector<std::string>& options, std::size_t* at,
                         SandboxPolicy* policy, std::string* problem);

// Prepares the sandbox of `policy` for `commands`, before any work. On failure prints why
// as `command`'s usage error and returns none.
// Adds `variable`, the value of `option` ("--env"), to `*variables` when it is NAME or
// NAME=VALUE; otherwise says why in `*problem` and returns false.
bool read_variable(const std::string& option, const std::string& variable,
                   std::vector<std::string>* variables, std::string* problem);

std::optional<Sandbox> prepare_sandbox(const std::string& command, const SandboxPolicy& policy,
                                       const std::vector<std::vector<std::string>>& commands);

#endif  // HOST_COMMANDS_SANDBOX_OPTIONS_H_
