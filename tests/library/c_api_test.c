/* The library's C API, driven from C as a host application would drive it: the sample
 * and misbehaving extensions, blocking and pipelined calls, every step of the end, a
 * thread that stops a blocked call, a fork, and the application's own SIGCHLD handler and
 * SIGPIPE disposition, which must stay untouched.
 *
 * usage: c_api_test SAMPLE_EXTENSION FAKES_FOLDER
 * Prints one line per failed check and exits 1 if any failed. */
#define _GNU_SOURCE
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "extension_host.h"

static int failures = 0;
static const char* sample = NULL;
static const char* fakes = NULL;

#define CHECK(condition, ...)                                       \
  do {                                                              \
    if (!(condition)) {                                             \
      ++failures;                                                   \
      printf("FAILED %s:%d: %s: ", __func__, __LINE__, #condition); \
      printf(__VA_ARGS__);                                          \
      printf("\n");                                                 \
    }                                                               \
  } while (0)

#define CHECK_STATUS(got, wanted, extension)                                  \
  CHECK((got) == (wanted), "%s where %s was wanted: %s", eh_status_name(got), \
        eh_status_name(wanted), eh_errmsg(extension))

static volatile int error_lines = 0;
static void note_error_line(void* context, const char* line, size_t length) {
  (void)context;
  (void)line;
  (void)length;
  ++error_lines;
}

/* The application's own SIGCHLD handler reaps every child it is told of, the library's
 * supervisors too, and keeps the status of its own. */
static volatile sig_atomic_t own_child = 0;
static volatile sig_atomic_t own_status = -1;
static void reap_every_child(int signal_number) {
  (void)signal_number;
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
    if (ended == own_child) {
      own_status = WEXITSTATUS(status);
    }
  }
}

/* Settings under which an extension that ends at step `expected` of eh_stop is seen to:
 * the steps before it must pass, and are short (a lower bound only); from it on, each is
 * awaited as an event, with a deadline that only a hang reaches, however busy the machine. */
static eh_settings* settings_ending_at(eh_end_step expected) {
  eh_settings* settings = NULL;
  if (eh_settings_new(&settings) != EH_OK) {
    return NULL;
  }
  const struct {
    eh_deadline deadline;
    eh_end_step step;
  } steps[] = {{EH_DEADLINE_SHUTDOWN, EH_AFTER_SHUTDOWN},
               {EH_DEADLINE_CLOSED_INPUT, EH_AFTER_CLOSED_INPUT},
               {EH_DEADLINE_TERMINATE, EH_AFTER_TERMINATE}};
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
    eh_settings_deadline(settings, steps[i].deadline, steps[i].step < expected ? 300 : 60000);
  }
  return settings;
}

static eh_settings* quick_settings(void) { return settings_ending_at(EH_AFTER_SHUTDOWN); }

static eh_status start_sample(const eh_settings* settings, eh_extension** extension) {
  const char* command[] = {sample, "--protocol", "1", NULL};
  return eh_start(settings, command, extension);
}

static int open_descriptors(void) {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  if (folder == NULL) {
    return -1;
  }
  while (readdir(folder) != NULL) {
    ++count;
  }
  closedir(folder);
  return count;
}

static int child_processes(void) {
  char path[64];
  snprintf(path, sizeof path, "/proc/self/task/%d/children", (int)getpid());
  FILE* file = fopen(path, "r");
  if (file == NULL) {
    return -1;
  }
  int count = 0;
  int pid = 0;
  while (fscanf(file, "%d", &pid) == 1) {
    ++count;
  }
  fclose(file);
  return count;
}

static void the_sample_is_started_and_called(void) {
  eh_settings* settings = quick_settings();
  eh_extension* extension = NULL;
  eh_status status = start_sample(settings, &extension);
  CHECK_STATUS(status, EH_OK, extension);
  CHECK(strcmp(eh_extension_id(extension), "sample") == 0, "id %s", eh_extension_id(extension));
  CHECK(strcmp(eh_extension_version(extension), "0.1.0") == 0, "version %s",
        eh_extension_version(extension));
  CHECK(eh_callable_count(extension) == 3, "%zu callables", eh_callable_count(extension));
  const char* name = eh_callable_text(extension, 2, EH_NAME);
  CHECK(name != NULL && strcmp(name, "sample.wait") == 0, "third is %s", name ? name : "null");
  long long arity = -1;
  CHECK(eh_callable_number(extension, 2, EH_MAXIMUM_ARITY, &arity) == EH_OK && arity == 1,
        "arity %lld", arity);
  long long cancel = -1;
  CHECK(eh_callable_number(extension, 2, EH_CANCEL, &cancel) == EH_OK && cancel == 1, "cancel %lld",
        cancel);
  CHECK(eh_callable_text(extension, 3, EH_NAME) == NULL, "a fourth callable");
  CHECK(eh_callable_number(extension, 0, EH_NAME, &arity) == EH_INVALID, "a name as a number");

  eh_reply* reply = NULL;
  status =
      eh_call(extension, "sample.echo", "[{\"b\":\"h\\u00e9llo\",\"a\":[1,2.5,null]}]", &reply);
  CHECK_STATUS(status, EH_OK, extension);
  if (reply != NULL) {
    CHECK(!eh_reply_failed(reply), "echo failed");
    CHECK(strcmp(eh_reply_value(reply), "{\"a\":[1,2.5,null],\"b\":\"h\xc3\xa9llo\"}") == 0,
          "echo gave %s", eh_reply_value(reply));
    CHECK(eh_reply_error_kind(reply) == NULL, "a value with an error kind");
    CHECK(eh_reply_microseconds(reply) > 0, "answered in %lld us",
          (long long)eh_reply_microseconds(reply));
    eh_reply_free(reply);
  }

  status = eh_call(extension, "sample.fail", "[]", &reply);
  CHECK_STATUS(status, EH_OK, extension);
  if (reply != NULL) {
    CHECK(eh_reply_failed(reply), "fail did not fail");
    CHECK(eh_reply_value(reply) == NULL, "a failure with a value");
    CHECK(strcmp(eh_reply_error_kind(reply), "SampleError") == 0 &&
              strcmp(eh_reply_error_code(reply), "SAMPLE_FAILURE") == 0 &&
              strcmp(eh_reply_error_message(reply), "sample failure") == 0,
          "error %s %s %s", eh_reply_error_kind(reply), eh_reply_error_code(reply),
          eh_reply_error_message(reply));
    eh_reply_free(reply);
  }

  /* Calls that do not fit are not sent, and the extension goes on. */
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1,2]", &reply), EH_UNFIT_CALL, extension);
  CHECK(strstr(eh_errmsg(extension), "takes 1 argument") != NULL, "said %s", eh_errmsg(extension));
  CHECK_STATUS(eh_call(extension, "sample.wait", "[\"x\"]", &reply), EH_UNFIT_CALL, extension);
  CHECK_STATUS(eh_call(extension, "sample.ecoh", "[1]", &reply), EH_UNFIT_CALL, extension);
  CHECK_STATUS(eh_call(extension, "sample.echo", "{}", &reply), EH_INVALID, extension);
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1", &reply), EH_INVALID, extension);
  status = eh_call(extension, "sample.echo", "[\"still here\"]", &reply);
  CHECK_STATUS(status, EH_OK, extension);
  eh_reply_free(reply);

  status = eh_stop(extension);
  CHECK_STATUS(status, EH_OK, extension);
  eh_end_step step = EH_RUNNING;
  int exit_status = -1;
  int signal_number = -1;
  CHECK(eh_ending(extension, &step, &exit_status, &signal_number) == EH_OK, "no ending");
  CHECK(step == EH_AFTER_SHUTDOWN && exit_status == 0 && signal_number == 0,
        "step %d, status %d, signal %d: %s", (int)step, exit_status, signal_number,
        eh_ending_words(extension));
  CHECK(strcmp(eh_ending_words(extension), "exit status 0 after \"shutdown\"") == 0, "words %s",
        eh_ending_words(extension));
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1]", &reply), EH_ENDED, extension);
  eh_free(extension);
  eh_settings_free(settings);
}

/* Three calls written before any answer is read, driven through the descriptor. */
static void pipelined_calls_are_answered_in_order(void) {
  eh_settings* settings = quick_settings();
  eh_extension* extension = NULL;
  CHECK_STATUS(start_sample(settings, &extension), EH_OK, extension);
  uint64_t tickets[3] = {0, 0, 0};
  CHECK_STATUS(eh_submit(extension, "sample.wait", "[30]", &tickets[0]), EH_OK, extension);
  CHECK_STATUS(eh_submit(extension, "sample.echo", "[\"second\"]", &tickets[1]), EH_OK, extension);
  CHECK_STATUS(eh_submit(extension, "sample.fail", "[]", &tickets[2]), EH_OK, extension);
  CHECK(tickets[0] == 1 && tickets[1] == 2 && tickets[2] == 3, "tickets %llu %llu %llu",
        (unsigned long long)tickets[0], (unsigned long long)tickets[1],
        (unsigned long long)tickets[2]);
  CHECK(eh_pending(extension) == 3, "%zu pending", eh_pending(extension));
  eh_reply* replies[3] = {NULL, NULL, NULL};
  int taken = 0;
  while (taken < 3) {
    struct pollfd ready = {eh_descriptor(extension), POLLIN, 0};
    if (poll(&ready, 1, 10000) <= 0) {
      CHECK(0, "no event within 10 s with %d answers", taken);
      break;
    }
    eh_status status = eh_perform(extension);
    CHECK_STATUS(status, EH_OK, extension);
    if (status != EH_OK) {
      break;
    }
    while (taken < 3 && eh_next_reply(extension, &replies[taken]) == EH_OK) {
      ++taken;
    }
  }
  if (taken == 3) {
    CHECK(eh_reply_ticket(replies[0]) == 1 && strcmp(eh_reply_value(replies[0]), "30") == 0,
          "first %s", eh_reply_value(replies[0]));
    CHECK(eh_reply_ticket(replies[1]) == 2 && strcmp(eh_reply_value(replies[1]), "\"second\"") == 0,
          "second %s", eh_reply_value(replies[1]));
    CHECK(eh_reply_ticket(replies[2]) == 3 && eh_reply_failed(replies[2]), "third");
    CHECK(eh_reply_microseconds(replies[0]) >= 30000, "a 30 ms wait answered in %lld us",
          (long long)eh_reply_microseconds(replies[0]));
  }
  for (int i = 0; i < taken; ++i) {
    eh_reply_free(replies[i]);
  }
  eh_reply* none = NULL;
  CHECK_STATUS(eh_next_reply(extension, &none), EH_AGAIN, extension);
  CHECK(eh_timeout_ms(extension) == -1, "a deadline with no call waiting");
  CHECK_STATUS(eh_stop(extension), EH_OK, extension);
  eh_free(extension);
  eh_settings_free(settings);
}

static void failed_starts_say_why(void) {
  eh_settings* settings = quick_settings();
  eh_settings_deadline(settings, EH_DEADLINE_START, 2000);
  char hangs[512];
  char early_exit[512];
  snprintf(hangs, sizeof hangs, "%s/hangs", fakes);
  snprintf(early_exit, sizeof early_exit, "%s/early-exit", fakes);
  const struct {
    const char* command[4];
    eh_status wanted;
    const char* said;
  } cases[] = {
      {{sample, "--protocol", "1", NULL}, EH_OK, ""},
      {{sample, NULL}, EH_REFUSED_COMMAND_LINE, "refused its command line: exit status 3"},
      {{"/nonexistent/extension", NULL}, EH_CANNOT_START, "/nonexistent/extension"},
      {{hangs, NULL}, EH_ASLEEP, "asleep"},
      {{early_exit, NULL}, EH_NO_HANDSHAKE, ""},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    eh_extension* extension = NULL;
    const eh_status status = eh_start(settings, cases[i].command, &extension);
    CHECK(status == cases[i].wanted, "%s gave %s: %s", cases[i].command[0], eh_status_name(status),
          eh_errmsg(extension));
    CHECK(extension != NULL, "no handle for %s", cases[i].command[0]);
    CHECK(strstr(eh_errmsg(extension), cases[i].said) != NULL, "%s said: %s", cases[i].command[0],
          eh_errmsg(extension));
    eh_free(extension);
  }
  eh_settings_free(settings);
}

/* Every step of the end, each reached only when the one before did not end it. */
static void each_step_of_the_end(void) {
  char hanging_call[512];
  snprintf(hanging_call, sizeof hanging_call, "%s/hanging-call", fakes);
  const char* ignores_term =
      "trap '' TERM; read -r h; . \"$0\"; printf '%s\\n%s\\n' \"$HANDSHAKE_RESULT\" "
      "\"$REGISTER\"; while :; do sleep 1; done";
  char common[512];
  snprintf(common, sizeof common, "%s/common.sh", fakes);
  const struct {
    const char* command[5];
    eh_end_step wanted;
    int signal_number;
  } cases[] = {
      {{sample, "--protocol", "1", NULL}, EH_AFTER_SHUTDOWN, 0},
      {{hanging_call, NULL}, EH_AFTER_TERMINATE, SIGTERM},
      {{"/bin/sh", "-c", ignores_term, common, NULL}, EH_KILLED, SIGKILL},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    eh_settings* settings = settings_ending_at(cases[i].wanted);
    eh_extension* extension = NULL;
    CHECK_STATUS(eh_start(settings, cases[i].command, &extension), EH_OK, extension);
    CHECK_STATUS(eh_stop(extension), EH_OK, extension);
    eh_end_step step = EH_RUNNING;
    int exit_status = -1;
    int signal_number = -1;
    eh_ending(extension, &step, &exit_status, &signal_number);
    CHECK(step == cases[i].wanted && signal_number == cases[i].signal_number,
          "%s: step %d, signal %d: %s", cases[i].command[0], (int)step, signal_number,
          eh_ending_words(extension));
    eh_free(extension);
    eh_settings_free(settings);
  }
}

static void a_call_past_its_deadline_ends_it(void) {
  char hanging_call[512];
  snprintf(hanging_call, sizeof hanging_call, "%s/hanging-call", fakes);
  const char* command[] = {hanging_call, NULL};
  eh_settings* settings = quick_settings();
  eh_settings_deadline(settings, EH_DEADLINE_CALL, 200);
  eh_extension* extension = NULL;
  CHECK_STATUS(eh_start(settings, command, &extension), EH_OK, extension);
  eh_reply* reply = NULL;
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1]", &reply), EH_TIMED_OUT, extension);
  eh_end_step step = EH_RUNNING;
  CHECK(eh_ending(extension, &step, NULL, NULL) == EH_OK && step == EH_KILLED, "step %d",
        (int)step);
  eh_free(extension);
  eh_settings_free(settings);
}

/* A restart is a new extension from the same settings; the predecessor goes on alone. */
static void a_restart_is_a_new_extension(void) {
  eh_settings* settings = quick_settings();
  eh_extension* first = NULL;
  CHECK_STATUS(start_sample(settings, &first), EH_OK, first);
  eh_settings_free(settings); /* the handles keep what they were started with */
  eh_extension* second = NULL;
  CHECK_STATUS(eh_restart(first, &second), EH_OK, second);
  CHECK(second != NULL && second != first, "no new handle");
  eh_reply* reply = NULL;
  CHECK_STATUS(eh_call(first, "sample.echo", "[1]", &reply), EH_OK, first);
  eh_reply_free(reply);
  CHECK_STATUS(eh_stop(first), EH_OK, first);
  CHECK_STATUS(eh_call(second, "sample.echo", "[2]", &reply), EH_OK, second);
  if (reply != NULL) {
    CHECK(eh_reply_ticket(reply) == 1 && strcmp(eh_reply_value(reply), "2") == 0,
          "the new one's first call: ticket %llu, %s", (unsigned long long)eh_reply_ticket(reply),
          eh_reply_value(reply));
  }
  eh_reply_free(reply);
  eh_end_step step = EH_RUNNING;
  CHECK(eh_ending(second, &step, NULL, NULL) == EH_AGAIN && step == EH_RUNNING,
        "the new one ended with the old");
  CHECK_STATUS(eh_stop(second), EH_OK, second);
  eh_free(first);
  eh_free(second);
}

/* A call the catalogue refuses goes out when the caller asks: the sample then ends as its
 * protocol has it, and that is said. */
static void an_unchecked_call_goes_out(void) {
  eh_settings* settings = quick_settings();
  eh_extension* extension = NULL;
  CHECK_STATUS(start_sample(settings, &extension), EH_OK, extension);
  eh_reply* reply = NULL;
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1,2]", &reply), EH_UNFIT_CALL, extension);
  eh_free(extension);
  eh_settings_check_calls(settings, 0);
  CHECK_STATUS(start_sample(settings, &extension), EH_OK, extension);
  CHECK_STATUS(eh_call(extension, "sample.echo", "[1,2]", &reply), EH_ENDED, extension);
  CHECK(strcmp(eh_errmsg(extension),
               "it ended with 1 call unanswered (exit status 2 before the "
               "host asked it to end)") == 0,
        "said %s", eh_errmsg(extension));
  eh_end_step step = EH_RUNNING;
  int exit_status = -1;
  CHECK(eh_ending(extension, &step, &exit_status, NULL) == EH_OK && step == EH_ENDED_ALONE &&
            exit_status == 2,
        "step %d, status %d", (int)step, exit_status);
  eh_free(extension);
  eh_settings_free(settings);
}

struct blocked_call {
  eh_extension* extension;
  eh_status status;
};

static void* call_a_long_wait(void* argument) {
  struct blocked_call* call = argument;
  eh_reply* reply = NULL;
  call->status = eh_call(call->extension, "sample.wait", "[5000]", &reply);
  eh_reply_free(reply);
  return NULL;
}

/* One thread blocked in a call while another ends the extension. */
static void a_stop_from_another_thread_cuts_a_call_short(void) {
  /* Any step may end it (the sample reads "shutdown" only after its wait): none awaited. */
  eh_settings* settings = settings_ending_at(EH_KILLED);
  struct blocked_call call = {NULL, EH_OK};
  CHECK_STATUS(start_sample(settings, &call.extension), EH_OK, call.extension);
  pthread_t caller;
  pthread_create(&caller, NULL, call_a_long_wait, &call);
  /* The call is under way once the extension holds no pending input: any time will do,
   * as a stop before the call is sent cancels it just the same. */
  const struct timespec moment = {0, 100 * 1000 * 1000};
  nanosleep(&moment, NULL);
  CHECK_STATUS(eh_stop(call.extension), EH_OK, call.extension);
  pthread_join(caller, NULL);
  CHECK(call.status == EH_CANCELLED || call.status == EH_ENDED, "the call gave %s",
        eh_status_name(call.status));
  eh_end_step step = EH_RUNNING;
  CHECK(eh_ending(call.extension, &step, NULL, NULL) == EH_OK && step >= EH_AFTER_SHUTDOWN,
        "step %d", (int)step);
  eh_free(call.extension);
  eh_settings_free(settings);
}

static void* start_and_leave(void* argument) {
  start_sample(NULL, (eh_extension**)argument);
  return NULL;
}

/* An extension outlives the thread that started it. */
static void an_extension_outlives_the_thread_that_started_it(void) {
  eh_extension* extension = NULL;
  pthread_t starter;
  pthread_create(&starter, NULL, start_and_leave, &extension);
  pthread_join(starter, NULL);
  CHECK(extension != NULL, "no extension");
  eh_reply* reply = NULL;
  CHECK_STATUS(eh_call(extension, "sample.echo", "[\"still here\"]", &reply), EH_OK, extension);
  eh_reply_free(reply);
  CHECK_STATUS(eh_stop(extension), EH_OK, extension);
  eh_end_step step = EH_RUNNING;
  CHECK(eh_ending(extension, &step, NULL, NULL) == EH_OK && step == EH_AFTER_SHUTDOWN, "step %d",
        (int)step);
  eh_free(extension);
}

/* The application's fork, its SIGCHLD handler and its SIGPIPE disposition are its own. */
static void the_application_keeps_its_signals_and_its_children(void) {
  eh_settings* settings = quick_settings();
  eh_extension* extension = NULL;
  CHECK_STATUS(start_sample(settings, &extension), EH_OK, extension);
  sigset_t child_signal;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  sigprocmask(SIG_BLOCK, &child_signal, NULL);
  own_child = fork();
  if (own_child == 0) {
    execl("/bin/sh", "sh", "-c", "exit 7", (char*)NULL);
    _exit(127);
  }
  sigprocmask(SIG_UNBLOCK, &child_signal, NULL);
  for (int i = 0; i < 1000 && own_status < 0; ++i) {
    const struct timespec moment = {0, 1000 * 1000};
    nanosleep(&moment, NULL);
  }
  CHECK(own_status == 7, "the application's own child: %d", (int)own_status);
  eh_reply* reply = NULL;
  CHECK_STATUS(eh_call(extension, "sample.echo", "[\"after the fork\"]", &reply), EH_OK, extension);
  eh_reply_free(reply);
  CHECK_STATUS(eh_stop(extension), EH_OK, extension);
  /* Its supervisor was reaped by the handler above: the ending is known all the same. */
  CHECK(strcmp(eh_ending_words(extension), "exit status 0 after \"shutdown\"") == 0, "words %s",
        eh_ending_words(extension));
  eh_free(extension);

  /* A write to an extension that closed its input: a status, never SIGPIPE (at its
   * default action here, it would end this test). */
  char common[512];
  snprintf(common, sizeof common, "%s/common.sh", fakes);
  const char* closes_its_input[] = {
      "/bin/sh", "-c", ". \"$0\"; announce; exec 0<&-; echo closed >&2; while :; do sleep 1; done",
      common, NULL};
  eh_settings_error_lines(settings, note_error_line, NULL);
  CHECK_STATUS(eh_start(settings, closes_its_input, &extension), EH_OK, extension);
  for (int i = 0; i < 600 && error_lines == 0; ++i) {
    /* Its input is closed once it says so on standard error. */
    const char* line = NULL;
    size_t length = 0;
    eh_read_line(extension, 100, &line, &length, NULL);
  }
  CHECK_STATUS(eh_write_raw(extension, "x\n", 2), EH_ENDED, extension);
  eh_free(extension);
  struct sigaction now;
  sigaction(SIGPIPE, NULL, &now);
  CHECK(now.sa_handler == SIG_DFL, "SIGPIPE's disposition was changed");
  sigaction(SIGCHLD, NULL, &now);
  CHECK(now.sa_handler == reap_every_child, "the SIGCHLD handler was changed");
  eh_settings_free(settings);
}

/* Many starts and ends leave no descriptor and no process behind. */
static void starts_and_ends_leave_nothing(int cycles) {
  eh_settings* settings = quick_settings();
  eh_extension* first = NULL;
  CHECK_STATUS(start_sample(settings, &first), EH_OK, first);
  eh_free(first); /* the sandbox is made once, with the first start */
  const int descriptors = open_descriptors();
  for (int i = 0; i < cycles; ++i) {
    eh_extension* extension = NULL;
    const eh_status status = start_sample(settings, &extension);
    if (status != EH_OK) {
      CHECK_STATUS(status, EH_OK, extension);
      eh_free(extension);
      break;
    }
    if (i % 2 == 0) {
      eh_stop(extension);
    }
    eh_free(extension); /* a free alone ends it at once */
  }
  CHECK(open_descriptors() == descriptors, "%d descriptors open, %d before", open_descriptors(),
        descriptors);
  CHECK(child_processes() == 0, "%d processes left", child_processes());
  eh_settings_free(settings);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: c_api_test SAMPLE_EXTENSION FAKES_FOLDER [CYCLES]\n");
    return 2;
  }
  sample = argv[1];
  fakes = argv[2];
  const int cycles = argc > 3 ? atoi(argv[3]) : 100;
  struct sigaction counting;
  memset(&counting, 0, sizeof counting);
  counting.sa_handler = reap_every_child;
  counting.sa_flags = SA_RESTART;
  sigaction(SIGCHLD, &counting, NULL);
  signal(SIGPIPE, SIG_DFL);

  the_sample_is_started_and_called();
  pipelined_calls_are_answered_in_order();
  failed_starts_say_why();
  each_step_of_the_end();
  a_call_past_its_deadline_ends_it();
  a_stop_from_another_thread_cuts_a_call_short();
  an_extension_outlives_the_thread_that_started_it();
  a_restart_is_a_new_extension();
  an_unchecked_call_goes_out();
  the_application_keeps_its_signals_and_its_children();
  starts_and_ends_leave_nothing(cycles);
  printf("%s: %d failed\n", failures == 0 ? "passed" : "FAILED", failures);
  return failures == 0 ? 0 : 1;
}
