// The catalogue and the call handlers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <cctype>
#include <chrono>
#include <string>

#include "base/json_ref.h"
#include "callables/catalogue.h"
#include "callables/handlers.h"
#include "callables/sleep.h"

namespace {

using Kind = CallOutcome::Kind;

JsonRef parse(const std::string& text) {
  return JsonRef::adopt(json_loads(text.c_str(), 0, nullptr));
}

TEST(Catalogue, DescribesTheThreeCallablesInOrderWithElevenTypedMembers) {
  const JsonRef callables = build_catalogue();
  ASSERT_TRUE(json_is_array(callables.get()));
  ASSERT_EQ(json_array_size(callables.get()), 3U);
  const char* names[] = {"sample.echo", "sample.fail", "sample.wait"};
  for (std::size_t i = 0; i < 3; ++i) {
    const json_t* descriptor = json_array_get(callables.get(), i);
    EXPECT_EQ(json_object_size(descriptor), 11U);
    EXPECT_STREQ(json_string_value(json_object_get(descriptor, "name")), names[i]);
    for (const char* key : {"minimum_arity", "maximum_arity"}) {
      EXPECT_TRUE(json_is_integer(json_object_get(descriptor, key))) << key;
    }
    for (const char* key : {"lazy", "cancel", "sendable", "action"}) {
      EXPECT_TRUE(json_is_boolean(json_object_get(descriptor, key))) << key;
    }
    for (const char* key : {"input", "output", "effect", "threading"}) {
      EXPECT_TRUE(json_is_string(json_object_get(descriptor, key))) << key;
    }
  }
}

struct HandlerCase {
  const char* callable;
  const char* arguments;
  Kind kind;
};

class HandleCall : public testing::TestWithParam<HandlerCase> {};

TEST_P(HandleCall, GivesTheExpectedOutcome) {
  const JsonRef arguments = parse(GetParam().arguments);
  ASSERT_TRUE(json_is_array(arguments.get())) << GetParam().arguments;
  const CallOutcome outcome = handle_call(GetParam().callable, arguments.get());
  EXPECT_EQ(outcome.kind, GetParam().kind) << GetParam().callable << " " << GetParam().arguments;
  if (outcome.kind == Kind::kValue) {
    // The first argument itself, not a copy, and no reference taken (null, true and
    // false are shared constants that count no references).
    EXPECT_EQ(outcome.value, json_array_get(arguments.get(), 0));
    if (outcome.value->refcount != static_cast<std::size_t>(-1)) {
      EXPECT_EQ(outcome.value->refcount, 1U);
    }
  } else {
    EXPECT_EQ(outcome.value, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, HandleCall,
    testing::Values(HandlerCase{"sample.echo", "[null]", Kind::kValue},
                    HandlerCase{"sample.echo", "[{\"a\":[1,2]}]", Kind::kValue},
                    HandlerCase{"sample.echo", "[[]]", Kind::kValue},
                    HandlerCase{"sample.echo", "[]", Kind::kViolation},
                    HandlerCase{"sample.echo", "[1,2]", Kind::kViolation},
                    HandlerCase{"sample.fail", "[]", Kind::kFixedError},
                    HandlerCase{"sample.fail", "[1,2,3]", Kind::kFixedError},
                    HandlerCase{"sample.wait", "[0]", Kind::kValue},
                    HandlerCase{"sample.wait", "[1]", Kind::kValue},
                    HandlerCase{"sample.wait", "[-1]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[5001]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[-9223372036854775808]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[1.5]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[0.0]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[\"1\"]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[true]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[]", Kind::kViolation},
                    HandlerCase{"sample.wait", "[0,0]", Kind::kViolation},
                    HandlerCase{"Sample.echo", "[1]", Kind::kViolation},
                    HandlerCase{"echo", "[1]", Kind::kViolation},
                    HandlerCase{"sample.echo ", "[1]", Kind::kViolation},
                    HandlerCase{"sample.", "[1]", Kind::kViolation},
                    HandlerCase{"", "[]", Kind::kViolation}),
    [](const testing::TestParamInfo<HandlerCase>& case_info) {
      std::string name = std::to_string(case_info.index) + "_" + case_info.param.callable;
      for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
      }
      return name;
    });

TEST(Interval, SplitsMillisecondsIntoSecondsAndNanoseconds) {
  const struct {
    json_int_t milliseconds;
    time_t seconds;
    long nanoseconds;
  } cases[] = {{0, 0, 0},    {1, 0, 1000000},      {999, 0, 999000000},
               {1000, 1, 0}, {1250, 1, 250000000}, {5000, 5, 0}};
  for (const auto& c : cases) {
    const timespec interval = interval_of(c.milliseconds);
    EXPECT_EQ(interval.tv_sec, c.seconds) << c.milliseconds;
    EXPECT_EQ(interval.tv_nsec, c.nanoseconds) << c.milliseconds;
  }
}

void count_alarm(int /*signal*/) {}

TEST(Sleep, AnInterruptingSignalDoesNotShortenTheSleep) {
  struct sigaction action = {};
  action.sa_handler = count_alarm;  // no SA_RESTART: nanosleep returns EINTR
  struct sigaction previous = {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval every_20ms = {{0, 20000}, {0, 20000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every_20ms, nullptr), 0);

  const auto started = std::chrono::steady_clock::now();
  sleep_milliseconds(300);
  const auto slept = std::chrono::steady_clock::now() - started;

  itimerval stop = {};
  setitimer(ITIMER_REAL, &stop, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(slept, std::chrono::milliseconds(300));
}

}  // namespace
