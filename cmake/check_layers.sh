#!/bin/sh
# Includes run downward only: each folder of src/ may include what its layer
# may use (docs/architecture.md), and nothing above it. Prints every include
# that breaks this and fails; silent and 0 when none does.
# Usage: check_layers.sh SOURCE-DIR
cd "$1/src" || exit 2
find . \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort | xargs awk '
function allowed(file) {
  if (file ~ /^core\//) return "core/"
  if (file ~ /^window\/handlers\//) return "core/ window/handlers/"
  if (file ~ /^window\/widgets\//) return "core/ window/handlers/ window/widgets/"
  if (file ~ /^window\/tabs\//) return "core/ window/handlers/ window/widgets/ window/tabs/"
  if (file ~ /^window\//) return "core/ window/"
  if (file ~ /^collect\//) return "core/ collect/"
  if (file ~ /^programs\/vxmon\//) return "core/ window/"
  if (file ~ /^programs\/vxcollect\//) return "core/ collect/"
  if (file ~ /^programs\/vxingest\//) return "core/"
  return ""
}
/^#include "/ {
  target = $0
  sub(/^#include "/, "", target); sub(/".*/, "", target)
  if (target !~ /\//) next               # a file beside it (moc, ui)
  n = split(allowed(FILENAME), prefixes, " ")
  ok = 0
  for (i = 1; i <= n; i++) if (index(target, prefixes[i]) == 1) ok = 1
  if (!ok) { printf "src/%s:%d: includes %s, above its layer\n", FILENAME, FNR, target; bad = 1 }
}
END { exit bad }'
