#!/usr/bin/env bash
# Fails, naming file and line, on any #include in src/ of a folder that stands
# above the including file's own. The layers, from the top down: frontend, api,
# audio, loader, replayer, mixer, core. Checks the tree at $1 (default: this
# checkout).
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' src | awk -F: '
  BEGIN { n = split("core mixer replayer loader audio api frontend", order, " ")
          for (i = 1; i <= n; ++i) rank[order[i]] = i }
  { split($1, path, "/"); own = path[2]
    text = substr($0, length($1) + length($2) + 3)
    match(text, /"[^"\/]+\//); dir = substr(text, RSTART + 1, RLENGTH - 2)
    if (!(own in rank) || !(dir in rank) || rank[dir] > rank[own]) {
      printf "%s:%s: %s/ includes %s/, which is not below it\n", $1, $2, own, dir; bad = 1 } }
  END { exit bad }'
