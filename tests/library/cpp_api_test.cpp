// The C++ header's handles over the C API: ownership moves, statuses carry their reason,
// and what a C++ host application writes reads as it runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "extension_host.hpp"

namespace {

const std::vector<std::string> SAMPLE = {SAMPLE_EXTENSION_PATH, "--protocol", "1"};

TEST(CppApi, CallsAndEndsTheSample) {
  eh::Settings settings;
  ASSERT_TRUE(settings.valid());
  // Awaited as an event: a deadline that only a hang reaches.
  ASSERT_TRUE(settings.deadline(EH_DEADLINE_SHUTDOWN, 60000).ok());
  eh::Status status;
  eh::Extension sample = eh::Extension::start(settings, SAMPLE, &status);
  ASSERT_TRUE(status.ok()) << status.to_string();
  EXPECT_EQ(sample.id(), "sample");
  ASSERT_EQ(sample.callable_count(), 3U);
  EXPECT_EQ(sample.callable_text(2, EH_NAME), "sample.wait");
  EXPECT_EQ(sample.callable_number(0, EH_MAXIMUM_ARITY), 1);

  eh::Reply reply;
  status = sample.call("sample.echo", R"([{"b":[true,null],"a":"x"}])", &reply);
  ASSERT_TRUE(status.ok()) << status.to_string();
  EXPECT_FALSE(reply.failed());
  EXPECT_EQ(reply.value(), R"({"a":"x","b":[true,null]})");

  status = sample.call("sample.fail", "[]", &reply);
  ASSERT_TRUE(status.ok()) << status.to_string();
  EXPECT_TRUE(reply.failed());
  EXPECT_EQ(reply.error_code(), "SAMPLE_FAILURE");
  EXPECT_EQ(reply.value(), "");

  status = sample.call("sample.wait", R"(["soon"])", &reply);
  EXPECT_EQ(status.code(), EH_UNFIT_CALL);
  EXPECT_NE(status.why().find("sample.wait takes Int"), std::string::npos) << status.why();
  EXPECT_FALSE(reply.valid());

  // Moved, the handle goes with it: the moved-from one frees nothing.
  eh::Extension moved = std::move(sample);
  // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move): the point
  EXPECT_EQ(sample.get(), nullptr);
  ASSERT_TRUE(moved.stop().ok());
  EXPECT_EQ(moved.end_step(), EH_AFTER_SHUTDOWN);
  EXPECT_EQ(moved.ending_words(), R"(exit status 0 after "shutdown")");
}

TEST(CppApi, AFailedStartSaysWhy) {
  eh::Settings settings;
  eh::Status status;
  const eh::Extension started = eh::Extension::start(settings, SAMPLE, &status);
  ASSERT_TRUE(status.ok()) << status.to_string();  // the command line is right
  const eh::Extension refused =
      eh::Extension::start(settings, {SAMPLE_EXTENSION_PATH, "--protocol", "2"}, &status);
  EXPECT_EQ(status.code(), EH_REFUSED_COMMAND_LINE);
  EXPECT_EQ(status.to_string().rfind("EH_REFUSED_COMMAND_LINE: it refused its command line", 0), 0U)
      << status.to_string();
}

}  // namespace
