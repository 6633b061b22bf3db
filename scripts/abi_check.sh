#!/usr/bin/env bash
# Compares the interface of libzelvix.so.1 in a build folder with the ABI
# baseline packaging/libzelvix.so.1.abi with abidiff (abigail-tools): a
# function or variable removed or changed (its parameters, its result, or a
# type of include/zelvix/zelvix.h that they use), or another SONAME, fails
# the check; added functions are reported and pass. What the opaque handle
# zv_module holds is the library's own and does not count. Then the check
# checks itself on doctored copies of the baseline: the library against one
# whose zv_render returns int must fail; against one without zv_version
# (which the library then adds) it must pass, and that copy against the
# baseline (zv_version removed) must fail. Called by scripts/test.sh after
# the release build.
#
#   scripts/abi_check.sh [BUILD]                   check BUILD (build/release)
#   scripts/abi_check.sh --write-baseline [BUILD]  write the baseline from BUILD
#
# The baseline changes only with the interface: after adding functions (or,
# with a new SONAME, after an incompatible change), regenerate it from the
# optimised build and commit it:
#   scripts/configure_release.sh && cmake --build build/release -j2 --target zelvix_shared
#   scripts/abi_check.sh --write-baseline build/release
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh abigail-tools
write=no
if [ "${1:-}" = --write-baseline ]; then
  write=yes
  shift
fi
build="${1:-build/release}"
library="$build/libzelvix.so.1"
baseline=packaging/libzelvix.so.1.abi
fail() { echo "abi check: $*" >&2; exit 1; }
[ -f "$library" ] || fail "no $library: build the target zelvix_shared first"

if [ "$write" = yes ]; then
  # No paths of this machine in the file: only file names in locations.
  abidw --no-corpus-path --no-comp-dir-path --short-locs --out-file "$baseline" "$library"
  echo "wrote $baseline from $library"
  exit 0
fi
[ -f "$baseline" ] || fail "no $baseline"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The header declares zv_module without its members, so changes inside it
# (the engine) are no interface change. (abidiff's --headers-dir would also
# drop types from other headers, size_t and int16_t among them, and with
# them changes of the functions' signatures.)
cat >"$work/suppressions" <<'EOF'
[suppress_type]
  name = zv_module
EOF

# Compares the interface $1 (the old one: a baseline or a library) with $2
# (the new one), prints abidiff's report, and returns 0 when $2 is $1 or
# only adds to it, 1 when it removes or changes anything or abidiff fails.
compare() {
  local report status=0
  report="$(abidiff --no-architecture --suppressions "$work/suppressions" "$1" "$2")" || status=$?
  [ -z "$report" ] || printf '%s\n' "$report"
  # abidiff's status: bit 1 an error, 2 a usage error, 4 a change, 8 an
  # incompatible one (a symbol removed); a changed signature sets 4 only.
  if (( status & 3 )); then
    echo "abidiff failed with status $status" >&2
    return 1
  fi
  if (( status & 8 )) || grep -Eq '[1-9][0-9]* (Removed|Changed)|SONAME changed' <<<"$report"; then
    return 1
  fi
  return 0
}

echo "== $library against $baseline"
# The library must carry the interface's types (src/api is built with -g);
# without them abidiff would compare symbol names only.
readelf -S --wide "$library" >"$work/sections.txt"
grep -q ' \.debug_info ' "$work/sections.txt" || fail "$library has no debug information for its interface"
compare "$baseline" "$library" ||
  fail "$library changes or removes what $baseline has: an incompatible interface change"
echo "no incompatible change"

echo "== self-test"
int_type="$(grep -m 1 -oE "<type-decl name='int' size-in-bits='32' id='[^']+'" "$baseline" | sed -E "s/.*id='([^']+)'/\1/")" || true
[ -n "$int_type" ] || fail "no int type in $baseline"
sed -E "/<function-decl name='zv_render'/,/<\/function-decl>/ s/<return type-id='[^']+'/<return type-id='$int_type'/" \
  "$baseline" >"$work/changed.abi"
sed -E "/<function-decl name='zv_version'/,/<\/function-decl>/d; /<elf-symbol name='zv_version'/d" \
  "$baseline" >"$work/fewer.abi"
if cmp -s "$baseline" "$work/changed.abi" || cmp -s "$baseline" "$work/fewer.abi"; then
  fail "a doctored copy of $baseline is the baseline itself"
fi
if compare "$work/changed.abi" "$library" >"$work/changed.txt" ||
    ! grep -q "zv_render" "$work/changed.txt"; then
  cat "$work/changed.txt"
  fail "the check passed a library whose zv_render returns another type than the baseline's"
fi
if ! compare "$work/fewer.abi" "$library" >"$work/fewer.txt" ||
    ! grep -q "\[A\] 'function const char\* zv_version()'" "$work/fewer.txt"; then
  cat "$work/fewer.txt"
  fail "the check did not pass and report a library that adds zv_version"
fi
if compare "$baseline" "$work/fewer.abi" >"$work/removed.txt"; then
  cat "$work/removed.txt"
  fail "the check passed an interface without zv_version"
fi
echo "a changed signature and a removed function fail, an added function passes"
echo "abi check passed"
