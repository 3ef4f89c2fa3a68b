#!/bin/bash
# Each kind of failure, named as such: one case played against extensions that each go
# wrong in one way. The real extension passes the case first, so that each failure is the
# extension's own. Every failure is also checked in the JUnit report's message.
# usage: failure_kinds.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"

case_dir=$scratch/cases/echo-then-shutdown
mkdir -p "$case_dir"
printf '%s\n' '{"type":"handshake"}' \
  '{"type":"call","request_id":"1","callable":"sample.echo","arguments":["x"]}' \
  '{"type":"shutdown"}' >"$case_dir/input"
"$extension" --protocol 1 <"$case_dir/input" >"$case_dir/output"
echo 0 >"$case_dir/status"
echo "0 2000" >"$case_dir/duration"
"$host" check "$case_dir" -- "$extension" | grep -q '^PASS echo-then-shutdown' ||
  fail "the real extension does not pass the case"

# An extension that goes wrong in one way: a shell line run around the real one.
make_fake() {
  printf '#!/bin/bash\n%s\n' "$2" >"$scratch/$1"
  chmod +x "$scratch/$1"
}
make_fake exits-3 '"$SAMPLE_EXTENSION" "$@"; exit 3'
make_fake noisy 'echo "a word on standard error" >&2; exec "$SAMPLE_EXTENSION" "$@"'
make_fake hangs 'exec sleep 60'
make_fake crashes '"$SAMPLE_EXTENSION" "$@"; kill -SEGV $$'
make_fake slow 'sleep 2.5; exec "$SAMPLE_EXTENSION" "$@"'

# The deadline a case is played under: short where the failure is the timeout itself, and
# otherwise far above what any machine takes, so that a busy one still shows the kind meant.
deadline_ms=60000
# expected category, its details, the extension and its words
check_kind() {
  local category=$1 details=$2
  shift 2
  "$host" check --env SAMPLE_EXTENSION --timeout-ms "$deadline_ms" --junit "$scratch/report.xml" "$case_dir" -- "$@" \
    >"$scratch/report.txt"
  [ $? -eq 1 ] || fail "$category: check did not end with 1"
  grep -Eq "^FAIL echo-then-shutdown: $category:? $details" "$scratch/report.txt" ||
    fail "$category: the report says: $(cat "$scratch/report.txt")"
  [ "$(xmllint --xpath 'string(//failure/@type)' "$scratch/report.xml")" = "$category" ] ||
    fail "$category: the JUnit failure's type is not the category"
  xmllint --xpath 'string(//failure/@message)' "$scratch/report.xml" | grep -Eq "^$category:? $details" ||
    fail "$category: the JUnit failure's message is not the detail's first line"
}
check_kind "output differs" 'at line 1, column 1 \(byte 0\)' "$fakes/garbage"
check_kind "exit status differs" 'expected 0, got 3' "$scratch/exits-3"
check_kind "wrote to standard error" '25 bytes:' "$scratch/noisy"
grep -qx '       | a word on standard error' "$scratch/report.txt" || fail "standard error is not shown"
deadline_ms=1000
check_kind "timed out" 'killed after 1000 ms, having written 0 bytes' "$scratch/hangs"
# Closing its output is a step it must have reached before the deadline.
deadline_ms=10000
check_kind "timed out" 'killed after 10000 ms, having written [0-9]+ bytes: .*; it had closed its standard output, and ran on as if it had more to do' \
  "$fakes/closes-output"
deadline_ms=60000
check_kind "ended by a signal" 'killed by signal 11 \(SIGSEGV\)' "$scratch/crashes"
check_kind "left a process behind" 'exit status 0; but it left (a process|2 processes) running after it had exited' \
  "$fakes/leaves-a-process" failure-kinds-marker
"$host" check --env SAMPLE_EXTENSION "$case_dir" -- "$scratch/slow" >"$scratch/report.txt"
# It sleeps 2.5 s before it starts: that is its lower bound, and a busy machine adds to it.
ended_after=$(sed -En 's/^FAIL echo-then-shutdown: duration out of bounds: ended after ([0-9]+) ms, expected at most 2000$/\1/p' \
  "$scratch/report.txt")
[ -n "$ended_after" ] && [ "$ended_after" -ge 2500 ] ||
  fail "duration: the report says: $(cat "$scratch/report.txt")"
pgrep -f failure-kinds-marker >/dev/null && fail "the background process outlived the check"

# The first failure that shows an escape says what escapes mean, once per report.
cat >"$scratch/escapes" <<'EOF'
#!/bin/sh
read -r _
printf '{"a":"\\u00e9\177"}\n'
EOF
chmod +x "$scratch/escapes"
cp -r "$case_dir" "$scratch/again" && mkdir "$scratch/two" && mv "$case_dir" "$scratch/again" "$scratch/two/"
"$host" check "$scratch/two" -- "$scratch/escapes" >"$scratch/report.txt"
grep -q 'got: *{"a":"\\u00e9\\x7f"}' "$scratch/report.txt" || fail "escapes: $(cat "$scratch/report.txt")"
[ "$(grep -c 'escapes: \\xNN is a byte shown by its value' "$scratch/report.txt")" -eq 1 ] ||
  fail "the escapes are not told once: $(cat "$scratch/report.txt")"
echo "failure kinds: each named, in the lines for people and in JUnit"
