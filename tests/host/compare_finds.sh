#!/bin/bash
# compare against small extensions that each change one behaviour of the real one: each
# difference is found within a bounded run, shrunk to a few lines, and saved as a case
# that check passes with the real extension and fails with the changed one. First, the
# real extension against itself shows no difference.
# usage: compare_finds.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"

"$host" compare --reference "$extension" --conversations 400 -- "$extension" >"$scratch/same.txt" 2>&1
[ $? -eq 0 ] || { cat "$scratch/same.txt"; fail "the extension differs from itself"; }
grep -Eq '^400 conversations in [0-9.]+ s \([0-9]+ a second\)' "$scratch/same.txt" ||
  fail "no count and rate: $(cat "$scratch/same.txt")"
grep -qx 'no difference' "$scratch/same.txt" || fail "no verdict"

for fake in error-code-renamed violation-status-1 callable-case-folded; do
  saved=$scratch/$fake
  "$host" compare --env SAMPLE_EXTENSION --reference "$extension" --conversations 3000 --save "$saved" \
    -- "$fakes/$fake" >"$scratch/$fake.txt"
  [ $? -eq 1 ] || { cat "$scratch/$fake.txt"; fail "$fake: no difference found"; }
  grep -q '^how they differ ' "$scratch/$fake.txt" ||
    { cat "$scratch/$fake.txt"; fail "$fake: the difference is not told"; }
  lines=$(grep -Eo 'the smallest conversation found that differs \(([0-9]+) lines\)' \
    "$scratch/$fake.txt" | grep -Eo '[0-9]+')
  [ -n "$lines" ] && [ "$lines" -le 4 ] || { cat "$scratch/$fake.txt"; fail "$fake: shrunk to $lines lines"; }
  [ "$(wc -l <"$saved/input")" -le 4 ] || fail "$fake: the saved input is longer than 4 lines"
  "$host" check "$saved" -- "$extension" >/dev/null ||
    fail "$fake: the saved case does not pass the reference"
  "$host" check --env SAMPLE_EXTENSION "$saved" -- "$fakes/$fake" >/dev/null &&
    fail "$fake: the saved case passes the changed extension"
done

# The same seed, the same conversations: a second run finds the same one first.
"$host" compare --env SAMPLE_EXTENSION --reference "$extension" --conversations 3000 --seed 7 -- \
  "$fakes/error-code-renamed" | grep '^conversation ' >"$scratch/first"
"$host" compare --env SAMPLE_EXTENSION --reference "$extension" --conversations 3000 --seed 7 --jobs 1 -- \
  "$fakes/error-code-renamed" | grep '^conversation ' >"$scratch/second"
[ -s "$scratch/first" ] && diff "$scratch/first" "$scratch/second" ||
  fail "seed 7 found different conversations first: $(cat "$scratch/first") / $(cat "$scratch/second")"
echo "compare: no difference with itself; each changed behaviour found, shrunk and saved"
