#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*.cpp) with clang in build/fuzz and runs
# each for a bounded time, FUZZ_SECONDS (default 60). Seeds: modules from the
# module writer, the reproducers of past findings (tests/data/fuzz) and, when
# present, the real modules of ../shared/corpus; all are only read, new
# inputs go to a scratch folder under build/fuzz-run. Any finding (crash,
# sanitizer report, broken invariant, time-out, memory limit) fails the script;
# its input is left in build/fuzz-run/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
targets=(load_fuzzer render_fuzzer structured_fuzzer api_fuzzer)

# clang and the libFuzzer runtime of the same version.
scripts/install_deps.sh clang
major="$(clang --version | sed -nE 's/.*clang version ([0-9]+).*/\1/p' | head -n1)"
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  scripts/install_deps.sh "libclang-rt-${major}-dev"
fi

CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIX_FUZZ=ON \
  -DZELVIX_TESTS=OFF -DZELVIX_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target "${targets[@]}" make_fuzz_seeds

run=build/fuzz-run
rm -rf "$run"
mkdir -p "$run/seeds" "$run/findings"
build/fuzz/make_fuzz_seeds "$run/seeds"
corpus="$(pwd)/../shared/corpus"

declare -A max_len=([load_fuzzer]=131072 [render_fuzzer]=65536 [structured_fuzzer]=4096 [api_fuzzer]=65536)
# The C interface's target reads inputs as the render target does, and shares its seeds.
declare -A data=([load_fuzzer]=load [render_fuzzer]=render [structured_fuzzer]=structured [api_fuzzer]=render)
passed=0
failed=0
for target in "${targets[@]}"; do
  dirs=("$run/$target" "$run/seeds" "tests/data/fuzz/${data[$target]}")
  # Real modules suit the targets that read module bytes.
  if [ -d "$corpus" ] && [ "$target" != structured_fuzzer ]; then dirs+=("$corpus"); fi
  mkdir -p "$run/$target"
  echo "fuzzing $target for $seconds s"
  if build/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$target]}" -print_final_stats=1 -artifact_prefix="$run/findings/$target-" \
      "${dirs[@]}" >"$run/$target.log" 2>&1 &&
      [ -z "$(ls -A "$run/findings")" ]; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$run/$target.log" || true
    grep -E '^stat::number_of_executed_units' "$run/$target.log" || true
    passed=$((passed + 1))
  else
    echo "FINDING in $target:"
    tail -n 60 "$run/$target.log"
    ls -l "$run/findings"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
