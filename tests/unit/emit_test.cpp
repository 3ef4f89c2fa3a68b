// The writing side of the channel: the exact wire form of every kind of value, and
// failures of the stream.
#include <gtest/gtest.h>

#include <string>

#include "base/json_ref.h"
#include "channel/channel.h"
#include "support/streams.h"

namespace {

JsonRef parse(const std::string& text) {
  return JsonRef::adopt(json_loads(text.c_str(), JSON_DECODE_ANY, nullptr));
}

// What emit writes for `message`, built from `text`.
std::string emitted(const std::string& text) {
  const JsonRef message = parse(text);
  EXPECT_TRUE(message) << text;
  File out = output_stream();
  EXPECT_TRUE(emit(out.get(), message.get()));
  return written(out.get());
}

struct WireCase {
  const char* given;
  const char* written;
};

class EmitWireForm : public testing::TestWithParam<WireCase> {};

TEST_P(EmitWireForm, WritesOneCompactAsciiLine) {
  EXPECT_EQ(emitted(GetParam().given), std::string(GetParam().written) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Values, EmitWireForm,
    testing::Values(
        WireCase{R"({})", R"({})"},
        WireCase{
            R"({ "type" : "x", "request_id" : "r", "extension_id" : "e", "protocol_version" : "p" })",
            R"({"extension_id":"e","protocol_version":"p","request_id":"r","type":"x"})"},
        WireCase{R"({"b":{"d":1,"c":[{"f":1,"e":2}]},"a":null})",
                 R"({"a":null,"b":{"c":[{"e":2,"f":1}],"d":1}})"},
        WireCase{R"({"B":1,"a":2,"_":3,"aa":4})", R"({"B":1,"_":3,"a":2,"aa":4})"},
        WireCase{
            R"({"r":[0.1,2.0,1e300,-0.0,1e-7,0.5]})",
            R"({"r":[0.10000000000000001,2.0,1.0000000000000001e300,-0.0,9.9999999999999995e-8,0.5]})"},
        WireCase{R"({"i":[0,-1,9223372036854775807,-9223372036854775808]})",
                 R"({"i":[0,-1,9223372036854775807,-9223372036854775808]})"},
        WireCase{"{\"s\":\"\xc3\xa9\xe4\xb8\x96\xf0\x9f\x98\x80\"}",
                 R"({"s":"\u00E9\u4E16\uD83D\uDE00"})"},
        WireCase{"{\"\xc3\xa9\":true}", R"({"\u00E9":true})"},
        WireCase{R"({"s":"\" \\ / \b \f \n \r \t \u0001 \u001f"})",
                 R"({"s":"\" \\ / \b \f \n \r \t \u0001 \u001F"})"}),
    [](const testing::TestParamInfo<WireCase>& case_info) {
      return "case" + std::to_string(case_info.index);
    });

TEST(Emit, WritesALargeLineWhole) {
  const std::string big(3 << 20, 'x');
  const JsonRef message = JsonRef::adopt(json_pack("{s:s}", "v", big.c_str()));
  File out = output_stream();
  ASSERT_TRUE(emit(out.get(), message.get()));
  EXPECT_EQ(written(out.get()), "{\"v\":\"" + big + "\"}\n");
}

TEST(Emit, ReportsAWriteThatFails) {
  const JsonRef message = parse("{\"a\":1}");
  File full(std::fopen("/dev/full", "w"));
  ASSERT_NE(full, nullptr);
  std::setvbuf(full.get(), nullptr, _IONBF, 0);
  EXPECT_FALSE(emit(full.get(), message.get()));
}

TEST(Emit, ReportsAFlushThatFails) {
  // Buffered: the line fits the buffer, so only the flush meets the full device.
  const JsonRef message = parse("{\"a\":1}");
  File full(std::fopen("/dev/full", "w"));
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(emit(full.get(), message.get()));
}

TEST(Emit, ReportsAStreamNotOpenForWriting) {
  const JsonRef message = parse("{\"a\":1}");
  File read_only(std::fopen("/dev/null", "r"));
  EXPECT_FALSE(emit(read_only.get(), message.get()));
}

TEST(Emit, RefusesAValueThatIsNoMessageAndWritesNothing) {
  const JsonRef number = JsonRef::adopt(json_integer(1));
  File out = output_stream();
  EXPECT_FALSE(emit(out.get(), number.get()));
  EXPECT_EQ(written(out.get()), "");
}

TEST(Emit, LeavesTheCallersReferenceAlone) {
  const JsonRef message = parse("{\"a\":1}");
  File out = output_stream();
  ASSERT_TRUE(emit(out.get(), message.get()));
  EXPECT_EQ(message.get()->refcount, 1U);
}

}  // namespace
