// The host ended from outside: a CI job cancelled (SIGTERM), a terminal window closed
// (SIGHUP). It ends as those signals' default actions have it, and the extensions with it
// (each one's supervisor has a parent-death signal); but first it says so, so that a log
// cut short tells why.
#ifndef HOST_COMMANDS_TERMINATIONS_H_
#define HOST_COMMANDS_TERMINATIONS_H_

// From now on, SIGTERM and SIGHUP write one line to standard error ("extension-host:
// ended by SIGTERM; every extension it ran ends with it"), then end the host as their
// default actions do.
void say_why_when_terminated();

#endif  // HOST_COMMANDS_TERMINATIONS_H_
