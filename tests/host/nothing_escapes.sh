#!/bin/bash
# No process escapes the host: one that leaves its extension's process group and session
# (a double fork and setsid) is found and ended, and named in run, record and check; and a
# host killed with SIGKILL while hundreds of extensions run leaves nothing running a second
# later, their children included. The kill is tried as root (a PID namespace per
# extension), as an unprivileged user (a user namespace) and where no namespace may be made
# (a subreaper), as the machine allows.
# usage: nothing_escapes.sh HOST EXTENSION FAKES
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3")
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
chmod 755 "$scratch"
marker=escapes-marker-$$

running() { pgrep -f "$marker" | wc -l; }

# The real extension first: a clean run names nothing left behind.
"$host" run --call sample.echo '[1]' -- "$extension" --protocol 1 >"$scratch/clean.txt" </dev/null ||
  fail "the real extension's run failed"
grep -q 'left' "$scratch/clean.txt" && fail "a clean run names a process left"

"$host" run --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$fakes/detaches" "$marker" --protocol 1 \
  >"$scratch/run.txt" </dev/null
[ $? -eq 1 ] || fail "run of a detaching extension did not end with 1"
# Its detached shell may not have started its sleep yet when the host looks: one or two.
grep -Eqx '== extension ended: exit status 0; but it left (a process|2 processes) running after it had exited, which the host ended' \
  "$scratch/run.txt" || fail "run: $(tail -n 2 "$scratch/run.txt")"
[ "$(running)" -eq 0 ] || fail "run left the detached process running"

"$host" record "$scratch/case" --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$fakes/detaches" "$marker" \
  --protocol 1 >"$scratch/record.txt" </dev/null
[ $? -eq 1 ] || fail "record of a detaching extension did not end with 1"
grep -q '^== nothing recorded: the extension left a process running' "$scratch/record.txt" ||
  fail "record: $(tail -n 1 "$scratch/record.txt")"
[ ! -e "$scratch/case" ] || fail "record wrote a case for a detaching extension"
[ "$(running)" -eq 0 ] || fail "record left the detached process running"

"$host" check --env SAMPLE_EXTENSION --filter handshake-then-shutdown -- "$fakes/detaches" "$marker" >"$scratch/check.txt"
[ $? -eq 1 ] || fail "check of a detaching extension did not end with 1"
# As for run: its detached shell may not have started its sleep yet when it is judged.
grep -Eq '^FAIL handshake-then-shutdown: left a process behind: exit status 0; but it left (a process|2 processes)' \
  "$scratch/check.txt" || fail "check: $(cat "$scratch/check.txt")"
[ "$(running)" -eq 0 ] || fail "check left the detached process running"

# JOBS cases of an extension that detaches one process, keeps another and hangs; the host
# is killed with SIGKILL once all are running. RUN_AS runs the host (empty: as it is);
# SANDBOX holds the host's sandbox options.
cases=$scratch/hanging
sandbox=()
sigkill_leaves_nothing() {
  local jobs=$1 how=$2
  shift 2
  rm -rf "$cases" && mkdir -p "$cases" && chmod 755 "$cases"
  for i in $(seq "$jobs"); do
    mkdir "$cases/c$i" && echo 0 >"$cases/c$i/status" && : >"$cases/c$i/output"
  done
  chmod -R a+rX "$cases"
  "$@" "$host" check --env SAMPLE_EXTENSION "${sandbox[@]}" --jobs "$jobs" --timeout-ms 100000 "$cases" -- \
    "$fakes/detaches-and-hangs" "$marker" >/dev/null 2>&1 &
  disown $!  # its death by SIGKILL is the point, not news
  local waited=0
  while [ "$(running)" -lt $((2 * jobs)) ]; do
    sleep 0.2
    waited=$((waited + 1))
    [ "$waited" -lt 300 ] || fail "$how: only $(running) of $((2 * jobs)) processes started"
  done
  # The host is the oldest process of its command line: its supervisors are copies of it.
  local target
  target=$(pgrep -f -o "^$host check --env SAMPLE_EXTENSION ${sandbox[*]}${sandbox[*]:+ }--jobs $jobs ")
  [ -n "$target" ] || fail "$how: no host to kill"
  kill -KILL "$target"
  sleep 1
  [ "$(running)" -eq 0 ] || fail "$how: $(running) processes still running a second after SIGKILL"
  echo "$how: $((2 * jobs)) processes, none left a second after SIGKILL"
}
sigkill_leaves_nothing 300 "as $(id -un)"
# As another user, where that user can reach the host and the extension (a clone in a
# private folder, as mktemp makes, cannot be).
if [ "$(id -u)" -eq 0 ] &&
  runuser -u nobody -- test -x "$host" -a -x "$fakes/detaches-and-hangs" 2>/dev/null; then
  sigkill_leaves_nothing 50 "as nobody" runuser -u nobody --
fi
# Without capabilities and with user namespaces forbidden, no namespace can be made.
no_namespaces() {
  unshare --user --map-root-user sh -c 'echo 0 >/proc/sys/user/max_user_namespaces &&
    exec setpriv --securebits=+noroot,+noroot_locked --inh-caps=-all --bounding-set=-all "$@"' \
    sh "$@"
}
if no_namespaces sh -c '! unshare -p -f true && ! unshare -U true' 2>/dev/null; then
  # A sandbox without namespaces lacks parts: the host says which, and runs nothing ...
  no_namespaces "$host" check -- "$extension" >"$scratch/weaker.txt" 2>&1
  [ $? -eq 2 ] && grep -q 'the sandbox cannot be made whole on this machine: it would lack its own namespaces, so it would see the host.s processes' "$scratch/weaker.txt" ||
    fail "without namespaces, the missing parts are not said: $(cat "$scratch/weaker.txt")"
  # ... unless the weaker sandbox is accepted, which still leaves nothing running.
  sandbox=(--weaker-sandbox)
  sigkill_leaves_nothing 50 "without namespaces" no_namespaces
fi
# Whatever signal ends the host, nothing of its extensions stays: no process, no temporary
# file (each TMPDIR is a file system of its own that vanishes with its sandbox), no control
# group (SIGTERM and SIGHUP remove them before the host ends; after SIGKILL, the next host
# to start does), no recording half made. SIGTERM and SIGHUP say so.
printf '#!/bin/sh\necho x >"$TMPDIR/left-by-%s-$$" && exec sh -c '"'"'sleep 120; : "$0"'"'"' left-by-%s\n' \
  "$marker" "$marker" >"$scratch/writes-and-hangs"
chmod 755 "$scratch/writes-and-hangs"
groups_of() {
  find /sys/fs/cgroup -maxdepth 6 -type d -name "extension-host.$1.*" 2>/dev/null | wc -l
}
for signal in KILL TERM HUP; do
  rm -rf "$cases" && mkdir -p "$cases"
  for i in $(seq 20); do
    mkdir "$cases/c$i" && echo 0 >"$cases/c$i/status" && : >"$cases/c$i/output"
  done
  "$host" check --jobs 20 --timeout-ms 100000 "$cases" -- "$scratch/writes-and-hangs" >/dev/null \
    2>"$scratch/$signal.err" &
  target=$!
  waited=0
  until [ "$(pgrep -f "left-by-$marker" | wc -l)" -ge 20 ]; do
    [ "$waited" -lt 300 ] || fail "SIG$signal: only $(pgrep -f "left-by-$marker" | wc -l) of 20 started"
    sleep 0.2
    waited=$((waited + 1))
  done
  if [ "$(id -u)" -eq 0 ] && [ -w /sys/fs/cgroup ]; then
    [ "$(groups_of "$target")" -gt 0 ] || fail "SIG$signal: no control group made while running"
  fi
  kill "-$signal" "$target"
  wait "$target" 2>/dev/null
  sleep 1
  [ "$(pgrep -f "left-by-$marker" | wc -l)" -eq 0 ] || fail "SIG$signal: processes still running"
  find "$scratch" /tmp -name "left-by-$marker-*" 2>/dev/null | grep -q . &&
    fail "SIG$signal: an extension's temporary file stayed on disk"
  if [ "$signal" != KILL ]; then
    grep -qx "extension-host: ended by SIG$signal; every extension it ran ends with it" \
      "$scratch/$signal.err" || fail "SIG$signal: the host did not say why it ended"
    # Ended by a signal it can handle, the host removes its groups itself.
    [ "$(groups_of "$target")" -eq 0 ] || fail "SIG$signal: the host left its control groups"
  fi
  "$host" check --filter handshake-then-shutdown -- "$extension" >/dev/null ||
    fail "a host after SIG$signal did not pass"
  [ "$(groups_of "$target")" -eq 0 ] || fail "SIG$signal: control groups stayed after another host started"
done
echo "a host ended by SIGKILL, SIGTERM or SIGHUP leaves no process, file or control group"

# A recording cut short by SIGKILL leaves nothing beside the case.
mkdir "$scratch/recorded"
"$host" record "$scratch/recorded/case" --call sample.wait '[5000]' -- "$extension" --protocol 1 \
  >/dev/null 2>&1 </dev/null &
recorder=$!
sleep 1
kill -KILL "$recorder"
wait "$recorder" 2>/dev/null
[ -z "$(ls -A "$scratch/recorded")" ] || fail "a killed recording left $(ls -A "$scratch/recorded")"
echo "nothing escapes: detached processes found and named; SIGKILL leaves nothing running"
