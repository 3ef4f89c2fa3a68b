"""The sandbox holds: an extension that tries every way out (the terminal, the host's
processes and descriptors, its supervisor, a secret in the environment, a port on the
loopback, a folder outside, hundreds of processes, the kernel's settings) reaches none of
them by default, and reaches each one only when it is granted; every report says how it
was contained. The host runs under a real pseudo-terminal, as a person's shell runs it.

First the positive case: with --no-sandbox the same probe reaches what any program of
the user's reaches, so no refusal below can pass for the wrong reason. Run as the user
running the tests and, as root, as nobody too, where nobody can reach the build.

usage: sandbox_holds.py HOST EXTENSION FAKES"""
import ctypes
import os
import pty
import pwd
import socket
import subprocess
import sys
import tempfile
import threading

HOST, EXTENSION, FAKES = sys.argv[1:4]
DATAGRAM = None  # the path of the test's datagram socket, made in main()
TMP_MARKER = None  # a file of the machine's /tmp, made in main()
PROBE = os.path.join(FAKES, "probes-its-sandbox")
SECRET = "PROBE_SECRET"

# What the probe reaches without a sandbox, for root and for any other user: a process
# that is not root may neither type into a terminal that is not its own, nor open its
# supervisor's descriptors (the supervisor lets no one of its user trace it), nor write
# the kernel's settings, sandbox or not. /dev/tty it never reaches: it has no controlling
# terminal.
UNSANDBOXED = {
    "the terminal device": True,
    "/dev/tty": False,
    "an ancestor's terminal": True,
    "typing into the terminal": "root",
    "the host's process": True,
    "signalling the host": True,
    "the host's descriptors": True,
    "tracing the host": True,
    "the host's memory": True,
    "its supervisor's report pipe": "root",
    "the secret variable": True,
    "the listening port": True,
    "the folder outside": True,
    "its own TMPDIR": True,
    "300 processes": True,
    "a descriptor beyond its streams": False,
    "the machine's IPC": True,
    "IPC of its own": True,
    "a datagram socket of the machine": True,
    "a connected pair": True,
    "the kernel's rarer calls": True,
    "a new namespace": True,
    "a secret file": "root",
    "the machine's /tmp": True,
    "the user's home": True,
    "the kernel's settings": "root",
}
# What the sandbox leaves it by default: a file of its own, a segment of its own, and a
# connected pair of sockets, which reach nothing outside.
ITS_OWN = {"its own TMPDIR", "IPC of its own", "a connected pair"}
GRANTS = {"the secret variable": ["--env", SECRET],
          "the listening port": ["--network"],
          "a datagram socket of the machine": [],
          "the folder outside": ["--writable", "OUTSIDE"],
          "the user's home": ["--read", "HOME"]}


LIBC = ctypes.CDLL(None, use_errno=True)
IPC_CREAT, IPC_RMID = 0o1000, 0
# The machine's segment the probe looks for; the one after it is the probe's own.
IPC_KEY = 0x5A000000 + os.getpid() % 0x10000 * 2


def segment(key, create=False):
    """The id of the System V segment under `key` on the machine, or None."""
    found = LIBC.shmget(ctypes.c_int(key), ctypes.c_size_t(4096 if create else 0),
                        ctypes.c_int(IPC_CREAT | 0o666 if create else 0))
    return None if found < 0 else found


def remove_segment(key):
    found = segment(key)
    if found is not None:
        LIBC.shmctl(ctypes.c_int(found), ctypes.c_int(IPC_RMID), None)


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def listen():
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(64)

    def serve():
        while True:
            connection, _ = server.accept()
            connection.close()
    threading.Thread(target=serve, daemon=True).start()
    return server.getsockname()[1]


# Runs a command where no namespace may be made: in a user namespace of its own, as its
# root without any capability, with user namespaces forbidden there.
NO_NAMESPACES = ["unshare", "--user", "--map-root-user", "sh", "-c",
                 'echo 0 >/proc/sys/user/max_user_namespaces && exec setpriv '
                 '--securebits=+noroot,+noroot_locked --inh-caps=-all --bounding-set=-all "$@"',
                 "sh"]


def run_host_with(options, user, port, outside, user_temporary, home, wrapper=()):
    """Runs the host on a pseudo-terminal, the probe under it; returns what it printed."""
    master, slave = pty.openpty()
    terminal = os.ttyname(slave)
    demote = None
    if user is not None:
        record = pwd.getpwnam(user)
        os.chown(terminal, record.pw_uid, record.pw_gid)

        def demote():
            os.setgid(record.pw_gid)
            os.setgroups([])
            os.setuid(record.pw_uid)
    options = [{"OUTSIDE": outside, "HOME": home}.get(word, word) for word in options]
    # The shell's process id is the host's once it execs: the probe is told it.
    script = ('exec "$0" run "$@" --timeout-ms 120000 --call sample.echo "[1]" -- "$PROBE" '
              '--tty "$TERMINAL" '
              '--host-pid $$ --port "$PORT" --outside "$OUTSIDE" --secret "$SECRET" '
              '--ipc-key "$IPC_KEY" --datagram "$DATAGRAM" --tmp-marker-hex "$TMP_MARKER" '
              '--protocol 1')
    environment = dict(os.environ, PROBE=PROBE, TERMINAL=terminal, PORT=str(port),
                       OUTSIDE=outside, SECRET=SECRET, PROBE_SECRET="s3cret",
                       IPC_KEY=str(IPC_KEY), DATAGRAM=DATAGRAM, TMP_MARKER=TMP_MARKER.encode().hex(),
                       HOME=home)
    if user is not None:
        # A user's own TMPDIR is the user's to write, as a login's is.
        environment["TMPDIR"] = user_temporary
    process = subprocess.Popen(list(wrapper) + ["sh", "-c", script, HOST] + options,
                               stdin=slave, stdout=slave,
                               stderr=slave, env=environment, preexec_fn=demote,
                               start_new_session=True)
    os.close(slave)
    output = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    process.wait(timeout=120)
    os.close(master)
    return output.decode("utf-8", "replace").replace("\r\n", "\n")


def reached(output):
    verdicts = {}
    for line in output.splitlines():
        line = line.removeprefix("   | ")
        for word, verdict in (("reached: ", True), ("refused: ", False)):
            if line.startswith(word):
                verdicts[line[len(word):].split(" (")[0]] = verdict
    return verdicts


def check(how, output, expected):
    verdicts = reached(output)
    if set(verdicts) != set(expected):
        fail(f"{how}: the probe told {sorted(verdicts)}:\n{output}")
    wrong = [what for what in expected if verdicts[what] != expected[what]]
    if wrong:
        fail(f"{how}: " + "; ".join(
            f"{what} {'reached' if verdicts[what] else 'refused'}" for what in wrong) +
            f"\n{output}")


def header(output):
    for line in output.splitlines():
        if line.startswith("-- sandbox: "):
            return line
    fail("no sandbox line in the report:\n" + output)


def left_its_segment():
    """Whether the probe's own segment outlived it on the machine; removes it."""
    left = segment(IPC_KEY + 1) is not None
    remove_segment(IPC_KEY + 1)
    return left


def holds_as(user, port):
    root = (user or pwd.getpwuid(os.geteuid()).pw_name) == "root"
    who = user or "the test's user"
    with tempfile.TemporaryDirectory() as outside, tempfile.TemporaryDirectory() as own, \
            tempfile.TemporaryDirectory() as home:
        os.chmod(outside, 0o777)
        os.chmod(own, 0o1777)
        os.chmod(home, 0o755)
        with open(os.path.join(home, ".profile"), "w"):
            pass

        def run_host(options, user, port, outside):
            return run_host_with(options, user, port, outside, own, home)
        unsandboxed = {what: (root if value == "root" else value)
                       for what, value in UNSANDBOXED.items()}
        output = run_host(["--no-sandbox"], user, port, outside)
        check(f"as {who}, without a sandbox", output, unsandboxed)
        if not left_its_segment():
            fail(f"as {who}: without a sandbox, the probe's segment is not seen outside")
        if "no sandbox (--no-sandbox)" not in header(output):
            fail(f"as {who}: --no-sandbox is not said: {header(output)}")
        for written in os.listdir(outside):
            os.remove(os.path.join(outside, written))

        output = run_host([], user, port, outside)
        sandboxed = {what: what in ITS_OWN for what in UNSANDBOXED}
        check(f"as {who}, in the sandbox", output, sandboxed)
        if left_its_segment():
            fail(f"as {who}: a segment made in the sandbox outlived it on the machine")
        line = header(output)
        for said in ("no terminal", "only its own processes", "IPC of its own", "no network",
                     "files read-only but its private TMPDIR, /dev/shm", "at most 64 processes"):
            if said not in line:
                fail(f"as {who}: the report does not say '{said}': {line}")
        if os.listdir(outside):
            fail(f"as {who}: the sandboxed probe left {os.listdir(outside)} outside")

        grants = [word for words in GRANTS.values() for word in words]
        output = run_host(grants, user, port, outside)
        granted = dict(sandboxed, **{what: True for what in GRANTS})
        check(f"as {who}, with {' '.join(grants)}", output, granted)
        left_its_segment()
        line = header(output)
        for said in ("network allowed", f"and {os.path.realpath(outside)}", SECRET,
                     f"current folder and {os.path.realpath(home)}"):
            if said not in line:
                fail(f"as {who}: the report does not say the grant '{said}': {line}")
    print(f"as {who}: the probe reaches {sum(map(bool, unsandboxed.values()))} ways out "
          f"without a sandbox, none in it but what is its own ({', '.join(sorted(ITS_OWN))}), "
          f"and each grant alone")


def holds_without_namespaces(port):
    """Where no namespace can be made, the weaker sandbox still keeps the extension from
    the terminal, the host (its memory, environment, descriptors; no signal), the files it
    is not shown and the network; what it reaches is what its report says."""
    with tempfile.TemporaryDirectory() as outside, tempfile.TemporaryDirectory() as own, \
            tempfile.TemporaryDirectory() as home:
        os.chmod(outside, 0o777)
        with open(os.path.join(home, ".profile"), "w"):
            pass

        def run_host(options):
            return run_host_with(["--weaker-sandbox"] + options, None, port, outside, own, home,
                                 NO_NAMESPACES)
        output = run_host([])
        line = header(output)
        for said in ("no terminal", "the host's processes in sight, not to trace, read or signal",
                     "the machine's IPC shared", "no network", "held by Landlock",
                     "none to read of the home folders"):
            if said not in line:
                fail(f"without namespaces: the report does not say '{said}': {line}")
        # In sight, as said: the host's process listed in /proc, the machine's IPC, and
        # processes beyond 64 where no bound is said.
        said_reached = {"the host's process", "the machine's IPC"}
        if "processes unbounded" in line:
            said_reached.add("300 processes")
        weaker = {what: what in ITS_OWN or what in said_reached for what in UNSANDBOXED}
        check("without namespaces, in the weaker sandbox", output, weaker)
        left_its_segment()

        grants = [word for words in GRANTS.values() for word in words]
        output = run_host(grants)
        check(f"without namespaces, with {' '.join(grants)}", output,
              dict(weaker, **{what: True for what in GRANTS}))
        left_its_segment()
    print("without namespaces: the weaker sandbox keeps the terminal, the host, the files "
          "not shown and the network from the probe, and grants each alone")


def namespaces_can_be_refused():
    return os.geteuid() == 0 and subprocess.run(
        NO_NAMESPACES + ["sh", "-c", "! unshare -p -f true && ! unshare -U true"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def nobody_can_run_the_build():
    return os.geteuid() == 0 and subprocess.run(
        ["runuser", "-u", "nobody", "--", "test", "-x", HOST, "-a", "-x", PROBE],
        stderr=subprocess.DEVNULL).returncode == 0


def main():
    global DATAGRAM, TMP_MARKER
    if segment(IPC_KEY, create=True) is None:
        fail("cannot make the machine's segment for the probe to find")
    sockets = tempfile.mkdtemp(dir="/tmp")
    os.chmod(sockets, 0o755)
    DATAGRAM = os.path.join(sockets, "datagram")
    # Apart from the socket, whose folder the probe's arguments show.
    markers = tempfile.mkdtemp(dir="/tmp")
    os.chmod(markers, 0o755)
    TMP_MARKER = os.path.join(markers, "marker")
    with open(TMP_MARKER, "w"):
        pass
    receiver = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    receiver.bind(DATAGRAM)
    os.chmod(DATAGRAM, 0o777)
    try:
        return holds()
    finally:
        receiver.close()
        os.remove(DATAGRAM)
        os.remove(TMP_MARKER)
        os.rmdir(markers)
        os.rmdir(sockets)
        remove_segment(IPC_KEY)
        remove_segment(IPC_KEY + 1)


def holds():
    port = listen()
    holds_as(None, port)
    if nobody_can_run_the_build():
        holds_as("nobody", port)
    if namespaces_can_be_refused():
        holds_without_namespaces(port)
    return 0


if __name__ == "__main__":
    sys.exit(main())
