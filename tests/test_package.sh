#!/usr/bin/env bash
# The Debian package, made from this build folder and unpacked as dpkg would
# install it: its files are there, its programs run, its menu entry, metadata
# and the package itself pass Debian's own checkers.
#   test_package.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
build=$1 source=$2 version=$3
skip=77
if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "SKIPPED: dpkg-deb or dpkg-shlibdeps not found (Debian's dpkg-dev): the package is not checked"
  exit $skip
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$tmp"/out/orvalen_"$version"-*_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { ls "$tmp/out"; echo "FAIL: no orvalen_${version}-*.deb"; exit 1; }
echo "package: $(basename "$deb")"
root=$tmp/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }

# What an operator's machine gets.
for f in usr/bin/orvalen usr/bin/orvalen-record usr/bin/oven-sim \
         usr/share/applications/orvalen.desktop \
         usr/share/metainfo/org.orvalen.orvalen.metainfo.xml \
         usr/share/man/man1/orvalen.1.gz usr/share/man/man1/orvalen-record.1.gz \
         usr/share/man/man1/oven-sim.1.gz \
         usr/share/doc/orvalen/README.md usr/share/doc/orvalen/copyright \
         usr/share/doc/orvalen/changelog.Debian.gz \
         usr/share/doc/orvalen/examples/99-orvalen.rules; do
  [ -f "$root/$f" ] || fail "$f is not in the package"
done
for size in 16 32 48 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/orvalen.png
  # The PNG header's width and height, big-endian, at bytes 16 to 23.
  dims=$(od --endian=big -An -tu4 -j16 -N8 "$icon" 2>/dev/null | xargs)
  [ "$dims" = "$size $size" ] || fail "icon ${size}x${size}: its header says '$dims'"
done
depends=$(dpkg-deb -f "$deb" Depends)
case $depends in *libqt6widgets6*libqt6serialport6* | *libqt6serialport6*libqt6widgets6*) ;;
  *) fail "Depends lacks the Qt libraries: $depends" ;; esac
for exe in orvalen orvalen-record oven-sim; do
  readelf -S --wide "$root/usr/bin/$exe" | grep -q '[.]symtab' && fail "usr/bin/$exe is not stripped"
done

# The unpacked programs run from where they landed.
[ "$("$root/usr/bin/orvalen-record" --version)" = "orvalen-record $version" ] || fail "orvalen-record --version"
[ "$("$root/usr/bin/oven-sim" --version)" = "oven-sim $version" ] || fail "oven-sim --version"
out=$("$root/usr/bin/orvalen-record" analyze "$source/fuzz/corpus/record/example.dbf" 2>&1)
status=$?
# Three samples are never in a window: judged, and out (status 1).
if [ $status -ne 1 ] || ! grep -q '^file .*peak_c' <<<"$out"; then
  fail "orvalen-record analyze gave status $status: $out"
fi

missing=""
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/orvalen.desktop" || fail "desktop-file-validate"
  grep -qx 'Exec=orvalen' "$root/usr/share/applications/orvalen.desktop" || fail "the entry does not start orvalen"
else missing+=" desktop-file-validate"; fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.orvalen.orvalen.metainfo.xml" >"$tmp/as.log" 2>&1 ||
    { cat "$tmp/as.log"; fail "appstreamcli validate"; }
else missing+=" appstreamcli"; fi
if command -v lintian >/dev/null; then
  # Errors fail; warnings are shown for the eye.
  lintian --fail-on error "$deb" || fail "lintian found errors"
else missing+=" lintian"; fi

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
if [ -n "$missing" ]; then
  echo "SKIPPED in part: not found:$missing"
  exit $skip
fi
echo "package checked"
