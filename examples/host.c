/* A complete host application in C: it starts an extension, lists what it offers, calls
 * one callable with arguments given on the command line, and ends it.
 * usage: host CALLABLE ARGUMENTS_JSON -- EXTENSION_COMMAND_LINE...
 * e.g.   host sample.echo '["hi"]' -- sample-extension --protocol 1 */
#include <stdio.h>
#include <string.h>

#include <extension_host.h>

static int fail(eh_extension* extension, eh_status status, const char* doing) {
  printf("%s: %s: %s\n", doing, eh_status_name(status), eh_errmsg(extension));
  eh_free(extension);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) {
    printf("usage: host CALLABLE ARGUMENTS_JSON -- EXTENSION_COMMAND_LINE...\n");
    return 2;
  }
  eh_settings* settings = NULL;
  if (eh_settings_new(&settings) != EH_OK) {
    return 1;
  }
  eh_extension* extension = NULL;
  eh_status status = eh_start(settings, (const char* const*)(argv + 4), &extension);
  eh_settings_free(settings);
  if (status != EH_OK) {
    return fail(extension, status, "start");
  }
  printf("%s %s offers:\n", eh_extension_id(extension), eh_extension_version(extension));
  for (size_t i = 0; i < eh_callable_count(extension); ++i) {
    long long least = 0;
    long long most = 0;
    eh_callable_number(extension, i, EH_MINIMUM_ARITY, &least);
    eh_callable_number(extension, i, EH_MAXIMUM_ARITY, &most);
    printf("  %s(%lld..%lld %s) -> %s\n", eh_callable_text(extension, i, EH_NAME), least, most,
           eh_callable_text(extension, i, EH_INPUT), eh_callable_text(extension, i, EH_OUTPUT));
  }
  eh_reply* reply = NULL;
  status = eh_call(extension, argv[1], argv[2], &reply);
  if (status != EH_OK) {
    return fail(extension, status, "call");
  }
  if (eh_reply_failed(reply)) {
    printf("%s failed: %s %s: %s\n", argv[1], eh_reply_error_kind(reply),
           eh_reply_error_code(reply), eh_reply_error_message(reply));
  } else {
    printf("%s = %s\n", argv[1], eh_reply_value(reply));
  }
  const int failed = eh_reply_failed(reply);
  eh_reply_free(reply);
  status = eh_stop(extension);
  if (status != EH_OK) {
    return fail(extension, status, "stop");
  }
  printf("ended: %s\n", eh_ending_words(extension));
  eh_free(extension);
  return failed;
}
