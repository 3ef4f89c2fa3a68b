#!/usr/bin/env python3
"""What a terminal receives when the host shows what a hostile extension or case folder
sends: every byte the host writes is read through a real pseudo-terminal.

usage: hostile_terminal.py HOST EXTENSION FAKES

The hostile extension puts escape sequences (clear the screen, set the title, write the
clipboard, colours) and a right-to-left override in its identity, a callable's name, a
line that is no JSON, the type of a reply, and its standard error, where it also forges
the host's verdict; and it writes to /dev/tty, past all of these. Case folders are named
with escape sequences too. First the real extension's run is read through the same
terminal and shows as expected, and the hostile one alone reaches it through /dev/tty, so
that the checks below cannot pass for want of output.
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pty_terminal import Terminal, fail  # noqa: E402

# What the hostile extension and case names send: none of it may reach the terminal.
PAYLOADS = [b"\x1b[2J", b"\x1b]0;PWNED", b"\x1b]52;c;", b"\x1b[31m", b"\xe2\x80\xae"]


def terminal(argv):
    return Terminal(argv, dict(os.environ, TERM="xterm"))


def run_on_terminal(argv):
    shown = terminal(argv)
    status = shown.finish()
    return status, shown.received


def lines_of(received):
    return received.replace(b"\r\n", b"\n").decode("utf-8").split("\n")


def main():
    host, extension, fakes = sys.argv[1], sys.argv[2], sys.argv[3]
    hostile = os.path.join(fakes, "terminal-hostile")

    # The real extension first: the terminal shows the conversation, and no escape at all.
    status, received = run_on_terminal([host, "run", "--call", "sample.echo", '["h\u00e9llo"]',
                                        "--", extension, "--protocol", "1"])
    if status != 0 or b"== extension ended: exit status 0" not in received:
        fail(f"the real extension's run: status {status}, {received!r}")
    if b"\x1b" in received:
        fail("the host wrote an escape sequence of its own in a run")
    if "h\u00e9llo".encode() not in received:
        fail("printable UTF-8 was not shown as it is")

    # The hostile extension alone on the terminal, its pipes to nowhere: what it writes to
    # /dev/tty arrives, so that its absence below means the host kept it out.
    status, received = run_on_terminal(
        ["/bin/sh", "-c", 'printf "{}\\n{}\\n" | "$0" type >/dev/null 2>&1', hostile])
    if b"\x1b]0;TTY-PWNED" not in received:
        fail(f"the hostile extension cannot reach a terminal even alone: {received!r}")

    # The call is sent as written: the callable the extension announces is named otherwise.
    for mode in ("line", "type"):
        status, received = run_on_terminal(
            [host, "run", "--send-anyway", "--call", "sample.echo", "[1]", "--", hostile, mode,
             "--protocol", "1"])
        if status != 1:
            fail(f"{mode}: the host ended with {status}, expected 1")
        if b"\x1b" in received or b"\x07" in received or b"\xe2\x80\xae" in received or \
                b"TTY-PWNED" in received:
            fail(f"{mode}: a control sequence reached the terminal: {received!r}")
        lines = lines_of(received)
        for shown in ("   extension sam\\x1b[2Jple 0.1.0\\x1b]0;PWNED\\x07, protocol 1.0\\u{202E}",
                      "   sample.echo\\x1b]52;c;UFdORUQ=\\x07 1..1"):
            if not any(line.startswith(shown) for line in lines):
                fail(f"{mode}: no line shows {shown!r} in {lines!r}")
        if mode == "line" and "<- raw \\x1b[31mRED\\x1b[0m \\u{202E} reversed \\x1b]0;PWNED\\x07" \
                not in lines:
            fail(f"line: the received line is not shown escaped: {lines!r}")
        if mode == "type" and not any('answered by "call_result\\x1b[2J\\x1b[H"' in line
                                      for line in lines):
            fail(f"type: the reply's type is not shown escaped: {lines!r}")
        # The forged verdict is shown as standard error, indented; the real one comes last.
        if "   | \\x1b[2J\\x1b[H== extension ended: exit status 0" not in lines:
            fail(f"{mode}: standard error is not shown indented and escaped: {lines!r}")
        verdicts = [line for line in lines if line.startswith("== extension ended")]
        if verdicts != ["== extension ended: exit status 3"] or \
                [line for line in lines if line][-1] != verdicts[0]:
            fail(f"{mode}: the real verdict is not the last line, alone: {lines!r}")

    # The interactive session: the line editor writes escapes of its own, so what is
    # checked is that none of the extension's reach the terminal.
    session = terminal([host, "run", "--", hostile, "line", "--protocol", "1"])
    session.expect("call> ")
    # Its callable is not named "sample.echo": the call is not sent.
    session.type("sample.echo [1]\r")
    session.expect("?? not sent: the extension announced no callable named 'sample.echo'")
    session.expect("call> ")
    session.type(':send {"type":"call","request_id":"x","callable":"sample.echo","arguments":[1]}\r')
    session.expect("<- raw \\x1b[31mRED")
    session.expect("call> ")
    session.type("\x04")
    session.expect("== extension ended: exit status 3")
    status = session.finish()
    if status != 1:
        fail(f"interactive: the host ended with {status}, expected 1")
    for payload in PAYLOADS:
        if payload in session.received:
            fail(f"interactive: {payload!r} reached the terminal")
    if b"sam\\x1b[2Jple" not in session.received:
        fail("interactive: the identity is not shown escaped")

    # check: case folders named to command the terminal are named visibly.
    scratch = tempfile.mkdtemp()
    try:
        cases = os.path.join(scratch.encode(), b"cases")
        os.mkdir(cases)
        names = [b"esc\x1b[2Jape", b"title\x1b]0;PWNED\x07", b"rtl\xe2\x80\xaeevil",
                 b"red\x1b[31mred"]
        for name in names:
            folder = os.path.join(cases, name)
            os.mkdir(folder)
            with open(os.path.join(folder, b"input"), "wb") as input_file:
                input_file.write(b'{"type":"handshake"}\n')
            with open(os.path.join(folder, b"status"), "wb") as status_file:
                status_file.write(b"0\n")
            with open(os.path.join(folder, b"output"), "wb") as output_file:
                output_file.write(b"not what it writes\n")
        status, received = run_on_terminal([host.encode(), b"check", cases, b"--",
                                            extension.encode()])
        if status != 1 or b"0 passed, 4 failed" not in received:
            fail(f"check: status {status}, {received!r}")
        if b"\x1b" in received or b"\x07" in received or b"\xe2\x80\xae" in received:
            fail(f"check: a case's name reached the terminal raw: {received!r}")
        for shown in (b"FAIL esc\\x1b[2Jape: output differs", b"FAIL rtl\\u{202E}evil: "):
            if shown not in received:
                fail(f"check: {shown!r} not shown")
    finally:
        shutil.rmtree(scratch)
    print("hostile terminal: run, the session and check show every control sequence escaped")


if __name__ == "__main__":
    main()
