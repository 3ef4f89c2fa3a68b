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
def parent_of(pid):
    stat = open(f"/proc/{pid}/stat").read()
    return int(stat[stat.rindex(")") + 2:].split()[1])

def descends_from_us(pid):
    # Other tests run the same program at the same time: only this host's count.
    while pid > 1:
        pid = parent_of(pid)
        if pid == os.getpid():
            return True
    return False

ours, named = [], []
for entry in filter(str.isdigit, os.listdir("/proc")):
    try:
        if not descends_from_us(int(entry)):
            continue
        words = open(f"/proc/{entry}/cmdline", "rb").read().split(b"\0")
    except (OSError, ValueError):
        continue
    ours.append(entry)
    if words[0] == sample.encode() or words[:2] == [b"sleep", b"1000.25"]:
        named.append(entry)
# Its supervisors, the two extensions and the extension's own child: all must end.
print(len(named), " ".join(ours), flush=True)
os.kill(os.getpid(), 9)
PYTHON
# The shell's own word on a command killed by a signal is not the test's output.
{ /usr/bin/python3 "$scratch/host.py" "$sample" >"$scratch/out" 2>"$scratch/err"; } 2>/dev/null
status=$?
[ "$status" -eq 137 ] || { cat "$scratch/out" "$scratch/err"; fail "the host ended with $status, not by SIGKILL"; }
read -r named pids <"$scratch/out"
read -r -a pids <<<"$pids"
[ "$named" -eq 3 ] ||
  fail "not the two extensions and the sleep among the host's processes: $(cat "$scratch/out")"

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
echo "a crashed host application: its ${#pids[@]} processes (supervisors, extensions, theirs) all ended"
