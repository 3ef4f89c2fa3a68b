// Filtering the host's variables.
#include "sandbox/environment.h"

#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace {

std::string_view name_of(std::string_view assignment) {
  return assignment.substr(0, assignment.find('='));
}

bool passed_without_asking(std::string_view name) {
  return std::any_of(
      std::begin(PASSED_VARIABLES), std::end(PASSED_VARIABLES), [&](std::string_view passed) {
        return passed.ends_with('*') ? name.starts_with(passed.substr(0, passed.size() - 1))
                                     : name == passed;
      });
}

// Sets `assignment` in `environment`, replacing the variable of the same name.
void assign(std::vector<std::string>* environment, const std::string& assignment) {
  const std::string_view name = name_of(assignment);
  const auto same = std::find_if(environment->begin(), environment->end(),
                                 [&](const std::string& held) { return name_of(held) == name; });
  if (same != environment->end()) {
    *same = assignment;
  } else {
    environment->push_back(assignment);
  }
}

}  // namespace

std::vector<std::string> extension_environment(const std::vector<std::string>& host_environment,
                                               const SandboxPolicy& policy,
                                               const std::string& temporary_folder) {
  std::vector<std::string> environment;
  for (const std::string& variable : host_environment) {
    if (!policy.enabled || passed_without_asking(name_of(variable))) {
      environment.push_back(variable);
    }
  }
  for (const std::string& named : policy.environment) {
    if (named.find('=') != std::string::npos) {
      assign(&environment, named);
      continue;
    }
    const auto host_value =
        std::find_if(host_environment.begin(), host_environment.end(),
                     [&](const std::string& held) { return name_of(held) == named; });
    if (host_value != host_environment.end()) {
      assign(&environment, *host_value);
    }
  }
  if (!temporary_folder.empty()) {
    assign(&environment, "TMPDIR=" + temporary_folder);
  }
  return environment;
}

std::vector<std::string> current_environment() {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  return environment;
}

bool valid_variable_name(const std::string& name) {
  return !name.empty() && (name[0] < '0' || name[0] > '9') &&
         std::all_of(name.begin(), name.end(), [](char character) {
           return (character >= 'a' && character <= 'z') ||
                  (character >= 'A' && character <= 'Z') ||
                  (character >= '0' && character <= '9') || character == '_';
         });
}
