#!/usr/bin/env bash
# Checks what the optimised build in build/release installs and packages:
# the manual pages clean under `mandoc -T lint` down to style messages;
# `cmake --install` puts exactly the programs, libraries, header, zelvix.pc,
# CMake package, manual pages, README and licence in place; `cpack -G DEB`
# makes the four packages zelvix, libzelvix1, libzelvix-dev and
# python3-zelvix, each with the fields and files Debian wants, which lintian
# passes without errors or warnings; apt-get installs them; the zelvix on
# PATH renders the demo as the build does and man finds the pages;
# examples/render.c, built against the installed library through pkg-config
# (shared and static) and through find_package (shared and static), renders
# the same bytes; python3 imports the installed module and, where
# python/tests exists, its tests pass against the installed library; and
# purging the packages leaves nothing behind. Called by scripts/test.sh after
# the release build.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build=build/release
scripts/install_deps.sh mandoc lintian man-db dpkg-dev binutils gcc python3
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
work="$(mktemp -d)"
packages=(zelvix libzelvix1 libzelvix-dev python3-zelvix)
# A check that fails after installing the packages purges them, so that the
# next run does not find them installed and skip the install.
installed_here=no
cleanup() {
  if [ "$installed_here" = yes ]; then
    "${sudo_cmd[@]}" apt-get purge -y -qq "${packages[@]}" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
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
debs=()
for package in "${packages[@]}"; do
  package_arch="$arch"
  [ "$package" = python3-zelvix ] && package_arch=all
  debs+=("build/package/${package}_${version}_${package_arch}.deb")
done
# Checks the fields of package $1 in file $2: section $3, Depends matching the
# extended regular expression $4, and exactly the files (not folders) $5.
check_deb() {
  local name="$1" deb="$2" section="$3" depends="$4" files="$5"
  [ -f "$deb" ] || fail "no $deb"
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = "$name" ] || fail "$deb is package $(field Package)"
  [ "$(field Section)" = "$section" ] || fail "$name: section $(field Section)"
  [ -n "$(field Maintainer)" ] || fail "$name: no maintainer"
  [ "$(field Description | wc -l)" -gt 2 ] || fail "$name: no long description"
  echo "$name Depends: $(field Depends)"
  field Depends | grep -Eq "$depends" || fail "$name: Depends does not match $depends"
  local contents
  contents="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')"
  [ "$contents" = "$files" ] || fail "$name holds: $contents"
}
usr_lib="./usr/lib/$multiarch"
doc() { echo "./usr/share/doc/$1/changelog.gz ./usr/share/doc/$1/copyright"; }
# Live play loads libSDL2 at run time; the package must still bring it.
check_deb zelvix "${debs[0]}" sound 'libsdl2-2\.0-0 ' \
  "./usr/bin/zelvix ./usr/bin/zvtrace ./usr/share/doc/zelvix/README.md $(doc zelvix) \
./usr/share/man/man1/zelvix.1.gz ./usr/share/man/man1/zvtrace.1.gz "
check_deb libzelvix1 "${debs[1]}" libs 'libstdc\+\+6' \
  "$usr_lib/libzelvix.so.1 $usr_lib/libzelvix.so.$version $(doc libzelvix1) "
check_deb libzelvix-dev "${debs[2]}" libdevel "^libzelvix1 \(= $version\)$" \
  "./usr/include/zelvix/zelvix.h $usr_lib/cmake/zelvix/zelvixConfig.cmake \
$usr_lib/cmake/zelvix/zelvixConfigVersion.cmake $usr_lib/cmake/zelvix/zelvixTargets-release.cmake \
$usr_lib/cmake/zelvix/zelvixTargets.cmake $usr_lib/libzelvix.a $usr_lib/libzelvix.so \
$usr_lib/pkgconfig/zelvix.pc $(doc libzelvix-dev) ./usr/share/man/man3/zelvix.3.gz "
python_files="$(cd python && find zelvix -name '*.py' | sort | sed 's|^|./usr/lib/python3/dist-packages/|' | tr '\n' ' ')"
check_deb python3-zelvix "${debs[3]}" python "^python3, libzelvix1 \(= $version\)$" \
  "$python_files$(doc python3-zelvix) "
# Programs built against this version need it or a later one; the loader's
# cache is refreshed by the trigger, not by maintainer scripts.
mkdir "$work/control"
dpkg-deb -e "${debs[1]}" "$work/control"
[ "$(cat "$work/control/shlibs")" = "libzelvix 1 libzelvix1 (>= $version)" ] ||
  fail "libzelvix1 shlibs: $(cat "$work/control/shlibs")"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "libzelvix1 has no ldconfig trigger"
for deb in "${debs[@]}"; do
  echo "-- $deb"
  dpkg-deb -c "$deb" | awk '{print $6, $7, $8}'
done

echo "== lintian"
lintian --fail-on error,warning --display-info "${debs[@]}"

echo "== apt-get install"
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "$package is already installed on this machine: install and removal not checked"
    exit 0
  fi
done
dpkg-query -W -f='${Package} ${Version} ${Status}\n' | sort >"$work/before.txt"
export DEBIAN_FRONTEND=noninteractive
installed_here=yes
"${sudo_cmd[@]}" apt-get install -y -qq "${debs[@]/#/./}" >/dev/null
for package in "${packages[@]}"; do dpkg-query -L "$package"; done | sort -u >"$work/files.txt"
[ "$(command -v zelvix)" = /usr/bin/zelvix ] || fail "zelvix on PATH is $(command -v zelvix)"
man -w zelvix | grep -qx /usr/share/man/man1/zelvix.1.gz || fail "man -w zelvix: $(man -w zelvix)"
man -w zvtrace >/dev/null || fail "man finds no zvtrace page"
man -w 3 zelvix | grep -qx /usr/share/man/man3/zelvix.3.gz || fail "man -w 3 zelvix: $(man -w 3 zelvix)"
mkdir -p "$work/installed" "$work/built"
cp examples/demo.xm "$work/installed/demo.xm"
cp examples/demo.xm "$work/built/demo.xm"
(cd "$work/installed" && zelvix demo.xm --render-to-wav </dev/null >/dev/null)
(cd "$work/built" && "$root/$build/zelvix" demo.xm --render-to-wav </dev/null >/dev/null)
reference="$work/built/demo.xm.wav"
cmp "$work/installed/demo.xm.wav" "$reference" || fail "the installed zelvix renders other bytes"
echo "installed zelvix rendered $(stat -c %s "$work/installed/demo.xm.wav") bytes"

echo "== examples/render.c against the installed library"
# pkg-config: the shared library, and the static one with Libs.private.
mkdir "$work/render"
cp examples/render.c examples/demo.xm "$work/render/"
cd "$work/render"
# shellcheck disable=SC2046  # the flags are words
cc -std=c99 -Wall -Wextra -o render-pc render.c $(pkg-config --cflags --libs zelvix)
static_libs="$(pkg-config --static --libs zelvix)"
# shellcheck disable=SC2046,SC2086
cc -std=c99 -Wall -Wextra -o render-pc-static render.c $(pkg-config --cflags zelvix) ${static_libs/-lzelvix/-l:libzelvix.a}
cat >CMakeLists.txt <<'EOF'
cmake_minimum_required(VERSION 3.22)
project(render_check C)
find_package(zelvix 1 REQUIRED)
add_executable(render-cmake render.c)
target_link_libraries(render-cmake PRIVATE zelvix::zelvix)
# The static library is C++ inside: its link goes through the C++ compiler.
enable_language(CXX)
add_executable(render-cmake-static render.c)
target_link_libraries(render-cmake-static PRIVATE zelvix::zelvix_static)
EOF
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
for program in ./render-pc ./render-pc-static build/render-cmake build/render-cmake-static; do
  needs_library=no
  readelf -d "$program" >dynamic.txt
  grep -q 'NEEDED.*\[libzelvix\.so\.1\]' dynamic.txt && needs_library=yes
  case "$program" in
    *static) [ "$needs_library" = no ] || fail "$program is linked to libzelvix.so.1" ;;
    *) [ "$needs_library" = yes ] || fail "$program is not linked to libzelvix.so.1" ;;
  esac
  rm -f out.wav
  "$program" demo.xm out.wav
  cmp out.wav "$reference" || fail "$program renders other bytes than zelvix --render-to-wav"
  echo "$program rendered the same bytes"
done
cd "$root"

echo "== python3 -c 'import zelvix'"
# Debian's python3, which the package is for (another one may come first on PATH).
python=/usr/bin/python3
module="$(cd "$work" && env -u ZELVIX_LIBRARY -u PYTHONPATH "$python" -c 'import zelvix; print(zelvix.__file__)')"
[ "$module" = /usr/lib/python3/dist-packages/zelvix/__init__.py ] || fail "python3 imports zelvix from $module"
if [ -d python/tests ]; then
  cp -r python/tests "$work/python-tests"
  (cd "$work" && env -u ZELVIX_LIBRARY -u PYTHONPATH ZELVIX_PROGRAM="$root/$build/zelvix" \
    "$python" -m unittest discover -s "$work/python-tests" -v) || fail "the Python tests fail against the installed packages"
fi

echo "== apt-get purge"
"${sudo_cmd[@]}" apt-get purge -y -qq "${packages[@]}" >/dev/null
installed_here=no
dpkg-query -W -f='${Package} ${Version} ${Status}\n' | sort >"$work/after.txt"
diff "$work/before.txt" "$work/after.txt" || fail "the set of installed packages changed"
while read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then fail "$path is left behind"; fi
done <"$work/files.txt"
for folder in /usr/share/doc/zelvix /usr/share/doc/libzelvix1 /usr/share/doc/libzelvix-dev \
    /usr/share/doc/python3-zelvix /usr/include/zelvix "/usr/lib/$multiarch/cmake/zelvix" \
    /usr/lib/python3/dist-packages/zelvix; do
  [ ! -e "$folder" ] || fail "$folder is left behind"
done
ldconfig -p >"$work/ldconfig.txt"
if grep -q libzelvix "$work/ldconfig.txt"; then fail "the loader's cache still lists libzelvix"; fi
echo "package check passed"
