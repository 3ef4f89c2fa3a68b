#!/bin/bash
# A host application that crashes (SIGKILL, no chance to clean up) while it holds two
# extensions, one of which has started a process of its own: every one of them ends, as
# the library promises, because the pipe that holds each supervisor closes with the host.
# The processes are found while the host runs, and their ends awaited through pidfds.
# usage: host_crash.sh LIBRARY SAMPLE_EXTENSION SOURCE_DIR
set -u
library=$1 sample=$2 source=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
export EXTENSION_HOST_LIBRARY=$library PYTHONPATH=$source/python

# The host: two extensions, both called, then the processes they run listed, then its end.
cat >"$scratch/host.py" <<'PYTHON'
import os, sys
import extension_host

sample = sys.argv[1]
plain = extension_host.Extension.start([sample, "--protocol", "1"])
parent = extension_host.Extension.start(
    ["/bin/sh", "-c", 'sleep 1000.25 & exec "$0" --protocol 1', sample])
assert plain.call("sample.echo", "up") == "up" and parent.call("sample.echo", "up") == "up"
ours = []
for entry in os.listdir("/proc"):
    try:
        words = open(f"/proc/{entry}/cmdline", "rb").read().split(b"\0")
    except OSError:
        continue
    if words[0] == sample.encode() or words[:2] == [b"sleep", b"1000.25"]:
        ours.append(entry)
print(" ".join(ours), flush=True)
os.kill(os.getpid(), 9)
PYTHON
# The shell's own word on a command killed by a signal is not the test's output.
{ /usr/bin/python3 "$scratch/host.py" "$sample" >"$scratch/out" 2>"$scratch/err"; } 2>/dev/null
status=$?
[ "$status" -eq 137 ] || { cat "$scratch/out" "$scratch/err"; fail "the host ended with $status, not by SIGKILL"; }
read -r -a pids <"$scratch/out"
[ "${#pids[@]}" -eq 3 ] || fail "not three processes found while the host ran: ${pids[*]}"

# Each must end; a pidfd says when. The bound only keeps a failure from hanging.
/usr/bin/python3 - "${pids[@]}" <<'PYTHON' || fail "a process of the crashed host's extensions is still running"
import os, select, sys
for pid in sys.argv[1:]:
    try:
        ended = os.pidfd_open(int(pid))
    except ProcessLookupError:
        continue  # gone already
    if not select.select([ended], [], [], 60)[0]:
        sys.exit(f"process {pid} still runs")
PYTHON
echo "a crashed host application: its ${#pids[@]} processes of extensions all ended"
