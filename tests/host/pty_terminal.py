"""A program run on a real pseudo-terminal, as a person runs it: what it shows is read as
the terminal receives it, byte for byte, and keys are typed once its line editor holds
the terminal. Shared by the tests of what a person sees."""
import os
import pty
import select
import sys
import termios
import time

DEADLINE_SECONDS = 30


def fail(why):
    print("FAILED: " + why)
    sys.exit(1)


class Terminal:
    def __init__(self, argv, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(argv[0], argv, env)
        self.screen = b""  # shown since the last expect
        self.received = b""  # everything shown

    def _read(self, timeout):
        """Reads what is there within `timeout`; returns False once the terminal is closed."""
        try:
            if not select.select([self.fd], [], [], timeout)[0]:
                return True
            chunk = os.read(self.fd, 65536)
        except OSError:
            return False
        self.screen += chunk
        self.received += chunk
        return bool(chunk)

    def expect(self, text):
        """Reads until `text` has shown since the last expect, and returns what came before
        it; fails at the deadline."""
        wanted = text.encode()
        deadline = time.monotonic() + DEADLINE_SECONDS
        while wanted not in self.screen:
            if time.monotonic() > deadline:
                fail(f"waited {DEADLINE_SECONDS} s for {text!r}; the terminal shows {self.screen!r}")
            if not self._read(0.1) and wanted not in self.screen:
                fail(f"the program ended before showing {text!r}; it showed {self.screen!r}")
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
        """Reads all the program shows until it ends; returns its exit status."""
        deadline = time.monotonic() + DEADLINE_SECONDS
        while time.monotonic() < deadline:
            done, status = os.waitpid(self.pid, os.WNOHANG)
            open_still = self._read(0.05)
            if done:
                while open_still and select.select([self.fd], [], [], 0)[0]:
                    open_still = self._read(0)
                return os.waitstatus_to_exitcode(status)
        fail("the program did not end")
