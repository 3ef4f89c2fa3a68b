// The calls a person gives the host: NAME and a JSON array of arguments, on the command
// line, one a line in a script, or typed at the prompt.
#ifndef HOST_CONVERSATION_CALLS_H_
#define HOST_CONVERSATION_CALLS_H_

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"

struct Call {
  std::string callable;
  Json arguments;  // always an array
};

// A call of `callable` with `arguments`, the text of a JSON array. On failure returns none
// and says why in `*problem`.
std::optional<Call> parse_call(const std::string& callable, const std::string& arguments,
                               std::string* problem);

// What one line of a script or the prompt holds.
enum class LineKind { kCall, kNothing, kBad };

// Reads "NAME JSON_ARRAY" (the array may be left out for no arguments); blank lines and
// lines starting with '#' hold nothing. A bad line is explained in `*problem`.
LineKind parse_call_line(const std::string& line, std::optional<Call>* call, std::string* problem);

// Every call of a script; `origin` names it in a problem, with the line's number. On
// failure returns false and says why in `*problem`.
bool parse_script(std::istream& script, const std::string& origin, std::vector<Call>* calls,
                  std::string* problem);

#endif  // HOST_CONVERSATION_CALLS_H_
