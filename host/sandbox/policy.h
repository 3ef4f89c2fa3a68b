// What an extension may reach: nothing but its own sandbox, unless the user grants more.
#ifndef HOST_SANDBOX_POLICY_H_
#define HOST_SANDBOX_POLICY_H_

#include <cstddef>
#include <string>
#include <vector>

// Processes (threads count too) one extension may have at once, by default: room for an
// interpreter's or a virtual machine's threads, none for a fork bomb.
inline constexpr long DEFAULT_MAX_PROCESSES = 64;
// The memory one extension may use, by default, where the machine lets it be bounded.
inline constexpr std::size_t DEFAULT_MAX_MEMORY = std::size_t{1} << 30U;
// The size of its private TMPDIR, /dev/shm.
inline constexpr std::size_t DEFAULT_TEMPORARY_SIZE = std::size_t{64} << 20U;

struct SandboxPolicy {
  bool enabled = true;                // --no-sandbox: run it as the host runs, reaching everything
  bool accept_weaker = false;         // --weaker-sandbox: run with the parts this machine can make
  bool network = false;               // --network
  std::vector<std::string> writable;  // --writable DIR: absolute, as given after realpath
  std::vector<std::string> readable;  // --read DIR: likewise, shown read-only
  // --env NAME (the host's value) and --env NAME=VALUE, in the order given.
  std::vector<std::string> environment;
  long max_processes = DEFAULT_MAX_PROCESSES;
  std::size_t max_memory = DEFAULT_MAX_MEMORY;
  std::size_t temporary_size = DEFAULT_TEMPORARY_SIZE;
};

// The host's variables an extension gets without asking: where programs are, the user's
// home, the language, the time zone. LC_* stands for every locale category.
inline constexpr const char* PASSED_VARIABLES[] = {"PATH",     "HOME", "LANG",
                                                   "LANGUAGE", "LC_*", "TZ"};

#endif  // HOST_SANDBOX_POLICY_H_
