// Lines written from a template: byte for byte what emit writes for the whole message,
// whatever the values; and templates that cannot be made are refused.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "base/json_ref.h"
#include "channel/channel.h"
#include "channel/line_template.h"
#include "protocol/outgoing.h"
#include "support/streams.h"

namespace {

JsonRef parse(const std::string& text) {
  return JsonRef::adopt(
      json_loads(text.c_str(), JSON_DECODE_ANY | JSON_REJECT_DUPLICATES, nullptr));
}

std::string emitted(const json_t* message) {
  File out = output_stream();
  EXPECT_TRUE(emit(out.get(), message));
  return written(out.get());
}

std::string from_template(const LineTemplate& line, std::array<const json_t*, 2> values) {
  File out = output_stream();
  EXPECT_TRUE(line.emit(out.get(), values));
  return written(out.get());
}

std::string nested_arrays(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + "1" +
         std::string(static_cast<std::size_t>(depth), ']');
}

TEST(CallResultTemplate, WritesWhatEmitWritesForTheBuiltReply) {
  const std::optional<LineTemplate> line = make_call_result_template();
  ASSERT_TRUE(line);
  const char* const request_ids[] = {
      R"("r")",           R"("")",           R"("a\"b\\c/d")", R"("\u00e9\ud83c\udf89")",
      R"("\u0001 \t\n")", R"("request_id")", R"("value")"};
  const std::string values[] = {
      "null",
      "true",
      "-0",
      "9223372036854775807",
      "0.1",
      "1e300",
      "2.0",
      R"("")",
      R"("Gr\u00fc\u00dfe \ud83c\udf89 \u007f")",
      R"("\u0001request_id")",
      R"("\u0001value")",
      R"({"z":1,"a":{"y":[],"b":{}},"\u00e9":"x","A":null})",
      R"([{"b":1,"a":2},[],{}])",
      nested_arrays(2000),
      R"({"extension_id":"other","type":"x","value":"v"})",
  };
  for (const char* id_text : request_ids) {
    for (const std::string& value_text : values) {
      const JsonRef id = parse(id_text);
      const JsonRef value = parse(value_text);
      ASSERT_TRUE(id && value) << id_text << " " << value_text;
      const JsonRef built = build_call_result(id.get(), value.get());
      EXPECT_EQ(from_template(*line, {id.get(), value.get()}), emitted(built.get()))
          << id_text << " " << value_text;
    }
  }
}

TEST(LineTemplate, WritesALargeValueWhole) {
  const JsonRef message = parse(R"({"k":"v","w":0})");
  const JsonRef v = parse(R"("v")");
  const JsonRef zero = parse("0");
  const std::array<const json_t*, 2> markers{v.get(), zero.get()};
  const std::optional<LineTemplate> line = LineTemplate::make(message.get(), markers);
  ASSERT_TRUE(line);
  const JsonRef big = JsonRef::adopt(json_string(std::string(3 << 20, 'x').c_str()));
  const JsonRef array = parse("[1,2]");
  EXPECT_EQ(from_template(*line, {big.get(), array.get()}),
            R"({"k":")" + std::string(3 << 20, 'x') + R"(","w":[1,2]})" + "\n");
}

TEST(LineTemplate, RefusesWhatCannotBeATemplate) {
  const JsonRef marker = parse(R"("m")");
  const JsonRef other = parse(R"("o")");
  struct Case {
    const char* why;
    std::string message;
    std::array<const json_t*, 2> markers;
    std::size_t marker_count;
  };
  const Case cases[] = {
      {"a marker that is not there", R"({"a":"o"})", {marker.get(), nullptr}, 1},
      {"a marker that stands twice", R"({"a":"m","b":"m"})", {marker.get(), nullptr}, 1},
      {"the same marker for two members", R"({"a":"m"})", {marker.get(), marker.get()}, 2},
      {"a marker's text as a key", R"({"m":1})", {marker.get(), nullptr}, 1},
      {"a marker inside an array", R"({"a":["m"]})", {marker.get(), nullptr}, 1},
      {"a message too long",
       R"({"m":"m","x":")" + std::string(LineTemplate::MAX_TEXT, 'x') + R"("})",
       {marker.get(), nullptr},
       1},
      {"a value that is no message", R"("m")", {marker.get(), nullptr}, 1},
      {"no marker at all", R"({"a":"m"})", {nullptr, nullptr}, 1},
  };
  for (const Case& bad : cases) {
    const JsonRef message = parse(bad.message);
    ASSERT_TRUE(message) << bad.why;
    EXPECT_FALSE(LineTemplate::make(message.get(), std::span(bad.markers).first(bad.marker_count)))
        << bad.why;
  }
  const JsonRef holder = parse(R"({"k":"m"})");
  const JsonRef nested = parse(R"({"a":{"k":"m"}})");
  const std::array<const json_t*, 2> overlapping{holder.get(), marker.get()};
  EXPECT_FALSE(LineTemplate::make(nested.get(), overlapping)) << "one marker inside another";
  EXPECT_FALSE(LineTemplate::make(nullptr, std::span(overlapping).first(0))) << "no message";

  const JsonRef fine = parse(R"({"a":"m","b":"o"})");
  const std::array<const json_t*, 2> both{other.get(), marker.get()};
  EXPECT_TRUE(LineTemplate::make(fine.get(), both));
  // Three markers, each standing once: refused for their number alone.
  const JsonRef third = parse(R"("p")");
  const JsonRef roomy = parse(R"({"a":"m","b":"o","c":"p"})");
  ASSERT_TRUE(LineTemplate::make(roomy.get(), std::span(both)));
  const std::array<const json_t*, 3> three{other.get(), marker.get(), third.get()};
  EXPECT_FALSE(LineTemplate::make(roomy.get(), three)) << "more markers than a template holds";
}

TEST(LineTemplate, TakesAMessageOfExactlyTheLongestText) {
  const JsonRef m = parse(R"("m")");
  const JsonRef n = parse(R"("n")");
  const JsonRef one = parse("1");
  const JsonRef two = parse("2");
  const std::array<const json_t*, 2> markers{m.get(), n.get()};
  // {"a":"m","b":"n","x":"xx...x"}: twenty-four bytes around the x's.
  const auto message_of = [](std::size_t length) {
    return R"({"a":"m","b":"n","x":")" + std::string(length - 24, 'x') + R"("})";
  };
  const JsonRef longest = parse(message_of(LineTemplate::MAX_TEXT));
  const std::optional<LineTemplate> line = LineTemplate::make(longest.get(), markers);
  ASSERT_TRUE(line) << "a message of exactly the longest text is refused";
  EXPECT_EQ(from_template(*line, {one.get(), two.get()}),
            R"({"a":1,"b":2,"x":")" + std::string(LineTemplate::MAX_TEXT - 24, 'x') + "\"}\n");
  const JsonRef longer = parse(message_of(LineTemplate::MAX_TEXT + 1));
  EXPECT_FALSE(LineTemplate::make(longer.get(), markers)) << "one byte more is taken";
}

TEST(LineTemplate, ReportsAWriteThatFails) {
  const JsonRef message = parse(R"({"a":"m"})");
  const JsonRef marker = parse(R"("m")");
  const std::array<const json_t*, 1> markers{marker.get()};
  const std::optional<LineTemplate> line = LineTemplate::make(message.get(), markers);
  ASSERT_TRUE(line);
  File full(std::fopen("/dev/full", "w"));
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(line->emit(full.get(), markers));

  File out = output_stream();
  const std::array<const json_t*, 1> nothing{nullptr};
  EXPECT_FALSE(line->emit(out.get(), nothing)) << "a value the encoder refuses";
  EXPECT_EQ(written(out.get()), "");
}

}  // namespace
