#!/usr/bin/env python3
"""The interactive session as a person uses it, through a real pseudo-terminal.

usage: interactive_session.py HOST EXTENSION

Types, at the host's prompt, what a person does: a name completed with Tab and an echo of
non-ASCII text, shown readable beside its escapes; a misspelt name, a wrong number of
arguments, a bare verb, a line that is no call, a stray bracket, each reported and not
sent; help; a value over several lines; Ctrl-C at the prompt and while a call is awaited;
a failing call; Ctrl-D. Then a second session with HOME pointing at the same scratch
folder finds the history, runs the catalogue and quits; a third sends a line as it stands
with :send; a fourth is ended by Ctrl-C twice during a wait.
"""
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pty_terminal import Terminal, fail  # noqa: E402


def terminal_at_home(argv, home):
    """The host in the C locale (it must read UTF-8 from the terminal even so), with HOME
    in a scratch folder, where its history goes."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LC_") and k not in ("LANG", "XDG_STATE_HOME")}
    env["TERM"] = "xterm"
    env["HOME"] = home
    return Terminal(argv, env)


def open_session(host, extension, home):
    term = terminal_at_home([host, "run", "--", extension, "--protocol", "1"], home)
    term.expect("sample.wait")
    term.expect("call> ")
    return term


def main():
    host, extension = sys.argv[1], sys.argv[2]
    home = tempfile.mkdtemp()
    try:
        sessions(host, extension, home)
    finally:
        shutil.rmtree(home)
    print("interactive session: completion, readable values, mistakes reported and forgiven, "
          "values over several lines, Ctrl-C, session commands, history kept")


def sessions(host, extension, home):
    term = open_session(host, extension, home)

    # Tab completes the name: "sample.e" has one completion, which the editor writes
    # after the letters typed (moving the cursor between them), with a space.
    term.type("sample.e\t")
    term.expect("cho ")
    term.type('["h\u00e9llo, w\u00f6rld \u4e16\u754c"]\r')
    term.expect('"callable":"sample.echo","arguments":["h\u00e9llo, w\u00f6rld \u4e16\u754c"]}')
    term.expect('"value":"h\\u00E9llo, w\\u00F6rld \\u4E16\\u754C"}')
    term.expect('   = "h\u00e9llo, w\u00f6rld \u4e16\u754c"')
    term.expect("sample.echo answered in")
    term.expect("call> ")

    # Mistakes are reported, nothing is sent, and the session goes on.
    for typed, reported in [
            ('sample.ecoh ["x"]', "?? not sent: the extension announced no callable named "
                                  "'sample.ecoh'; did you mean sample.echo?"),
            ("sample.echo [1,2]", "?? not sent: sample.echo takes 1 argument, not 2"),
            ('sample.wait ["x"]', 'sample.wait takes Int: an integer, not "x" (a string) '
                                  "(':send' sends a line as it stands)"),
            ("echo [1]", "did you mean sample.echo?"),
            ("this is no call", "?? not sent: the extension announced no callable named 'this'"),
            ("]", "?? not sent: a call starts with the callable's name")]:
        term.type(typed + "\r")
        shown = term.expect(reported)
        if "-> " in shown:
            fail(f"{typed!r} was sent: {shown!r}")
        term.expect("call> ")

    term.type("help\r")
    term.expect("->  a line the host sent to the extension")
    term.expect("arity      the fewest..most arguments a call takes")
    term.expect(":send LINE")
    term.expect("call> ")

    # A value over several lines is read until it is whole.
    term.type('sample.echo [{"a":\r')
    term.expect("...> ")
    term.type('[1,\r')
    term.expect("...> ")
    term.type('2]}]\r')
    term.expect('"arguments":[{"a":[1,2]}]}')
    term.expect('"value":{"a":[1,2]}}')
    term.expect("call> ")

    # Ctrl-C at the prompt abandons the line, even a value not finished.
    term.type('sample.echo ["dropped"')
    term.type("\x03")
    if "-> " in term.expect("?? abandoned: the line was not sent"):
        fail("a line abandoned with Ctrl-C was sent")
    term.expect("call> ")
    term.type('sample.echo [{"b":\r')
    term.expect("...> ")
    term.type("\x03")
    if "-> " in term.expect("?? abandoned: the value was not sent"):
        fail("a value abandoned with Ctrl-C was sent")
    term.expect("call> ")

    # Ctrl-C while a call is awaited says so; the answer still comes.
    term.type("sample.wait [1500]\r")
    term.expect('"callable":"sample.wait","arguments":[1500]}')
    time.sleep(0.3)
    os.write(term.fd, b"\x03")
    # On a line of its own, not after the "^C" the terminal shows.
    if "\n" not in term.expect("?? still awaiting the reply to call-").split("^C")[-1]:
        fail("what is awaited is told on the line of the ^C")
    term.expect("Ctrl-C again ends the extension")
    term.expect('"value":1500}')
    term.expect("sample.wait answered in")
    term.expect("call> ")

    # One prompt follows the answer: the interrupt was the call's, not the next line's.
    term.type("sample.fail []\r")
    if "call> " in term.expect('"message":"sample failure"'):
        fail("a second prompt followed the answer to an interrupted call")
    term.expect("sample.fail failed in")
    term.expect("call> ")

    term.type("\x04")  # Ctrl-D at an empty line: the end of input
    term.expect('-> {"type":"shutdown"}')
    term.expect("== extension ended: exit status 0")
    status = term.finish()
    if status != 0:
        fail(f"the host ended with {status}, expected 0")

    # The history is kept, in the XDG state folder under HOME, and read by the next session.
    history = os.path.join(home, ".local", "state", "extension-host", "history")
    if not os.path.isfile(history):
        fail(f"no history at {history}")
    term = open_session(host, extension, home)
    term.type("\x1b[A")  # the last entry: the failing call
    term.expect("sample.fail []")
    term.type("\r")
    term.expect("sample.fail failed in")
    term.expect("call> ")
    term.type("catalogue\r")
    term.expect("sample.wait    1..1")
    term.expect("call> ")
    term.type("quit\r")
    term.expect('-> {"type":"shutdown"}')
    term.expect("== extension ended: exit status 0")
    if term.finish() != 0:
        fail("quit did not end the session with status 0")

    # :send sends a line as it stands: here one the protocol refuses.
    term = open_session(host, extension, home)
    term.type(':send {"type":"Call"}\r')
    term.expect('-> {"type":"Call"}')
    term.expect("!! the extension closed its output")
    term.expect("== extension ended: exit status 2")
    if term.finish() != 1:
        fail("a protocol fault sent with :send did not end with status 1")

    # Ctrl-C twice while a call is awaited ends the extension, and says so.
    term = open_session(host, extension, home)
    term.type("sample.wait [5000]\r")
    term.expect('"arguments":[5000]}')
    time.sleep(0.3)
    os.write(term.fd, b"\x03")
    term.expect("Ctrl-C again ends the extension")
    os.write(term.fd, b"\x03")
    term.expect("!! ended by Ctrl-C while awaiting the reply to call-1")
    term.expect("== extension ended: killed by signal 9 (SIGKILL), sent by the host")
    if term.finish() != 1:
        fail("a session ended by Ctrl-C did not end with status 1")


if __name__ == "__main__":
    main()
