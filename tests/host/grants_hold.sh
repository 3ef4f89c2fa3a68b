#!/bin/bash
# What an extension may write cannot be turned against the next one, nor against the
# host's own writing: a granted folder swapped for a link between two extensions of one
# check is not followed (a folder granted within a writable one is shown as part of it,
# never looked up again); a case saved by compare or conform lands in the folder
# named when the host started, and the report says where it is, even when an extension
# renamed that folder meanwhile.
# usage: grants_hold.sh HOST EXTENSION FAKES
host=$(realpath "$1") extension=$(realpath "$2") fakes=$(realpath "$3")
export SAMPLE_EXTENSION=$extension
. "$(dirname "$0")/lib.sh"

# Two cases played in order by one host: the first swaps grant/a for a link to
# elsewhere, the second writes in grant/a/sub.
make_case() {
  mkdir -p "$scratch/cases/$1"
  cp "$(dirname "$0")/../conversations/handshake-then-shutdown/"{input,output,status} "$scratch/cases/$1/"
  printf '%s\n' "${@:2}" --protocol 1 >"$scratch/cases/$1/args"
}
fresh_grant() {
  rm -rf "$scratch/grant" "$scratch/elsewhere" "$scratch/cases"
  mkdir -p "$scratch/grant/a/sub" "$scratch/elsewhere/sub"
}
grants=(--env SAMPLE_EXTENSION --writable "$scratch/grant" --writable "$scratch/grant/a/sub")

# First without the swap: the second extension writes where it was granted.
fresh_grant
make_case 1-write write "$scratch/grant"
"$host" check "${grants[@]}" --jobs 1 "$scratch/cases" -- "$fakes/turns-its-grant" >"$scratch/out.txt"
[ $? -eq 0 ] && [ -f "$scratch/grant/a/sub/written" ] ||
  fail "a write in a granted folder failed: $(cat "$scratch/out.txt")"

fresh_grant
make_case 1-swap swap "$scratch/grant" "$scratch/elsewhere"
make_case 2-write write "$scratch/grant"
"$host" check "${grants[@]}" --jobs 1 "$scratch/cases" -- "$fakes/turns-its-grant" >"$scratch/out.txt"
status=$?
grep -q '^PASS 1-swap' "$scratch/out.txt" && [ -L "$scratch/grant/a" ] ||
  fail "the first extension did not swap its grant: $(cat "$scratch/out.txt")"
[ -e "$scratch/elsewhere/sub/written" ] && fail "the second extension wrote through the swapped link"
# grant/a/sub is shown as part of grant, not looked up again: what the second extension
# finds there is the link, to a folder it is not shown.
[ $status -eq 1 ] && grep -q '^FAIL 2-write: ' "$scratch/out.txt" &&
  grep -q 'cannot create .*/grant/a/sub/written: Directory nonexistent' "$scratch/out.txt" ||
  fail "the swapped grant is not refused: status $status: $(cat "$scratch/out.txt")"

# A case saved after extensions ran: compare --save and conform --save name a folder in
# a grant; the extension, a faulty one, renames that folder away and puts a link to
# elsewhere in its place. The case lands in the folder named at the start, wherever it is now, and the
# report says where that is.
printf '#!/bin/sh\n[ -d "%s/x" ] && mv "%s/x" "%s/x.renamed" && ln -s "%s" "%s/x"\nexec "$FAULTY" "$@"\n' \
  "$scratch/grant" "$scratch/grant" "$scratch/grant" "$scratch/elsewhere" "$scratch/grant" \
  >"$scratch/grant/renames"
chmod +x "$scratch/grant/renames"
# A fault compare finds, and one whose case conform can write.
declare -A fault=([compare]=lowercase-escapes [conform]=violation-status-1)
for command in compare conform; do
  faulty=(--env SAMPLE_EXTENSION --env "FAULTY=$fakes/${fault[$command]}" --writable "$scratch/grant")
  rm -rf "$scratch/grant/x" "$scratch/grant/x.renamed" "$scratch/elsewhere"/*
  mkdir "$scratch/grant/x"
  if [ "$command" = compare ]; then
    "$host" compare "${faulty[@]}" --reference "$extension" --seconds 60 \
      --save "$scratch/grant/x/found" -- "$scratch/grant/renames" --protocol 1 >"$scratch/out.txt" 2>&1
  else
    "$host" conform "${faulty[@]}" --save "$scratch/grant/x/found" -- "$scratch/grant/renames" \
      >"$scratch/out.txt" 2>&1
  fi
  [ -L "$scratch/grant/x" ] || fail "$command: the extension did not rename the folder"
  [ -z "$(ls -A "$scratch/elsewhere")" ] ||
    fail "$command: a case landed elsewhere: $(ls -A "$scratch/elsewhere")"
  [ -d "$scratch/grant/x.renamed/found" ] ||
    fail "$command: no case in the folder named at the start: $(cat "$scratch/out.txt")"
  grep -q "saved as the case $scratch/grant/x.renamed/found" "$scratch/out.txt" ||
    fail "$command: the report does not say where the case is: $(cat "$scratch/out.txt")"
done
# A folder granted within /dev/shm is the machine's, not the private one's.
shm=/dev/shm/grants-hold-$$
mkdir "$shm" && trap 'rm -rf "$scratch" "$shm"' EXIT
"$host" run --writable "$shm" --call sample.echo '[1]' -- sh -c 'echo written >"$1/x" && exec "$2" --protocol 1' \
  sh "$shm" "$extension" >"$scratch/out.txt" 2>&1 </dev/null
[ $? -eq 0 ] && [ "$(cat "$shm/x" 2>/dev/null)" = written ] ||
  fail "a folder granted within /dev/shm was not written: $(tail -n 3 "$scratch/out.txt")"
echo "a grant swapped for a link is refused, and saved cases land where the host first looked"
