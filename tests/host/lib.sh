# Sourced by the host's test scripts: a scratch folder removed on exit, and fail().
# Expects SAMPLE_EXTENSION to be set by the caller, for the fake extensions.
set -u
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}
