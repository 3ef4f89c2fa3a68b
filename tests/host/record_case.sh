#!/bin/bash
# Recording a conversation as a golden case: non-ASCII text, a failing call and a wait,
# recorded from the real extension; the case passes check against it and fails against
# an extension one byte off. An existing case is not overwritten without --force.
# usage: record_case.sh HOST EXTENSION FAKES
host=$1 extension=$2 fakes=$3
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
case_dir=$scratch/accents-and-a-failure

"$host" record "$case_dir" --call sample.echo '["h\u00e9llo, w\u00f6rld \u4e16\u754c"]' \
  --call sample.fail '[]' --call sample.wait '[120]' -- "$extension" --protocol 1 \
  >"$scratch/record.txt" || { cat "$scratch/record.txt"; fail "record failed"; }
grep -q "^== recorded $case_dir" "$scratch/record.txt" || fail "record did not say where"
for file in input output status duration; do
  [ -f "$case_dir/$file" ] || fail "no $file in the case"
done
[ ! -e "$case_dir/args" ] || fail "args written for the default arguments"
[ "$(head -n 1 "$case_dir/input")" = '{"type":"handshake","protocol_version":"1.0"}' ] ||
  fail "input does not start with the handshake"
[ "$(tail -n 1 "$case_dir/input")" = '{"type":"shutdown"}' ] || fail "input does not end with shutdown"
[ "$(wc -l <"$case_dir/input")" -eq 5 ] || fail "input is not five lines"
[ "$(wc -l <"$case_dir/output")" -eq 5 ] || fail "output is not five lines"
grep -q 'h\\u00E9llo, w\\u00F6rld \\u4E16\\u754C' "$case_dir/output" || fail "no escaped echo"
grep -q '"sample failure"' "$case_dir/output" || fail "no error in the output"
[ "$(cat "$case_dir/status")" = 0 ] || fail "status is not 0"
# The waits are its lower bound; its upper one, beyond them, is check's own deadline, which
# no slow start or busy machine can break.
[ "$(cat "$case_dir/duration")" = "120 15120" ] || fail "duration is $(cat "$case_dir/duration")"

"$host" check "$case_dir" -- "$extension" | grep -q '^PASS accents-and-a-failure' ||
  fail "the recording does not pass the extension it was recorded from"
"$host" check --env SAMPLE_EXTENSION "$case_dir" -- "$fakes/one-byte-off" >"$scratch/broken.txt"
[ $? -eq 1 ] || fail "check passed an extension one byte off"
grep -q '^FAIL accents-and-a-failure: output differs at line' "$scratch/broken.txt" ||
  fail "the broken extension's failure is not an output difference"

# Arguments that are not the default are kept, and played again.
"$host" record "$scratch/wrong-line" -- "$extension" --protocol 2 >/dev/null </dev/null
[ "$(cat "$scratch/wrong-line/args")" = $'--protocol\n2' ] || fail "args not recorded"
[ "$(cat "$scratch/wrong-line/status")" = 3 ] || fail "status 3 not recorded"
"$host" check "$scratch/wrong-line" -- "$extension" >/dev/null || fail "wrong-line does not pass"

# An interpreted extension: the script stands before "--protocol" in the words check is
# given too, so the case keeps only the protocol's arguments, and plays back.
"$host" record "$scratch/interpreted" --read "$fakes" --call forecast.today '["Oslo"]' \
  -- /usr/bin/python3 "$fakes/forecast" --protocol 1 >/dev/null </dev/null ||
  fail "an interpreted extension's recording failed"
[ ! -e "$scratch/interpreted/args" ] || fail "args of an interpreted extension: $(cat "$scratch/interpreted/args")"
"$host" record "$scratch/interpreted-2" --read "$fakes" -- /usr/bin/python3 "$fakes/forecast" --protocol 2 \
  >/dev/null </dev/null
[ "$(cat "$scratch/interpreted-2/args")" = $'--protocol\n2' ] || fail "an interpreted extension's --protocol 2 not kept"
mkdir "$scratch/interpreted-cases"
mv "$scratch/interpreted" "$scratch/interpreted-cases/"
# A case folder named like a case's file is a case among the others.
mv "$scratch/interpreted-2" "$scratch/interpreted-cases/args"
"$host" check --read "$fakes" "$scratch/interpreted-cases" -- /usr/bin/python3 "$fakes/forecast" --protocol 1 \
  >"$scratch/interpreted.txt" || fail "recorded cases of an interpreted extension do not play back: $(cat "$scratch/interpreted.txt")"
grep -q '^PASS interpreted (' "$scratch/interpreted.txt" && grep -q '^PASS args (' "$scratch/interpreted.txt" ||
  fail "the cases were not played each: $(cat "$scratch/interpreted.txt")"

# An existing case stays as it was, unless --force.
before=$(cat "$case_dir/output")
"$host" record "$case_dir" --call sample.echo '[1]' -- "$extension" --protocol 1 \
  >/dev/null 2>"$scratch/refused.txt"
[ $? -eq 2 ] || fail "recording over an existing case did not end with 2"
grep -q 'exists; --force replaces it' "$scratch/refused.txt" || fail "no word on --force"
[ "$(cat "$case_dir/output")" = "$before" ] || fail "the existing case was changed"
"$host" record "$case_dir" --force --call sample.echo '[1]' -- "$extension" --protocol 1 \
  >/dev/null || fail "--force did not record"
[ "$(wc -l <"$case_dir/output")" -eq 3 ] || fail "--force did not replace the case"
[ ! -e "$case_dir/duration" ] || fail "--force left the old case's duration"

# Calls from standard input, as a script, when it is not a terminal.
printf 'sample.echo [2]\n# a comment\nsample.wait [0]\n' |
  "$host" record "$scratch/from-stdin" -- "$extension" --protocol 1 >/dev/null ||
  fail "record of calls from standard input failed"
[ "$(wc -l <"$scratch/from-stdin/input")" -eq 4 ] || fail "the script's calls were not all sent"

# An extension that writes to standard error gives no case.
"$host" record "$scratch/noisy" --env SAMPLE_EXTENSION -- "$fakes/stderr-noise" --protocol 1 >"$scratch/noisy.txt" </dev/null
[ $? -eq 1 ] || fail "a noisy extension's recording did not end with 1"
[ ! -e "$scratch/noisy" ] || fail "a case was written for a noisy extension"
echo "record: recorded, passes its extension, fails a broken one, kept from overwriting"
