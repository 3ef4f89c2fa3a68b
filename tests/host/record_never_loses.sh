#!/bin/bash
# record never loses what is there: a case is replaced only with --force and only when it
# is a case folder; anything else (".", a folder holding other files, a file, a link) is
# refused with status 2 and left as it was; a recording that fails leaves the old case
# untouched; and a trailing slash names the same folder.
# usage: record_never_loses.sh HOST EXTENSION FAKES
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3")
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"
mkdir "$scratch/area" && cd "$scratch/area" || fail "no scratch folder"

record() { "$host" record "$@" --env SAMPLE_EXTENSION --call sample.echo '[1]' -- "$extension" --protocol 1 </dev/null; }
# A listing of a folder, with every file's bytes, to tell whether anything changed.
snapshot() { find "$1" -printf '%p %y %s\n' | sort && find "$1" -type f -exec sha1sum {} + | sort; }

# A new case named with a trailing slash, without --force.
record fresh/ >"$scratch/out.txt" || fail "record fresh/ failed: $(cat "$scratch/out.txt")"
[ -f fresh/output ] && [ "$(wc -l <fresh/output)" -eq 3 ] || fail "fresh/ was not recorded"

# Replaced with --force, named with a trailing slash: the new case, nothing left beside it.
"$host" record keep --call sample.echo '["old"]' -- "$extension" --protocol 1 >/dev/null ||
  fail "recording keep failed"
grep -q '"old"' keep/output || fail "keep does not hold its first recording"
record keep/ --force >"$scratch/out.txt" || fail "record keep/ --force failed: $(cat "$scratch/out.txt")"
grep -q '"old"' keep/output && fail "keep/ --force did not replace the case"
[ -f keep/status ] || fail "keep lost its status"
[ -z "$(find . -maxdepth 1 -name '.*' ! -name .)" ] || fail "a recording folder was left: $(ls -a)"

# Refused whatever the flags: ".", a folder with other files, a file, a link, a case
# holding a folder; each left exactly as it was.
mkdir -p project/src && echo 'int main;' >project/src/main.c && echo notes >project/README
echo 'a file' >a-file
ln -s keep keep-link
mkdir -p odd-case && cp keep/* odd-case/ && mkdir odd-case/extra
before=$(snapshot .)
for target in . project a-file keep-link odd-case; do
  for force in "" --force; do
    record "$target" $force >"$scratch/out.txt" 2>"$scratch/err.txt"
    status=$?
    [ "$status" -eq 2 ] || fail "record $target $force ended with $status, expected 2"
    [ "$(wc -l <"$scratch/err.txt")" -eq 1 ] || fail "record $target $force: more than one line: $(cat "$scratch/err.txt")"
    grep -Eq 'exists|not a case folder' "$scratch/err.txt" || fail "record $target $force: $(cat "$scratch/err.txt")"
  done
done
(cd project && record . --force) >/dev/null 2>&1 && fail "record . --force inside a project"
diff <(echo "$before") <(snapshot .) || fail "a refused record changed something"

# A recording that fails (the extension writes to standard error) leaves the old case.
before=$(snapshot keep)
"$host" record keep --env SAMPLE_EXTENSION --force --call sample.echo '[2]' -- "$fakes/stderr-noise" --protocol 1 \
  >"$scratch/out.txt" </dev/null
[ $? -eq 1 ] || fail "a failed recording did not end with 1"
grep -q '^== nothing recorded: the extension wrote to standard error' "$scratch/out.txt" ||
  fail "the failure is not told: $(cat "$scratch/out.txt")"
[ "$(snapshot keep)" = "$before" ] || fail "a failed recording changed the old case"
[ -z "$(find . -maxdepth 1 -name '.*' ! -name .)" ] || fail "a failed recording left its folder"

# A place that cannot be written (inside a file: even root cannot) is said before the
# conversation, in one line.
record a-file/case >"$scratch/out.txt" 2>"$scratch/err.txt"
[ $? -eq 2 ] || fail "recording into a file did not end with 2"
[ ! -s "$scratch/out.txt" ] || fail "a conversation was held before the place was found unwritable"
[ "$(wc -l <"$scratch/err.txt")" -eq 1 ] && grep -q 'cannot write in .*a-file' "$scratch/err.txt" ||
  fail "$(cat "$scratch/err.txt")"
echo "record: trailing slashes, replacing only a case, nothing lost on refusal or failure"
