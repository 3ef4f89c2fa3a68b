// What an extension is started with: its sandbox's policy, its deadlines, and where its
// standard error goes. Copied at each start, so that a handle never sees a later change.
#ifndef HOST_HOSTING_HOST_SETTINGS_H_
#define HOST_HOSTING_HOST_SETTINGS_H_

#include <chrono>

#include "extension_host.h"
#include "sandbox/policy.h"

struct HostSettings {
  SandboxPolicy policy;
  // The announcement's, counted only while the extension is at work: a slow start is not
  // a late one, and one that waits for nothing is found asleep long before.
  std::chrono::milliseconds start{10000};
  std::chrono::milliseconds call{30000};
  std::chrono::milliseconds shutdown{2000};
  std::chrono::milliseconds closed_input{1000};
  std::chrono::milliseconds terminate{1000};
  bool check_calls = true;
  eh_error_line error_line = nullptr;
  void* error_context = nullptr;
};

#endif  // HOST_HOSTING_HOST_SETTINGS_H_
