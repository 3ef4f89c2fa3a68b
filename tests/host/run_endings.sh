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
# Its background shell may not have started its sleep yet when the host looks: one or two.
grep -Eq '^== extension ended: exit status 0; but it left (a process|2 processes) running after it had exited, which the host ended$' \
  "$scratch/left.txt" || { cat "$scratch/left.txt"; fail "the ending does not say what happened"; }
# Far less than the 30 s its background process sleeps: the host did not wait for it.
[ "$took_ms" -lt 20000 ] || fail "run took $took_ms ms to see the extension had ended"
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

# Calls are checked before they are sent, however they are given: a name not announced
# (with the nearest), a wrong number of arguments, an argument of the wrong type. Each is
# said and not sent, the conversation goes on, and the run fails. The right call first.
printf 'sample.echo [1]\nsample.ecoh [1]\nsample.echo [1,2]\nsample.wait ["x"]\n' >"$scratch/calls.txt"
for how in option script input; do
  case $how in
    option) set -- --call sample.echo '[1]' --call sample.ecoh '[1]' --call sample.echo '[1,2]' \
      --call sample.wait '["x"]' ;;
    script) set -- --script "$scratch/calls.txt" ;;
    input) set -- ;;
  esac
  "$host" run "$@" -- "$extension" --protocol 1 <"$scratch/calls.txt" >"$scratch/checked.txt"
  [ $? -eq 1 ] || fail "$how: a run with calls not sent did not end with 1"
  [ "$(grep -c '"callable":' "$scratch/checked.txt")" -eq 1 ] || fail "$how: a wrong call was sent"
  grep -q '<- .*"type":"call_result","value":1}' "$scratch/checked.txt" || fail "$how: the right call was not answered"
  for said in "the extension announced no callable named 'sample.ecoh'; did you mean sample.echo?" \
    "sample.echo takes 1 argument, not 2" "sample.wait takes Int: an integer, not \"x\" (a string)"; do
    grep -qF -- "?? not sent: $said (--send-anyway sends it as written)" "$scratch/checked.txt" ||
      fail "$how: not said: $said: $(cat "$scratch/checked.txt")"
  done
  grep -qx '== extension ended: exit status 0' "$scratch/checked.txt" || fail "$how: the extension did not end cleanly"
done
# As written, a wrong call is a violation, and the ending says what its status means.
"$host" run --send-anyway --call sample.wait '["x"]' -- "$extension" --protocol 1 >"$scratch/anyway.txt"
grep -q '^-> .*"arguments":\["x"\]' "$scratch/anyway.txt" || fail "--send-anyway did not send it"
grep -qx '   exit status 2: the extension took something as a protocol violation; the last line sent was: {"type":"call","request_id":"call-1","callable":"sample.wait","arguments":\["x"\]}' \
  "$scratch/anyway.txt" || fail "the violation is not told: $(cat "$scratch/anyway.txt")"
tail -n 1 "$scratch/anyway.txt" | grep -qx '== extension ended: exit status 2' || fail "the verdict is not last"
"$host" run -- "$extension" --protocol 2 </dev/null >"$scratch/refused.txt"
grep -qx '   exit status 3: the extension refused its command line' "$scratch/refused.txt" ||
  fail "a refused command line is not told: $(cat "$scratch/refused.txt")"
# record keeps no case of a call that was not sent, and notes a case that ends in a violation.
"$host" record "$scratch/typo" --call sample.ecoh '[1]' -- "$extension" --protocol 1 >"$scratch/typo.txt"
[ $? -eq 1 ] && [ ! -e "$scratch/typo" ] || fail "a call not sent was recorded"
grep -q '^== nothing recorded: a call did not fit the catalogue and was not sent' "$scratch/typo.txt" ||
  fail "record does not say why: $(tail -n 1 "$scratch/typo.txt")"
"$host" record "$scratch/violation" --send-anyway --call sample.wait '[99999]' -- "$extension" --protocol 1 \
  >"$scratch/violation.txt"
tail -n 1 "$scratch/violation.txt" | grep -q 'exit status 2; the case ends in a protocol violation' ||
  fail "record does not note the violation: $(tail -n 1 "$scratch/violation.txt")"
echo "run endings: nothing left behind; a flood on standard error and long names shown by their ends"
