#!/usr/bin/env bash
# Cross-builds zelvix for aarch64 in build/aarch64 with Debian's cross
# compiler and the arm64 development packages (installed through multiarch
# next to the amd64 ones), then under qemu-aarch64 runs the loader,
# replayer, mixer and audio tests and renders modules that must give the
# same bytes as the x86-64 program of build/release: the demo, two modules
# written by the module writer and, when the corpus is present
# (ZELVIX_CORPUS_DIR, default ../shared/corpus), two real modules. Each is
# rendered with the best instruction set qemu offers (SVE2) and with NEON,
# with and without interpolation and ramping. With the corpus it also runs
# the audio tests' comparison of every instruction set on every real module.
#
#   scripts/aarch64_check.sh     (scripts/test.sh runs it last)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
  "${sudo_cmd[@]}" apt-get update -qq
fi
scripts/install_deps.sh g++-aarch64-linux-gnu qemu-user \
  libhwy-dev:arm64 libgtest-dev:arm64 libsdl2-dev:arm64

# The x86-64 side: the program and the module writer's modules.
scripts/configure_release.sh
cmake --build build/release -j"$jobs" --target zelvix make_fuzz_seeds

# The corpus tests stay off here: under emulation the sweeps over every real
# module would take hours. Its comparison of the instruction sets runs below.
cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DZELVIX_TESTS=ON -DZELVIX_BENCH=OFF -DZELVIX_SANITIZE=OFF -DZELVIX_TSAN=OFF -DZELVIX_FUZZ=OFF \
  -DZELVIX_CORPUS_DIR="$(pwd)/build/aarch64/no-corpus" >/dev/null
cmake --build build/aarch64 -j"$jobs" --target loader_tests replayer_tests mixer_tests audio_tests zelvix
# The other test programs (frontend, tools) start programs of their own and
# are not built: ctest lists them as NOT_BUILT placeholders.
ctest --no-tests=error --output-on-failure -j"$jobs" --test-dir build/aarch64 -E '_NOT_BUILT$'

corpus=${ZELVIX_CORPUS_DIR:-../shared/corpus}
# With the corpus, the first 20 s of every real module must render the same
# bytes with every instruction set (a build of its own: the test programs
# read the corpus folder they were built with).
if [ -d "$corpus" ]; then
  cmake -S . -B build/aarch64-corpus -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DZELVIX_TESTS=ON -DZELVIX_BENCH=OFF -DZELVIX_SANITIZE=OFF -DZELVIX_TSAN=OFF \
    -DZELVIX_FUZZ=OFF -DZELVIX_CORPUS_DIR="$(cd "$corpus" && pwd)" >/dev/null
  cmake --build build/aarch64-corpus -j"$jobs" --target audio_tests
  qemu-aarch64 build/aarch64-corpus/audio_tests --gtest_brief=1 \
    --gtest_filter='Corpus/CorpusRenderTest.EveryInstructionSetRendersTheSameBytes/*'
fi

work=build/aarch64/renders
rm -rf "$work"
mkdir -p "$work/seeds"
build/release/make_fuzz_seeds "$work/seeds" >/dev/null
modules=(examples/demo.xm "$work/seeds/xm0104" "$work/seeds/mod31")
for name in rafkill__song2.xm black-box__ein1.mod; do
  [ -f "$corpus/$name" ] && modules+=("$corpus/$name")
done

# render PROGRAM... -- MODULE OPTIONS...: the WAV file's bytes to stdout.
render() {
  local program=() module
  while [ "$1" != -- ]; do program+=("$1"); shift; done
  shift
  module="$work/$(basename "$1")"
  shift
  # A module that never ends would render up to the 4 GiB limit: bound it.
  timeout 900 "${program[@]}" "$module" --render-to-wav "$@" </dev/null >/dev/null
  cat "$module.wav"
}
failed=0
for module in "${modules[@]}"; do
  ln -sf "$(cd "$(dirname "$module")" && pwd)/$(basename "$module")" "$work/$(basename "$module")"
  for options in "" "--no-intrp --no-vramp"; do
    # shellcheck disable=SC2086  # the options are words
    render build/release/zelvix -- "$module" $options >"$work/x86-64.wav"
    for simd in sve2 neon; do
      # shellcheck disable=SC2086
      render env ZELVIX_SIMD="$simd" qemu-aarch64 build/aarch64/zelvix -- "$module" $options >"$work/aarch64.wav"
      if cmp -s "$work/x86-64.wav" "$work/aarch64.wav"; then
        echo "same bytes: $(basename "$module") ${options:-(defaults)} $simd"
      else
        echo "DIFFERENT BYTES: $(basename "$module") ${options:-(defaults)} $simd" >&2
        failed=1
      fi
    done
  done
done
exit "$failed"
