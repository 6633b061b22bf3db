#!/usr/bin/env bash
# Checks what the optimised build in build/release installs and packages:
# the manual pages clean under `mandoc -T lint` down to style messages;
# `cmake --install` puts exactly the programs, libraries, header, zelvix.pc,
# CMake package, manual pages, README and licence in place; `cpack -G DEB` makes zelvix_<version>_<arch>.deb with the
# fields Debian wants and a dependency on libSDL2, which lintian passes
# without errors or warnings; apt-get installs it, the zelvix on PATH renders
# the demo as the build does and man finds its page; and purging it leaves
# nothing behind. Called by scripts/test.sh after the release build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
scripts/install_deps.sh mandoc lintian man-db dpkg-dev binutils
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

version="$(sed -nE 's/^project\(zelvix VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
arch="$(dpkg --print-architecture)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
[ "$(dpkg-parsechangelog -l packaging/changelog -S Version)" = "$version" ] ||
  fail "packaging/changelog does not start with version $version"

echo "== mandoc -T lint"
for page in "$build"/man/zelvix.1 "$build"/man/zvtrace.1 "$build"/man/zelvix.3; do
  report="$(mandoc -T lint -W style "$page" 2>&1)" || true
  [ -z "$report" ] || fail "mandoc on $page: $report"
done

echo "== cmake --install"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed="$(cd "$work/prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"
lib="./lib/$multiarch"
expected="./bin/zelvix ./bin/zvtrace ./include/zelvix/zelvix.h \
$lib/cmake/zelvix/zelvixConfig.cmake $lib/cmake/zelvix/zelvixConfigVersion.cmake \
$lib/cmake/zelvix/zelvixTargets-release.cmake $lib/cmake/zelvix/zelvixTargets.cmake \
$lib/libzelvix.a $lib/libzelvix.so $lib/libzelvix.so.1 $lib/libzelvix.so.$version $lib/pkgconfig/zelvix.pc \
./share/doc/zelvix/LICENSE ./share/doc/zelvix/README.md ./share/man/man1/zelvix.1 ./share/man/man1/zvtrace.1 \
./share/man/man3/zelvix.3 "
[ "$installed" = "$expected" ] || fail "cmake --install put: $installed"
# The plain install's zelvix.pc names the prefix it was installed into.
grep -qx "prefix=$work/prefix" "$work/prefix/$lib/pkgconfig/zelvix.pc" ||
  fail "zelvix.pc of the install into $work/prefix: $(head -1 "$work/prefix/$lib/pkgconfig/zelvix.pc")"

echo "== cpack -G DEB"
rm -rf build/package
(cd "$build" && cpack -G DEB -B "$(pwd)/../package" >/dev/null)
deb="build/package/zelvix_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Section)" = sound ] || fail "section $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no long description"
echo "Depends: $(field Depends)"
# Live play loads libSDL2 at run time; the package must still bring it.
field Depends | grep -q 'libsdl2-2\.0-0 ' || fail "the package does not depend on libsdl2-2.0-0"
dpkg-deb -c "$deb" | awk '{print $6}'

echo "== lintian"
lintian --fail-on error,warning --display-info "$deb"

echo "== apt-get install"
if dpkg-query -W -f='${Status}' zelvix 2>/dev/null | grep -q "install ok installed"; then
  echo "zelvix is already installed on this machine: install and removal not checked"
  exit 0
fi
dpkg-query -W -f='${Package} ${Version} ${Status}\n' | sort >"$work/before.txt"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y -qq "./$deb" >/dev/null
dpkg-query -L zelvix | sort >"$work/files.txt"
[ "$(command -v zelvix)" = /usr/bin/zelvix ] || fail "zelvix on PATH is $(command -v zelvix)"
man -w zelvix | grep -qx /usr/share/man/man1/zelvix.1.gz || fail "man -w zelvix: $(man -w zelvix)"
man -w zvtrace >/dev/null || fail "man finds no zvtrace page"
mkdir -p "$work/installed" "$work/built"
cp examples/demo.xm "$work/installed/demo.xm"
cp examples/demo.xm "$work/built/demo.xm"
(cd "$work/installed" && zelvix demo.xm --render-to-wav </dev/null >/dev/null)
(cd "$work/built" && "$OLDPWD/$build/zelvix" demo.xm --render-to-wav </dev/null >/dev/null)
cmp "$work/installed/demo.xm.wav" "$work/built/demo.xm.wav" || fail "the installed zelvix renders other bytes"
echo "installed zelvix rendered $(stat -c %s "$work/installed/demo.xm.wav") bytes"

echo "== apt-get purge"
"${sudo_cmd[@]}" apt-get purge -y -qq zelvix >/dev/null
dpkg-query -W -f='${Package} ${Version} ${Status}\n' | sort >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" || fail "the set of installed packages changed"
while read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then fail "$path is left behind"; fi
done <"$work/files.txt"
[ ! -e /usr/share/doc/zelvix ] || fail "/usr/share/doc/zelvix is left behind"
echo "package check passed"
