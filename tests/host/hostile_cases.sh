#!/bin/bash
# Case folders from anyone: each way a folder can be not quite a case is a bad case that
# says why, within seconds and in bounded memory; and reports stay well-formed whatever
# a case is named (prove reads the TAP, xmllint the JUnit).
# usage: hostile_cases.sh HOST EXTENSION
host=$1 extension=$2
. "$(dirname "$0")/lib.sh"

# A good case, which the real extension passes: the others are made from it.
good=$scratch/good/echo
mkdir -p "$good"
printf '%s\n' '{"type":"handshake"}' \
  '{"type":"call","request_id":"1","callable":"sample.echo","arguments":["x"]}' >"$good/input"
"$extension" --protocol 1 <"$good/input" >"$good/output"
echo 0 >"$good/status"
"$host" check "$good" -- "$extension" | grep -q '^PASS echo' || fail "the good case does not pass"

# name, what the bad case's report must say, then how to spoil a copy of the good case
bad_case() {
  local name=$1 says=$2
  shift 2
  local folder=$scratch/bad/$name
  rm -rf "$scratch/bad" && mkdir -p "$scratch/bad" && cp -r "$good" "$folder"
  (cd "$folder" && eval "$@")
  local started=$SECONDS
  timeout 120 "$host" check --max-file-size 1M "$scratch/bad" -- "$extension" >"$scratch/report.txt"
  local status=$?
  [ "$status" -eq 1 ] || fail "$name: check ended with $status, expected 1: $(cat "$scratch/report.txt")"
  [ $((SECONDS - started)) -le 60 ] || fail "$name: took more than 60 s"
  grep -qF "FAIL $name: bad case: $says" "$scratch/report.txt" ||
    fail "$name: the report says: $(cat "$scratch/report.txt")"
  grep -qx '0 passed, 1 failed' "$scratch/report.txt" || fail "$name: the count is wrong"
}
bad_case zero-input "'input' is a link that leads out of the folder being checked" \
  'rm input && ln -s /dev/zero input'
bad_case random-output "'output' is a link that leads out of the folder being checked" \
  'rm output && ln -s /dev/urandom output'
bad_case fifo-output "'output' is a FIFO; a case holds only regular files" 'rm output && mkfifo output'
bad_case folder-status "'status' is a folder; a case holds only regular files" \
  'rm status && mkdir status'
bad_case too-large "'input' is 2097152 bytes, more than the 1048576 a case file may hold" \
  'head -c 2097152 /dev/zero >input'
bad_case leads-out "'output' is a link that leads out of the folder being checked" \
  'echo "a secret of the user" >../../secret && rm output && ln -s "$scratch/secret" output'
grep -q 'secret of the user' "$scratch/report.txt" && fail "a file from outside was shown"
bad_case folder-leads-out "the case folder is a link that leads out of the folder being checked" \
  'cd .. && rm -r folder-leads-out && ln -s "$scratch/good/echo" folder-leads-out'
bad_case no-status "it has no 'status' file" 'rm status'
bad_case no-output "it has no 'output' file" 'rm output'
bad_case misspelt "it holds 'ouput', which is no file of a case" 'mv output ouput'
bad_case stray-file "it holds 'duraton', which is no file of a case" 'echo "0 10" >duraton'
bad_case bad-status "'status' does not hold an exit status" 'echo zero >status'
# Arguments as exec takes them, no more: a word of 128 KiB with its NUL, 2 MiB in all.
bad_case long-argument "'args' holds an argument of 131072 bytes; a program takes at most 131071" \
  '{ echo --protocol; head -c 131072 /dev/zero | tr "\\0" x; echo; } >args'
bad_case many-arguments "'args' holds 300001 arguments, 2700019 bytes as exec counts them" \
  '{ echo --protocol; head -c 300000 /dev/zero | tr "\\0" "\\n"; } >args'
grep -q 'more words, [0-9]* bytes in all' "$scratch/report.txt" && fail "a bad case showed its arguments"
bad_case nul-argument "'args' holds a NUL byte, which no argument can hold" \
  'printf -- "--protocol\\n1\\0\\n" >args'
# Just within the bounds, the case is played, and its long command line is shown short.
rm -rf "$scratch/long-words" && cp -r "$good" "$scratch/long-words"
{ echo --protocol; head -c 131071 /dev/zero | tr '\0' x; echo; } >"$scratch/long-words/args"
"$host" check "$scratch/long-words" -- "$extension" >"$scratch/long-words.txt"
grep -q 'FAIL long-words: output differs' "$scratch/long-words.txt" ||
  fail "a case with a long argument was not played: $(head -c 400 "$scratch/long-words.txt")"
[ "$(wc -c <"$scratch/long-words.txt")" -lt 4000 ] || fail "a long command line was shown whole"
grep -q "(131071 bytes)" "$scratch/long-words.txt" || fail "the long argument's size is not said"

# A file swapped for a link to one outside while check reads the case: what is read is
# what was opened beneath the folder, never the file outside.
rm -rf "$scratch/swapped" && mkdir "$scratch/swapped" && cp -r "$good" "$scratch/swapped/case"
echo "a secret of the user" >"$scratch/outside-secret"
( cd "$scratch/swapped/case" && cp output real-output &&
  while :; do
    ln -sf "$scratch/outside-secret" output.new && mv -T output.new output
    cp real-output output.new && mv -T output.new output
  done ) 2>/dev/null &
swapper=$!
for i in $(seq 100); do
  "$host" check "$scratch/swapped" -- "$extension" 2>&1 | grep -q 'secret of the user' &&
    { kill "$swapper"; fail "a file from outside was shown, at play $i"; }
done
kill "$swapper"

# A link that stays inside the folder being checked is followed.
rm -rf "$scratch/linked" && mkdir "$scratch/linked" && cp -r "$good" "$scratch/linked/first"
cp -r "$good" "$scratch/linked/second" && rm "$scratch/linked/second/input"
ln -s ../first/input "$scratch/linked/second/input"
"$host" check "$scratch/linked" -- "$extension" | grep -qx '2 passed, 0 failed' ||
  fail "a link inside the folder being checked was not followed"

# Names that would forge or break a report: a line feed, ESC, '#' (a TAP directive) and
# bytes that are no UTF-8. One case fails, so that a forged "ok" would show.
names=($'forged\nok 3 - forged' $'esc\e[2J' 'hash # SKIP not really' $'bad\xff\xfeutf8' 'plain')
rm -rf "$scratch/named" && mkdir "$scratch/named"
for name in "${names[@]}"; do
  cp -r "$good" "$scratch/named/$name"
done
echo 'not what it writes' >"$scratch/named/hash # SKIP not really/output"
"$host" check --tap "$scratch/named" -- "$extension" >"$scratch/named.tap"
[ $? -eq 1 ] || fail "check --tap did not end with 1"
HARNESS_ACTIVE=1 HARNESS_VERSION=3.44 "$host" check --tap "$scratch/named" -- "$extension" \
  >"$scratch/named13.tap"
prove -e cat "$scratch/named13.tap" >"$scratch/prove.txt" 2>&1 &&
  fail "prove passed a stream with a failure"
grep -q 'Failed 1/5 subtests' "$scratch/prove.txt" || { cat "$scratch/prove.txt"; fail "prove did not count 1 failure in 5"; }
grep -Eq 'Bad plan|out of sequence|Parse errors' "$scratch/prove.txt" &&
  fail "prove found the stream malformed: $(cat "$scratch/prove.txt")"
"$host" check --junit "$scratch/named.xml" "$scratch/named" -- "$extension" >/dev/null
xmllint --noout "$scratch/named.xml" || fail "the JUnit report of hostile names is not well-formed"
[ "$(xmllint --xpath 'count(//testcase)' "$scratch/named.xml")" = 5 ] || fail "expected 5 testcases"
[ "$(xmllint --xpath 'count(//failure)' "$scratch/named.xml")" = 1 ] || fail "expected 1 failure"
LC_ALL=C grep -q $'\e' "$scratch/named.xml" "$scratch/named.tap" && fail "ESC reached a report"

# Two names that differ only as a byte and its escape read differently in every report.
rm -rf "$scratch/twins" && mkdir "$scratch/twins"
cp -r "$good" "$scratch/twins/"$'x\e' && cp -r "$good" "$scratch/twins/x\\x1b"
"$host" check --junit "$scratch/twins.xml" "$scratch/twins" -- "$extension" >"$scratch/twins.txt"
"$host" check --tap "$scratch/twins" -- "$extension" >"$scratch/twins.tap"
[ "$(grep -c '^PASS x' "$scratch/twins.txt")" -eq 2 ] || fail "twins: $(cat "$scratch/twins.txt")"
[ "$(grep '^PASS x' "$scratch/twins.txt" | sed 's/ (.*//' | sort -u | wc -l)" -eq 2 ] ||
  fail "two names read the same: $(cat "$scratch/twins.txt")"
[ "$(xmllint --xpath '//testcase/@name' "$scratch/twins.xml" | sort -u | wc -l)" -eq 2 ] ||
  fail "two names read the same in JUnit"
[ "$(grep '^ok' "$scratch/twins.tap" | sort -u | wc -l)" -eq 2 ] || fail "two names read the same in TAP"
echo "hostile cases: every spoilt folder a bad case, named; reports read by prove and xmllint"
