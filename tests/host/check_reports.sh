#!/bin/bash
# check's reports, read by the tools that consume them: the JUnit XML by xmllint, the TAP
# by prove; each for a passing extension first, then for a failing one. Then --filter,
# --jobs (the same verdicts as one case at a time) and --fail-fast.
# usage: check_reports.sh HOST EXTENSION CONVERSATIONS FAKES
host=$1 extension=$2 conversations=$3 fakes=$4
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
cases=$(find "$conversations" -mindepth 1 -maxdepth 1 -type d | wc -l)

# JUnit XML: well-formed, one testcase per case, and for a failing extension a failure
# element whose message names the category.
"$host" check --junit "$scratch/pass.xml" -- "$extension" >/dev/null ||
  fail "check failed on the real extension"
xmllint --noout "$scratch/pass.xml" || fail "the JUnit report is not well-formed XML"
[ "$(xmllint --xpath 'count(//testcase)' "$scratch/pass.xml")" = "$cases" ] ||
  fail "expected $cases testcases"
[ "$(xmllint --xpath 'count(//failure)' "$scratch/pass.xml")" = 0 ] || fail "failures in a pass"
xmllint --xpath 'string(//testcase[@name="wait-limit"]/@time)' "$scratch/pass.xml" |
  grep -Eq '^5\.[0-9]{3}$' || fail "wait-limit's time is not about 5 s"

# The failing reports cover the cases of sample.fail and the echo cases: the broken
# extension fails those whose answers hold the fixed error, and passes the rest.
some=(--filter 'fail-*' --filter 'echo-*')
some_cases=$(ls -d "$conversations"/fail-* "$conversations"/echo-* | wc -l)
failing_cases=$(grep -l '"sample failure"' "$conversations"/fail-*/output \
  "$conversations"/echo-*/output | wc -l)
"$host" check --env SAMPLE_EXTENSION "${some[@]}" --junit "$scratch/fail.xml" -- "$fakes/one-byte-off" >/dev/null
[ $? -eq 1 ] || fail "check of a broken extension did not end with 1"
xmllint --noout "$scratch/fail.xml" || fail "the failing JUnit report is not well-formed XML"
[ "$(xmllint --xpath 'count(//testcase)' "$scratch/fail.xml")" = "$some_cases" ] ||
  fail "expected $some_cases testcases in the failing report"
[ "$(xmllint --xpath 'count(//failure[@type="output differs"][starts-with(@message,"output differs at line")])' "$scratch/fail.xml")" = \
  "$failing_cases" ] || fail "expected $failing_cases failures of the type 'output differs', each told in its message"
xmllint --xpath 'string(//testcase[@name="fail-any-arguments"]/failure)' "$scratch/fail.xml" |
  grep -q 'sample failurE' || fail "the failure's text does not show the bytes that differ"

# TAP, read by prove.
tap_script() {
  printf '#!/bin/sh\nexec "%s" check --env SAMPLE_EXTENSION --tap %s -- "%s"\n' "$host" "$1" "$2"
}
tap_script "--filter 'fail-*' --filter 'echo-*'" "$extension" >"$scratch/pass.t"
tap_script "--filter 'fail-*' --filter 'echo-*'" "$fakes/one-byte-off" >"$scratch/fail.t"
chmod +x "$scratch"/*.t
prove --exec sh "$scratch/pass.t" >"$scratch/prove-pass.txt" 2>&1 ||
  { cat "$scratch/prove-pass.txt"; fail "prove did not pass the real extension"; }
grep -q "Tests=$some_cases," "$scratch/prove-pass.txt" || fail "prove did not see $some_cases tests"
prove --exec sh "$scratch/fail.t" >"$scratch/prove-fail.txt" 2>&1 &&
  fail "prove passed a broken extension"
grep -q "Failed $failing_cases/$some_cases subtests" "$scratch/prove-fail.txt" ||
  { cat "$scratch/prove-fail.txt"; fail "prove did not count $failing_cases failures"; }
# A case named like a directive is no directive: its failure counts.
mkdir -p "$scratch/directive/failing # TODO later"
cp "$conversations/handshake-then-shutdown/"* "$scratch/directive/failing # TODO later/"
tap_script "'$scratch/directive'" "$fakes/garbage" >"$scratch/directive.t"
prove --exec sh "$scratch/directive.t" >"$scratch/prove-directive.txt" 2>&1 &&
  { cat "$scratch/prove-directive.txt"; fail "a failure named '# TODO' was taken for a directive"; }
grep -q "Failed 1/1 subtests" "$scratch/prove-directive.txt" ||
  { cat "$scratch/prove-directive.txt"; fail "prove did not count the failure named '# TODO'"; }
"$host" check --env SAMPLE_EXTENSION --tap --filter 'fail-any*' -- "$fakes/one-byte-off" >"$scratch/tap.txt"
head -n 1 "$scratch/tap.txt" | grep -qx 'TAP version 13' || fail "no TAP version 13 line"
grep -q '^  category: "output differs"$' "$scratch/tap.txt" || fail "no YAML category"
# The message is a block of lines, as the report's: its line breaks stay line breaks, and
# the '^' under the first differing byte lines up with it.
grep -qx '  message: |' "$scratch/tap.txt" || fail "the YAML message is not a block"
grep -Eq '^      (expected|got): ' "$scratch/tap.txt" || fail "the message's lines are not lines"
sed -n 's/^    //p' "$scratch/tap.txt" >"$scratch/tap-message.txt"
perl -ne 'if (/^  expected: (.*)/) { $e = $1 } if (/^  got: *(.*)/) { $g = $1 }
  if (/^( *)\^$/) { $at = length($1); } END { exit 1 unless defined $at && $at > 0 }' \
  "$scratch/tap-message.txt" || fail "no mark under the differing byte in the TAP message"

# --filter: exactly the cases named so.
"$host" check --filter 'echo-*' -- "$extension" | sed -n 's/^PASS \([^ ]*\) .*/\1/p' \
  >"$scratch/echo-cases"
(cd "$conversations" && ls -d echo-*) | diff - "$scratch/echo-cases" ||
  fail "--filter 'echo-*' did not give exactly the echo cases"

# --jobs: the same report, in the same order, as one case at a time.
verdicts() { sed -E '/^sandbox: /d; s/ \([0-9]+ ms\)$//'; }
"$host" check --env SAMPLE_EXTENSION --jobs 1 -- "$fakes/one-byte-off" | verdicts >"$scratch/one"
"$host" check --env SAMPLE_EXTENSION --jobs 4 -- "$fakes/one-byte-off" | verdicts >"$scratch/four"
diff "$scratch/one" "$scratch/four" || fail "--jobs 4 changed the verdicts"

# --fail-fast: the report ends at the first failure; the rest are skipped.
"$host" check --env SAMPLE_EXTENSION --fail-fast -- "$fakes/one-byte-off" >"$scratch/fast"
[ $? -eq 1 ] || fail "--fail-fast did not end with 1"
first_failure=$(grep -n '^FAIL' "$scratch/one" | head -n 1 | cut -d: -f1)
head -n "$first_failure" "$scratch/one" | diff - <(verdicts <"$scratch/fast" | head -n "$first_failure") ||
  fail "--fail-fast reported otherwise up to the first failure"
skipped=$((cases - first_failure))
tail -n 1 "$scratch/fast" | grep -qx "$((first_failure - 1)) passed, 1 failed, $skipped skipped" ||
  fail "--fail-fast's summary: $(tail -n 1 "$scratch/fast")"
echo "reports: JUnit read by xmllint, TAP read by prove, filters, jobs and fail-fast as expected"
