// Building the calls, and checking each reply against the call it answers.
#include "workload.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view CALL_HEAD = R"({"arguments":[)";
constexpr std::string_view REPLY_HEAD =
    R"({"extension_id":"sample","protocol_version":"1.0","request_id":")";

// Request identifiers all have the same length, so every line of a workload has too.
std::string request_id(std::size_t index) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "call-%07zu", index);
  return text.data();
}

std::string call_tail(std::size_t index) {
  return R"(],"callable":"sample.echo","request_id":")" + request_id(index) +
         "\",\"type\":\"call\"}\n";
}

// Whether `text` equals `expected`, where with `ignore_hex_case` the four digits of each
// \u escape may be of either case.
bool same_text(std::string_view text, std::string_view expected, bool ignore_hex_case) {
  if (!ignore_hex_case) {
    return text == expected;
  }
  if (text.size() != expected.size()) {
    return false;
  }
  for (std::size_t at = 0; at < expected.size(); ++at) {
    if (text[at] != expected[at]) {
      return false;
    }
    // An escape: its next byte must match exactly, and after a 'u' four hex digits follow.
    if (expected[at] == '\\' && at + 1 < expected.size()) {
      ++at;
      if (text[at] != expected[at]) {
        return false;
      }
      const std::size_t digits = expected[at] == 'u' ? 4 : 0;
      for (std::size_t digit = 0; digit < digits && at + 1 < expected.size(); ++digit) {
        ++at;
        if (std::tolower(static_cast<unsigned char>(text[at])) !=
            std::tolower(static_cast<unsigned char>(expected[at]))) {
          return false;
        }
      }
    }
  }
  return true;
}

// Compares `expected` with the front of `*rest` and moves past it.
bool take(std::string_view* rest, std::string_view expected, bool ignore_hex_case) {
  if (rest->size() < expected.size()) {
    return false;
  }
  const bool same = same_text(rest->substr(0, expected.size()), expected, ignore_hex_case);
  rest->remove_prefix(expected.size());
  return same;
}

}  // namespace

std::string_view Workload::line(std::size_t index) const {
  const std::size_t begin = index == 0 ? 0 : line_ends[index - 1];
  return std::string_view(input).substr(begin, line_ends[index] - begin);
}

Workload make_workload(std::string name, std::string value_in, std::string value_out,
                       std::size_t calls) {
  Workload workload{std::move(name), std::move(value_in), std::move(value_out), calls, {}, {}};
  const std::size_t line_size = CALL_HEAD.size() + workload.value_in.size() + call_tail(0).size();
  workload.input.reserve(line_size * calls);
  workload.line_ends.reserve(calls);
  for (std::size_t index = 0; index < calls; ++index) {
    workload.input += CALL_HEAD;
    workload.input += workload.value_in;
    workload.input += call_tail(index);
    workload.line_ends.push_back(workload.input.size());
  }
  return workload;
}

std::size_t call_overhead() { return CALL_HEAD.size() + call_tail(0).size(); }

Workload small_echo_workload(std::size_t calls) {
  return make_workload("small echo", "\"hello, extension\"", "\"hello, extension\"", calls);
}

Workload large_string_workload(std::size_t bytes, std::size_t calls) {
  // Each piece of text with its encoded form: ASCII, Latin, CJK and a character beyond the
  // Basic Multilingual Plane.
  struct Piece {
    std::string_view utf8;
    std::string_view escaped;
  };
  constexpr std::array<Piece, 4> pieces{{
      {"Gr\xc3\xbc\xc3\x9f"
       "e ",
       "Gr\\u00FC\\u00DFe "},
      {"from the host, ", "from the host, "},
      {"\xe4\xb8\x96\xe7\x95\x8c ", "\\u4E16\\u754C "},
      {"\xf0\x9f\x8e\x89 ", "\\uD83C\\uDF89 "},
  }};
  std::string in = "\"";
  std::string out = "\"";
  for (std::size_t next = 0; in.size() + pieces[next].utf8.size() + 1 <= bytes;
       next = (next + 1) % pieces.size()) {
    in += pieces[next].utf8;
    out += pieces[next].escaped;
  }
  in += '"';
  out += '"';
  return make_workload("large string", in, out, calls);
}

Workload large_array_workload(std::size_t bytes, std::size_t calls) {
  // Rows of eight numbers, integers and reals that print exactly, sixteen rows a block.
  constexpr std::size_t LONGEST_BLOCK = 16 * (8 * 9 + 3) + 3;
  std::string text = "[";
  std::size_t number = 0;
  while (text.size() + LONGEST_BLOCK + 1 <= bytes) {
    text += text.size() == 1 ? "[" : ",[";
    for (int row = 0; row < 16; ++row) {
      text += row == 0 ? "[" : ",[";
      for (int column = 0; column < 8; ++column, ++number) {
        if (column != 0) {
          text += ',';
        }
        std::array<char, 32> digits{};
        if (column % 2 == 0) {
          std::snprintf(digits.data(), digits.size(), "%zu", number * 7919 % 1000003);
        } else {
          std::snprintf(digits.data(), digits.size(), "-%zu.25", number % 4096);
        }
        text += digits.data();
      }
      text += ']';
    }
    text += ']';
  }
  text += ']';
  return make_workload("large array", text, text, calls);
}

bool reply_matches(const Workload& workload, ReplyForm form, bool ignore_hex_case,
                   std::size_t index, std::string_view reply) {
  switch (form) {
    case ReplyForm::kSameLength:
      return reply.size() == workload.line(index).size() && reply.back() == '\n';
    case ReplyForm::kReencodedCall:
      return take(&reply, CALL_HEAD, false) && take(&reply, workload.value_out, ignore_hex_case) &&
             take(&reply, call_tail(index), false) && reply.empty();
    case ReplyForm::kProtocol:
      return take(&reply, REPLY_HEAD, false) && take(&reply, request_id(index), false) &&
             take(&reply, R"(","type":"call_result","value":)", false) &&
             take(&reply, workload.value_out, ignore_hex_case) && take(&reply, "}\n", false) &&
             reply.empty();
  }
  return false;
}
