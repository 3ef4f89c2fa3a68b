#!/bin/bash
# Builds the Debian packages from a build tree (the tools, and the library's runtime and
# development packages), holds each to lintian, unpacks them into an empty root, and uses
# them from there as a user would: the manual pages render, the host tells its version,
# the installed conformance check passes on the installed extension with the installed
# conversations, found by the host on its own, and a host application builds against the
# development package with pkg-config and runs the installed extension.
# usage: installed_package.sh BUILD_DIR VERSION
set -u
build=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack could not build the package"; }
"$(dirname "$0")/../../packaging/library-packages" "$build" "$scratch/out" ||
  fail "the library's packages could not be built"
packages=("$scratch"/out/*.deb)
[ "${#packages[@]}" -eq 4 ] || fail "not four packages in $scratch/out: ${packages[*]}"

# Debian's own judge of a package: any error or warning fails.
root=$scratch/root
for package in "${packages[@]}"; do
  lintian --fail-on error,warning "$package" 2>"$scratch/lintian.err" >"$scratch/lintian.out"
  lintian_status=$?
  cat "$scratch/lintian.out"
  [ "$lintian_status" -eq 0 ] && [ ! -s "$scratch/lintian.out" ] ||
    fail "lintian found fault with $(basename "$package") (status $lintian_status)"
  dpkg-deb -x "$package" "$root" || fail "dpkg-deb could not unpack $(basename "$package")"
done
package=$(ls "$scratch"/out/sample-extension_*.deb)
host=$root/usr/bin/extension-host
extension=$root/usr/bin/sample-extension
conversations=$root/usr/share/sample-extension/conversations

for page in sample-extension extension-host; do
  manual=$root/usr/share/man/man1/$page.1.gz
  [ -f "$manual" ] || fail "no manual page $page(1)"
  rendered=$(MANWIDTH=80 man --warnings -l "$manual" 2>"$scratch/man.err")
  [ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err"; fail "$page(1) renders with warnings"; }
  grep -q '^EXIT STATUS' <<<"$rendered" || fail "$page(1) has no EXIT STATUS section"
done
manual=$root/usr/share/man/man3/extension_host.3.gz
[ -f "$manual" ] || fail "no manual page extension_host(3) in the development package"
rendered=$(MANWIDTH=80 man --warnings -l "$manual" 2>"$scratch/man.err")
[ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err"; fail "extension_host(3) renders with warnings"; }
grep -q '^RETURN VALUE' <<<"$rendered" || fail "extension_host(3) has no RETURN VALUE section"
for doc in copyright changelog.Debian.gz; do
  [ -f "$root/usr/share/doc/sample-extension/$doc" ] || fail "no $doc in the package"
done

[ "$("$host" --version)" = "extension-host $version" ] ||
  fail "--version says '$("$host" --version)', expected 'extension-host $version'"

# Every installed case passes. Then one case fewer installed is one case fewer checked,
# which shows the host took the installed conversations and not those of a source tree.
cases=$(find "$conversations" -mindepth 1 -maxdepth 1 -type d | wc -l)
[ "$cases" -gt 0 ] || fail "no conversations installed"
report=$("$host" check -- "$extension" 2>"$scratch/check.err")
check_status=$?
[ "$check_status" -eq 0 ] || { echo "$report"; fail "installed check ended with $check_status"; }
[ "$(tail -n 1 <<<"$report")" = "$cases passed, 0 failed" ] ||
  { echo "$report"; fail "expected '$cases passed, 0 failed'"; }
[ ! -s "$scratch/check.err" ] || { cat "$scratch/check.err"; fail "check wrote to standard error"; }
rm -rf "${conversations:?}/$(ls "$conversations" | head -n 1)"
[ "$("$host" check -- "$extension" | tail -n 1)" = "$((cases - 1)) passed, 0 failed" ] ||
  fail "the host did not check the installed conversations"

# A host application built against the development package alone, run against the
# installed extension.
libdir=$(dirname "$(find "$root/usr/lib" -name libextension-host.so)")
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs extension-host) ||
  fail "pkg-config does not find extension-host in the development package"
gcc -Wall -Werror -o "$scratch/host-example" "$(dirname "$0")/../../examples/host.c" $flags \
  -Wl,-rpath,"$libdir" || fail "the example does not build against the development package"
said=$("$scratch/host-example" sample.echo '["packaged"]' -- "$extension" --protocol 1) ||
  { echo "$said"; fail "the example failed against the installed packages"; }
grep -qx 'sample.echo = "packaged"' <<<"$said" || { echo "$said"; fail "the example's call"; }

# The Python binding from its package, finding the library on the loader's path.
said=$(LD_LIBRARY_PATH=$libdir PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c '
import sys, extension_host
with extension_host.Extension.start([sys.argv[1], "--protocol", "1"]) as sample:
    print(sample.call("sample.echo", {"packaged": True}))
    print(sample.stop().words)' "$extension") || { echo "$said"; fail "the Python binding failed"; }
[ "$said" = "{'packaged': True}
exit status 0 after \"shutdown\"" ] || { echo "$said"; fail "the Python binding's call"; }
echo "packages $(cd "$scratch/out" && echo *.deb): lintian clean, $cases installed cases pass," \
  "a host application builds against the library"
