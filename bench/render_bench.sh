#!/usr/bin/env bash
# The whole `zelvix MODULE --render-to-wav` command with ZELVIX_SIMD set to
# each instruction set the build holds and the processor runs: wall time,
# medians of RUNS rounds (default 7), each round running every set once in
# turn, and the ratio of each set's time to the plain loop's ("scalar") in
# the same round, as one table. Then the peak resident memory of one render
# against its bound of twice the module's size plus 16 MiB.
#
#   bench/render_bench.sh BUILD_DIR [MODULE]
#
# With VS=OTHER_BUILD_DIR every round also renders with each set of that
# build's zelvix right after this build's, and the table adds the other
# build's median and the median of this build's time over the other's, round
# by round: a change's cost measured side by side.
#
# MODULE defaults to rafkill__song2.xm of the corpus. The module is linked
# into a temporary folder (under TMPDIR), so its WAV file is written there; a
# TMPDIR on tmpfs keeps the file system's writing costs out of the figures.
set -euo pipefail

build=${1:?usage: render_bench.sh BUILD_DIR [MODULE]}
here=$(cd "$(dirname "$0")" && pwd)
module=${2:-$here/../../shared/corpus/rafkill__song2.xm}
zelvix=$(cd "$build" && pwd)/zelvix
bench=$(cd "$build" && pwd)/zelvix_bench
runs=${RUNS:-7}

[ -x "$zelvix" ] || { echo "no zelvix in $build" >&2; exit 1; }
[ -x "$bench" ] || { echo "no zelvix_bench in $build (it lists the instruction sets)" >&2; exit 1; }
[ -f "$module" ] || { echo "no module $module" >&2; exit 1; }
other=""
if [ -n "${VS:-}" ]; then
  other=$(cd "$VS" && pwd)/zelvix
  [ -x "$other" ] || { echo "no zelvix in $VS" >&2; exit 1; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$module")
ln -s "$(cd "$(dirname "$module")" && pwd)/$name" "$work/$name"
cd "$work"

# The sets, best first, as the benchmark names them: mixRoutine/SET/...
mapfile -t targets < <("$bench" --benchmark_list_tests --benchmark_filter='^mixRoutine/' |
  cut -d/ -f2 | awk '!seen[$0]++')
[ "${targets[-1]}" = scalar ] || { echo "no scalar set listed" >&2; exit 1; }

echo "processor: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(grep -c ^processor /proc/cpuinfo) cores; sets: ${targets[*]}"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
render() {  # one render with ZELVIX_SIMD=$1 by the program $2; prints its wall seconds
  # Each render starts without the file: otherwise it would first pay for
  # truncating the last one's (about 5 ms for 46 MiB on tmpfs here).
  rm -f "$name.wav"
  local start=$EPOCHREALTIME
  ZELVIX_SIMD=$1 "${2:-$zelvix}" "$name" --render-to-wav </dev/null >/dev/null
  echo "$start $EPOCHREALTIME" | awk '{ printf "%.4f\n", $2 - $1 }'
}
for target in "${targets[@]}"; do render "$target" >/dev/null; done  # warm-up
for ((round = 0; round < runs; ++round)); do
  for target in "${targets[@]}"; do
    echo "$round $target $(render "$target")"
    [ -z "$other" ] || echo "$round vs-$target $(render "$target" "$other")"
  done
done >times.txt
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The ratio of each round, then their median: both were timed side by side.
ratio() {  # median over the rounds of the time of $1 over the time of $2
  awk -v a="$1" -v b="$2" '$2 == a { x[$1] = $3 } $2 == b { y[$1] = $3 }
    END { for (r in x) printf "%.4f\n", x[r] / y[r] }' times.txt | median
}
if [ -z "$other" ]; then
  printf '%-8s %14s %22s\n' set "median wall s" "scalar time / set time"
else
  printf '%-8s %14s %22s %14s %20s\n' set "median wall s" "scalar time / set time" "VS median s" "time / VS time"
fi
for target in "${targets[@]}"; do
  wall=$(awk -v t="$target" '$2 == t { print $3 }' times.txt | median)
  if [ -z "$other" ]; then
    printf '%-8s %14.3f %21.2fx\n' "$target" "$wall" "$(ratio scalar "$target")"
  else
    vs_wall=$(awk -v t="vs-$target" '$2 == t { print $3 }' times.txt | median)
    printf '%-8s %14.3f %21.2fx %14.3f %19.3fx\n' "$target" "$wall" "$(ratio scalar "$target")" \
      "$vs_wall" "$(ratio "$target" "vs-$target")"
  fi
done
echo "($runs rounds; audio: $(( ($(stat -c %s "$name.wav") - 44) / 176400 )) s at 44100 Hz)"

/usr/bin/time -f "%M" -o rss.txt "$zelvix" "$name" --render-to-wav < /dev/null > /dev/null
peak_kib=$(tail -n 1 rss.txt)
size=$(stat -c %s "$module")
bound_kib=$(( (2 * size) / 1024 + 16 * 1024 ))
echo "peak resident: ${peak_kib} KiB (bound ${bound_kib} KiB)"
[ "$peak_kib" -le "$bound_kib" ]
