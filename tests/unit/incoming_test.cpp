// Reading the members of incoming messages: each one found wherever it stands, and a
// member of the wrong type read as missing.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/json_ref.h"
#include "protocol/incoming.h"

namespace {

struct MembersCase {
  const char* message;
  std::optional<std::string> type;
  std::optional<std::string> callable;
  std::optional<std::string> request_id;
  const char* arguments;  // the member encoded, or null when missing
};

std::optional<std::string> copy(std::optional<std::string_view> text) {
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

TEST(ReadMembers, FindsEachMemberWhereverItStands) {
  const MembersCase cases[] = {
      {R"({"type":"call","request_id":"r","callable":"sample.echo","arguments":[1]})", "call",
       "sample.echo", "r", "[1]"},
      {R"({"arguments":{},"callable":"c","request_id":"","type":"call"})", "call", "c", "", "{}"},
      {R"({"x":1,"type":"shutdown","typ":"a","types":"b","request":"r"})", "shutdown", std::nullopt,
       std::nullopt, nullptr},
      {R"({"type":7,"request_id":1,"callable":["c"],"arguments":null})", std::nullopt, std::nullopt,
       std::nullopt, "null"},
      {R"({"Type":"call","request_id ":"r"})", std::nullopt, std::nullopt, std::nullopt, nullptr},
      {R"({"type":"h\u00e9","request_id":"a\"b"})", "h\xc3\xa9", std::nullopt, "a\"b", nullptr},
      {"{}", std::nullopt, std::nullopt, std::nullopt, nullptr},
  };
  for (const MembersCase& expected : cases) {
    const JsonRef message = JsonRef::adopt(json_loads(expected.message, 0, nullptr));
    ASSERT_TRUE(json_is_object(message.get())) << expected.message;
    const MessageMembers members = read_members(message.get());
    EXPECT_EQ(copy(members.type), expected.type) << expected.message;
    EXPECT_EQ(copy(members.callable), expected.callable) << expected.message;
    EXPECT_EQ(members.request_id != nullptr
                  ? std::optional<std::string>(std::string(text_of(members.request_id)))
                  : std::nullopt,
              expected.request_id)
        << expected.message;
    if (expected.arguments == nullptr) {
      EXPECT_EQ(members.arguments, nullptr) << expected.message;
    } else {
      ASSERT_NE(members.arguments, nullptr) << expected.message;
      char* text = json_dumps(members.arguments, JSON_COMPACT | JSON_ENCODE_ANY);
      EXPECT_STREQ(text, expected.arguments) << expected.message;
      free(text);  // NOLINT(cppcoreguidelines-no-malloc)
    }
  }
}

}  // namespace
