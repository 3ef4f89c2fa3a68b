#!/bin/bash
# The reference is as whole as the candidate: a command line with an interpreter, split as
# a shell splits it, and an environment of its own. --env is the candidate's alone, so a
# fault that a variable sets shows against a reference without it; set on both sides, the
# two agree. Two different extensions are said to be so before any conversation.
# usage: compare_reference.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
forecast=$fakes/forecast
interpreted="/usr/bin/python3 '$forecast'"

# The same program, run by its interpreter on one side and by its #! line on the other.
"$host" compare --read "$fakes" --timeout-ms 20000 --reference "$interpreted" --conversations 100 -- "$forecast" \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 0 ] && [ ! -s "$scratch/err.txt" ] && grep -qx 'no difference' "$scratch/out.txt" ||
  fail "a reference run by its interpreter: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
grep -qx "  reference: /usr/bin/python3 $forecast" "$scratch/out.txt" ||
  fail "the reference's words are not told: $(cat "$scratch/out.txt")"
grep -q 'different extensions' "$scratch/out.txt" && fail "one extension told as two"

# A fault set by --env is the candidate's alone, and is found.
"$host" compare --read "$fakes" --timeout-ms 20000 --reference "$interpreted" --env FORECAST_FAULT=naming --seconds 60 \
  -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 1 ] && [ ! -s "$scratch/err.txt" ] && grep -q 'unknown_city' "$scratch/out.txt" ||
  fail "a fault of the candidate's environment: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
# Given to the reference too, by --reference-env, both sides answer alike.
"$host" compare --read "$fakes" --timeout-ms 20000 --reference "$interpreted" --env FORECAST_FAULT=naming \
  --reference-env FORECAST_FAULT=naming --conversations 100 -- "$forecast" \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 0 ] && grep -qx 'no difference' "$scratch/out.txt" ||
  fail "the same fault on both sides: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
grep -qx "  passed or set for the candidate (--env): FORECAST_FAULT=naming; for the reference (--reference-env): FORECAST_FAULT=naming" \
  "$scratch/out.txt" || fail "the reference's own environment is not told: $(cat "$scratch/out.txt")"

# Two different extensions: said at once, before what differs.
"$host" compare --read "$fakes" --timeout-ms 20000 --reference "$extension" --conversations 1 -- "$forecast" \
  >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 1 ] && head -n 1 "$scratch/out.txt" | grep -q \
  '^the reference calls itself "sample" and the candidate "forecast": these are two different extensions' ||
  fail "two extensions: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"

# A reference line a shell would not take, and one whose program is not there.
for line in "'$forecast" "/usr/bin/python3 \"$forecast"; do
  "$host" compare --reference "$line" -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
  status=$?
  [ $status -eq 2 ] && [ ! -s "$scratch/out.txt" ] && grep -q 'quote is left open' "$scratch/err.txt" ||
    fail "the reference line $line: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
done
"$host" compare --reference "no-such-interpreter '$forecast'" -- "$forecast" >"$scratch/out.txt" 2>"$scratch/err.txt"
status=$?
[ $status -eq 2 ] && grep -q "the reference: cannot run the extension: .*no-such-interpreter" "$scratch/err.txt" ||
  fail "a reference that is not there: status $status: $(cat "$scratch/out.txt" "$scratch/err.txt")"
echo "compare: a reference with an interpreter and an environment of its own"
