#!/bin/bash
# conform in CI: its JSON report names every requirement with its level, the part of the
# protocol it comes from, its status and evidence, this host's version and the time; a
# baseline of expected failures excuses the failure it names, and fails the run on an
# entry that no longer fails, or fails elsewhere, so that it is kept true.
# usage: conform_baseline.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
. "$(dirname "$0")/lib.sh"
forecast=$fakes/forecast
version=$("$host" --version | sed -n 's/^extension-host //p')
[ -n "$version" ] || fail "no version from --version"

# Reads the JSON report with Python's reader and prints "id level part status expected".
requirements() {
  python3 -c '
import json, re, sys
report = json.load(open(sys.argv[1]))
assert report["tool"] == "extension-host conform", report["tool"]
assert report["version"] == sys.argv[2], report["version"]
assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", report["timestamp"]), report["timestamp"]
assert report["extension"] == {"id": "forecast", "version": "2.1.0",
                               "callables": ["forecast.today", "forecast.days"]}, report["extension"]
for each in report["requirements"]:
    assert each["protocol_part"].startswith("protocol 1.0, "), each
    assert each["statement"], each
    if each["status"] == "failed":
        assert each["evidence"]["transcript"].startswith("-> "), each
    print(each["id"], each["level"], each["status"], each["expected_failure"])
' "$1" "$version"
}

# The right one: every requirement held, each named in the JSON.
"$host" conform --json "$scratch/right.json" -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 0 ] && [ ! -s "$scratch/err.txt" ] || fail "the right one: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
requirements "$scratch/right.json" >"$scratch/right.txt" || fail "the JSON report does not read: $(cat "$scratch/right.json")"
[ "$(wc -l <"$scratch/right.txt")" -eq 15 ] && [ "$(grep -c ' held False$' "$scratch/right.txt")" -eq 15 ] ||
  fail "the right one's requirements: $(cat "$scratch/right.txt")"
grep -qx 'strict-input should held False' "$scratch/right.txt" || fail "no strict-input should: $(cat "$scratch/right.txt")"

# A fault without a baseline fails the run...
"$host" conform --env FORECAST_FAULT=pipelined -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] || fail "the fault without a baseline did not fail: $(cat "$scratch/out.txt")"
# ...and with one that names it, in its conversation, passes, told as expected.
printf '# known, mended in 2.2\nanswers-in-order: three calls of forecast.today written at once\n\n' >"$scratch/baseline"
"$host" conform --env FORECAST_FAULT=pipelined --expected-failures "$scratch/baseline" --json "$scratch/fault.json" \
  -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 0 ] && [ ! -s "$scratch/err.txt" ] && grep -q '^FAILED, expected answers-in-order (must)' "$scratch/out.txt" ||
  fail "an expected failure: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
requirements "$scratch/fault.json" | grep -qx 'answers-in-order must failed True' ||
  fail "the JSON does not tell the expected failure: $(cat "$scratch/fault.json")"

# An entry that no longer fails fails the run, and says so.
"$host" conform --expected-failures "$scratch/baseline" -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] && grep -q "^stale entry of $scratch/baseline: line 2, answers-in-order: three calls of forecast.today written at once: it holds now; take the entry out$" "$scratch/out.txt" ||
  fail "a stale entry: $(cat "$scratch/out.txt")"
# So does one whose requirement fails in another conversation than the one it names.
printf 'answers-in-order: calls of forecast.days within its arity\n' >"$scratch/elsewhere"
"$host" conform --env FORECAST_FAULT=pipelined --expected-failures "$scratch/elsewhere" -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] && grep -q '^stale entry of .*: line 1, answers-in-order: calls of forecast.days within its arity: it fails in another conversation now, "three calls of forecast.today written at once"$' "$scratch/out.txt" ||
  fail "an entry of another conversation: $(cat "$scratch/out.txt")"

# A baseline that names no requirement is refused before any work.
printf 'answers-in-order\nanswers-in-ordre\n' >"$scratch/misspelt"
"$host" conform --expected-failures "$scratch/misspelt" -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
[ $? -eq 2 ] && [ ! -s "$scratch/out.txt" ] &&
  grep -q "line 2 of $scratch/misspelt names no requirement: 'answers-in-ordre'" "$scratch/err.txt" ||
  fail "a misspelt baseline: $(cat "$scratch/out.txt" "$scratch/err.txt")"
# An extension the host had to end is told with how long it waited, and for what.
"$host" conform --timeout-ms 300 -- "$fakes/hangs" --protocol 1 >"$scratch/out.txt"
[ $? -eq 1 ] && grep -q '^     it had not ended 300 ms after the host closed its input, and the host killed it, not exit status 3$' "$scratch/out.txt" ||
  fail "a hang is not told with its wait: $(cat "$scratch/out.txt")"
echo "conform: its JSON names every requirement; a baseline excuses what it names and fails when stale"
