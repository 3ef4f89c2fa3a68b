// Preparing, trying and describing the sandbox; starting a supervisor in it.
#include "sandbox/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/executable.h"
#include "sandbox/environment.h"
#include "sandbox/report_stream.h"
#include "sandbox/supervisor_report.h"
#include "sandbox/system_call_filter.h"

namespace {

constexpr char SUPERVISOR_NAME[] = "extension-sandbox";
// Its own processes, mounts, and IPC (System V's objects and POSIX message queues, which
// would otherwise outlive it and be shared with the machine's programs).
constexpr int PIDS_AND_MOUNTS = CLONE_NEWPID | CLONE_NEWNS | CLONE_NEWIPC;
constexpr int USER_PIDS_AND_MOUNTS = CLONE_NEWUSER | PIDS_AND_MOUNTS;
// How long a trial of the sandbox may take: it starts no program.
constexpr std::chrono::seconds PROBE_TIMEOUT{10};
// The folder the sandbox puts a private file system over, the extension's TMPDIR.
constexpr char PRIVATE_FOLDER[] = "/dev/shm";

// Beside the host (or the library) in a build tree; in libexec/extension-host/ when
// installed, beside bin/, or where the library was installed to find it.
std::string find_supervisor_program() {
  const std::filesystem::path folder = host_folder();
  const std::filesystem::path library = code_folder();
  for (const std::filesystem::path& candidate :
       {folder / SUPERVISOR_NAME,
        folder.parent_path() / "libexec" / "extension-host" / SUPERVISOR_NAME,
        library / SUPERVISOR_NAME, library / LIBRARY_TO_SUPERVISOR / SUPERVISOR_NAME}) {
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  return "";
}

std::string mebibytes(std::size_t bytes) { return std::to_string(bytes >> 20U) + " MiB"; }

// An absolute word of `command` that names a file the sandbox's private folders would hide.
std::string hidden_path(const std::vector<std::string>& command,
                        const std::vector<std::string>& writable) {
  for (const std::string& word : command) {
    if (!word.starts_with("/")) {
      continue;  // a relative path is found from the working folder, which stays in view
    }
    std::error_code failed;
    const std::string real = std::filesystem::canonical(word, failed).string();
    if (failed) {
      continue;
    }
    const bool granted = std::any_of(writable.begin(), writable.end(), [&](const std::string& dir) {
      return dir != "/" && lies_within(real, dir);
    });
    if (lies_within(real, PRIVATE_FOLDER) && !granted) {
      return word;
    }
  }
  return "";
}

// Reads the supervisor's records until it ends or the deadline passes. Returns "" when
// they were well formed, else what was wrong, in words.
std::string read_all_reports(int reports, std::chrono::steady_clock::time_point deadline,
                             std::vector<SupervisorReport>* records) {
  ReportStream stream;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready = {reports, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return "";
    }
    std::array<char, 256> chunk{};
    const ssize_t got = read(reports, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return stream.end() ? "" : stream.malformed();
    }
    if (!stream.take(std::string_view(chunk.data(), static_cast<std::size_t>(got)), records)) {
      return stream.malformed();
    }
  }
}

// The view's entries as the supervisor takes them.
void append_view(const std::vector<ShownEntry>& entries, std::vector<std::string>* options) {
  for (const ShownEntry& entry : entries) {
    switch (entry.kind) {
      case ShownEntry::kReadOnly:
      case ShownEntry::kWritable:
      case ShownEntry::kListOnly: {
        const char* mode = entry.kind == ShownEntry::kWritable   ? "w"
                           : entry.kind == ShownEntry::kListOnly ? "l"
                                                                 : "r";
        options->insert(options->end(), {"--show", mode, std::to_string(entry.device),
                                         std::to_string(entry.inode), entry.path});
        break;
      }
      case ShownEntry::kLink:
        options->insert(options->end(), {"--link", entry.path, entry.target});
        break;
      case ShownEntry::kHidden:
        options->insert(options->end(), {"--hide", entry.path});
        break;
    }
  }
}

}  // namespace

std::string Sandbox::setup_failure(int step, int error) {
  static constexpr std::array<const char*, SupervisorReport::kLastStep + 1> PARTS = {
      "the sandbox",
      "the supervisor's command line",
      "its control groups",
      "a mount namespace of its own",
      "a folder shown read-only",
      "a /proc of its own processes",
      "a /dev without terminals",
      "its private TMPDIR",
      "a folder granted writable",
      "the limit on its processes",
      "dropping every privilege",
      "the system call filter",
      "its supervisor",
      "a start with its three streams alone",
      "a root holding only what it is shown",
      "the folders shown as the host saw them (one was replaced since)",
      "Landlock's hold on its files and signals, where no namespace can be made",
  };
  const char* part = step >= 0 && static_cast<std::size_t>(step) < PARTS.size()
                         ? PARTS[static_cast<std::size_t>(step)]
                         : PARTS[0];
  return std::string(part) + " cannot be made: " + std::strerror(error);
}

Sandbox::Sandbox(Sandbox&& other) noexcept
    : policy_(std::move(other.policy_)),
      supervisor_program_(std::move(other.supervisor_program_)),
      host_environment_(std::move(other.host_environment_)),
      filter_(std::exchange(other.filter_, -1)),
      namespaces_(other.namespaces_),
      files_(other.files_),
      landlock_(other.landlock_),
      view_(std::move(other.view_)),
      limit_in_namespace_(other.limit_in_namespace_),
      outlive_starting_thread_(other.outlive_starting_thread_),
      groups_(std::move(other.groups_)),
      description_(std::move(other.description_)) {}

Sandbox& Sandbox::operator=(Sandbox&& other) noexcept {
  if (this != &other) {
    if (filter_ >= 0) {
      close(filter_);
    }
    policy_ = std::move(other.policy_);
    supervisor_program_ = std::move(other.supervisor_program_);
    host_environment_ = std::move(other.host_environment_);
    filter_ = std::exchange(other.filter_, -1);
    namespaces_ = other.namespaces_;
    files_ = other.files_;
    landlock_ = other.landlock_;
    view_ = std::move(other.view_);
    limit_in_namespace_ = other.limit_in_namespace_;
    outlive_starting_thread_ = other.outlive_starting_thread_;
    groups_ = std::move(other.groups_);
    description_ = std::move(other.description_);
  }
  return *this;
}

Sandbox::~Sandbox() {
  if (filter_ >= 0) {
    close(filter_);
  }
}

std::optional<Sandbox> Sandbox::prepare(const SandboxPolicy& policy,
                                        const std::vector<std::vector<std::string>>& commands,
                                        std::string* problem) {
  Sandbox sandbox;
  sandbox.policy_ = policy;
  sandbox.host_environment_ = current_environment();
  sandbox.supervisor_program_ = find_supervisor_program();
  if (sandbox.supervisor_program_.empty()) {
    *problem = std::string("cannot find ") + SUPERVISOR_NAME + " beside the host, in " +
               host_folder().string() + " or ../libexec/extension-host/: the host is not whole";
    return std::nullopt;
  }
  if (!policy.enabled) {
    sandbox.description_ = "no sandbox (--no-sandbox): it reaches all the user may";
    return sandbox;
  }
  sandbox.view_ = ViewPlan::make(policy, problem);
  if (!sandbox.view_) {
    return std::nullopt;
  }
  std::vector<std::string> missing;
  std::string filter_problem;
  sandbox.filter_ = compile_system_call_filter(policy.network, &filter_problem);
  if (sandbox.filter_ < 0) {
    missing.push_back("the system call filter (" + filter_problem + ")");
  }
  auto groups = std::make_unique<ControlGroups>(ControlGroups::find());
  const bool groups_bound_processes = groups->bounds_processes();
  if (groups->bounds_processes() || groups->bounds_memory()) {
    sandbox.groups_ = std::move(groups);
  }
  std::string namespace_problem;
  const std::vector<int> attempts = geteuid() == 0
                                        ? std::vector<int>{PIDS_AND_MOUNTS, USER_PIDS_AND_MOUNTS}
                                        : std::vector<int>{USER_PIDS_AND_MOUNTS};
  bool made = false;
  for (const int namespaces : attempts) {
    sandbox.namespaces_ = namespaces;
    sandbox.files_ = true;
    sandbox.limit_in_namespace_ = (namespaces & CLONE_NEWUSER) != 0 && !groups_bound_processes;
    const std::string failure = sandbox.probe();
    if (failure.empty()) {
      made = true;
      break;
    }
    if (namespace_problem.empty()) {
      namespace_problem = failure;
    }
  }
  if (!made) {
    // Without namespaces, Landlock alone keeps it from the terminal and from the files it
    // is not shown: a sandbox without it would be no sandbox, and is not run.
    sandbox.namespaces_ = 0;
    sandbox.files_ = false;
    sandbox.limit_in_namespace_ = false;
    sandbox.landlock_ = true;
    const std::string failure = sandbox.probe();
    if (!failure.empty()) {
      *problem = "the sandbox cannot be made on this machine: without namespaces of its own (" +
                 namespace_problem + "), " + failure + "; --no-sandbox runs it without any";
      return std::nullopt;
    }
    missing.push_back(
        "its own namespaces, so it would see the host's processes (not to trace, read or "
        "signal them) and share the machine's IPC, its files held by Landlock alone (" +
        namespace_problem + ")");
  }
  if (!sandbox.limit_in_namespace_ && !groups_bound_processes) {
    missing.emplace_back("a bound on its processes (no control group the host may make)");
  }
  if (!missing.empty() && !policy.accept_weaker) {
    std::string parts;
    for (const std::string& part : missing) {
      parts += (parts.empty() ? "" : "; ") + part;
    }
    *problem = "the sandbox cannot be made whole on this machine: it would lack " + parts +
               ". --weaker-sandbox runs the extension without that, --no-sandbox without any";
    return std::nullopt;
  }
  // Where no PID namespace hides the host, the host hides itself: a process that is not
  // dumpable may not be traced, nor its memory, environment or descriptors read, by one
  // without privilege, which the extension is.
  if (sandbox.landlock_ && prctl(PR_SET_DUMPABLE, 0) != 0) {
    *problem = std::string("the host cannot keep itself from the extension: ") +
               std::strerror(errno) + "; --no-sandbox runs it without any sandbox";
    return std::nullopt;
  }
  for (const std::vector<std::string>& command : commands) {
    if (std::string hidden = sandbox.hides(command); !hidden.empty()) {
      *problem = std::move(hidden);
      return std::nullopt;
    }
  }
  sandbox.description_ = sandbox.describe();
  return sandbox;
}

std::string Sandbox::hides(const std::vector<std::string>& command) const {
  if (!files_) {
    return "";
  }
  const std::string hidden = hidden_path(command, policy_.writable);
  if (hidden.empty()) {
    return "";
  }
  return std::string("the sandbox gives the extension a private ") + PRIVATE_FOLDER + ", where " +
         hidden + " cannot be seen: put it elsewhere, or grant its folder with --writable " +
         std::filesystem::path(hidden).parent_path().string();
}

std::string Sandbox::describe() const {
  std::vector<std::string> parts;
  const bool pid_namespace = (namespaces_ & CLONE_NEWPID) != 0;
  parts.emplace_back(files_ || landlock_ ? "no terminal" : "the terminal reachable");
  parts.emplace_back(pid_namespace && files_ ? "only its own processes"
                     : landlock_ ? "the host's processes in sight, not to trace, read or signal"
                                 : "the host's processes in sight");
  parts.emplace_back((namespaces_ & CLONE_NEWIPC) != 0 ? "IPC of its own"
                                                       : "the machine's IPC shared");
  parts.emplace_back(policy_.network ? "network allowed"
                     : filter_ >= 0  ? "no network"
                                     : "network reachable");
  if (files_ || landlock_) {
    std::string files = files_ ? std::string("files read-only but its private TMPDIR, ") +
                                     PRIVATE_FOLDER + " (" + mebibytes(policy_.temporary_size) + ")"
                               : "files read-only but its TMPDIR, a folder the host removes, "
                                 "held by Landlock";
    for (const std::string& folder : policy_.writable) {
      files += " and " + folder;
    }
    parts.push_back(files);
    std::string seen =
        "of the files only the system's, its program's, its arguments' and the current folder";
    for (const std::string& folder : policy_.readable) {
      seen += " and " + folder;
    }
    parts.push_back(seen);
    // Landlock cannot hide a name, only keep what it names from being read.
    parts.push_back(std::string(files_ ? "hidden" : "none to read of") +
                    " the home folders, /root, /tmp, /var, /run, /srv, /mnt, /media and " +
                    std::to_string(view_->hidden_count()) +
                    " entries of /etc that only their owners may read" +
                    (files_ ? "" : ", though their names may be looked up"));
  } else {
    parts.emplace_back("files writable as the user may, TMPDIR a folder the host removes");
  }
  std::string environment = "environment";
  for (const char* name : PASSED_VARIABLES) {
    environment += std::string(" ") + name;
  }
  for (const std::string& named : policy_.environment) {
    environment += ' ';
    environment += named.substr(0, named.find('='));
  }
  parts.push_back(environment);
  const bool bounded = limit_in_namespace_ || (groups_ && groups_->bounds_processes());
  parts.push_back(bounded ? "at most " + std::to_string(policy_.max_processes) + " processes"
                          : "processes unbounded");
  parts.push_back(groups_ && groups_->bounds_memory()
                      ? "at most " + mebibytes(policy_.max_memory) + " of memory"
                      : "memory unbounded (no control group the host may make)");
  std::string text;
  for (const std::string& part : parts) {
    text += (text.empty() ? "" : ", ") + part;
  }
  return text;
}

std::vector<std::string> Sandbox::supervisor_options(const std::string& program,
                                                     const std::vector<std::string>& argv,
                                                     bool probe, std::size_t groups,
                                                     const std::string& temporary_folder) const {
  std::vector<std::string> options = {SUPERVISOR_NAME};
  if ((namespaces_ & CLONE_NEWPID) != 0) {
    options.emplace_back("--pid-namespace");
  }
  if (outlive_starting_thread_) {
    options.emplace_back("--outlive-starting-thread");
  }
  if (files_) {
    options.emplace_back("--files");
    options.push_back(std::to_string(policy_.temporary_size));
    append_view(view_->for_command(program, argv), &options);
    options.emplace_back("--cwd");
    options.push_back(view_->working_folder());
  } else if (landlock_) {
    options.emplace_back("--landlock");
    append_view(view_->for_command(program, argv, /*entry_by_entry=*/true), &options);
  }
  if (!temporary_folder.empty()) {
    options.emplace_back("--temporary-folder");
    options.push_back(temporary_folder);
  }
  if (limit_in_namespace_) {
    options.emplace_back("--process-limit");
    options.push_back(std::to_string(policy_.max_processes));
  }
  if (policy_.enabled) {
    options.emplace_back("--drop-privilege");
  }
  if (filter_ >= 0) {
    options.emplace_back("--filter");
  }
  if (groups > 0) {
    options.emplace_back("--control-groups");
    options.push_back(std::to_string(groups));
  }
  if (probe) {
    options.emplace_back("--probe");
  }
  options.emplace_back("--");
  return options;
}

bool Sandbox::launch(const std::string& program, const std::vector<std::string>& argv, int input,
                     int output, int error, bool probe, StartedSandbox* started,
                     std::string* problem) const {
  if (groups_) {
    std::optional<ExtensionGroups> groups =
        groups_->make(policy_.max_processes, policy_.max_memory, problem);
    if (!groups) {
      return false;
    }
    started->groups = std::move(*groups);
  }
  std::string temporary_folder;
  if (files_) {
    temporary_folder = PRIVATE_FOLDER;
  } else if (policy_.enabled) {
    const char* base = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): read only
    std::string pattern = (base != nullptr && base[0] == '/' ? std::string(base) : "/tmp");
    pattern += "/extension-host-XXXXXX";  // removed by its supervisor, however the host ends
    if (mkdtemp(pattern.data()) == nullptr) {
      *problem = "cannot make a folder for its temporary files in " +
                 pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno);
      return false;
    }
    temporary_folder = pattern;
    started->temporary_folder = pattern;
  }
  SupervisorLaunch launch;
  launch.program = supervisor_program_;
  launch.argv = supervisor_options(program, argv, probe, started->groups.joining().size(),
                                   started->temporary_folder);
  launch.argv.push_back(program);
  launch.argv.insert(launch.argv.end(), argv.begin(), argv.end());
  launch.environment = extension_environment(host_environment_, policy_, temporary_folder);
  launch.namespaces = namespaces_;
  launch.filter = filter_;
  launch.groups = started->groups.joining();
  const int failed = launch_supervisor(launch, input, output, error, &started->supervised);
  started->groups.close_joining();
  if (failed != 0) {
    *problem = std::string("cannot start its supervisor: ") + std::strerror(failed);
    return false;
  }
  return true;
}

bool Sandbox::start(const std::string& program, const std::vector<std::string>& argv, int input,
                    int output, int error, StartedSandbox* started, std::string* problem) const {
  return launch(program, argv, input, output, error, /*probe=*/false, started, problem);
}

std::string Sandbox::probe() const {
  const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nothing < 0) {
    return std::string("cannot open /dev/null: ") + std::strerror(errno);
  }
  StartedSandbox started;
  std::string problem;
  const bool launched =
      launch("/", {"probe"}, nothing, nothing, nothing, /*probe=*/true, &started, &problem);
  close(nothing);
  if (!launched) {
    return problem;
  }
  std::vector<SupervisorReport> records;
  std::string fault = read_all_reports(started.supervised.reports,
                                       std::chrono::steady_clock::now() + PROBE_TIMEOUT, &records);
  close(started.supervised.reports);
  close(started.supervised.control);
  reap_supervisor(started.supervised.process, PROBE_TIMEOUT);
  if (!fault.empty()) {
    return fault;
  }
  for (const SupervisorReport& record : records) {
    if (record.kind == SupervisorReport::kSetupFailed) {
      return setup_failure(record.step, record.value);
    }
  }
  const bool ended_well = records.size() >= 2 && records[0].kind == SupervisorReport::kStarted &&
                          records[1].kind == SupervisorReport::kExited && records[1].value == 0;
  return ended_well ? "" : "its supervisor did not answer as it should";
}
