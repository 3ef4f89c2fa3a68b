// The supervisor's records as the host takes them: each one checked for its kind, its
// place in the sequence and its values before the host believes it.
//
// Only the supervisor holds the write end of the pipe (the extension's process is given
// its three streams alone), so a record that breaks these rules means that the sandbox
// itself went wrong. The host then ends everything, says so, and reads no verdict from
// the pipe.
//
// The sequence: kStarted, or why the start failed (kExecFailed or kSetupFailed, then
// nothing); after kStarted, kExited once; after it, kAlone or kLeftBehind, last. The pipe
// may end anywhere between two records (a supervisor killed by the host says no more),
// never inside one.
#ifndef HOST_SANDBOX_REPORT_STREAM_H_
#define HOST_SANDBOX_REPORT_STREAM_H_

#include <string>
#include <string_view>
#include <vector>

#include "sandbox/supervisor_report.h"

class ReportStream {
 public:
  // Takes `bytes` as they came from the pipe, and appends each whole record that is
  // well formed to `*records`. Returns false once a record is malformed, and on every
  // call after: fault() says what was wrong.
  bool take(std::string_view bytes, std::vector<SupervisorReport>* records);

  // The pipe has ended. Returns false when it ended inside a record, or had failed before.
  bool end();

  [[nodiscard]] bool faulty() const { return !fault_.empty(); }
  // The fault as a failure of the sandbox, in words: "its supervisor's report is malformed
  // (...)".
  [[nodiscard]] std::string malformed() const {
    return "its supervisor's report is malformed (" + fault_ + ")";
  }
  // What was wrong, in words: "a record of unknown kind 9". Empty while all is well.
  [[nodiscard]] const std::string& fault() const { return fault_; }
  // Whether the last record has come: nothing follows it.
  [[nodiscard]] bool finished() const { return stage_ == Stage::kFinished; }

 private:
  enum class Stage { kBeforeStart, kRunning, kExited, kFinished };
  // Checks `record` against the stage; moves the stage on. Returns "" or the fault.
  std::string accept(const SupervisorReport& record);

  Stage stage_ = Stage::kBeforeStart;
  std::string partial_;
  std::string fault_;
};

#endif  // HOST_SANDBOX_REPORT_STREAM_H_
