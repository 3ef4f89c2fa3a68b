#!/bin/bash
# How run ends with extensions that leave things behind: a process holding the output
# open is ended with the extension's group, at once, and named; a flood on standard
# error, and names of megabytes, are shown by their ends and their sizes, or whole with
# --raw.
# usage: run_endings.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
marker=run-endings-marker-$$

"$host" run --call sample.echo '[1]' -- "$extension" --protocol 1 >"$scratch/clean.txt" ||
  fail "the real extension's run failed"
grep -q 'running after it had exited' "$scratch/clean.txt" && fail "a clean run reported a process left"

started=$(date +%s%N)
"$host" run --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$fakes/leaves-a-process" "$marker" --protocol 1 \
  >"$scratch/left.txt"
status=$?
took_ms=$((($(date +%s%N) - started) / 1000000))
[ "$status" -eq 1 ] || fail "run ended with $status, expected 1"
grep -q '^== extension ended: exit status 0; but it left 2 processes running after it had exited, which the host ended$' \
  "$scratch/left.txt" || { cat "$scratch/left.txt"; fail "the ending does not say what happened"; }
[ "$took_ms" -lt 3000 ] || fail "run took $took_ms ms to see the extension had ended"
pgrep -f "$marker" >/dev/null && fail "the extension's background process is still running"

"$host" run --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$fakes/stderr-flood" --protocol 1 >"$scratch/flood.txt"
[ $? -eq 1 ] || fail "a run with standard error written did not end with 1"
size=$(wc -c <"$scratch/flood.txt")
[ "$size" -lt 20000 ] || fail "run printed $size bytes for a flood on standard error"
grep -q '^== standard error, 20000000 bytes:$' "$scratch/flood.txt" ||
  fail "the flood's size is not told"
grep -q 'bytes left out of 20000000; --raw shows more of them' "$scratch/flood.txt" ||
  fail "the cut is not told"
"$host" run --env SAMPLE_EXTENSION --raw --call sample.echo '[1]' -- "$fakes/stderr-flood" --protocol 1 >"$scratch/raw.txt"
[ "$(tr -cd x <"$scratch/raw.txt" | wc -c)" -ge 20000000 ] || fail "--raw did not show it all"

# What is decoded from a line is bounded as the line is: an identity, a callable's name and
# a reply's type of megabytes are shown by their starts and their sizes, or whole with --raw.
"$host" run --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$fakes/long-names" --protocol 1 >"$scratch/long.txt"
[ $? -eq 1 ] || fail "a reply of an unknown type did not end the run with 1"
size=$(wc -c <"$scratch/long.txt")
[ "$size" -lt 4000 ] || fail "run printed $size bytes for names of megabytes"
grep -Eq '^   extension x{100,} \.\.\. \(3000000 bytes\) 0\.1\.0, protocol 1\.0$' "$scratch/long.txt" &&
  grep -Eq '^   sample\.x{100,} \.\.\. \(1000007 bytes\) 1\.\.1 ' "$scratch/long.txt" &&
  grep -Eq '^!! protocol error: a call was answered by "x{100,} \.\.\. \(2000000 bytes\)"$' \
    "$scratch/long.txt" || fail "long names are not shown by their starts and sizes: $(cat "$scratch/long.txt")"
"$host" run --env SAMPLE_EXTENSION --raw --call sample.echo '[1]' -- "$fakes/long-names" --protocol 1 >"$scratch/long-raw.txt"
[ "$(sed -n 's/^   extension \(x*\) 0\.1\.0, protocol 1\.0$/\1/p' "$scratch/long-raw.txt" |
  tr -d '\n' | wc -c)" -eq 3000000 ] ||
  fail "--raw did not show the identity whole"
echo "run endings: nothing left behind; a flood on standard error and long names shown by their ends"
