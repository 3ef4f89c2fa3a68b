# Shared by the bash wrappers that change what the real extension reads.
# Runs the real extension with its input passed line by line through the Perl program
# FILTER (as in perl -pe), and ends the filter when the extension ends, as a port's own
# reader ends with it: a host that awaits the extension's end before it closes the input
# is not kept waiting by the filter.
# usage: through_input_filter FILTER ARGUMENTS...
through_input_filter() {
  local filter=$1
  shift
  "$SAMPLE_EXTENSION" "$@" < <(exec perl -pe "BEGIN { \$| = 1 } $filter")
  local status=$?
  kill "$!" 2>/dev/null
  exit "$status"
}
