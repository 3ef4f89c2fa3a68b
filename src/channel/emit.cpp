// Writing: encoding one message and sending it as one flushed line.
#include "channel/channel.h"
#include "channel/line_text.h"

namespace {

int append_to_line(const char* text, std::size_t size, void* line) {
  static_cast<LineText*>(line)->append(text, size);
  return 0;
}

}  // namespace

bool encode_message_into(LineText* line, const json_t* message) {
  return json_dump_callback(message, append_to_line, line, ENCODER_FLAGS) == 0;
}

bool encode_value_into(LineText* line, const json_t* value) {
  // Without indentation a value's text does not depend on where it stands, so the text
  // of a member on its own is the text it has inside its message.
  return json_dump_callback(value, append_to_line, line, ENCODER_FLAGS | JSON_ENCODE_ANY) == 0;
}

bool write_line(std::FILE* out, LineText* line) {
  line->append("\n", 1);
  // One fwrite for the whole line, line feed included: on an unbuffered stream that is one
  // write call, so the host never sees half a line from us unless the write itself fails.
  if (std::fwrite(line->data(), 1, line->size(), out) != line->size()) {
    return false;
  }
  return std::fflush(out) == 0;
}

bool emit(std::FILE* out, const json_t* message) {
  LineText line;
  return encode_message_into(&line, message) && write_line(out, &line);
}
