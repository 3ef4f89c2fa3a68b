// Building the hostile values, and their text as the extension's encoder writes it.
#include "hostile.h"

#include <array>
#include <cstdio>
#include <string>

namespace {

// `[item,item,...]`: as many items as `bytes` holds.
std::string array_of(std::string_view item, std::size_t bytes) {
  std::string text = "[";
  while (text.size() + item.size() + 2 <= bytes) {
    if (text.size() > 1) {
      text += ',';
    }
    text += item;
  }
  text += ']';
  return text;
}

// An object of distinct six-digit keys, given in a scrambled order: every key is hashed,
// looked for as a duplicate, and then sorted for the reply, which lists them in order.
Workload many_keys(std::size_t bytes, std::size_t calls) {
  constexpr std::size_t MEMBER = 11;  // "000123":0,
  const std::size_t count = (bytes - 2) / MEMBER;
  // A prime above any count, so that index * STRIDE % count visits every key once.
  constexpr std::size_t STRIDE = 1000003;
  std::string in = "{";
  std::string out = "{";
  for (std::size_t index = 0; index < count; ++index) {
    std::array<char, 32> scrambled{};
    std::array<char, 32> ordered{};
    std::snprintf(scrambled.data(), scrambled.size(), "\"%06zu\":0", index * STRIDE % count);
    std::snprintf(ordered.data(), ordered.size(), "\"%06zu\":0", index);
    if (index != 0) {
      in += ',';
      out += ',';
    }
    in += scrambled.data();
    out += ordered.data();
  }
  in += '}';
  out += '}';
  return make_workload("object of many keys", in, out, calls);
}

// Arrays nested as deep as a call may hold them, side by side in one array.
Workload deep_nests(std::size_t bytes, std::size_t calls) {
  const std::size_t depth = DEEPEST_ARGUMENT - 1;  // under the outer array
  const std::string nest = std::string(depth, '[') + std::string(depth, ']');
  const std::string text = array_of(nest, bytes);
  return make_workload("arrays nested to the depth limit", text, text, calls);
}

// Characters beyond the Basic Multilingual Plane, each given as an escaped surrogate pair
// in lower case: decoded to four bytes, then escaped again, in upper case.
Workload escapes(std::size_t bytes, std::size_t calls) {
  constexpr std::string_view PAIR_IN = "\\ud83d\\ude00";
  constexpr std::string_view PAIR_OUT = "\\uD83D\\uDE00";
  std::string in = "\"";
  std::string out = "\"";
  while (in.size() + PAIR_IN.size() + 1 <= bytes) {
    in += PAIR_IN;
    out += PAIR_OUT;
  }
  in += '"';
  out += '"';
  return make_workload("string of escapes", in, out, calls);
}

}  // namespace

std::vector<Workload> hostile_workloads(std::size_t bytes, std::size_t calls) {
  std::vector<Workload> workloads;
  const std::string objects = array_of("{}", bytes);
  workloads.push_back(make_workload("array of empty objects", objects, objects, calls));
  const std::string strings = array_of("\"\"", bytes);
  workloads.push_back(make_workload("array of empty strings", strings, strings, calls));
  const std::string integers = array_of("0", bytes);
  workloads.push_back(make_workload("array of small integers", integers, integers, calls));
  workloads.push_back(many_keys(bytes, calls));
  workloads.push_back(deep_nests(bytes, calls));
  workloads.push_back(escapes(bytes, calls));
  return workloads;
}
