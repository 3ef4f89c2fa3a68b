// Checking the supervisor's records, one stage at a time.
#include "sandbox/report_stream.h"

#include <sys/wait.h>

#include <csignal>
#include <cstring>

namespace {

// Error numbers are small and positive; 4095 is the largest the kernel returns.
constexpr int MAX_ERROR_NUMBER = 4095;

// Whether `status` is one that waitpid gives for a process that has ended: an exit code,
// or a signal with perhaps a core dumped, and no other bit.
bool is_ending_status(int status) {
  constexpr unsigned ALL_BITS = 0xffffU;
  constexpr unsigned CORE_DUMPED = 0x80U;
  const auto bits = static_cast<unsigned>(status);
  if ((bits & ~ALL_BITS) != 0) {
    return false;
  }
  if (WIFEXITED(status)) {
    return true;
  }
  const unsigned signal_number = bits & 0x7fU;
  return (bits >> 8U) == 0 && signal_number >= 1 && signal_number < static_cast<unsigned>(NSIG) &&
         (bits & ~(0x7fU | CORE_DUMPED)) == 0;
}

// "a record \"exited\"", or of what kind it is when it is of none.
std::string record_name(std::int32_t kind) {
  switch (kind) {
    case SupervisorReport::kStarted:
      return "a record \"started\"";
    case SupervisorReport::kExecFailed:
      return "a record \"exec failed\"";
    case SupervisorReport::kExited:
      return "a record \"exited\"";
    case SupervisorReport::kAlone:
      return "a record \"nothing left\"";
    case SupervisorReport::kLeftBehind:
      return "a record \"processes left\"";
    case SupervisorReport::kSetupFailed:
      return "a record \"setup failed\"";
    default:
      return "a record of unknown kind " + std::to_string(kind);
  }
}

}  // namespace

std::string ReportStream::accept(const SupervisorReport& record) {
  std::string what = record_name(record.kind);
  const auto out_of_place = [&](const char* where) { return what + " " + where; };
  if (record.step != SupervisorReport::kNoStep && record.kind != SupervisorReport::kSetupFailed) {
    return what + " naming a step (" + std::to_string(record.step) + ")";
  }
  switch (record.kind) {
    case SupervisorReport::kStarted:
      if (stage_ != Stage::kBeforeStart) {
        return out_of_place("after the start");
      }
      if (record.value != 0) {
        return what + " with the value " + std::to_string(record.value);
      }
      stage_ = Stage::kRunning;
      return "";
    case SupervisorReport::kExecFailed:
    case SupervisorReport::kSetupFailed:
      if (stage_ != Stage::kBeforeStart) {
        return out_of_place("after the start");
      }
      if (record.value < 0 || record.value > MAX_ERROR_NUMBER ||
          (record.kind == SupervisorReport::kExecFailed && record.value == 0)) {
        return what + " with no error number (" + std::to_string(record.value) + ")";
      }
      if (record.kind == SupervisorReport::kSetupFailed &&
          (record.step <= SupervisorReport::kNoStep || record.step > SupervisorReport::kLastStep)) {
        return what + " naming no step of the sandbox (" + std::to_string(record.step) + ")";
      }
      stage_ = Stage::kFinished;
      return "";
    case SupervisorReport::kExited:
      if (stage_ != Stage::kRunning) {
        return out_of_place(stage_ == Stage::kBeforeStart ? "before the start" : "after the end");
      }
      if (!is_ending_status(record.value)) {
        return what + " with a status no process ends with (" + std::to_string(record.value) + ")";
      }
      stage_ = Stage::kExited;
      return "";
    case SupervisorReport::kAlone:
    case SupervisorReport::kLeftBehind:
      if (stage_ != Stage::kExited) {
        return out_of_place(stage_ == Stage::kFinished ? "after the end" : "before the exit");
      }
      if (record.kind == SupervisorReport::kAlone ? record.value != 0 : record.value <= 0) {
        return what + " with the count " + std::to_string(record.value);
      }
      stage_ = Stage::kFinished;
      return "";
    default:
      return what;
  }
}

bool ReportStream::take(std::string_view bytes, std::vector<SupervisorReport>* records) {
  if (faulty()) {
    return false;
  }
  partial_.append(bytes);
  std::size_t at = 0;
  for (; at + sizeof(SupervisorReport) <= partial_.size(); at += sizeof(SupervisorReport)) {
    SupervisorReport record;
    std::memcpy(&record, partial_.data() + at, sizeof record);
    if (stage_ == Stage::kFinished) {
      fault_ = "a record after the last";
    } else {
      fault_ = accept(record);
    }
    if (faulty()) {
      partial_.clear();
      return false;
    }
    records->push_back(record);
  }
  partial_.erase(0, at);
  return true;
}

bool ReportStream::end() {
  if (!faulty() && !partial_.empty()) {
    fault_ = "the reports ended inside a record, after " + std::to_string(partial_.size()) +
             " of its " + std::to_string(sizeof(SupervisorReport)) + " bytes";
    partial_.clear();
  }
  return !faulty();
}
