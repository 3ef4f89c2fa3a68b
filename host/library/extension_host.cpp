// The C API: handles over the core, a status from every function, and the reason kept per
// handle. Each handle's functions are serialized by its mutex; a stop or a free from
// another thread first wakes a blocked call through the handle's interrupt descriptor.
#include "extension_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "hosting/host_settings.h"
#include "hosting/hosted_extension.h"

struct eh_settings {
  HostSettings settings;
  std::string errmsg;
  // The sandbox is made (and tried once) at the first start with these settings, and
  // shared by every start after it until the settings change.
  mutable std::mutex mutex;
  mutable std::shared_ptr<const Sandbox> prepared;
};

// A descriptor the readiness descriptor watches, and for what.
struct Registered {
  int fd;
  std::uint32_t events;
  bool operator==(const Registered&) const = default;
};

struct eh_extension {
  mutable std::mutex mutex;
  int interrupt = -1;  // an eventfd: readable, it cuts a blocked call short
  int readiness = -1;  // an epoll descriptor over what the core waits on
  std::vector<Registered> registered;
  std::unique_ptr<HostedExtension> core;
  std::string errmsg;
  std::string line;                // the last line read raw
  mutable std::string error_text;  // standard error as eh_error_output last gave it
};

struct eh_reply {
  Reply reply;
};

namespace {

constexpr const char* STATUS_NAMES[] = {
    "EH_OK",           "EH_AGAIN",        "EH_INVALID",
    "EH_NO_MEMORY",    "EH_CANNOT_START", "EH_REFUSED_COMMAND_LINE",
    "EH_NO_HANDSHAKE", "EH_VIOLATION",    "EH_ASLEEP",
    "EH_TIMED_OUT",    "EH_ENDED",        "EH_UNFIT_CALL",
    "EH_CANCELLED"};

eh_status settings_fault(eh_settings* settings, eh_status status, std::string why) {
  settings->errmsg = std::move(why);
  return status;
}

// A change drops the sandbox made for the settings before it.
eh_status changed(eh_settings* settings) {
  const std::lock_guard<std::mutex> lock(settings->mutex);
  settings->prepared.reset();
  settings->errmsg.clear();
  return EH_OK;
}

eh_status noted(eh_extension* extension, const Status& outcome) {
  extension->errmsg = outcome.why;
  return outcome.status;
}

// Points the readiness descriptor at what the core waits on now, changing only what
// changed: most calls change nothing, and cost no system call here.
void refresh_readiness(eh_extension* extension) {
  std::vector<Registered> wanted;
  if (extension->core) {
    const Watched watching = extension->core->watched();
    for (std::size_t i = 0; i < watching.count; ++i) {
      const pollfd& one = watching.fds.at(i);
      wanted.push_back(
          {one.fd, (one.events & POLLOUT) != 0 ? std::uint32_t{EPOLLOUT} : std::uint32_t{EPOLLIN}});
    }
  }
  if (wanted == extension->registered) {
    return;
  }
  const auto find = [](const std::vector<Registered>& in, int fd) {
    return std::find_if(in.begin(), in.end(),
                        [fd](const Registered& each) { return each.fd == fd; });
  };
  for (const Registered& old : extension->registered) {
    if (find(wanted, old.fd) == wanted.end()) {
      // ENOENT when the descriptor was closed meanwhile: the kernel dropped it then.
      epoll_ctl(extension->readiness, EPOLL_CTL_DEL, old.fd, nullptr);
    }
  }
  std::vector<Registered> registered;
  for (const Registered& now : wanted) {
    epoll_event event = {};
    event.events = now.events;
    event.data.fd = now.fd;
    const auto old = find(extension->registered, now.fd);
    const bool held = old != extension->registered.end();
    const bool unchanged = held && old->events == now.events;
    if (unchanged || epoll_ctl(extension->readiness, held ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, now.fd,
                               &event) == 0) {
      registered.push_back(now);
    }
  }
  extension->registered = std::move(registered);
}

// Wakes a call blocked on the handle, then takes the handle: what a stop and a free do.
std::unique_lock<std::mutex> interrupt_and_lock(eh_extension* extension) {
  const std::uint64_t one = 1;
  while (write(extension->interrupt, &one, sizeof one) < 0 && errno == EINTR) {
  }
  std::unique_lock<std::mutex> lock(extension->mutex);
  std::uint64_t count = 0;
  while (read(extension->interrupt, &count, sizeof count) < 0 && errno == EINTR) {
  }
  return lock;
}

eh_extension* new_handle() {
  auto* extension = new (std::nothrow) eh_extension;
  if (extension == nullptr) {
    return nullptr;
  }
  extension->interrupt = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  extension->readiness = epoll_create1(EPOLL_CLOEXEC);
  if (extension->interrupt < 0 || extension->readiness < 0) {
    eh_free(extension);
    return nullptr;
  }
  return extension;
}

eh_status start_into(std::shared_ptr<const HostSettings> settings,
                     std::shared_ptr<const Sandbox> sandbox, std::vector<std::string> command,
                     eh_extension** out) {
  eh_extension* extension = new_handle();
  if (extension == nullptr) {
    return EH_NO_MEMORY;
  }
  Status outcome;
  extension->core = HostedExtension::start(std::move(settings), std::move(sandbox),
                                           std::move(command), extension->interrupt, &outcome);
  refresh_readiness(extension);
  *out = extension;
  return noted(extension, outcome);
}

bool readable_text(const char* text) { return text != nullptr; }

}  // namespace

const char* eh_status_name(eh_status status) {
  const auto index = static_cast<std::size_t>(status);
  return index < std::size(STATUS_NAMES) ? STATUS_NAMES[index] : "EH_?";
}

const char* eh_version(void) { return HOST_VERSION; }

eh_status eh_settings_new(eh_settings** settings) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  *settings = new (std::nothrow) eh_settings;
  return *settings == nullptr ? EH_NO_MEMORY : EH_OK;
}

void eh_settings_free(eh_settings* settings) { delete settings; }

eh_status eh_settings_sandbox(eh_settings* settings, eh_sandbox sandbox) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  if (sandbox != EH_SANDBOX_WHOLE && sandbox != EH_SANDBOX_WEAKER && sandbox != EH_SANDBOX_NONE) {
    return settings_fault(settings, EH_INVALID, "no such sandbox");
  }
  settings->settings.policy.enabled = sandbox != EH_SANDBOX_NONE;
  settings->settings.policy.accept_weaker = sandbox == EH_SANDBOX_WEAKER;
  return changed(settings);
}

eh_status eh_settings_network(eh_settings* settings, int allowed) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  settings->settings.policy.network = allowed != 0;
  return changed(settings);
}

eh_status eh_settings_grant(eh_settings* settings, const char* folder, eh_grant grant) {
  if (settings == nullptr || folder == nullptr) {
    return EH_INVALID;
  }
  std::error_code failed;
  const std::filesystem::path real = std::filesystem::canonical(folder, failed);
  if (failed || !std::filesystem::is_directory(real, failed)) {
    return settings_fault(settings, EH_INVALID,
                          std::string(folder) + " is not a folder: " +
                              (failed ? failed.message() : "not a directory"));
  }
  if (grant == EH_GRANT_WRITE) {
    settings->settings.policy.writable.push_back(real.string());
  } else if (grant == EH_GRANT_READ) {
    settings->settings.policy.readable.push_back(real.string());
  } else {
    return settings_fault(settings, EH_INVALID, "no such grant");
  }
  return changed(settings);
}

eh_status eh_settings_environment(eh_settings* settings, const char* variable) {
  if (settings == nullptr || variable == nullptr) {
    return EH_INVALID;
  }
  const std::string text(variable);
  const std::string name = text.substr(0, text.find('='));
  if (name.empty()) {
    return settings_fault(settings, EH_INVALID, "a variable needs a name: NAME or NAME=VALUE");
  }
  settings->settings.policy.environment.push_back(text);
  return changed(settings);
}

eh_status eh_settings_limits(eh_settings* settings, long processes, size_t memory) {
  if (settings == nullptr || processes < 0) {
    return EH_INVALID;
  }
  settings->settings.policy.max_processes = processes == 0 ? DEFAULT_MAX_PROCESSES : processes;
  settings->settings.policy.max_memory = memory == 0 ? DEFAULT_MAX_MEMORY : memory;
  return changed(settings);
}

eh_status eh_settings_deadline(eh_settings* settings, eh_deadline which, unsigned milliseconds) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  const std::chrono::milliseconds value{milliseconds};
  HostSettings& host = settings->settings;
  switch (which) {
    case EH_DEADLINE_START:
      host.start = value;
      break;
    case EH_DEADLINE_CALL:
      host.call = value;
      break;
    case EH_DEADLINE_SHUTDOWN:
      host.shutdown = value;
      break;
    case EH_DEADLINE_CLOSED_INPUT:
      host.closed_input = value;
      break;
    case EH_DEADLINE_TERMINATE:
      host.terminate = value;
      break;
    default:
      return settings_fault(settings, EH_INVALID, "no such deadline");
  }
  settings->errmsg.clear();
  return EH_OK;
}

eh_status eh_settings_check_calls(eh_settings* settings, int check) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  settings->settings.check_calls = check != 0;
  settings->errmsg.clear();
  return EH_OK;
}

eh_status eh_settings_error_lines(eh_settings* settings, eh_error_line callback, void* context) {
  if (settings == nullptr) {
    return EH_INVALID;
  }
  settings->settings.error_line = callback;
  settings->settings.error_context = context;
  settings->errmsg.clear();
  return EH_OK;
}

const char* eh_settings_errmsg(const eh_settings* settings) {
  return settings == nullptr ? "no settings" : settings->errmsg.c_str();
}

eh_status eh_start(const eh_settings* settings, const char* const* command,
                   eh_extension** extension) {
  if (extension == nullptr) {
    return EH_INVALID;
  }
  *extension = nullptr;
  if (command == nullptr || command[0] == nullptr) {
    return EH_INVALID;
  }
  std::vector<std::string> words;
  for (const char* const* word = command; *word != nullptr; ++word) {
    words.emplace_back(*word);
  }
  eh_settings defaults;
  const eh_settings* shared = settings == nullptr ? &defaults : settings;
  std::shared_ptr<const Sandbox> sandbox;
  std::string problem;
  {
    const std::lock_guard<std::mutex> lock(shared->mutex);
    if (!shared->prepared) {
      std::optional<Sandbox> made = Sandbox::prepare(shared->settings.policy, {}, &problem);
      if (made) {
        made->outlive_starting_thread();
        shared->prepared = std::make_shared<const Sandbox>(std::move(*made));
      }
    }
    sandbox = shared->prepared;
  }
  if (!sandbox) {
    eh_extension* failed = new_handle();
    if (failed == nullptr) {
      return EH_NO_MEMORY;
    }
    failed->errmsg = "cannot start " + words[0] + ": " + problem;
    *extension = failed;
    return EH_CANNOT_START;
  }
  return start_into(std::make_shared<const HostSettings>(shared->settings), std::move(sandbox),
                    std::move(words), extension);
}

eh_status eh_restart(const eh_extension* predecessor, eh_extension** extension) {
  if (predecessor == nullptr || extension == nullptr || !predecessor->core) {
    return EH_INVALID;
  }
  *extension = nullptr;
  const HostedExtension& before = *predecessor->core;
  return start_into(before.settings(), before.sandbox(), before.command(), extension);
}

void eh_free(eh_extension* extension) {
  if (extension == nullptr) {
    return;
  }
  {
    std::unique_lock<std::mutex> lock = interrupt_and_lock(extension);
    extension->core.reset();
  }
  close(extension->interrupt);
  close(extension->readiness);
  delete extension;
}

const char* eh_errmsg(const eh_extension* extension) {
  return extension == nullptr ? "no extension" : extension->errmsg.c_str();
}

const char* eh_extension_id(const eh_extension* extension) {
  return extension == nullptr || !extension->core ? "" : extension->core->extension_id().c_str();
}

const char* eh_extension_version(const eh_extension* extension) {
  return extension == nullptr || !extension->core ? ""
                                                  : extension->core->extension_version().c_str();
}

const char* eh_sandbox_words(const eh_extension* extension) {
  return extension == nullptr || !extension->core ? "" : extension->core->sandbox_words().c_str();
}

size_t eh_callable_count(const eh_extension* extension) {
  return extension == nullptr || !extension->core ? 0 : extension->core->catalogue().size();
}

const char* eh_callable_text(const eh_extension* extension, size_t index, eh_member member) {
  if (index >= eh_callable_count(extension)) {
    return nullptr;
  }
  const CallableDescriptor& callable = extension->core->catalogue()[index];
  switch (member) {
    case EH_NAME:
      return callable.name.c_str();
    case EH_INPUT:
      return callable.input.c_str();
    case EH_OUTPUT:
      return callable.output.c_str();
    case EH_EFFECT:
      return callable.effect.c_str();
    case EH_THREADING:
      return callable.threading.c_str();
    default:
      return nullptr;
  }
}

eh_status eh_callable_number(const eh_extension* extension, size_t index, eh_member member,
                             long long* value) {
  if (value == nullptr || index >= eh_callable_count(extension)) {
    return EH_INVALID;
  }
  const CallableDescriptor& callable = extension->core->catalogue()[index];
  switch (member) {
    case EH_MINIMUM_ARITY:
      *value = callable.minimum_arity;
      return EH_OK;
    case EH_MAXIMUM_ARITY:
      *value = callable.maximum_arity;
      return EH_OK;
    case EH_ACTION:
      *value = callable.action ? 1 : 0;
      return EH_OK;
    case EH_CANCEL:
      *value = callable.cancel ? 1 : 0;
      return EH_OK;
    case EH_LAZY:
      *value = callable.lazy ? 1 : 0;
      return EH_OK;
    case EH_SENDABLE:
      *value = callable.sendable ? 1 : 0;
      return EH_OK;
    default:
      return EH_INVALID;
  }
}

eh_status eh_call(eh_extension* extension, const char* callable, const char* arguments,
                  eh_reply** reply) {
  if (extension == nullptr || !readable_text(callable) || !readable_text(arguments) ||
      reply == nullptr) {
    return EH_INVALID;
  }
  *reply = nullptr;
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  std::uint64_t ticket = 0;
  Status outcome = extension->core->submit(callable, arguments, &ticket);
  if (outcome.ok()) {
    auto* answer = new (std::nothrow) eh_reply;
    if (answer == nullptr) {
      return EH_NO_MEMORY;
    }
    outcome = extension->core->await_answer(ticket, &answer->reply);
    if (outcome.ok()) {
      *reply = answer;
    } else {
      delete answer;
    }
  }
  refresh_readiness(extension);
  return noted(extension, outcome);
}

eh_status eh_submit(eh_extension* extension, const char* callable, const char* arguments,
                    uint64_t* ticket) {
  if (extension == nullptr || !readable_text(callable) || !readable_text(arguments) ||
      ticket == nullptr) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome = extension->core->submit(callable, arguments, ticket);
  refresh_readiness(extension);
  return noted(extension, outcome);
}

int eh_descriptor(const eh_extension* extension) {
  return extension == nullptr ? -1 : extension->readiness;
}

eh_status eh_perform(eh_extension* extension) {
  if (extension == nullptr) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome = extension->core->perform();
  refresh_readiness(extension);
  return noted(extension, outcome);
}

int eh_timeout_ms(const eh_extension* extension) {
  if (extension == nullptr || !extension->core) {
    return -1;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  return extension->core->timeout_ms();
}

eh_status eh_next_reply(eh_extension* extension, eh_reply** reply) {
  if (extension == nullptr || reply == nullptr) {
    return EH_INVALID;
  }
  *reply = nullptr;
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  Reply taken;
  const Status outcome = extension->core->next_reply(&taken);
  if (outcome.ok()) {
    auto* answer = new (std::nothrow) eh_reply;
    if (answer == nullptr) {
      return EH_NO_MEMORY;  // the answer is lost with the memory: nothing else is
    }
    answer->reply = std::move(taken);
    *reply = answer;
  }
  return noted(extension, outcome);
}

size_t eh_pending(const eh_extension* extension) {
  if (extension == nullptr || !extension->core) {
    return 0;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  return extension->core->pending();
}

uint64_t eh_reply_ticket(const eh_reply* reply) {
  return reply == nullptr ? 0 : reply->reply.ticket;
}

int eh_reply_failed(const eh_reply* reply) {
  return reply != nullptr && reply->reply.failed ? 1 : 0;
}

const char* eh_reply_value(const eh_reply* reply) {
  return reply == nullptr || reply->reply.failed ? nullptr : reply->reply.value.c_str();
}

const char* eh_reply_error_kind(const eh_reply* reply) {
  return reply == nullptr || !reply->reply.failed ? nullptr : reply->reply.kind.c_str();
}

const char* eh_reply_error_code(const eh_reply* reply) {
  return reply == nullptr || !reply->reply.failed ? nullptr : reply->reply.code.c_str();
}

const char* eh_reply_error_message(const eh_reply* reply) {
  return reply == nullptr || !reply->reply.failed ? nullptr : reply->reply.message.c_str();
}

int64_t eh_reply_microseconds(const eh_reply* reply) {
  return reply == nullptr ? 0 : reply->reply.microseconds;
}

void eh_reply_free(eh_reply* reply) { delete reply; }

eh_status eh_stop(eh_extension* extension) {
  if (extension == nullptr) {
    return EH_INVALID;
  }
  std::unique_lock<std::mutex> lock = interrupt_and_lock(extension);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome = extension->core->stop();
  refresh_readiness(extension);
  return noted(extension, outcome);
}

eh_status eh_kill(eh_extension* extension) {
  if (extension == nullptr) {
    return EH_INVALID;
  }
  std::unique_lock<std::mutex> lock = interrupt_and_lock(extension);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome = extension->core->kill();
  refresh_readiness(extension);
  return noted(extension, outcome);
}

eh_status eh_ending(const eh_extension* extension, eh_end_step* step, int* exit_status,
                    int* signal) {
  if (extension == nullptr || !extension->core) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  const std::optional<Termination>& ending = extension->core->ending();
  if (step != nullptr) {
    *step = extension->core->end_step();
  }
  if (!ending) {
    return EH_AGAIN;
  }
  if (exit_status != nullptr) {
    *exit_status = ending->signaled ? 0 : ending->code;
  }
  if (signal != nullptr) {
    *signal = ending->signaled ? ending->code : 0;
  }
  return EH_OK;
}

const char* eh_ending_words(const eh_extension* extension) {
  return extension == nullptr || !extension->core ? "" : extension->core->ending_words().c_str();
}

const char* eh_error_output(const eh_extension* extension, size_t* length) {
  if (extension == nullptr || !extension->core) {
    if (length != nullptr) {
      *length = 0;
    }
    return "";
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  extension->error_text = extension->core->error_output();
  if (length != nullptr) {
    *length = extension->error_text.size();
  }
  return extension->error_text.c_str();
}

eh_status eh_write_raw(eh_extension* extension, const void* bytes, size_t length) {
  if (extension == nullptr || (bytes == nullptr && length > 0)) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome =
      extension->core->write_raw(std::string_view(static_cast<const char*>(bytes), length));
  refresh_readiness(extension);
  return noted(extension, outcome);
}

eh_status eh_close_input(eh_extension* extension) {
  if (extension == nullptr) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  const Status outcome = extension->core->close_input();
  refresh_readiness(extension);
  return noted(extension, outcome);
}

eh_status eh_read_line(eh_extension* extension, unsigned milliseconds, const char** line,
                       size_t* length, int64_t* arrived) {
  if (extension == nullptr || line == nullptr || length == nullptr) {
    return EH_INVALID;
  }
  const std::lock_guard<std::mutex> lock(extension->mutex);
  if (!extension->core) {
    return EH_INVALID;
  }
  Clock::time_point when;
  const Status outcome =
      extension->core->read_line(std::chrono::milliseconds(milliseconds), &extension->line, &when);
  *line = extension->line.c_str();
  *length = extension->line.size();
  if (arrived != nullptr) {
    *arrived =
        std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  }
  refresh_readiness(extension);
  return noted(extension, outcome);
}
