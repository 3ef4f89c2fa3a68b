/* Configuration probe: does the jansson found write reals with 17 significant digits?
   Prints what it wrote and succeeds only for the expected text. */
#include <jansson.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  json_t* value = json_pack("[f,f,f]", 0.1, 2.0, 1e300);
  char* text = json_dumps(value, JSON_COMPACT);
  const char* expected = "[0.10000000000000001,2.0,1.0000000000000001e300]";
  int same = text != NULL && strcmp(text, expected) == 0;
  printf("%s", text != NULL ? text : "(nothing)");
  free(text);
  json_decref(value);
  return same ? 0 : 1;
}
