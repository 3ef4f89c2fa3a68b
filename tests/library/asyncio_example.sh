#!/bin/bash
# The asyncio example as a user runs it, with Debian's python3: the sample and an
# extension it has never seen, driven at once from one loop; exact lines, status 0 and
# nothing on standard error. Then an extension that cannot start: said, status 1.
# usage: asyncio_example.sh LIBRARY SAMPLE_EXTENSION FAKES SOURCE_DIR
set -u
library=$1 sample=$2 fakes=$3 source=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
export EXTENSION_HOST_LIBRARY=$library PYTHONPATH=$source/python
example=$source/examples/asyncio_host.py

/usr/bin/python3 "$example" "$sample --protocol 1" "$fakes/forecast --protocol 1" \
  >"$scratch/out" 2>"$scratch/err"
status=$?
[ "$status" -eq 0 ] || { cat "$scratch/out" "$scratch/err"; fail "the example ended with $status"; }
[ ! -s "$scratch/err" ] || { cat "$scratch/err"; fail "the example wrote to standard error"; }
diff - "$scratch/out" <<'EXPECTED' || fail "the example printed other lines"
sample 0.1.0:
  sample.echo("hello") = "hello"
  sample.fail() failed: SampleError SAMPLE_FAILURE
  sample.wait(1) = 1
forecast 2.1.0:
  forecast.today("hello") = {"city": "hello", "sky": "clear"}
  forecast.days(1) = ["clear"]
sample ended: exit status 0 after "shutdown"
forecast ended: exit status 0 after "shutdown"
EXPECTED

/usr/bin/python3 "$example" "$sample --protocol 2" >"$scratch/out" 2>"$scratch/err"
status=$?
[ "$status" -eq 1 ] || fail "a refused command line ended the example with $status"
grep -q '^cannot start: EH_REFUSED_COMMAND_LINE: it refused its command line' "$scratch/err" ||
  { cat "$scratch/err"; fail "the refusal was not said"; }
echo "asyncio example: two extensions from one loop, and a refusal said"
