// Reading --network, --writable, --env and the rest.
#include "commands/sandbox_options.h"

#include <filesystem>

#include "commands/options.h"
#include "sandbox/environment.h"
#include "text/visible.h"

const char SANDBOX_OPTIONS_HELP[] =
    "The extension runs in a sandbox: it reaches no terminal, no process but its own, no\n"
    "IPC but its own, no network, of the environment only PATH HOME LANG LANGUAGE LC_* TZ,\n"
    "of the files only the system's, its program's, its arguments' and the current folder\n"
    "(no home folder, /tmp, /var or /run, no file of /etc that only its owner may read),\n"
    "no file it may write but its private TMPDIR (/dev/shm), at most 64 processes and,\n"
    "where the machine bounds it, 1 GiB of memory. Every report says how it was contained.\n"
    "To loosen it:\n"
    "  --network                let it reach the network\n"
    "  --read DIR               let it see DIR, read-only (repeatable)\n"
    "  --writable DIR           let it write DIR (repeatable): a coverage build's counters\n"
    "  --env NAME[=VALUE]       pass NAME from this environment, or set it (repeatable)\n"
    "  --max-processes N        at most N processes and threads (default 64)\n"
    "  --max-memory SIZE        at most SIZE of memory, K, M or G (default 1G)\n"
    "  --weaker-sandbox         where this machine cannot make a part of the sandbox, run\n"
    "                           without it rather than not at all\n"
    "  --no-sandbox             no sandbox at all: it reaches all you may (a debugger attached\n"
    "                           from outside)\n";

namespace {

constexpr long long MAX_PROCESSES_LIMIT = 1 << 20;

}  // namespace

bool read_variable(const std::string& option, const std::string& variable,
                   std::vector<std::string>* variables, std::string* problem) {
  if (!valid_variable_name(variable.substr(0, variable.find('=')))) {
    *problem = option + " takes NAME or NAME=VALUE, a name of letters, digits and '_', not '" +
               visible(variable) + "'";
    return false;
  }
  variables->push_back(variable);
  return true;
}

bool read_sandbox_option(const std::vector<std::string>& options, std::size_t* at,
                         SandboxPolicy* policy, std::string* problem) {
  const std::string& option = options[*at];
  const bool has_value = *at + 1 < options.size();
  if (option == "--network") {
    policy->network = true;
  } else if (option == "--weaker-sandbox") {
    policy->accept_weaker = true;
  } else if (option == "--no-sandbox") {
    policy->enabled = false;
  } else if ((option == "--writable" || option == "--read") && has_value) {
    const std::string& folder = options[++*at];
    std::error_code failed;
    const std::filesystem::path real = std::filesystem::canonical(folder, failed);
    if (failed || !std::filesystem::is_directory(real, failed)) {
      *problem = option + " takes a folder that exists, not '" + folder + "'";
    } else {
      (option == "--read" ? policy->readable : policy->writable).push_back(real.string());
    }
  } else if (option == "--env" && has_value) {
    read_variable(option, options[++*at], &policy->environment, problem);
  } else if (option == "--max-processes" && has_value) {
    const std::optional<long long> count =
        parse_whole(option, options[++*at], 1, MAX_PROCESSES_LIMIT, problem);
    if (count) {
      policy->max_processes = static_cast<long>(*count);
    }
  } else if (option == "--max-memory" && has_value) {
    const std::optional<std::size_t> size = parse_size(option, options[++*at], problem);
    if (size) {
      policy->max_memory = *size;
    }
  } else {
    return false;
  }
  return true;
}

std::optional<Sandbox> prepare_sandbox(const std::string& command, const SandboxPolicy& policy,
                                       const std::vector<std::vector<std::string>>& commands) {
  std::string problem;
  std::optional<Sandbox> sandbox = Sandbox::prepare(policy, commands, &problem);
  if (!sandbox) {
    usage_error(command, problem);
  }
  return sandbox;
}
