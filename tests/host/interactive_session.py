#!/usr/bin/env python3
"""The interactive session as a person uses it, through a real pseudo-terminal.

usage: interactive_session.py HOST EXTENSION

Types, at the host's prompt: a callable's name completed with Tab and an echo of
non-ASCII text; a line that is no call; a failing call; then Ctrl-D. Passes when every
answer shows, the bad line is reported without ending the session, and the host ends
with status 0 after sending "shutdown".
"""
import os
import pty
import select
import sys
import termios
import time

DEADLINE_SECONDS = 20


class Terminal:
    def __init__(self, argv):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            # The C locale: the host must read UTF-8 from the terminal even so.
            env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
            env["TERM"] = "xterm"
            os.execve(argv[0], argv, env)
        self.screen = b""

    def expect(self, text):
        """Reads until `text` has shown since the last expect; fails at the deadline."""
        wanted = text.encode()
        deadline = time.monotonic() + DEADLINE_SECONDS
        while wanted not in self.screen:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.fd], [], [], max(left, 0))
            if not ready:
                fail(f"waited {DEADLINE_SECONDS} s for {text!r}")
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                fail(f"the host ended before showing {text!r}")
            self.screen += chunk
        shown, _, self.screen = self.screen.partition(wanted)
        return shown.decode("utf-8", "replace")

    def type(self, keys):
        """Types once the line editor holds the terminal: keys typed while it is still in
        its ordinary mode could be thrown away when the editor takes it over."""
        deadline = time.monotonic() + DEADLINE_SECONDS
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                fail("the line editor never took the terminal")
            time.sleep(0.005)
        os.write(self.fd, keys.encode())

    def finish(self):
        deadline = time.monotonic() + DEADLINE_SECONDS
        while time.monotonic() < deadline:
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            try:
                if select.select([self.fd], [], [], 0.05)[0]:
                    self.screen += os.read(self.fd, 4096)
            except OSError:
                pass
        fail("the host did not end after Ctrl-D")


def fail(why):
    print("FAILED: " + why)
    sys.exit(1)


def main():
    host, extension = sys.argv[1], sys.argv[2]
    term = Terminal([host, "run", "--", extension, "--protocol", "1"])
    term.expect("sample.wait")
    term.expect("call> ")

    # Tab completes the name: "sample.e" has one completion, which the editor writes
    # after the letters typed (moving the cursor between them), with a space.
    term.type("sample.e\t")
    term.expect("cho ")
    term.type('["h\u00e9llo, w\u00f6rld \u4e16\u754c"]\r')
    term.expect('"callable":"sample.echo","arguments":["h\u00e9llo, w\u00f6rld \u4e16\u754c"]}')
    term.expect('"value":"h\\u00E9llo, w\\u00F6rld \\u4E16\\u754C"}')
    term.expect("sample.echo answered in")
    term.expect("call> ")

    term.type("this is no call\r")
    term.expect("?? not a call")
    term.expect("call> ")

    term.type("sample.fail []\r")
    term.expect('"message":"sample failure"')
    term.expect("sample.fail failed in")
    term.expect("call> ")

    term.type("\x04")  # Ctrl-D at an empty line: the end of input
    term.expect('-> {"type":"shutdown"}')
    term.expect("== extension ended: exit status 0")
    status = term.finish()
    if status != 0:
        fail(f"the host ended with {status}, expected 0")
    print("interactive session: completion, non-ASCII echo, a bad line, Ctrl-D: all as expected")


if __name__ == "__main__":
    main()
