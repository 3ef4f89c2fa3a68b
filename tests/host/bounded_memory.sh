#!/bin/bash
# The host's memory is bounded by the work, not by what an extension writes: against
# extensions that write without end (valid lines, or one line that never ends), run,
# record, check --jobs 4 and compare --jobs 8 each stay under 256 MiB at their peak, and
# end; and a count of bytes written is true however large.
# usage: bounded_memory.sh HOST EXTENSION FAKES CONVERSATIONS
host=$1 extension=$2 fakes=$3 conversations=$4
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
limit_kib=$((256 * 1024))

# Runs the host; fails unless it ends with STATUS and its peak resident memory (all of
# its processes' largest, as GNU time reports it) stays under the limit.
peak_under_limit() {
  local what=$1 status=$2
  shift 2
  timeout 120 /usr/bin/time -f %M -o "$scratch/peak" "$host" "$@" >"$scratch/out.txt" 2>&1 \
    </dev/null
  local ended=$?
  [ "$ended" -eq "$status" ] || fail "$what: ended with $ended, expected $status: $(tail -n 3 "$scratch/out.txt")"
  local peak
  peak=$(tail -n 1 "$scratch/peak")
  [ "$peak" -lt "$limit_kib" ] || fail "$what: peak $peak KiB, over $limit_kib"
  echo "$what: peak $((peak / 1024)) MiB"
}

# The measure itself can fail: a program that holds 300 MiB is seen to.
/usr/bin/time -f %M -o "$scratch/peak" python3 -c 'x = bytearray(300 << 20); x[::4096] = b"1" * len(x[::4096])'
[ "$(tail -n 1 "$scratch/peak")" -gt "$limit_kib" ] || fail "GNU time does not see 300 MiB held"

peak_under_limit "run, endless lines" 1 run --call sample.echo '[1]' -- "$fakes/floods-lines"
grep -Eq 'answered before the call was sent|bytes after the conversation ended' "$scratch/out.txt" ||
  fail "run: $(cat "$scratch/out.txt")"
peak_under_limit "run, one endless line" 1 run --call sample.echo '[1]' -- "$fakes/flood"
grep -q 'a line of more than 16777216 bytes' "$scratch/out.txt" || fail "run: $(cat "$scratch/out.txt")"
peak_under_limit "record, endless lines" 1 record "$scratch/case" --call sample.echo '[1]' \
  -- "$fakes/floods-lines"
grep -q '^== nothing recorded' "$scratch/out.txt" || fail "record: $(tail -n 1 "$scratch/out.txt")"
[ ! -e "$scratch/case" ] || fail "record kept a case of an endless output"
peak_under_limit "record --max-file-size 1M, endless lines" 1 record "$scratch/case" \
  --max-file-size 1M --call sample.echo '[1]' -- "$fakes/floods-lines"

mkdir "$scratch/cases"
for i in 1 2 3 4; do
  cp -r "$conversations/handshake-then-shutdown" "$scratch/cases/case-$i"
done
peak_under_limit "check --jobs 4, endless lines" 1 check --jobs 4 --timeout-ms 3000 \
  "$scratch/cases" -- "$fakes/floods-lines"
grep -qx '0 passed, 4 failed' "$scratch/out.txt" || fail "check: $(cat "$scratch/out.txt")"
peak_under_limit "compare --jobs 8, endless lines" 1 compare --jobs 8 --seconds 3 \
  --shrink-seconds 3 -- "$fakes/floods-lines"

# True counts past any size kept: 100,000,000 bytes written where a few hundred were due.
printf '#!/bin/sh\nhead -c 100000000 /dev/zero | tr "\\\\0" x\n' >"$scratch/writes-100-mb"
chmod +x "$scratch/writes-100-mb"
peak_under_limit "check, 100 MB written" 1 check "$scratch/cases/case-1" -- "$scratch/writes-100-mb"
grep -q "bytes expected, 100000000 written" "$scratch/out.txt" || fail "count: $(cat "$scratch/out.txt")"
echo "bounded memory: every command under 256 MiB against endless output; counts true"
