#!/bin/bash
# conform judges extensions that are not the sample, by the protocol alone: a right one
# (and the sample) conforms; each of one fault fails exactly the requirement it breaks, and
# no other, with the conversation that shows it. The reports are read by the tools that
# consume them: TAP by prove, JUnit by xmllint; the Markdown is checked for its table and
# its failure's conversation.
# usage: conform_judges.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
forecast=$fakes/forecast
musts="command-line silent-before-handshake silent-on-standard-error announces-unasked envelope
  descriptors answers-in-order error-members shutdown end-of-input violation-ends line-framing"
shoulds="strict-input canonical-form naming"
saved="command-line silent-before-handshake silent-on-standard-error shutdown end-of-input violation-ends strict-input"

# The right ones first: every requirement held; a wrapper that starts slowly and ends only
# with its input, too.
for right in "$extension" "$fakes/right-but-slow-to-start" "$forecast"; do
  "$host" conform --env SAMPLE_EXTENSION --markdown "$scratch/right.md" -- "$right" --protocol 1 >"$scratch/right.txt" \
    2>"$scratch/err.txt"
  status=$?
  [ $status -eq 0 ] && [ ! -s "$scratch/err.txt" ] ||
    fail "conform of $right ended with $status: $(cat "$scratch/right.txt" "$scratch/err.txt")"
  grep -q '^12 must: 12 held; 3 should: 3 held' "$scratch/right.txt" ||
    fail "$right does not hold every requirement: $(cat "$scratch/right.txt")"
  grep -q "| \`naming\` | should | held |" "$scratch/right.md" ||
    fail "the Markdown report lacks its table: $(cat "$scratch/right.md")"
done
grep -q '^extension: forecast 2.1.0; callables: forecast.today, forecast.days$' "$scratch/right.txt" ||
  fail "the identity is not told: $(cat "$scratch/right.txt")"

# Each fault, alone: its requirement fails, every other holds or is not verified.
for fault in $musts $shoulds; do
  "$host" conform --env FORECAST_FAULT="$fault" --save "$scratch/saved-$fault" -- "$forecast" --protocol 1 \
    >"$scratch/out.txt" 2>"$scratch/err.txt"
  status=$?
  expected=1
  case " $shoulds " in *" $fault "*) expected=0 ;; esac
  [ $status -eq $expected ] && [ ! -s "$scratch/err.txt" ] ||
    fail "conform of the fault $fault ended with $status, not $expected: $(cat "$scratch/out.txt" "$scratch/err.txt")"
  failed=$(sed -n 's/^FAILED  *\([a-z-]*\) .*/\1/p' "$scratch/out.txt" | tr '\n' ' ')
  [ "$failed" = "$fault " ] ||
    fail "the fault $fault failed [${failed}]: $(cat "$scratch/out.txt")"
  # The failure shows the conversation: what the host sent, and how the extension ended.
  grep -q '^     -> {"type":"handshake"' "$scratch/out.txt" && grep -q '^     == ' "$scratch/out.txt" ||
    fail "the fault $fault's conversation is not shown: $(cat "$scratch/out.txt")"
  # Where the protocol says what the right ending is, the failure is kept as a case that
  # the right extension passes and the broken one fails; elsewhere it is said why not.
  case " $saved " in
    *" $fault "*)
      grep -qx "saved as the case $scratch/saved-$fault/$fault" "$scratch/out.txt" ||
        fail "the fault $fault is not saved: $(cat "$scratch/out.txt")"
      "$host" check "$scratch/saved-$fault" -- "$forecast" | grep -qx "PASS $fault ([0-9]* ms)" ||
        fail "the right extension does not pass the case of $fault"
      "$host" check --env FORECAST_FAULT="$fault" "$scratch/saved-$fault" -- "$forecast" |
        grep -q "^FAIL $fault: " || fail "the case of $fault does not fail the broken extension"
      ;;
    *)
      grep -q "^not saved: $fault: " "$scratch/out.txt" && [ ! -e "$scratch/saved-$fault" ] ||
        fail "the fault $fault, which no case can show, is not said unsaved: $(cat "$scratch/out.txt")"
      ;;
  esac
done

# What each kind of failure says, for the faults whose telling matters most.
"$host" conform --env FORECAST_FAULT=answers-in-order -- "$forecast" >"$scratch/out.txt"
grep -q 'it came only once the host had closed the input (an answer kept in a buffer hangs a host): while the host waited, every process of it was asleep, having read all it was sent' "$scratch/out.txt" ||
  fail "an answer kept back is not told as such: $(cat "$scratch/out.txt")"
"$host" conform --env FORECAST_FAULT=request-id-folded -- "$forecast" >"$scratch/out.txt"
[ "$(grep -c '^FAILED' "$scratch/out.txt")" = 1 ] && grep -q '^FAILED  *answers-in-order ' "$scratch/out.txt" &&
  grep -q '^     !! ' "$scratch/out.txt" && grep -q '   ^ line 3 of its output$' "$scratch/out.txt" && grep -q '^     it answers "request_id"' "$scratch/out.txt" ||
  fail "the answer to another request is not marked: $(cat "$scratch/out.txt")"
# The conversation is cut to the call that breaks it: the first call, answered right, is gone.
grep -q 'within its arity, cut to the call that breaks it' "$scratch/out.txt" && ! grep -q '"request_id":"c1"' "$scratch/out.txt" ||
  fail "the failing conversation is not cut down to its call: $(cat "$scratch/out.txt")"
# A catalogue with a faulty descriptor is still listed whole.
"$host" conform --env FORECAST_FAULT=descriptors -- "$forecast" >"$scratch/out.txt"
grep -qx 'extension: forecast 2.1.0; callables: forecast.today, forecast.days' "$scratch/out.txt" ||
  fail "a faulty catalogue's callables are not listed: $(cat "$scratch/out.txt")"
# Two more ways a host cannot match its answers: a "request_id" of digits answered as a
# number, and calls written at once of which only the last is answered.
"$host" conform --env FORECAST_FAULT=numeric-request-id -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] && grep -q '^     its "request_id" is 42.0, a real, where the call.s was the string "42"$' "$scratch/out.txt" ||
  fail "a request_id answered as a number is not told: $(cat "$scratch/out.txt")"
"$host" conform --env FORECAST_FAULT=pipelined -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] && [ "$(grep -c '^FAILED' "$scratch/out.txt")" = 1 ] &&
  grep -q '^     the 3 calls written before any answer was read got 1 answer: while the host waited, every process of it was asleep' "$scratch/out.txt" ||
  fail "calls written at once, one answered, are not told: $(cat "$scratch/out.txt")"
# Output still queued when it ends at the end of its input reaches a host that reads late
# cut short: an answer longer than the pipe holds, read once it has ended.
"$host" conform --env FORECAST_FAULT=lost-at-exit -- "$forecast" >"$scratch/out.txt"
[ $? -eq 1 ] && [ "$(grep -c '^FAILED' "$scratch/out.txt")" = 1 ] &&
  grep -q '^FAILED  *line-framing ' "$scratch/out.txt" && grep -q '^     the line has no line feed: the output ended within it$' "$scratch/out.txt" &&
  grep -q '^     in the conversation "a call of forecast.today, the input closed right after it, read late"' "$scratch/out.txt" ||
  fail "output lost at exit is not found: $(cat "$scratch/out.txt")"
"$host" conform --env FORECAST_FAULT=canonical-form -- "$forecast" >"$scratch/out.txt"
grep -q '^     its canonical form is "E9","type"' "$scratch/out.txt" && grep -q '   ^ line 3 of its output, byte 77$' "$scratch/out.txt" ||
  fail "the byte where the form parts is not told: $(cat "$scratch/out.txt")"

# TAP, read by prove: the right one passes, a broken one fails, a failed should is a TODO.
tap_script() {
  printf '#!/bin/sh\nexec "%s" conform --env FORECAST_FAULT=%s --tap -- "%s" --protocol 1\n' \
    "$host" "$1" "$forecast" >"$scratch/$1.t"
  chmod +x "$scratch/$1.t"
}
for fault in none shutdown canonical-form; do tap_script "$fault"; done
prove -e '' "$scratch/none.t" >"$scratch/prove.txt" 2>&1 || fail "prove refused a right extension: $(cat "$scratch/prove.txt")"
prove -e '' "$scratch/canonical-form.t" >"$scratch/prove.txt" 2>&1 ||
  fail "prove failed on a should: $(cat "$scratch/prove.txt")"
grep -q 'TODO passed\|todo' "$scratch/prove.txt" || "$scratch/canonical-form.t" | grep -q '^not ok 14 - canonical-form (should) # TODO' ||
  fail "a failed should is not a TODO"
if prove -e '' "$scratch/shutdown.t" >"$scratch/prove.txt" 2>&1; then
  fail "prove passed a broken extension"
fi
grep -q 'Failed test:  10' "$scratch/prove.txt" || fail "prove does not name the failed requirement: $(cat "$scratch/prove.txt")"

# JUnit, read by xmllint: a failure for the broken must, a skip for each not verified.
"$host" conform --env FORECAST_FAULT=shutdown --junit "$scratch/report.xml" -- "$forecast" >/dev/null
[ $? -eq 1 ] || fail "conform of a broken extension did not end with 1"
xmllint --noout "$scratch/report.xml" || fail "the JUnit report is not well-formed XML"
[ "$(xmllint --xpath 'count(//testcase)' "$scratch/report.xml")" = 15 ] || fail "expected 15 testcases"
[ "$(xmllint --xpath 'string(//failure/@type)' "$scratch/report.xml")" = shutdown ] ||
  fail "the failure is not the shutdown's"
[ "$(xmllint --xpath 'count(//failure)' "$scratch/report.xml")" = 1 ] || fail "expected one failure"

# Markdown, for an issue: the failure's section holds its conversation in a code block.
"$host" conform --env FORECAST_FAULT=violation-ends --markdown "$scratch/report.md" -- "$forecast" >/dev/null
grep -q '^| `violation-ends` | must | \*\*failed\*\* |' "$scratch/report.md" &&
  grep -q '^### `violation-ends` (must)' "$scratch/report.md" && grep -q '^```$' "$scratch/report.md" ||
  fail "the Markdown report does not show the failure: $(cat "$scratch/report.md")"

# Usage: the '--' forgotten, and an unknown option, said before any work.
"$host" conform "$forecast" --protocol 1 >/dev/null 2>"$scratch/err.txt"
[ $? -eq 2 ] && grep -q "put '--' before the extension's command line: extension-host conform -- .*forecast --protocol 1" "$scratch/err.txt" ||
  fail "a forgotten '--' is not told: $(cat "$scratch/err.txt")"
"$host" conform -- "$forecast" --protocol 2 >/dev/null 2>"$scratch/err.txt"
[ $? -eq 2 ] && grep -q "each conversation gives the extension its own arguments, so '--protocol 2' cannot stand after it" "$scratch/err.txt" ||
  fail "a protocol argument of the user's own is not told: $(cat "$scratch/err.txt")"
# --save: nothing is made for an extension that fails nothing; a place that cannot take the
# cases is said before any work.
"$host" conform --save "$scratch/none-saved" -- "$forecast" --protocol 1 >"$scratch/out.txt"
[ $? -eq 0 ] && grep -qx 'nothing failed: no case saved' "$scratch/out.txt" && [ ! -e "$scratch/none-saved" ] ||
  fail "a right extension's --save: $(cat "$scratch/out.txt")"
touch "$scratch/a-file"
mkdir -p "$scratch/taken/shutdown"
for place in "$scratch/a-file" "$scratch/no/such/folder" "$scratch/taken"; do
  "$host" conform --env FORECAST_FAULT=shutdown --save "$place" -- "$forecast" --protocol 1 \
    >"$scratch/out.txt" 2>"$scratch/err.txt"
  [ $? -eq 2 ] && [ ! -s "$scratch/out.txt" ] && grep -q '^extension-host conform: --save' "$scratch/err.txt" ||
    fail "--save $place: $(cat "$scratch/out.txt" "$scratch/err.txt")"
done
[ -z "$(ls -A "$scratch/taken/shutdown")" ] || fail "a case in the way was written into"

echo "conform: the sample and a right extension conform; 15 faults each fail their requirement alone; TAP, JUnit and Markdown read"
