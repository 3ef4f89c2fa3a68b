// libFuzzer target: a whole conversation in-process on arbitrary input bytes.
//
// Whatever the bytes, the conversation must end with status 0 or 2, and every line it
// wrote must be one JSON object carrying the envelope, in the encoder's own form, ended
// by its line feed, with nothing after the last one. AddressSanitizer,
// UndefinedBehaviorSanitizer and the leak checker watch every run. "sample.wait" does not
// sleep in this build.
#include <jansson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "main/driver.h"
#include "main/startup.h"
#include "protocol/exit_status.h"

namespace {

bool is_string_member(const json_t* message, const char* key, const char* expected) {
  const char* text = json_string_value(json_object_get(message, key));
  return text != nullptr && (expected == nullptr || std::strcmp(text, expected) == 0);
}

void require(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

void check_line(const char* line, std::size_t length) {
  json_t* message = json_loadb(line, length, JSON_REJECT_DUPLICATES, nullptr);
  require(json_is_object(message));
  require(is_string_member(message, "type", nullptr));
  require(is_string_member(message, "request_id", nullptr));
  require(is_string_member(message, "extension_id", "sample"));
  require(is_string_member(message, "protocol_version", "1.0"));
  // Every line is the encoder's own text of the message it holds, whether it was encoded
  // whole or written from a template.
  char* again = json_dumps(message, JSON_COMPACT | JSON_ENSURE_ASCII | JSON_SORT_KEYS);
  require(again != nullptr && std::strlen(again) == length &&
          std::memcmp(again, line, length) == 0);
  std::free(again);  // NOLINT(cppcoreguidelines-no-malloc)
  json_decref(message);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  prepare_json_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // fmemopen refuses an empty buffer; give it one byte and read none of it.
  std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");  // NOLINT
  if (in == nullptr) {
    return 0;
  }
  char* output = nullptr;
  std::size_t output_size = 0;
  std::FILE* out = open_memstream(&output, &output_size);
  const char* const argv[] = {"sample-extension", "--protocol", "1"};
  const int status = run_extension(3, argv, in, out);
  std::fclose(in);
  std::fclose(out);

  require(status == EXIT_OK || status == EXIT_PROTOCOL);
  require(output_size == 0 || output[output_size - 1] == '\n');
  for (std::size_t start = 0; start < output_size;) {
    const char* end =
        static_cast<const char*>(std::memchr(output + start, '\n', output_size - start));
    const auto length = static_cast<std::size_t>(end - (output + start));
    check_line(output + start, length);
    start += length + 1;
  }
  std::free(output);  // NOLINT(cppcoreguidelines-no-malloc)
  return 0;
}
