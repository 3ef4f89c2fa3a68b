#!/bin/bash
# The library as a host application's developer gets it: installed into an empty root,
# the C example built from there with pkg-config and with CMake's find_package, and run
# against the sample, byte for byte, succeeding and failing.
# usage: installed_library.sh BUILD_DIR SOURCE_DIR SAMPLE_EXTENSION
set -u
build=$1 source=$2 sample=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

root=$scratch/root
cmake --install "$build" --prefix "$root" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install failed"; }
libdir=$(dirname "$(find "$root" -name 'libextension-host.so' | head -n 1)")
[ -f "$root/include/extension_host.h" ] && [ -f "$root/include/extension_host.hpp" ] ||
  fail "the headers are not installed"
[ -L "$libdir/libextension-host.so" ] && [ -L "$libdir/libextension-host.so.0" ] ||
  fail "the library's links are not installed"

# With pkg-config, from the installed .pc alone.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs extension-host) || fail "pkg-config does not know extension-host"
gcc -Wall -Wextra -Werror -o "$scratch/host-pc" "$source/examples/host.c" $flags \
  -Wl,-rpath,"$libdir" || fail "the example does not build with pkg-config's flags"

# With CMake, from the installed package configuration alone.
cmake -S "$source/examples" -B "$scratch/examples" -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_BUILD_RPATH="$libdir" >"$scratch/cmake.log" 2>&1 ||
  { cat "$scratch/cmake.log"; fail "find_package(ExtensionHost) failed"; }
cmake --build "$scratch/examples" >"$scratch/build.log" 2>&1 ||
  { cat "$scratch/build.log"; fail "the example does not build with find_package"; }

# Runs HOST with the rest; compares standard output with $expected and the status.
expect() {
  local status=$1 host=$2
  shift 2
  "$host" "$@" >"$scratch/out" 2>"$scratch/err"
  local got=$?
  [ "$got" -eq "$status" ] || { cat "$scratch/out"; fail "$* ended with $got, not $status"; }
  diff <(printf '%s\n' "$expected") "$scratch/out" || fail "$* printed other lines"
  [ ! -s "$scratch/err" ] || { cat "$scratch/err"; fail "$* wrote to standard error"; }
}
offers='sample 0.1.0 offers:
  sample.echo(1..1 Value) -> Value
  sample.fail(0..0 ()) -> Never
  sample.wait(1..1 Int) -> Int'
for host in "$scratch/host-pc" "$scratch/examples/host"; do
  expected="$offers
sample.echo = {\"a\":\"h\\u00e9\"}
ended: exit status 0 after \"shutdown\""
  expected=${expected/\\u00e9/é}
  expect 0 "$host" sample.echo '[{"a":"h\u00e9"}]' -- "$sample" --protocol 1
  expected="$offers
sample.fail failed: SampleError SAMPLE_FAILURE: sample failure
ended: exit status 0 after \"shutdown\""
  expect 1 "$host" sample.fail '[]' -- "$sample" --protocol 1
  expected="$offers
call: EH_UNFIT_CALL: sample.wait takes Int: an integer, not \"soon\" (a string)"
  expect 1 "$host" sample.wait '["soon"]' -- "$sample" --protocol 1
  expected='start: EH_REFUSED_COMMAND_LINE: it refused its command line: exit status 3 before a word (is "--protocol" "1" in it?)'
  expect 1 "$host" sample.echo '[1]' -- "$sample" --protocol 2
done
echo "installed library: the example builds with pkg-config and find_package, and runs"
