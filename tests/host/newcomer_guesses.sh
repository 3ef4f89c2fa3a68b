#!/bin/bash
# A newcomer's first guesses: each command line one would type either works or is refused
# at once, with status 2 and one line that says what to type; whatever cannot be done is
# said before any work, within a second; reports are read by the tools CI uses.
# usage: newcomer_guesses.sh HOST EXTENSION FAKES
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3")
export SAMPLE_EXTENSION=$extension
conversations=$(realpath "$(dirname "$0")/../conversations")
. "$(dirname "$0")/lib.sh"
cd "$scratch" || fail "no scratch folder"
cases=$(find "$conversations" -mindepth 1 -maxdepth 1 -type d | wc -l)

# Runs the host; fails unless it ends with STATUS within SECONDS.
host_ends() {
  local what=$1 status=$2 seconds=$3
  shift 3
  local started
  started=$(date +%s%N)
  timeout 600 "$host" "$@" >out.txt 2>err.txt </dev/null
  local ended=$?
  local took_ms=$((($(date +%s%N) - started) / 1000000))
  [ "$ended" -eq "$status" ] ||
    fail "$what: ended with $ended, expected $status: $(head -c 600 out.txt err.txt)"
  [ "$took_ms" -le $((seconds * 1000)) ] || fail "$what: took $took_ms ms"
}
# A refusal: status 2 before any work (no extension is started; the bound only catches a
# host that hangs, on the busiest machine), nothing on standard output, one line that holds
# TEXT.
refused() {
  local what=$1 text=$2
  shift 2
  host_ends "$what" 2 30 "$@"
  [ ! -s out.txt ] || fail "$what: wrote to standard output: $(cat out.txt)"
  [ "$(wc -l <err.txt)" -eq 1 ] || fail "$what: more than one line: $(cat err.txt)"
  grep -qF -- "$text" err.txt || fail "$what: the line lacks '$text': $(cat err.txt)"
}

# The guesses that work, in each command, with the protocol's arguments or without them.
host_ends "check with the protocol's arguments" 0 300 check -- "$extension" --protocol 1
grep -qx "$cases passed, 0 failed" out.txt || fail "check: $(tail -n 1 out.txt)"
host_ends "check without them" 0 300 check -- "$extension"
grep -qx "$cases passed, 0 failed" out.txt || fail "check: $(tail -n 1 out.txt)"
host_ends "compare with the protocol's arguments" 0 300 compare --conversations 200 -- \
  "$extension" --protocol 1
grep -qx 'no difference' out.txt || fail "compare: $(cat out.txt)"
host_ends "compare without them" 0 300 compare --conversations 200 -- "$extension"
host_ends "run with them" 0 60 run --call sample.echo '[1]' -- "$extension" --protocol 1
grep -qx -- "-- running: $extension --protocol 1" out.txt || fail "run does not show its command line"
# Running it without them is a meaningful request: done as asked, with a hint at the end.
host_ends "run without them" 1 60 run --call sample.echo '[1]' -- "$extension"
grep -q '^== extension ended: exit status 3$' out.txt || fail "run without arguments: $(cat out.txt)"
tail -n 1 out.txt | grep -qF "the usual form is: extension-host run -- $extension --protocol 1" ||
  fail "no hint at the end: $(tail -n 1 out.txt)"
host_ends "run with another protocol" 1 60 run --call sample.echo '[1]' -- "$extension" --protocol 2
tail -n 1 out.txt | grep -qxF "hint: the extension was run without '--protocol 1' at the end; the usual form is: extension-host run -- $extension --protocol 1" ||
  fail "the hint does not replace the other protocol: $(tail -n 1 out.txt)"

# The guesses that are refused, each saying what to type.
refused "check of another extension against the sample's cases" \
  "the installed cases are the sample's, and this extension calls itself \"forecast\": name a folder of its own cases (extension-host record writes them), or judge it against the protocol: extension-host conform -- $fakes/forecast --protocol 1" \
  check --read "$fakes" -- "$fakes/forecast"
refused "check with other protocol arguments" \
  "type: extension-host check -- $extension --protocol 1" check -- "$extension" --protocol 2
refused "compare with a lone --protocol" "cannot stand after it" compare -- "$extension" --protocol
refused "check without '--'" "put '--' before the extension's command line" check "$extension"
refused "run without '--'" "put '--' before the extension's command line: extension-host run [OPTIONS] -- $extension --protocol 1" \
  run "$extension" --protocol 1
refused "compare without '--'" "put '--' before the candidate's command line" compare "$extension"
refused "check with no extension" "name the extension's command line after '--'" check
refused "check with its arguments but no '--'" \
  "put '--' before the extension's command line: extension-host check -- $extension --protocol 1" \
  check "$extension" --protocol 1
refused "record with its arguments but no '--'" \
  "put '--' before the extension's command line: extension-host record cases/x [OPTIONS] -- $extension --protocol 1" \
  record cases/x "$extension" --protocol 1
refused "an unknown command" "no command 'chek'" chek -- "$extension"

# What cannot be done is said before any work.
refused "check of a missing extension" "cannot run the extension: /nonexistent/ext: no such file" \
  check -- /nonexistent/ext
refused "run of a file that is no program" "/etc/passwd: is not executable" run -- /etc/passwd
refused "compare with a missing candidate" "cannot run the extension: /nonexistent" compare -- /nonexistent
refused "compare with a missing reference" "cannot run the extension: /nonexistent/ref" \
  compare --reference /nonexistent/ref -- "$extension"
refused "record of a missing extension" "no such file" record newcase -- /nonexistent/ext
[ ! -e newcase ] || fail "record of a missing extension made its case folder"
refused "check of a missing folder" "no folder of cases /nonexistent (it is not there)" \
  check /nonexistent -- "$extension"
echo 'a file' >a-file
refused "a report that cannot be written" "cannot write the report a-file/r.xml" \
  check --junit a-file/r.xml -- "$extension"
refused "a case that cannot be written" "cannot write in $scratch/a-file: it is not a folder" \
  record a-file/case -- "$extension" --protocol 1
refused "a save that cannot be written" "cannot write in $scratch/a-file: it is not a folder" \
  compare --save a-file/found -- "$extension"
refused "--jobs 0" "--jobs takes a whole number from 1 to 4096, not '0'" check --jobs 0 -- "$extension"
refused "--seconds -1" "--seconds takes a number of seconds above 0" compare --seconds -1 -- "$extension"
refused "--timeout-ms x" "--timeout-ms takes a whole number from 1 to" run --timeout-ms x -- "$extension"
refused "--max-file-size 0" "--max-file-size takes a size in bytes above 0" \
  check --max-file-size 0 -- "$extension"
# The largest size that counts is taken; one more G would wrap around to nothing.
host_ends "--max-file-size 17179869183G" 0 60 check --max-file-size 17179869183G \
  --filter handshake-then-shutdown -- "$extension"
refused "--max-file-size 17179869184G" "--max-file-size 17179869184G is too large: a size is at most 17179869183G" \
  check --max-file-size 17179869184G -- "$extension"
refused "--max-memory 17179869184G" "--max-memory 17179869184G is too large" \
  run --max-memory 17179869184G -- "$extension" --protocol 1
host_ends "--seconds 1.5" 0 30 compare --seconds 1.5 -- "$extension"

# help, for the host and for each command.
host_ends "help" 0 30 help
grep -q '^  help    this' out.txt || fail "help: $(head -n 3 out.txt)"
host_ends "help --help" 0 30 help --help
grep -q '^  help    this' out.txt || fail "help --help: $(head -n 3 out.txt)"
for command in run record check compare; do
  host_ends "help $command" 0 30 help "$command"
  grep -q "^usage: extension-host $command" out.txt || fail "help $command: $(head -n 1 out.txt)"
done

# TAP read from a file by Debian's prove; JUnit named after the extension, with errors for
# cases that cannot be played, the detail's first line as message, and a zoned timestamp.
"$host" check --tap --filter 'echo-*' -- "$extension" >echo.tap || fail "check --tap failed"
prove -e cat echo.tap >prove.txt 2>&1 || fail "prove did not take the TAP file: $(cat prove.txt)"
grep -q '^Result: PASS' prove.txt || fail "prove: $(cat prove.txt)"
mkdir -p mixed && cp -r "$conversations/handshake-then-shutdown" mixed/good
mkdir mixed/no-status && cp mixed/good/input mixed/good/output mixed/no-status/
"$host" check --env SAMPLE_EXTENSION --junit mixed.xml mixed -- "$fakes/one-byte-off" >/dev/null
xmllint --noout mixed.xml || fail "the JUnit report is not well-formed"
[ "$(xmllint --xpath 'string(//testsuite/@name)' mixed.xml)" = "$fakes/one-byte-off" ] ||
  fail "the suite is not named after the extension"
# A dashboard splits a class name at its dots into packages: the class is the suite, whole.
"$host" check --suite ../port/port.py --junit dotted.xml mixed -- "$extension" >/dev/null
[ "$(xmllint --xpath 'string(//testsuite/@name)' dotted.xml)" = ../port/port.py ] ||
  fail "--suite with dots is not heeded"
[ "$(xmllint --xpath 'string(//testcase[1]/@classname)' dotted.xml)" = __/port/port_py ] ||
  fail "the class name is not the suite's without dots"
[ "$(xmllint --xpath 'string(//testsuite/@errors)' mixed.xml)" = 1 ] || fail "a bad case is no error"
xmllint --xpath 'string(//testcase[@name="no-status"]/error/@message)' mixed.xml |
  grep -qx "bad case: it has no 'status' file" || fail "the error's message is not its detail"
xmllint --xpath 'string(//testsuite/@timestamp)' mixed.xml |
  grep -Eqx '[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z' || fail "no zone in the timestamp"
"$host" check --env SAMPLE_EXTENSION --suite port-a --junit named.xml mixed -- "$fakes/one-byte-off" >/dev/null
[ "$(xmllint --xpath 'string(//testsuite/@name)' named.xml)" = port-a ] || fail "--suite is not heeded"
echo "newcomer: every guess works or is refused in one line; errors before work; reports read"
