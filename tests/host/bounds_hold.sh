#!/bin/bash
# The bounds said are the bounds held: under --max-memory 128M an extension that holds 64
# MiB passes and one that holds 256 MiB is ended; under --max-processes 16, eight
# processes start and forty do not. And compare judges standard error: a candidate that
# says a word there differs from the reference.
# usage: bounds_hold.sh HOST EXTENSION FAKES CONVERSATIONS
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3") conversations=$(realpath "$4")
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
one_case=$conversations/handshake-then-shutdown

check_with() {
  "$host" check --env SAMPLE_EXTENSION "$@" >"$scratch/out.txt" 2>&1
}

check_with --max-memory 128M "$one_case" -- "$fakes/fills-memory" MIB 64
status=$?
if grep -q 'at most 128 MiB of memory' "$scratch/out.txt"; then
  [ $status -eq 0 ] || fail "64 MiB under a bound of 128 MiB did not pass: $(cat "$scratch/out.txt")"
  check_with --max-memory 128M "$one_case" -- "$fakes/fills-memory" MIB 256
  [ $? -eq 1 ] && grep -q 'killed by signal 9' "$scratch/out.txt" ||
    fail "256 MiB under a bound of 128 MiB was not ended: $(cat "$scratch/out.txt")"
  echo "memory: 64 MiB held under 128 MiB, 256 MiB ended"
else
  grep -q 'memory unbounded' "$scratch/out.txt" ||
    fail "the report says no bound of memory, held or not: $(head -n 1 "$scratch/out.txt")"
  echo "memory: not bounded on this machine, and said so"
fi

check_with --max-processes 16 "$one_case" -- "$fakes/fills-memory" PROCESSES 8
status=$?
if grep -q 'at most 16 processes' "$scratch/out.txt"; then
  [ $status -eq 0 ] || fail "8 processes under a bound of 16 did not pass: $(cat "$scratch/out.txt")"
  check_with --max-processes 16 "$one_case" -- "$fakes/fills-memory" PROCESSES 40
  [ $? -eq 1 ] && grep -q 'BlockingIOError\|Resource temporarily unavailable' "$scratch/out.txt" ||
    fail "40 processes under a bound of 16 were started: $(cat "$scratch/out.txt")"
  echo "processes: 8 started under 16, 40 refused"
else
  grep -q 'processes unbounded' "$scratch/out.txt" ||
    fail "the report says no bound of processes, held or not: $(head -n 1 "$scratch/out.txt")"
  echo "processes: not bounded on this machine, and said so"
fi

"$host" compare --env SAMPLE_EXTENSION --reference "$extension" --conversations 20 \
  -- "$fakes/stderr-noise" >"$scratch/out.txt" 2>&1
[ $? -eq 1 ] && grep -q '^  standard error: the reference wrote nothing; the candidate 16 bytes, "debug: starting' \
  "$scratch/out.txt" || fail "compare does not tell a word on standard error: $(cat "$scratch/out.txt")"
echo "compare: a word on standard error is a difference"
