#!/usr/bin/env bash
# Checks what users get: `make install` into a temporary DESTDIR (its file
# list, manual pages without warnings), the systemd unit (systemd-analyze
# verify), the Debian package (lintian, the programs run from the unpacked
# package) and the Windows zip (its file list). Every check runs; the script
# fails at the end if one did.
# Usage: scripts/check-package.sh [BUILD] [WIN_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
winbuild=${2:-build-win}
scripts/ensure-deps.sh dpkg-dev file lintian systemd man-db

version=$(sed -n 's/^project(p50x-bridge VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tmp=$(mktemp -d /tmp/p50x-package-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
same() {  # same WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(echo "$2") <(echo "$3") >&2 || true
  fi
}

echo "== make install into a temporary DESTDIR"
make --no-print-directory install BUILD="$build" DESTDIR="$tmp/dest" >/dev/null
same "installed files" "$(cat <<'EOT'
usr/local/bin/p50x-bridge
usr/local/bin/p50x-hostsim
usr/local/bin/p50x-trace
usr/local/lib/systemd/system/p50x-bridge@.service
usr/local/share/doc/p50x-bridge/changelog.gz
usr/local/share/doc/p50x-bridge/copyright
usr/local/share/doc/p50x-bridge/examples/Config.txt
usr/local/share/doc/p50x-bridge/examples/Loks.txt
usr/local/share/doc/p50x-bridge/examples/Melder.txt
usr/local/share/doc/p50x-bridge/examples/Weichen.txt
usr/local/share/doc/p50x-bridge/examples/example-host.py
usr/local/share/doc/p50x-bridge/examples/mylayout.conf
usr/local/share/man/man1/p50x-bridge.1.gz
usr/local/share/man/man1/p50x-hostsim.1.gz
usr/local/share/man/man1/p50x-trace.1.gz
usr/local/share/man/man7/p50x-host-protocol.7.gz
EOT
)" "$(cd "$tmp/dest" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)"
grep -qx 'ExecStart=/usr/local/bin/p50x-bridge %i.conf' \
  "$tmp/dest/usr/local/lib/systemd/system/p50x-bridge@.service" || fail "the unit's ExecStart"
for page in "$tmp"/dest/usr/local/share/man/man[17]/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $(basename "$page"): $warnings"
done

echo "== systemd-analyze verify on an installed instance"
# Installed for real under a temporary prefix, so the unit names a program
# that exists and its manual page can be found.
make --no-print-directory install BUILD="$build" PREFIX="$tmp/prefix" >/dev/null
units="$tmp/prefix/lib/systemd/system"
ln -s p50x-bridge@.service "$units/p50x-bridge@mylayout.service"
if ! report=$(MANPATH="$tmp/prefix/share/man" systemd-analyze verify \
                "$units/p50x-bridge@mylayout.service" 2>&1) || [ -n "$report" ]; then
  fail "systemd-analyze verify: $report"
fi

echo "== make package, lintian, the unpacked package"
rm -f "$build"/p50x-bridge_*.deb
make --no-print-directory package BUILD="$build" >/dev/null
deb=$(ls "$build"/p50x-bridge_*.deb)
# Information tags stay visible; errors and warnings fail.
status=0
lintian --fail-on error,warning "$deb" >"$tmp/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$tmp/lintian.txt" || true
[ "$status" -eq 0 ] || fail "lintian (status $status)"
dpkg-deb -c "$deb" >"$tmp/contents.txt"
for path in ./lib/systemd/system/p50x-bridge@.service ./usr/bin/p50x-bridge ./usr/bin/p50x-trace \
            ./usr/share/man/man1/p50x-bridge.1.gz ./usr/share/man/man7/p50x-host-protocol.7.gz; do
  grep -q " $path\$" "$tmp/contents.txt" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "the package's computed dependencies"
dpkg-deb -x "$deb" "$tmp/deb"
same "p50x-trace --version" "p50x-trace $version" "$("$tmp/deb/usr/bin/p50x-trace" --version)"
same "p50x-trace on the recorded session" "$(cat tests/trace/session-trace.txt)" \
  "$("$tmp/deb/usr/bin/p50x-trace" tests/trace/session-monitor.txt)"
status=0
output=$("$tmp/deb/usr/bin/p50x-bridge" --version </dev/null 2>&1) || status=$?
same "p50x-bridge --version (status $status)" "p50x-bridge $version" "$output"

echo "== make package-windows"
rm -f "$winbuild"/p50x-bridge-*-windows.zip
make --no-print-directory package-windows WIN_BUILD="$winbuild" >/dev/null
zip="$winbuild/p50x-bridge-$version-windows.zip"
folder="p50x-bridge-$version-windows"
same "the Windows zip" "$(cat <<EOT
$folder/README.txt
$folder/examples/Config.txt
$folder/examples/Loks.txt
$folder/examples/Melder.txt
$folder/examples/Weichen.txt
$folder/examples/example-host.py
$folder/examples/mylayout.conf
$folder/p50x-bridge.exe
$folder/p50x-hostsim.exe
$folder/p50x-trace.exe
EOT
)" "$(cmake -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
