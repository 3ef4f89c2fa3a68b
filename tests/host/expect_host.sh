#!/bin/sh
# Runs the host against one extension and checks how it reports it.
# usage: expect_host.sh SECONDS EXPECTED_STATUS PATTERN -- HOST ARGS...
# Passes when the host ends within SECONDS with EXPECTED_STATUS and its output (standard
# output and error together) holds the Perl regular expression PATTERN, matched against
# the whole output at once, so that a line feed in PATTERN must meet one in the output.
seconds=$1 expected=$2 pattern=$3
shift 4
# Standard input is no terminal here, whatever ran the tests: a run with no calls given
# reads its calls from it, and must find none rather than open a prompt.
output=$(timeout "$seconds" "$@" 2>&1 </dev/null)
status=$?
printf '%s\n' "$output"
if [ "$status" -eq 124 ]; then
  echo "FAILED: the host did not end within $seconds s"
  exit 1
fi
if [ "$status" -ne "$expected" ]; then
  echo "FAILED: the host ended with $status, expected $expected"
  exit 1
fi
if ! printf '%s\n' "$output" | PATTERN=$pattern perl -0777 -ne 'exit(/$ENV{PATTERN}/m ? 0 : 1)'; then
  echo "FAILED: the host's report lacks /$pattern/"
  exit 1
fi
