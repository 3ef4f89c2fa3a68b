// Standard error cut into lines for a host application's callback, as it comes.
#ifndef HOST_HOSTING_ERROR_LINES_H_
#define HOST_HOSTING_ERROR_LINES_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "extension_host.h"
#include "process/child_process.h"

// The longest piece handed over at once: a longer line comes in pieces of this size, so
// that what is held for a line is bounded.
inline constexpr std::size_t ERROR_LINE_PIECE = std::size_t{64} << 10U;

class ErrorLines : public ErrorSink {
 public:
  // Hands lines to `callback` (with `context`); with none, keeps nothing.
  ErrorLines(eh_error_line callback, void* context) : callback_(callback), context_(context) {}

  void wrote_error(std::string_view bytes) override;
  // Hands over the last piece, which no line feed ended.
  void finish();

 private:
  void hand(std::string_view line) const;

  eh_error_line callback_;
  void* context_;
  std::string partial_;
};

#endif  // HOST_HOSTING_ERROR_LINES_H_
