// The sandbox every extension runs in: made once per command, tried once before any work,
// and then given to each extension the command starts.
//
// By default an extension reaches no terminal, no process but its own, no network, none
// of the host's environment but a short list, no file it may write but its private TMPDIR,
// at most DEFAULT_MAX_PROCESSES processes and, where the machine bounds it, a bounded
// memory. Its supervisor is the first process of a PID namespace of its own and holds it
// in a mount namespace of its own, where the file system is read-only; as root, control
// groups bound its processes and memory; as any other user, a user namespace of its own
// does, with a limit on its processes that counts only its own.
//
// A machine may refuse a part (no unprivileged user namespaces; a container without the
// right to mount): then prepare() says which part is missing and why, in one line, and
// runs nothing unless the user accepted a weaker sandbox. Each part given up, and each
// loosening granted, is said in description(), which every report carries.
#ifndef HOST_SANDBOX_SANDBOX_H_
#define HOST_SANDBOX_SANDBOX_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/control_groups.h"
#include "sandbox/launch.h"
#include "sandbox/policy.h"
#include "sandbox/view_plan.h"

// One extension's sandbox, once started: what the host must hold until it has ended.
struct StartedSandbox {
  Supervised supervised;
  ExtensionGroups groups;
  // A folder the host made for its temporary files, where no private TMPDIR could be made;
  // removed by the supervisor once nothing runs, and by the host after it. Empty otherwise.
  std::string temporary_folder;
};

class Sandbox {
 public:
  // Prepares the sandbox of `policy` for the extensions of `commands` (each a program
  // and its arguments), and tries it once. Returns none, after saying why in one line in
  // `*problem`, when a part cannot be made and the policy does not accept a weaker
  // sandbox, or when a command names a file the sandbox would hide.
  static std::optional<Sandbox> prepare(const SandboxPolicy& policy,
                                        const std::vector<std::vector<std::string>>& commands,
                                        std::string* problem);

  Sandbox(Sandbox&& other) noexcept;
  Sandbox& operator=(Sandbox&& other) noexcept;
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();

  // How an extension is contained, in one line without a line feed: "no terminal, only
  // its own processes, no network, ...". Every report says it.
  [[nodiscard]] const std::string& description() const { return description_; }

  // Starts the supervisor of `program` (a path, as find_program gives it) with `argv`,
  // its standard streams on `input`, `output` and `error`. Returns true and fills
  // `*started`; or false, and why in `*problem`. The supervisor's first report tells
  // whether the extension itself started. Safe to call from several threads at once.
  // REQUIRES: the calling thread outlives the extension.
  bool start(const std::string& program, const std::vector<std::string>& argv, int input,
             int output, int error, StartedSandbox* started, std::string* problem) const;

  // Why `command` cannot run in this sandbox (a word of it names a file the sandbox's
  // private folders hide), in one line; "" when it can.
  [[nodiscard]] std::string hides(const std::vector<std::string>& command) const;

  // Lets each extension outlive the thread that started it: it then ends when the host's
  // process does (its control pipe closes), not with the thread. For the library, whose
  // host application starts extensions from threads of its own.
  void outlive_starting_thread() { outlive_starting_thread_ = true; }

  // What the supervisor said when a part of the sandbox could not be made, in words:
  // "its private TMPDIR cannot be made: Operation not permitted".
  static std::string setup_failure(int step, int error);

 private:
  Sandbox() = default;
  bool launch(const std::string& program, const std::vector<std::string>& argv, int input,
              int output, int error, bool probe, StartedSandbox* started,
              std::string* problem) const;
  // Makes the whole sandbox once, running nothing in it. Returns "" when it could be made,
  // else what could not.
  [[nodiscard]] std::string probe() const;
  [[nodiscard]] std::string describe() const;
  // The supervisor's command line, up to its "--", for a start of `program` with `argv`,
  // `groups` groups and a temporary folder made by the host, if any.
  [[nodiscard]] std::vector<std::string> supervisor_options(
      const std::string& program, const std::vector<std::string>& argv, bool probe,
      std::size_t groups, const std::string& temporary_folder) const;

  SandboxPolicy policy_;
  std::string supervisor_program_;
  std::vector<std::string> host_environment_;
  int filter_ = -1;  // the sealed filter, shared by every supervisor
  int namespaces_ = 0;
  bool files_ = false;               // a private mount namespace with the read-only view
  bool landlock_ = false;            // without namespaces: Landlock holds its files
  std::optional<ViewPlan> view_;     // what it is shown of the files
  bool limit_in_namespace_ = false;  // processes bounded by the user namespace's limit
  bool outlive_starting_thread_ = false;
  std::unique_ptr<ControlGroups> groups_;  // where the groups are made; none when unused
  std::string description_;
};

#endif  // HOST_SANDBOX_SANDBOX_H_
