// The environment an extension starts with: a short list of the host's variables, those
// the user names, and its own TMPDIR; never the host's secrets.
#ifndef HOST_SANDBOX_ENVIRONMENT_H_
#define HOST_SANDBOX_ENVIRONMENT_H_

#include <string>
#include <vector>

#include "sandbox/policy.h"

// From `host_environment` ("NAME=value" each, as environ holds them): the variables of
// PASSED_VARIABLES, then each of `policy.environment` (a NAME takes the host's value, when
// it has one; NAME=VALUE sets it), then TMPDIR=`temporary_folder` unless it is empty.
// A later assignment of a name replaces an earlier one. Without a sandbox the host's
// environment is passed whole, with the assignments applied.
std::vector<std::string> extension_environment(const std::vector<std::string>& host_environment,
                                               const SandboxPolicy& policy,
                                               const std::string& temporary_folder);

// This process's environment, as a list.
std::vector<std::string> current_environment();

// Whether `name` may stand in an --env option: letters, digits and '_', not starting
// with a digit.
bool valid_variable_name(const std::string& name);

#endif  // HOST_SANDBOX_ENVIRONMENT_H_
