// The benchmark's own correctness: the replies it expects are the ones jansson writes, and
// its check refuses every reply that is not the answer to its call.
#include "workload.h"

#include <gtest/gtest.h>
#include <jansson.h>

#include <string>

#include "hostile.h"

namespace {

constexpr std::size_t ENCODER_FLAGS = JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS;

// What jansson writes for `text`, parsed as the extension parses it, or "" if it fails.
std::string reencoded(std::string_view text, std::size_t extra_flags = 0) {
  json_t* value =
      json_loadb(text.data(), text.size(), JSON_REJECT_DUPLICATES | JSON_DECODE_ANY, nullptr);
  char* dumped = json_dumps(value, ENCODER_FLAGS | extra_flags);
  std::string result = dumped != nullptr ? dumped : "";
  free(dumped);  // NOLINT(cppcoreguidelines-no-malloc): jansson's string
  json_decref(value);
  return result;
}

// The largest calls the extension takes, and a small one.
std::vector<Workload> every_workload() {
  const std::size_t largest = LONGEST_LINE - call_overhead();
  std::vector<Workload> workloads;
  workloads.push_back(small_echo_workload(3));
  workloads.push_back(large_string_workload(largest, 2));
  workloads.push_back(large_array_workload(largest, 2));
  for (Workload& hostile : hostile_workloads(largest, 2)) {
    workloads.push_back(std::move(hostile));
  }
  return workloads;
}

TEST(BenchWorkload, ExpectedValueIsWhatTheEncoderWrites) {
  for (const Workload& workload : every_workload()) {
    EXPECT_EQ(reencoded(workload.value_in, JSON_ENCODE_ANY), workload.value_out) << workload.name;
  }
}

TEST(BenchWorkload, LibraryFloorReplyIsTheCallEncodedAgain) {
  for (const Workload& workload : every_workload()) {
    for (std::size_t index = 0; index < workload.calls; ++index) {
      const std::string reply = reencoded(workload.line(index)) + "\n";
      EXPECT_TRUE(reply_matches(workload, ReplyForm::kReencodedCall, false, index, reply))
          << workload.name << " call " << index;
      EXPECT_FALSE(reply_matches(workload, ReplyForm::kReencodedCall, false, index + 1, reply));
    }
  }
}

TEST(BenchWorkload, CallsFitTheExtensionsLineLimit) {
  for (const Workload& workload : every_workload()) {
    ASSERT_EQ(workload.line_ends.size(), workload.calls);
    for (std::size_t index = 0; index < workload.calls; ++index) {
      EXPECT_LE(workload.line(index).size(), LONGEST_LINE) << workload.name;
      EXPECT_EQ(workload.line(index).back(), '\n');
    }
  }
  const std::size_t largest = LONGEST_LINE - call_overhead();
  EXPECT_GT(large_string_workload(largest, 1).line(0).size(), LONGEST_LINE - 16);
  EXPECT_GT(large_array_workload(largest, 1).line(0).size(), LONGEST_LINE - 1300);
  for (const Workload& hostile : hostile_workloads(largest, 1)) {
    // Filled to within one nest of the deepest kind, the largest item of any.
    EXPECT_GT(hostile.line(0).size(), LONGEST_LINE - 2 * DEEPEST_ARGUMENT) << hostile.name;
  }
}

TEST(BenchWorkload, NestingIsAtTheParsersDepthLimit) {
  const std::string deepest =
      std::string(DEEPEST_ARGUMENT, '[') + std::string(DEEPEST_ARGUMENT, ']');
  const std::string call = R"({"arguments":[)" + deepest + "]}";
  EXPECT_EQ(reencoded(call), call) << "the deepest argument is refused";
  EXPECT_EQ(reencoded(R"({"arguments":[[)" + deepest + "]]}"), "") << "one level more is taken";
}

TEST(BenchWorkload, ProtocolReplyIsCheckedByteForByte) {
  const Workload workload = large_string_workload(200, 3);
  const std::string right = R"({"extension_id":"sample","protocol_version":"1.0",)"
                            R"("request_id":"call-0000001","type":"call_result","value":)" +
                            workload.value_out + "}\n";
  EXPECT_TRUE(reply_matches(workload, ReplyForm::kProtocol, false, 1, right));

  struct Case {
    const char* why;
    std::string reply;
    std::size_t index;
  };
  std::string lower_case = right;
  lower_case.replace(lower_case.find("\\u00FC"), 6, "\\u00fc");
  std::string other_value = right;
  other_value.replace(other_value.find("Gr"), 2, "gr");
  const Case wrong[] = {
      {"an answer to the call before", right, 0},
      {"an answer to the call after", right, 2},
      {"cut short", right.substr(0, right.size() - 2) + "\n", 1},
      {"a byte more", right.substr(0, right.size() - 1) + " \n", 1},
      {"escapes in lower case, when they must be exact", lower_case, 1},
      {"another value", other_value, 1},
      {"no line feed", right.substr(0, right.size() - 1), 1},
  };
  for (const Case& bad : wrong) {
    EXPECT_FALSE(reply_matches(workload, ReplyForm::kProtocol, false, bad.index, bad.reply))
        << bad.why;
  }
  // Python and jq write \u escapes in lower case: accepted where asked, nothing else is.
  EXPECT_TRUE(reply_matches(workload, ReplyForm::kProtocol, true, 1, lower_case));
  EXPECT_FALSE(reply_matches(workload, ReplyForm::kProtocol, true, 1, other_value));
}

TEST(BenchWorkload, PipeFloorReplyHasTheCallsLength) {
  const Workload workload = small_echo_workload(2);
  const std::size_t length = workload.line(0).size();
  EXPECT_TRUE(reply_matches(workload, ReplyForm::kSameLength, false, 0,
                            std::string(length - 1, 'x') + "\n"));
  EXPECT_FALSE(reply_matches(workload, ReplyForm::kSameLength, false, 0,
                             std::string(length - 2, 'x') + "\n"));
  EXPECT_FALSE(reply_matches(workload, ReplyForm::kSameLength, false, 0, std::string(length, 'x')));
}

}  // namespace
