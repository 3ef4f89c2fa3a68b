/* libextension-host: runs an extension of the line protocol as a child process, in a
 * sandbox, and talks with it for a host application.
 *
 * An extension is started from a command line and settings (eh_start); the handle comes
 * back once its announcement ("handshake_result" and "register") has been read, with its
 * catalogue. Calls are made blocking (eh_call), or without blocking (eh_submit, then
 * eh_perform whenever eh_descriptor is readable, then eh_next_reply), pipelined in order,
 * each answer matched to its call. The end (eh_stop) sends "shutdown", then closes the
 * input, then sends SIGTERM, then SIGKILL, each step with its deadline; whatever the
 * extension started is ended with it, always, even when the host application crashes.
 *
 * Conventions, for every function:
 * - It returns an eh_status; EH_OK is success. The reason in words for the last failure
 *   on a handle is eh_errmsg(handle), valid until the next call on that handle.
 * - Nothing is printed, nothing aborts, and no global state is kept. No signal handler is
 *   installed, and SIGCHLD is not taken: the library waits for its children through their
 *   pidfds, so a host application's SIGCHLD handler that reaps every child with
 *   waitpid(-1) takes nothing the library needs. A write to an extension that
 *   has ended returns a status; SIGPIPE is never raised in the host application. Every
 *   descriptor the library opens is close-on-exec.
 * - Threads: a handle may be used from any thread, one function at a time; the library
 *   serializes calls on one handle. eh_stop and eh_free may come from another thread
 *   while one is blocked in eh_call on the same handle: the blocked call returns
 *   EH_CANCELLED at once. Different handles are independent. Settings may be shared by
 *   threads that start extensions, but not changed while they do.
 *   An extension may outlive the thread that started it.
 * - The end: an extension and all it started end when the host application's process
 *   ends, however it ends (a crash included), as the pipe that holds its supervisor
 *   closes. A child the application forks without exec holds that pipe too: the
 *   extensions end once both have ended.
 * - Memory: an extension costs the host application at most EH_MAX_LINE bytes of
 *   output held, 64 KiB of standard error kept by its ends, and the replies it has not
 *   taken.
 */
#ifndef EXTENSION_HOST_H_
#define EXTENSION_HOST_H_

/* A C header, read by C compilers too: no C++ forms here. */
/* NOLINTBEGIN(modernize-deprecated-headers,modernize-use-using) */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define EH_API __attribute__((visibility("default")))
#else
#define EH_API
#endif

/* The longest line taken from an extension, line feed included. */
#define EH_MAX_LINE 16777216u /* 16 MiB */

typedef enum eh_status {
  EH_OK = 0,
  EH_AGAIN = 1,   /* nothing yet: wait for eh_descriptor, eh_perform, try again */
  EH_INVALID = 2, /* a null handle, a bad argument, or arguments not a JSON array */
  EH_NO_MEMORY = 3,
  EH_CANNOT_START = 4,         /* not found, not runnable, or its sandbox cannot be made */
  EH_REFUSED_COMMAND_LINE = 5, /* it ended with status 3 before a word: its usage status */
  EH_NO_HANDSHAKE = 6,         /* it ended, or wrote something else, before its announcement */
  EH_VIOLATION = 7,            /* it wrote what the protocol does not allow; it has been ended */
  EH_ASLEEP = 8,               /* it waits for nothing, without a word: it has been ended */
  EH_TIMED_OUT = 9,            /* the deadline passed while it was at work; it has been ended */
  EH_ENDED = 10,               /* it has ended: nothing more can be sent or received */
  EH_UNFIT_CALL = 11,          /* the call does not fit the catalogue, and was not sent */
  EH_CANCELLED = 12            /* another thread stopped or freed the handle meanwhile */
} eh_status;

/* The status's name, "EH_TIMED_OUT"; "EH_?" for a number that is none. Never null. */
EH_API const char* eh_status_name(eh_status status);

/* The library's version, as "0.1.0". */
EH_API const char* eh_version(void);

/* ---- Settings ---------------------------------------------------------------------- */

typedef struct eh_settings eh_settings;

typedef enum eh_sandbox {
  EH_SANDBOX_WHOLE = 0,  /* the default: refused where the machine cannot make it whole */
  EH_SANDBOX_WEAKER = 1, /* the parts this machine can make, each said by eh_sandbox_words */
  EH_SANDBOX_NONE = 2    /* it reaches all the user may */
} eh_sandbox;

typedef enum eh_grant {
  EH_GRANT_READ = 0, /* a folder shown read-only */
  EH_GRANT_WRITE = 1 /* a folder it may write */
} eh_grant;

typedef enum eh_deadline {
  EH_DEADLINE_START = 0,        /* its announcement, counted only while it is at work: 10 s */
  EH_DEADLINE_CALL = 1,         /* each call's answer, from when it was sent: 30 s */
  EH_DEADLINE_SHUTDOWN = 2,     /* its end after "shutdown": 2 s */
  EH_DEADLINE_CLOSED_INPUT = 3, /* its end after its input is closed: 1 s */
  EH_DEADLINE_TERMINATE = 4     /* its end after SIGTERM, before SIGKILL: 1 s */
} eh_deadline;

/* Lines of standard error, without their line feed; a line longer than 64 KiB comes in
 * pieces. Called from within the library's functions on the thread that called them;
 * it must not call the library on the same handle. */
typedef void (*eh_error_line)(void* context, const char* line, size_t length);

/* New settings: the whole sandbox, the default deadlines, calls checked. On EH_OK the
 * caller owns *settings and frees it with eh_settings_free. */
EH_API eh_status eh_settings_new(eh_settings** settings);
EH_API void eh_settings_free(eh_settings* settings);
EH_API eh_status eh_settings_sandbox(eh_settings* settings, eh_sandbox sandbox);
/* Lets it reach the network (0: no, the default). */
EH_API eh_status eh_settings_network(eh_settings* settings, int allowed);
/* Shows `folder` (an existing folder; made absolute) read-only or writable. */
EH_API eh_status eh_settings_grant(eh_settings* settings, const char* folder, eh_grant grant);
/* Passes "NAME" (the host application's value) or sets "NAME=VALUE" in its environment. */
EH_API eh_status eh_settings_environment(eh_settings* settings, const char* variable);
/* Its processes (threads count) and memory in bytes; 0 keeps the default (64; 1 GiB). */
EH_API eh_status eh_settings_limits(eh_settings* settings, long processes, size_t memory);
EH_API eh_status eh_settings_deadline(eh_settings* settings, eh_deadline which,
                                      unsigned milliseconds);
/* Whether calls are checked against the catalogue before they are sent (1, the default). */
EH_API eh_status eh_settings_check_calls(eh_settings* settings, int check);
/* Where its standard error goes, line by line; null keeps it by its ends only. */
EH_API eh_status eh_settings_error_lines(eh_settings* settings, eh_error_line callback,
                                         void* context);
/* Why the last eh_settings_* call on `settings` failed. */
EH_API const char* eh_settings_errmsg(const eh_settings* settings);

/* ---- Start ------------------------------------------------------------------------- */

typedef struct eh_extension eh_extension;

/* Starts `command` (a program, found as execvp finds it, and its arguments, null
 * terminated; the protocol's own, "--protocol" "1", included) with `settings` (null for
 * the defaults), sends the handshake and reads the announcement. Returns EH_OK once the
 * catalogue is read; else why not (EH_CANNOT_START, EH_REFUSED_COMMAND_LINE,
 * EH_NO_HANDSHAKE, EH_VIOLATION, EH_ASLEEP, EH_TIMED_OUT). Either way *extension is a
 * handle the caller owns and frees with eh_free (unless EH_INVALID or EH_NO_MEMORY, when it
 * is null): eh_errmsg tells why a start failed. Blocks until then. */
EH_API eh_status eh_start(const eh_settings* settings, const char* const* command,
                          eh_extension** extension);

/* Starts again what `predecessor` started, with the same settings, into a new handle the
 * caller owns. The predecessor is not touched: stop and free it as any other. */
EH_API eh_status eh_restart(const eh_extension* predecessor, eh_extension** extension);

/* Ends it at once if it still runs (as eh_kill), and frees the handle. Null is nothing. */
EH_API void eh_free(eh_extension* extension);

/* Why the last failure on `extension` happened, in words; "" after success. */
EH_API const char* eh_errmsg(const eh_extension* extension);

/* Its "extension_id" and "extension_version", as announced. */
EH_API const char* eh_extension_id(const eh_extension* extension);
EH_API const char* eh_extension_version(const eh_extension* extension);
/* How it is contained, in words: "no terminal, only its own processes, no network, ...". */
EH_API const char* eh_sandbox_words(const eh_extension* extension);

/* ---- The catalogue ----------------------------------------------------------------- */

typedef enum eh_member {
  EH_NAME = 0,          /* text */
  EH_INPUT = 1,         /* text: "Value", "Int", "()", ... */
  EH_OUTPUT = 2,        /* text */
  EH_EFFECT = 3,        /* text */
  EH_THREADING = 4,     /* text */
  EH_MINIMUM_ARITY = 5, /* number */
  EH_MAXIMUM_ARITY = 6, /* number */
  EH_ACTION = 7,        /* number: 1 true, 0 false */
  EH_CANCEL = 8,        /* number */
  EH_LAZY = 9,          /* number */
  EH_SENDABLE = 10      /* number */
} eh_member;

/* How many callables it announced. */
EH_API size_t eh_callable_count(const eh_extension* extension);
/* A text member of callable `index` (in the order announced); null for an index or a
 * member that is none. Valid as long as the handle. */
EH_API const char* eh_callable_text(const eh_extension* extension, size_t index, eh_member member);
/* A number member (an arity, or a flag as 0 or 1) into *value. */
EH_API eh_status eh_callable_number(const eh_extension* extension, size_t index, eh_member member,
                                    long long* value);

/* ---- Calls ------------------------------------------------------------------------- */

typedef struct eh_reply eh_reply;

/* Calls `callable` with `arguments` (the text of a JSON array) and waits for the answer
 * until the call deadline. EH_OK: *reply is the answer (a value or an error), which the
 * caller frees with eh_reply_free. Else: EH_UNFIT_CALL (not sent, the extension goes on),
 * EH_INVALID, EH_ENDED, EH_VIOLATION, EH_TIMED_OUT (it has been ended), EH_CANCELLED
 * (the call may still be answered: eh_next_reply takes the answer). Answers of calls
 * submitted before it are kept for eh_next_reply. */
EH_API eh_status eh_call(eh_extension* extension, const char* callable, const char* arguments,
                         eh_reply** reply);

/* Queues a call after those submitted before it; *ticket numbers it (from 1) and its
 * reply. It is written by the next eh_perform (or eh_call): eh_descriptor is readable at
 * once while calls wait to be written, so that a batch goes in one write. */
EH_API eh_status eh_submit(eh_extension* extension, const char* callable, const char* arguments,
                           uint64_t* ticket);

/* A descriptor that is readable when eh_perform has work: poll it for POLLIN (with any
 * event loop), and call eh_perform. Owned by the handle; valid until eh_free. */
EH_API int eh_descriptor(const eh_extension* extension);

/* Writes what can be written, reads what has come, and judges the calls' deadlines,
 * without blocking. EH_OK; or why the extension can go on no more (EH_VIOLATION,
 * EH_TIMED_OUT, EH_ENDED). */
EH_API eh_status eh_perform(eh_extension* extension);

/* The milliseconds until the nearest call deadline, for a poll's timeout; -1 when no call
 * waits. */
EH_API int eh_timeout_ms(const eh_extension* extension);

/* The answer to the oldest call not yet answered, if it has come: EH_OK and *reply,
 * which the caller frees; EH_AGAIN when it has not come yet; EH_ENDED (or why it ended)
 * when it never will. */
EH_API eh_status eh_next_reply(eh_extension* extension, eh_reply** reply);

/* Calls submitted and not yet taken by eh_next_reply. */
EH_API size_t eh_pending(const eh_extension* extension);

/* The ticket of the call a reply answers. */
EH_API uint64_t eh_reply_ticket(const eh_reply* reply);
/* 1 when the call failed ("error"), 0 when it produced a value ("call_result"). */
EH_API int eh_reply_failed(const eh_reply* reply);
/* The value as compact JSON text (UTF-8), or null for a failure. */
EH_API const char* eh_reply_value(const eh_reply* reply);
/* A failure's "kind", "code" and "message"; null for a value. */
EH_API const char* eh_reply_error_kind(const eh_reply* reply);
EH_API const char* eh_reply_error_code(const eh_reply* reply);
EH_API const char* eh_reply_error_message(const eh_reply* reply);
/* From just before the write that took the call's last byte to the read that took the
 * answer's line feed, in microseconds: never less than the extension had the call. */
EH_API int64_t eh_reply_microseconds(const eh_reply* reply);
EH_API void eh_reply_free(eh_reply* reply);

/* ---- The end ----------------------------------------------------------------------- */

typedef enum eh_end_step {
  EH_RUNNING = 0,        /* it has not ended */
  EH_ENDED_ALONE = 1,    /* it ended before the host asked */
  EH_AFTER_SHUTDOWN = 2, /* after "shutdown" */
  EH_AFTER_CLOSED_INPUT = 3,
  EH_AFTER_TERMINATE = 4, /* after SIGTERM */
  EH_KILLED = 5           /* by SIGKILL from the host */
} eh_end_step;

/* Ends it: "shutdown" (unless a fault came first), then its input closed, then SIGTERM,
 * then SIGKILL, each after its deadline; then everything it started is ended. EH_OK once
 * it has ended, whichever step ended it: eh_ending tells how. Calls not answered by then
 * are answered no more. */
EH_API eh_status eh_stop(eh_extension* extension);
/* Ends it and everything it started at once. */
EH_API eh_status eh_kill(eh_extension* extension);

/* How it ended: the step, and either its exit status (*signal 0) or the signal that
 * ended it. EH_AGAIN while it runs. */
EH_API eh_status eh_ending(const eh_extension* extension, eh_end_step* step, int* exit_status,
                           int* signal);
/* How it ended, in words: "exit status 0 after shutdown"; "" while it runs. */
EH_API const char* eh_ending_words(const eh_extension* extension);
/* Its standard error as kept: whole up to 64 KiB, else its first and last bytes. */
EH_API const char* eh_error_output(const eh_extension* extension, size_t* length);

/* ---- The raw level, for tools ------------------------------------------------------ */

/* Writes `length` bytes to its input as they stand, waiting until the call deadline. No
 * call is tracked; mixing raw writes with eh_submit is the caller's business. */
EH_API eh_status eh_write_raw(eh_extension* extension, const void* bytes, size_t length);
/* Closes its input. */
EH_API eh_status eh_close_input(eh_extension* extension);
/* Takes the next line of its output (line feed included; the last piece without one at
 * its end), waiting at most `milliseconds` (0: not at all). *line is valid until the next
 * call on the handle; *arrived is when it was read, in nanoseconds of CLOCK_MONOTONIC.
 * EH_AGAIN when none came in time; EH_ENDED at the end of its output. */
EH_API eh_status eh_read_line(eh_extension* extension, unsigned milliseconds, const char** line,
                              size_t* length, int64_t* arrived);

#ifdef __cplusplus
}
#endif

/* NOLINTEND(modernize-deprecated-headers,modernize-use-using) */

#endif /* EXTENSION_HOST_H_ */
