#!/usr/bin/env bash
# Lists the writable data (symbols in .data, .bss and thread-local sections,
# function-local statics included) of the object files and archives given, and
# fails, naming each, on any that is not process-wide by nature. Everything a
# playing song reads and writes belongs to its engine; what may stay outside
# one is below, as shell patterns over the demangled names.
# Usage: scripts/check_writable_data.sh LIBRARY.a|OBJECT.o...
set -euo pipefail
allowed=(
  # The choice of mixing routines made once at start-up.
  'zv::mixRoutines'
  'zv::(anonymous namespace)::targetInUse'
  'zv::(anonymous namespace)::availableTargets()::list'
  'guard variable for zv::(anonymous namespace)::availableTargets()::list'
  # The loaded SDL library's entry points.
  'zv::(anonymous namespace)::library'
  'zv::(anonymous namespace)::loaded'
  'zv::(anonymous namespace)::sdl'
  # Per-thread caches of values computed from constants only: the mixer's group shapes.
  'zv::N_*::planGroups<*>(*)::shapes'
  # The program's flag that a signal asked it to stop, and the terminal's saved state.
  'zv::running'
  'zv::(anonymous namespace)::savedSettings'
  'zv::(anonymous namespace)::rawSettings'
  'zv::(anonymous namespace)::rawModeEntered'
  'zv::(anonymous namespace)::terminalLeftAlone'
  'zv::(anonymous namespace)::pendingKey'
  # The compiler's own: the exception personality's address.
  'DW.ref.__gxx_personality_v0'
)
[ $# -gt 0 ] || { echo "usage: $0 LIBRARY.a|OBJECT.o..." >&2; exit 2; }
# objdump -t: address, seven flag columns, section, size, name. Objects (O,
# and unique globals, u, as function-local statics of inline code are)
# in writable sections, not the relocated read-only tables (.data.rel.ro).
symbols="$(objdump -t "$@" | sed -nE 's/^[0-9a-f]+ (.{7}) ([^ 	]+)[ 	]+[0-9a-f]+ (\.hidden )?(.*)$/\1 \2 \4/p' |
  awk 'substr($0, 7, 1) == "O" || substr($0, 1, 1) == "u" { section = $(NF - 1); name = $NF
         if (section ~ /^\.(data|bss|tdata|tbss)/ && section !~ /^\.data\.rel\.ro/) print name }' |
  c++filt | sort -u)"
bad=0
echo "writable data of $*:"
while IFS= read -r name; do
  [ -n "$name" ] || continue
  match=""
  for pattern in "${allowed[@]}"; do
    # shellcheck disable=SC2053
    if [[ $name == $pattern ]]; then match="$pattern"; break; fi
  done
  if [ -n "$match" ]; then
    echo "  $name"
  else
    echo "  $name  NOT ALLOWED: it belongs to an engine, or to the list in $0"
    bad=1
  fi
done <<<"$symbols"
exit "$bad"
