// The checks of single messages.
#include "conformance/message_checks.h"

#include <array>

#include "conversation/call_check.h"
#include "conversation/descriptor.h"
#include "text/visible.h"

namespace {

// "the string \"key\"": missing, or what it is instead.
std::string lacks_string(const json_t* message, const char* key) {
  const json_t* member = json_object_get(message, key);
  if (json_is_string(member)) {
    return "";
  }
  return std::string("\"") + key + "\" is " +
         (member == nullptr ? "missing" : std::string(json_kind(member)) + ", not a string");
}

std::string is_not(const json_t* message, const char* key, const std::string& expected) {
  if (std::string problem = lacks_string(message, key); !problem.empty()) {
    return problem;
  }
  const std::string value = string_member(message, key);
  return value == expected ? ""
                           : std::string("\"") + key + "\" is \"" + visible(value) + "\", not \"" +
                                 expected + "\"";
}

bool is_lower(char character) { return character >= 'a' && character <= 'z'; }
bool is_upper(char character) { return character >= 'A' && character <= 'Z'; }
bool is_digit(char character) { return character >= '0' && character <= '9'; }

}  // namespace

Json parse_written_line(std::string_view line, LineProblem* problem) {
  if (line.empty() || line.back() != '\n') {
    *problem = {"the line has no line feed: the output ended within it", line.size()};
    return nullptr;
  }
  const std::string_view body = line.substr(0, line.size() - 1);
  if (body.empty()) {
    *problem = {"an empty line", 1};
    return nullptr;
  }
  json_error_t error;
  Json message = parse_line(body, &error);
  if (!message) {
    // jansson counts the byte after the one that broke the text.
    const auto at = static_cast<std::size_t>(error.position);
    *problem = {"not one JSON object: " + visible(error.text), at == 0 ? 1 : at};
    return nullptr;
  }
  if (!json_is_object(message.get())) {
    *problem = {std::string("not an object but ") + json_kind(message.get()), 1};
    return nullptr;
  }
  return message;
}

std::string envelope_problem(const json_t* message, const std::string& extension_id) {
  for (const char* key : {"type", "request_id", "extension_id", "protocol_version"}) {
    if (std::string problem = lacks_string(message, key); !problem.empty()) {
      return problem;
    }
  }
  if (std::string problem = is_not(message, "protocol_version", "1.0"); !problem.empty()) {
    return problem;
  }
  if (!extension_id.empty() && string_member(message, "extension_id") != extension_id) {
    return R"("extension_id" is ")" + visible(string_member(message, "extension_id")) +
           "\", where the handshake's result said \"" + visible(extension_id) + "\"";
  }
  return "";
}

std::string handshake_result_problem(const json_t* message) {
  if (std::string problem = is_not(message, "request_id", "handshake"); !problem.empty()) {
    return problem;
  }
  return lacks_string(message, "extension_version");
}

std::string register_problem(const json_t* message, std::vector<AnnouncedCallable>* catalogue) {
  if (std::string problem = is_not(message, "request_id", "register"); !problem.empty()) {
    return problem;
  }
  return read_catalogue(message, catalogue);
}

std::string answer_problem(const json_t* message, const std::string& request_id) {
  const std::string type = string_member(message, "type");
  if (type != "call_result" && type != "error") {
    return "a \"" + visible(type) + "\" message where the answer to a call was due";
  }
  if (type == "call_result" && json_object_get(message, "value") == nullptr) {
    return R"(the "call_result" has no "value")";
  }
  // As JSON strings: quotes and backslashes in them stay unambiguous.
  const Json ours(json_stringn(request_id.data(), request_id.size()));
  const json_t* member = json_object_get(message, "request_id");
  if (!json_is_string(member)) {
    // A number for a request_id of digits can match no call: hosts match strings.
    return member == nullptr
               ? "it has no \"request_id\", where the call's was " + encode_as_written(ours.get())
               : "its \"request_id\" is " + encode_as_written(member) + ", " + json_kind(member) +
                     ", where the call's was the string " + encode_as_written(ours.get());
  }
  const std::string answered(json_string_value(member), json_string_length(member));
  if (answered != request_id) {
    const Json theirs(json_stringn(answered.data(), answered.size()));
    return "it answers \"request_id\" " + encode_as_written(theirs.get()) +
           ", where the call's was " + encode_as_written(ours.get());
  }
  return "";
}

std::string error_members_problem(const json_t* message) {
  if (string_member(message, "type") != "error") {
    return "";
  }
  for (const char* key : {"kind", "code", "message"}) {
    if (std::string problem = lacks_string(message, key); !problem.empty()) {
      return "the \"error\"'s " + problem;
    }
  }
  return "";
}

LineProblem canonical_problem(std::string_view line, const json_t* message) {
  const std::string reference = encode_as_written(message) + "\n";
  std::size_t at = 0;
  while (at < line.size() && at < reference.size() && line[at] == reference[at]) {
    ++at;
  }
  if (at == line.size() && at == reference.size()) {
    return {};
  }
  const std::size_t shown = 24;
  return {"its canonical form is \"" +
              visible(reference.substr(at, std::min(shown, reference.size() - at))) +
              "\" from here, where it has \"" +
              visible(line.substr(at, std::min(shown, line.size() - at))) + "\"",
          at + 1};
}

std::string callable_name_problem(const std::string& name, const std::string& extension_id) {
  const std::string prefix = extension_id + ".";
  const bool prefixed = name.starts_with(prefix) && name.size() > prefix.size();
  bool word = prefixed && is_lower(name[prefix.size()]);
  for (std::size_t at = prefix.size(); word && at < name.size(); ++at) {
    word = is_lower(name[at]) || is_digit(name[at]) || name[at] == '_';
  }
  return word ? ""
              : "the callable \"" + visible(name) + "\" is not named \"" + visible(extension_id) +
                    ".verb\"";
}

std::string error_kind_problem(const json_t* message) {
  if (string_member(message, "type") != "error") {
    return "";
  }
  const std::string kind = string_member(message, "kind");
  bool camel = !kind.empty() && is_upper(kind[0]);
  for (const char character : kind) {
    camel = camel && (is_lower(character) || is_upper(character) || is_digit(character));
  }
  return camel ? "" : R"(the error's "kind" ")" + visible(kind) + "\" is not UpperCamel";
}
