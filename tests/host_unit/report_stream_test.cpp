// The supervisor's records are believed only in their order and with their values: each
// sequence below is fed whole, then byte by byte, and must be taken or refused alike.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "sandbox/report_stream.h"

namespace {

using R = SupervisorReport;

constexpr int EXIT_0 = 0;             // the wait status of exit(0)
constexpr int EXIT_3 = 3 << 8;        // exit(3)
constexpr int SIGNAL_11 = 11;         // killed by SIGSEGV
constexpr int SIGNAL_11_CORE = 0x8b;  // the same, with a core dumped

std::string bytes_of(const std::vector<R>& records) {
  std::string bytes;
  for (const R& record : records) {
    bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
  }
  return bytes;
}

struct Sequence {
  const char* name;
  std::vector<R> records;
  std::string tail;   // bytes after the records
  const char* fault;  // "" when every record is taken and the end is clean
};

const std::vector<Sequence>& sequences() {
  static const std::vector<Sequence> all = {
      {"a clean run", {{R::kStarted, 0}, {R::kExited, EXIT_3}, {R::kAlone, 0}}, "", ""},
      {"killed, core dumped",
       {{R::kStarted, 0}, {R::kExited, SIGNAL_11_CORE}, {R::kAlone, 0}},
       "",
       ""},
      {"processes left", {{R::kStarted, 0}, {R::kExited, SIGNAL_11}, {R::kLeftBehind, 2}}, "", ""},
      {"a start that failed", {{R::kSetupFailed, 1, R::kDevices}}, "", ""},
      {"an exec that failed", {{R::kExecFailed, 2}}, "", ""},
      {"cut short between records", {{R::kStarted, 0}}, "", ""},
      {"cut short inside a record",
       {{R::kStarted, 0}},
       std::string(5, 'x'),
       "ended inside a record, after 5 of its 12 bytes"},
      {"an exit before the start", {{R::kExited, EXIT_0}}, "", "\"exited\" before the start"},
      {"two starts", {{R::kStarted, 0}, {R::kStarted, 0}}, "", "\"started\" after the start"},
      {"two exits",
       {{R::kStarted, 0}, {R::kExited, 0}, {R::kExited, 0}},
       "",
       "\"exited\" after the end"},
      {"the end before the exit",
       {{R::kStarted, 0}, {R::kAlone, 0}},
       "",
       "\"nothing left\" before the exit"},
      {"a record after the last",
       {{R::kStarted, 0}, {R::kExited, 0}, {R::kAlone, 0}, {R::kAlone, 0}},
       "",
       "a record after the last"},
      {"a record after a failed start",
       {{R::kExecFailed, 2}, {R::kStarted, 0}},
       "",
       "a record after the last"},
      {"an unknown kind", {{R::kStarted, 0}, {9, 0}}, "", "unknown kind 9"},
      {"a status no process ends with",
       {{R::kStarted, 0}, {R::kExited, 0x7f}},
       "",
       "a status no process ends with (127)"},
      {"a status with high bits",
       {{R::kStarted, 0}, {R::kExited, 1 << 16}},
       "",
       "a status no process ends with"},
      {"a start with a value", {{R::kStarted, 1}}, "", "\"started\" with the value 1"},
      {"a step on another kind", {{R::kStarted, 0, R::kDevices}}, "", "naming a step (6)"},
      {"a setup failure of no step",
       {{R::kSetupFailed, 1, R::kNoStep}},
       "",
       "naming no step of the sandbox (0)"},
      {"a setup failure past the last step",
       {{R::kSetupFailed, 1, R::kLastStep + 1}},
       "",
       "naming no step of the sandbox"},
      {"an exec failure without an error", {{R::kExecFailed, 0}}, "", "no error number (0)"},
      {"none left, counted",
       {{R::kStarted, 0}, {R::kExited, 0}, {R::kAlone, 3}},
       "",
       "\"nothing left\" with the count 3"},
      {"left, none counted",
       {{R::kStarted, 0}, {R::kExited, 0}, {R::kLeftBehind, 0}},
       "",
       "\"processes left\" with the count 0"},
  };
  return all;
}

// Feeds `bytes` in pieces of `piece` bytes, then ends. Returns the fault, "" if none, and
// the records taken in `*taken`.
std::string feed(std::string_view bytes, std::size_t piece, std::vector<R>* taken) {
  ReportStream stream;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    if (!stream.take(bytes.substr(at, piece), taken)) {
      EXPECT_FALSE(stream.take("", taken)) << "a faulty stream takes nothing more";
      return stream.fault();
    }
  }
  stream.end();
  return stream.fault();
}

TEST(ReportStream, TakesWhatTheSupervisorSaysAndRefusesAnythingElse) {
  for (const Sequence& sequence : sequences()) {
    const std::string bytes = bytes_of(sequence.records) + sequence.tail;
    for (const std::size_t piece : {bytes.size() + 1, std::size_t{1}, std::size_t{7}}) {
      std::vector<R> taken;
      const std::string fault = feed(bytes, piece, &taken);
      const std::string expected = sequence.fault;
      SCOPED_TRACE(std::string(sequence.name) + ", in pieces of " + std::to_string(piece));
      if (expected.empty()) {
        EXPECT_EQ(fault, "");
        ASSERT_EQ(taken.size(), sequence.records.size());
        for (std::size_t i = 0; i < taken.size(); ++i) {
          EXPECT_EQ(taken[i].kind, sequence.records[i].kind);
          EXPECT_EQ(taken[i].value, sequence.records[i].value);
        }
      } else {
        EXPECT_NE(fault.find(expected), std::string::npos) << fault;
        EXPECT_LT(taken.size(), sequence.records.size() + (sequence.tail.empty() ? 0 : 1));
      }
    }
  }
}

TEST(ReportStream, KnowsWhenTheLastRecordHasCome) {
  ReportStream stream;
  std::vector<R> taken;
  ASSERT_TRUE(stream.take(bytes_of({{R::kStarted, 0}, {R::kExited, 0}}), &taken));
  EXPECT_FALSE(stream.finished());
  ASSERT_TRUE(stream.take(bytes_of({{R::kLeftBehind, 1}}), &taken));
  EXPECT_TRUE(stream.finished());
  EXPECT_TRUE(stream.end());
}

}  // namespace
