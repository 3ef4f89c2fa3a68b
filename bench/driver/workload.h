// The calls of one workload and the replies each contestant must give to them.
//
// Every call echoes the same value, under its own request identifier, so that a reply can
// be checked against the call it answers without keeping all replies. Call lines are
// written the way jansson's encoder writes them (keys sorted, compact), except that the
// value may hold raw UTF-8: then a re-encoded line differs from the call only inside the
// value.
#ifndef BENCH_DRIVER_WORKLOAD_H_
#define BENCH_DRIVER_WORKLOAD_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What a contestant writes back for one line.
enum class ReplyForm {
  kProtocol,       // the extension's "call_result" line
  kReencodedCall,  // the call itself, parsed and encoded again
  kSameLength,     // any bytes, as many as the call line, the last a line feed
};

struct Workload {
  std::string name;
  std::string value_in;   // the echoed value as the host writes it
  std::string value_out;  // the same value as jansson's encoder writes it
  std::size_t calls = 0;

  // All call lines, one after another, and where each one ends.
  std::string input;
  std::vector<std::size_t> line_ends;

  [[nodiscard]] std::string_view line(std::size_t index) const;
};

// Builds `calls` echo calls of `value_in`; `value_out` is its encoded form.
Workload make_workload(std::string name, std::string value_in, std::string value_out,
                       std::size_t calls);

// A short ASCII string: the small call that a host makes most.
Workload small_echo_workload(std::size_t calls);
// The longest line the extension takes: 1 MiB of JSON text and its line feed.
inline constexpr std::size_t LONGEST_LINE = (std::size_t{1} << 20U) + 1;

// The bytes of a call line besides its value.
std::size_t call_overhead();

// A string of mixed ASCII and non-ASCII text: at most `bytes` bytes of JSON text, and
// less by under 16 bytes.
Workload large_string_workload(std::size_t bytes, std::size_t calls);
// Nested arrays of integers and reals: at most `bytes` bytes of JSON text, and less by
// under 1,300 bytes.
Workload large_array_workload(std::size_t bytes, std::size_t calls);

// The handshake line, and its re-encoding by the library floor (the same bytes).
inline constexpr std::string_view HANDSHAKE_LINE =
    "{\"protocol_version\":\"1.0\",\"type\":\"handshake\"}\n";

// Tells whether `reply` is a right answer in `form` to call `index`. With
// `ignore_hex_case`, the letters of \u escapes may be of either case (Python and jq write
// them in lower case, jansson in upper case).
bool reply_matches(const Workload& workload, ReplyForm form, bool ignore_hex_case,
                   std::size_t index, std::string_view reply);

#endif  // BENCH_DRIVER_WORKLOAD_H_
