// The line-framed JSON channel: one JSON object per line in each direction.
//
// The channel owns the framing and the parser and encoder settings, which fix every byte
// the host sees. What the messages mean, and what a failed read or write does to the
// conversation, is the driver's to decide.
#ifndef SAMPLE_CHANNEL_CHANNEL_H_
#define SAMPLE_CHANNEL_CHANNEL_H_

#include <jansson.h>

#include <cstddef>
#include <cstdio>

#include "base/json_ref.h"

// The read buffer: 1 MiB of JSON text, the line feed that ends the line, and the NUL that
// ends a C string. A line may therefore hold at most MAX_LINE - 1 bytes with its line feed.
inline constexpr std::size_t MAX_LINE = 1048578;
inline constexpr std::size_t LINE_LIMIT = MAX_LINE - 1;

enum class ReadOutcome {
  kMessage,      // a JSON object was read; the result holds it
  kEndOfInput,   // nothing more to read, at a line boundary
  kNotAMessage,  // a line came, but it is not one JSON object (see read_message)
  kReadError,    // the stream reported an error
};

struct ReadResult {
  ReadOutcome outcome;
  JsonRef message;  // set exactly when outcome == kMessage; the caller owns it
};

// Reads the next line from `in` and parses it as one JSON object.
//
// A line ends after its line feed, or at end of input. It is refused (kNotAMessage), and
// none of it is used, when it holds a NUL byte, when it is longer than LINE_LIMIT bytes
// with its line feed, when it is not valid JSON, when a key occurs twice in one object,
// when an integer does not fit 64 bits, and when its value is not an object. Only white
// space may follow the object on its line. A refused over-long line is not drained: the
// conversation ends at the first refused line, so its remainder is never read.
//
// The line's buffer is taken from the heap for this read alone and released before return.
ReadResult read_message(std::FILE* in);

// Encodes `message` compactly, with sorted keys and every non-ASCII character escaped,
// writes it to `out` as one line with a single write call where the stream is unbuffered,
// and flushes it. Returns true when the whole line was written and flushed; false when
// encoding, writing or flushing failed, in which case part of the line may have been
// written. The caller keeps its reference to `message`.
bool emit(std::FILE* out, const json_t* message);

#endif  // SAMPLE_CHANNEL_CHANNEL_H_
