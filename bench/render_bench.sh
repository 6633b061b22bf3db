#!/bin/sh
# The whole `zelvix MODULE --render-to-wav` command: wall time (median of 5
# runs, with hyperfine when installed) and peak resident memory against its
# bound of twice the module's size plus 16 MiB.
#
#   bench/render_bench.sh BUILD_DIR [MODULE]
#
# MODULE defaults to rafkill__song2.xm of the corpus. The module is linked
# into a temporary folder, so its WAV file is written there.
set -eu

build=${1:?usage: render_bench.sh BUILD_DIR [MODULE]}
here=$(cd "$(dirname "$0")" && pwd)
module=${2:-$here/../../shared/corpus/rafkill__song2.xm}
zelvix=$(cd "$build" && pwd)/zelvix

[ -x "$zelvix" ] || { echo "no zelvix in $build" >&2; exit 1; }
[ -f "$module" ] || { echo "no module $module" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$module")
ln -s "$(cd "$(dirname "$module")" && pwd)/$name" "$work/$name"
cd "$work"

if command -v hyperfine >/dev/null 2>&1; then
  hyperfine --runs 5 --warmup 1 --export-json times.json \
    "'$zelvix' '$name' --render-to-wav < /dev/null > /dev/null"
  median=$(sed -n 's/.*"median": *\([0-9.]*\).*/\1/p' times.json | head -n 1)
  echo "median wall: ${median} s"
else
  for run in 1 2 3 4 5; do
    /usr/bin/time -f "%e s" "$zelvix" "$name" --render-to-wav < /dev/null > /dev/null
  done
fi

/usr/bin/time -f "%M" -o rss.txt "$zelvix" "$name" --render-to-wav < /dev/null > /dev/null
peak_kib=$(tail -n 1 rss.txt)
size=$(stat -c %s "$module")
bound_kib=$(( (2 * size) / 1024 + 16 * 1024 ))
data=$(( $(stat -c %s "$name.wav") - 44 ))
echo "audio: $(( data / 176400 )) s at 44100 Hz"
echo "peak resident: ${peak_kib} KiB (bound ${bound_kib} KiB)"
[ "$peak_kib" -le "$bound_kib" ]
