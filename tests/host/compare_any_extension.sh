#!/bin/bash
# compare serves any extension of the protocol, its calls drawn from the reference's own
# catalogue. An extension that is not the sample, compared with an unchanged copy of
# itself, shows no difference; with a version that differs only in an answer to one of its
# own callables, the difference is found, shrunk to that call, and saved as a case that
# check plays: the reference passes it and the version fails it. A reference that
# announces no catalogue is refused before any conversation is played.
# usage: compare_any_extension.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
forecast=$fakes/forecast

# A version of forecast: the same program, with a fault or without, run from a script
# that the sandbox shows without forecast's folder unless it is granted.
# Each conversation may take 20 s rather than 2 before a side is killed: on a machine this
# busy (the whole suite at once, a coverage build) no answer here takes that long but by load.
shown=(--read "$fakes" --timeout-ms 20000)
version() {
  printf '#!/bin/sh\n%sexec "%s" "$@"\n' "$2" "$forecast" >"$scratch/$1"
  chmod +x "$scratch/$1"
}
version same ""
version renamed-kind "FORECAST_FAULT=naming "
version lower-escapes "FORECAST_FAULT=canonical-form "

"$host" compare "${shown[@]}" --reference "$forecast" --conversations 300 -- "$scratch/same" --protocol 1 \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 0 ] && [ ! -s "$scratch/err.txt" ] && grep -qx 'no difference' "$scratch/out.txt" ||
  fail "forecast and its copy: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
grep -qx "  calls drawn from the reference's catalogue: forecast: forecast.today 1..1 String, forecast.days 0..2 Int" \
  "$scratch/out.txt" || fail "the catalogue is not told: $(cat "$scratch/out.txt")"

# Each fault shows only in an answer to forecast.today: an error's kind named otherwise
# for an empty city, escapes in lower case for a city outside ASCII.
for fault in renamed-kind lower-escapes; do
  "$host" compare "${shown[@]}" --reference "$forecast" --seconds 60 --save "$scratch/found-$fault" \
    -- "$scratch/$fault" --protocol 1 >"$scratch/out.txt" 2>"$scratch/err.txt"
  status=$?
  [ $status -eq 1 ] && [ ! -s "$scratch/err.txt" ] ||
    fail "$fault: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
  sed -n '/^the smallest conversation found/,/^$/p' "$scratch/out.txt" |
    grep -q '"callable":"forecast.today"' ||
    fail "$fault: the conversation shown calls no forecast.today: $(cat "$scratch/out.txt")"
  grep -q '"callable":"forecast.today"' "$scratch/found-$fault/input" ||
    fail "$fault: the case saved calls no forecast.today"
  "$host" check "$scratch/found-$fault" -- "$forecast" | grep -q "^PASS found-$fault" ||
    fail "$fault: the reference does not pass the case saved"
  "$host" check --read "$fakes" "$scratch/found-$fault" -- "$scratch/$fault" | grep -q "^FAIL found-$fault: output differs" ||
    fail "$fault: the version does not fail the case saved"
done
grep -q 'unknown_city' "$scratch/found-renamed-kind/input" "$scratch/found-renamed-kind/output" &&
  fail "the case expects the version's answer, not the reference's"

# A search too short for any conversation to be played whole compared nothing: no pass.
"$host" compare "${shown[@]}" --reference "$forecast" --seconds 0.001 -- "$scratch/same" --protocol 1 \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 1 ] && [ ! -s "$scratch/err.txt" ] &&
  grep -q '^no conversation was played whole: nothing was compared' "$scratch/out.txt" ||
  fail "a search that compared nothing: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"

# A reference that writes no catalogue: nothing is played, and it is said why.
"$host" compare "${shown[@]}" --reference "$fakes/garbage" --conversations 5 -- "$scratch/same" --protocol 1 \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 2 ] && [ ! -s "$scratch/out.txt" ] &&
  grep -q 'the reference announced no catalogue ("register") after the handshake: it wrote a line that is not JSON (.*): hello, host, where "handshake_result" was awaited' \
    "$scratch/err.txt" ||
  fail "a reference without a catalogue: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
echo "compare of an extension that is not the sample: calls of its own catalogue, each fault found"
