#!/usr/bin/env bash
# Installs what is missing, builds zelvix twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole test suite
# in both builds; then runs the live-play tests (main thread and sound thread
# sharing the replayer) in a ThreadSanitizer build; then a load, render and
# release under valgrind's memcheck, and each fuzz target for a bounded time
# (FUZZ_SECONDS, default 60; scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
jobs="$(nproc)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIX_SANITIZE=ON -DZELVIX_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIX_TSAN=ON -DZELVIX_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target frontend_tests
ctest --test-dir build/tsan --output-on-failure -j"$jobs" -R '^LivePlay'
scripts/valgrind_check.sh
scripts/fuzz.sh
