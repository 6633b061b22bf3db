#!/usr/bin/env bash
# Fails unless the shared library exports exactly the functions its public
# header declares (ZV_API lines), each once, and nothing else: no C++
# symbols, no data, no template instances.
# Usage: scripts/check_exports.sh LIBRARY.so HEADER.h
set -euo pipefail
library=${1:?usage: check_exports.sh LIBRARY.so HEADER.h}
header=${2:?usage: check_exports.sh LIBRARY.so HEADER.h}
declared="$(grep -E '^ZV_API ' "$header" | grep -oE '\bzv_[a-z_0-9]+\(' | tr -d '(' | sort)"
# The version node (an absolute symbol) names the interface's version, not a function.
exported="$(nm -D --defined-only "$library" | awk '$2 != "A" { sub(/@.*/, "", $3); print $2, $3 }' | sort -k2)"
bad=0
others="$(awk '$1 != "T" || $2 !~ /^zv_/' <<<"$exported")"
if [ -n "$others" ]; then
  echo "$library exports what its header does not declare:"
  echo "$others"
  bad=1
fi
if ! diff <(echo "$declared") <(awk '{ print $2 }' <<<"$exported"); then
  echo "the functions $library exports (>) differ from those $header declares (<)"
  bad=1
fi
[ "$bad" -ne 0 ] || echo "$library exports the $(wc -l <<<"$declared") functions of $header and nothing else"
exit "$bad"
