#!/usr/bin/env bash
# Installs what is missing, builds zelvix twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer), checks the library's
# writable data, and runs the whole test suite in both builds (the live-play
# tests through a private sound server run one at a time, as they time the
# sound under load); after the optimised build's
# tests, checks the shared library's interface against the ABI baseline
# (scripts/abi_check.sh, which also makes sure it fails on a changed
# signature) and the install target, the manual pages and the Debian
# packages (scripts/package_check.sh); then builds the program in the Debug
# configuration and compares its renders of the demo with the optimised
# build's; then runs the live-play tests (main thread and
# sound thread sharing the replayer) in a ThreadSanitizer build; then a load,
# render and release under valgrind's memcheck, each fuzz target for a
# bounded time (FUZZ_SECONDS, default 60; scripts/fuzz.sh), and the aarch64
# cross build's tests and renders under qemu (scripts/aarch64_check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# The live-play tests play through private PulseAudio and PipeWire servers
# (WirePlumber needs a session bus) and record them with parec.
scripts/install_deps.sh pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
jobs="$(nproc)"
scripts/check_layers.sh
# The layer check itself must catch an upward include planted in a copy of src/.
planted="$(mktemp -d)"
cp -r src "$planted/"
echo '#include "audio/player.h"' >>"$planted/src/core/limits.h"
if ! planted_report="$(scripts/check_layers.sh "$planted")" &&
    grep -q '^src/core/limits.h:[0-9]*: core/ includes audio/' <<<"$planted_report"; then
  rm -rf "$planted"
else
  echo "the layer check missed an upward include planted in $planted/src/core/limits.h"
  exit 1
fi
# Every ctest call fails when it finds no tests: a build without them never passes.
run_ctest() { ctest --no-tests=error --output-on-failure -j"$jobs" --test-dir "$@"; }
scripts/configure_release.sh
cmake --build build/release -j"$jobs"
# A playing song's state belongs to its engine: the library keeps no other
# writable data than what the check lists, and the check itself must catch
# a global planted beside it.
scripts/check_writable_data.sh build/release/libzelvix_core.a
planted="$(mktemp -d)"
echo 'namespace zv { int plantedState = 1; }' >"$planted/planted.cpp"
c++ -c -o "$planted/planted.o" "$planted/planted.cpp"
if ! planted_report="$(scripts/check_writable_data.sh build/release/libzelvix_core.a "$planted/planted.o")" &&
    grep -q '^  zv::plantedState  NOT ALLOWED' <<<"$planted_report"; then
  rm -rf "$planted"
else
  echo "the writable-data check missed a global planted in $planted/planted.o"
  exit 1
fi
# The export check (a test of the suite) must catch what a library without
# the export list would show: a function the header does not declare, C++ symbols.
planted="$(mktemp -d)"
printf '%s\n' 'extern "C" __attribute__((visibility("default"))) int zv_planted() { return 0; }' \
  'namespace zv { int plantedFunction() { return 1; } }' >"$planted/planted.cpp"
c++ -shared -fPIC -o "$planted/libplanted.so" "$planted/planted.cpp"
if ! planted_report="$(scripts/check_exports.sh "$planted/libplanted.so" include/zelvix/zelvix.h)" &&
    grep -q 'zv_planted' <<<"$planted_report" && grep -q 'plantedFunction' <<<"$planted_report"; then
  rm -rf "$planted"
else
  echo "the export check missed what $planted/libplanted.so exports"
  exit 1
fi
run_ctest build/release
scripts/abi_check.sh build/release
scripts/package_check.sh
# Every build type links: a Debug build compiles Highway's debug checks in,
# which call what mixer/mix_routines.cpp then supplies. Its renders of the
# demo on each instruction set, with the checks running, are the optimised
# build's bytes.
cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug -DZELVIX_TESTS=OFF -DZELVIX_BENCH=OFF \
  -DZELVIX_SANITIZE=OFF -DZELVIX_TSAN=OFF -DZELVIX_FUZZ=OFF >/dev/null
cmake --build build/debug -j"$jobs" --target zelvix
debug_run=build/debug-run
rm -rf "$debug_run"
mkdir -p "$debug_run"
cp examples/demo.xm "$debug_run/release.xm"
build/release/zelvix "$debug_run/release.xm" --render-to-wav </dev/null >/dev/null
sets=(avx512 avx2 sse4 scalar)
if [ "$(uname -m)" = aarch64 ]; then sets=(sve2 sve neon scalar); fi
for set in "${sets[@]}"; do
  cp examples/demo.xm "$debug_run/$set.xm"
  ZELVIX_SIMD="$set" build/debug/zelvix "$debug_run/$set.xm" --render-to-wav </dev/null >/dev/null
  cmp "$debug_run/release.xm.wav" "$debug_run/$set.xm.wav"
done
rm -rf "$debug_run"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIX_TESTS=ON -DZELVIX_SANITIZE=ON \
  -DZELVIX_TSAN=OFF -DZELVIX_BENCH=OFF -DZELVIX_FUZZ=OFF >/dev/null
cmake --build build/asan -j"$jobs"
run_ctest build/asan
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIX_TESTS=ON -DZELVIX_SANITIZE=OFF \
  -DZELVIX_TSAN=ON -DZELVIX_BENCH=OFF -DZELVIX_FUZZ=OFF >/dev/null
# Thread checks of live play, of renders (replayer, mixing and writing on
# threads of their own), of engines rendering side by side, and of the C
# interface's handles rendering on eight threads at once.
cmake --build build/tsan -j"$jobs" --target frontend_tests audio_tests threads_test
run_ctest build/tsan -R '^(LivePlay|RenderTest\.|SongRenderTest\.|EnginesTogether\.|ApiThreads$)'
scripts/valgrind_check.sh
scripts/fuzz.sh
scripts/aarch64_check.sh
