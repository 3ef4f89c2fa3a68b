#!/bin/bash
# compare as a porter uses it: each fault ports are known to make, planted alone in a
# wrapper around the real extension, is found within a minute, and its saved case passes
# the reference and fails the fault in check; the report shows every aspect of a
# difference plainly; a candidate whose answers change between runs is listed, never
# passed over, and its conversation kept, even when the change showed twice.
# usage: compare_for_porters.sh HOST EXTENSION FAKES
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3")
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
export UNSTEADY_STATE=$scratch/unsteady-state
mkdir "$UNSTEADY_STATE"

# The reference against itself first: said as such, and no difference.
"$host" compare --conversations 300 -- "$extension" --protocol 1 >"$scratch/self.txt"
[ $? -eq 0 ] || fail "the extension differs from itself: $(cat "$scratch/self.txt")"
grep -q '^the candidate is the reference itself' "$scratch/self.txt" || fail "self-comparison not said"
grep -qx 'no difference' "$scratch/self.txt" || fail "no verdict: $(cat "$scratch/self.txt")"

# A right port that starts slowly (an interpreter, through a shim where there is one) is
# found right: its start is not counted against it, on a busy machine too.
"$host" compare --env SAMPLE_EXTENSION --seconds 20 -- "$fakes/right-but-slow-to-start" \
  --protocol 1 >"$scratch/right.txt" 2>&1
[ $? -eq 0 ] && grep -qx 'no difference' "$scratch/right.txt" ||
  fail "a right port that starts slowly differed: $(cat "$scratch/right.txt")"
"$host" check --env SAMPLE_EXTENSION -- "$fakes/right-but-slow-to-start" >"$scratch/right-check.txt" ||
  fail "a right port that starts slowly failed a golden case: $(grep -A3 FAIL "$scratch/right-check.txt")"

# Runs compare against FAKE; fails unless a difference is found within 60 s.
compare() {
  local fake=$1
  shift
  "$host" compare --env SAMPLE_EXTENSION --seconds 60 --shrink-seconds 15 "$@" -- "$fakes/$fake" --protocol 1 \
    >"$scratch/$fake.txt" 2>&1
  [ $? -eq 1 ] || fail "$fake: no difference found: $(cat "$scratch/$fake.txt")"
  local seconds
  seconds=$(sed -En 's/^[0-9]+ conversations? in ([0-9]+)\.[0-9] s .*/\1/p' "$scratch/$fake.txt")
  [ -n "$seconds" ] && [ "$seconds" -lt 60 ] || fail "$fake: found after $seconds s"
}

for fault in keys-in-utf16-order accepts-byte-order-mark truncates-at-nul accepts-extra-words \
  accepts-no-words sleeps-half refuses-the-wait-limit splits-lines-at-cr holds-output-back; do
  saved=$scratch/found-$fault
  compare "$fault" --save "$saved"
  grep -q '^saved as the case ' "$scratch/$fault.txt" || fail "$fault: not saved: $(tail -n 5 "$scratch/$fault.txt")"
  "$host" check "$saved" -- "$extension" >/dev/null ||
    fail "$fault: the saved case does not pass the reference"
  "$host" check --env SAMPLE_EXTENSION "$saved" -- "$fakes/$fault" >"$scratch/check.txt" &&
    fail "$fault: the saved case passes the fault: $(cat "$scratch/check.txt") $(cat "$saved/input")"
  echo "$fault: found in $(sed -En 's/^[0-9]+ conversations? in ([0-9.]+ s).*/\1/p' "$scratch/$fault.txt"), saved, fails in check"
done
grep -q '^  time: the candidate answered the wait of [0-9]* ms [0-9.]* ms after its call was all written' \
  "$scratch/sleeps-half.txt" || fail "the early answer is not told: $(cat "$scratch/sleeps-half.txt")"
grep -q '^  announcement: the reference announced itself after the handshake line alone; the candidate read the handshake line, then wrote nothing and slept' \
  "$scratch/holds-output-back.txt" || fail "held-back output is not told: $(cat "$scratch/holds-output-back.txt")"
"$host" check --env SAMPLE_EXTENSION --timeout-ms 3000 "$scratch/found-holds-output-back" -- "$fakes/holds-output-back" |
  grep -q 'it wrote nothing after the handshake line while the host awaited its announcement' ||
  fail "check does not say why a port that holds its output back timed out"

# Every aspect of a difference, not the first alone; the output's line, column and byte,
# both sides around it, and the differing byte marked.
compare writes-crlf-and-exits-1
report=$scratch/writes-crlf-and-exits-1.txt
grep -q '^  standard output: output differs at line 1, column 130 (byte 129); 824 bytes from the reference, 826 from the candidate$' "$report" ||
  fail "crlf: no line and column: $(cat "$report")"
grep -q '^  ending: the reference.s exit status 2, the candidate.s exit status 1$' "$report" ||
  fail "crlf: the exit status is not told beside the output: $(cat "$report")"
reference_at=$(grep '^    reference: ' "$report" | head -n 1)
candidate_at=$(grep '^    candidate: ' "$report" | head -n 1)
marked=$(grep -E '^ +\^$' "$report" | head -n 1)
[ -n "$reference_at" ] && [ -n "$candidate_at" ] && [ -n "$marked" ] || fail "crlf: both sides and the mark are not shown"
[ "${candidate_at:${#marked}-1:2}" = '\r' ] ||
  fail "crlf: the mark is not under the differing byte: '$candidate_at' / '$marked'"

# Long values with their length and depth.
compare refuses-deep-nesting
grep -Eq '\.\.\. \([0-9]+ bytes, nested [0-9]{4} deep\)$' "$scratch/refuses-deep-nesting.txt" ||
  fail "a long line is not shown with its length and depth: $(cat "$scratch/refuses-deep-nesting.txt")"

# Strings shrunk inside to what matters, escaped once for people.
compare lowercase-escapes
shrunk=$(sed -n '/^the smallest conversation/,/^$/p' "$scratch/lowercase-escapes.txt")
grep -Eq '"arguments":\["?(\\u[0-9a-fA-F]{4}|[^\\"\x00-\x7f]+)"?\]' <<<"$shrunk" ||
  grep -Eq '"(\\u[0-9a-fA-F]{4}|[^"\x00-\x7f]+)"' <<<"$shrunk" ||
  fail "the string is not shrunk to the character that matters: $shrunk"
grep -q '\\\\' <<<"$shrunk" && fail "text escaped twice: $shrunk"

# The simplest line: a difference that any refused line shows is shown by a blank one,
# or by none at all.
compare refused-line-exits-0
lines=$(grep -Eo 'the smallest conversation found that differs \(([0-9]+) lines?\)' \
  "$scratch/refused-line-exits-0.txt" | grep -Eo '[0-9]+')
[ "$lines" -le 1 ] || fail "a refused line is shown by $lines lines: $(cat "$scratch/refused-line-exits-0.txt")"
if [ "$lines" -eq 1 ]; then
  grep -qx '  1: \\n' "$scratch/refused-line-exits-0.txt" || fail "not a blank line"
fi
cat "$scratch"/*.txt | grep -E '\(1 [a-z]+s\)|\b1 conversations\b' && fail "a count that is not English"

# A candidate whose answers change between runs: listed with its number and how it
# differed, kept apart from the confirmed difference, and the run fails.
# Its memory of past runs is a folder it is granted, the sandbox's one loosening it needs.
mkdir "$scratch/once-state"
UNSTEADY_STATE=$scratch/once-state "$host" compare --env SAMPLE_EXTENSION --env UNSTEADY_STATE \
  --writable "$scratch/once-state" --conversations 300 --save "$scratch/flaky" \
  -- "$fakes/unsteady" --protocol 1 >"$scratch/flaky.txt" 2>&1
[ $? -eq 1 ] || fail "an unsteady candidate passed: $(cat "$scratch/flaky.txt")"
grep -Eq '^[0-9]+ conversations? differed once but not when played again:$' "$scratch/flaky.txt" ||
  fail "unsteady conversations not listed: $(cat "$scratch/flaky.txt")"
first=$(sed -En 's/^  conversation ([0-9]+), the first time:$/\1/p' "$scratch/flaky.txt" | head -n 1)
[ -n "$first" ] || fail "no conversation number given"
grep -q 'sample failur[eE]' "$scratch/flaky.txt" || fail "what differed is not shown"
kept=$scratch/flaky.unsteady/conversation-$first
[ -f "$kept/input" ] || fail "the unsteady conversation was not kept as a case"
"$host" check "$kept" -- "$extension" >/dev/null || fail "the kept case does not pass the reference"
[ ! -e "$scratch/flaky" ] || fail "an unsteady difference was saved as a confirmed one"

# A difference that shows twice, so that it counts, and is gone by the time it is shown:
# what it was is still told, the run still fails, and the conversation is kept to replay.
mkdir "$scratch/twice-state"
UNSTEADY_STATE=$scratch/twice-state UNSTEADY_TIMES=2 "$host" compare --env SAMPLE_EXTENSION \
  --env UNSTEADY_STATE --env UNSTEADY_TIMES --writable "$scratch/twice-state" \
  --conversations 300 --jobs 1 --save "$scratch/twice" -- "$fakes/unsteady" --protocol 1 \
  >"$scratch/twice.txt" 2>&1
[ $? -eq 1 ] || fail "a difference seen twice passed: $(cat "$scratch/twice.txt")"
grep -qx 'how they differed when found, twice (the reference.s is the expected answer):' \
  "$scratch/twice.txt" && grep -q 'sample failur[eE]' "$scratch/twice.txt" &&
  grep -qx 'it did not show again when played for the report' "$scratch/twice.txt" ||
  fail "what differed twice is not told: $(cat "$scratch/twice.txt")"
found=$(sed -En 's/^conversation ([0-9]+) differs .*/\1/p' "$scratch/twice.txt")
[ -f "$scratch/twice.unsteady/conversation-$found/input" ] ||
  fail "the conversation that differed twice was not kept: $(cat "$scratch/twice.txt")"
"$host" check "$scratch/twice.unsteady/conversation-$found" -- "$extension" >/dev/null ||
  fail "the kept case does not pass the reference"

# --help is true: its example runs.
example=$("$host" compare --help | sed -n 's/^example: //p')
[ -n "$example" ] || fail "no example in --help"
example=${example/extension-host/$host}
example=${example/--seconds 60/--seconds 2}
example=${example/--save found/--save $scratch/example}
example=${example/.\/my-port/$extension}
eval "$example" >"$scratch/example.txt" || fail "the example in --help fails: $example"
echo "compare: every planted fault found, saved and failing in check; reports read plainly"
