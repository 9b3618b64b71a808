#!/bin/sh
# vxmon's options: --help and --version answer without a display; --lang en
# starts the window; a language it does not know is refused with one line and
# exit code 2; without any display it says what to do instead of aborting.
# Usage: check_options.sh PATH-TO-vxmon
vxmon="$1"
out="$VXMON_HOME.out"
fail() { echo "$1"; cat "$out"; exit 1; }

for opt in --help -h; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$vxmon" $opt >"$out" 2>&1 || fail "$opt: exit code $?"
  grep -q '^Usage: vxmon ' "$out" || fail "$opt: no usage"
  grep -q 'xvfb-run' "$out" || fail "$opt: nothing about running without a display"
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$vxmon" --version >"$out" 2>&1 || fail "--version: exit code $?"
grep -Eq '^vxmon [0-9]+\.[0-9]+' "$out" || fail "--version: no version"

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$vxmon" >"$out" 2>&1
rc=$?
[ "$rc" -eq 1 ] || fail "no display: exit code $rc, not 1"
[ "$(wc -l <"$out")" -eq 1 ] && grep -q "xvfb-run -s '-screen 0 1600x1000x24'" "$out" || fail "no display: not one line naming xvfb-run"

VXMON_STARTUP_PROBE=1 "$vxmon" --lang en >"$out" 2>&1
grep -q '^shown ' "$out" || fail "--lang en: the window did not show"
"$vxmon" --lang fr >"$out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "--lang fr: exit code $rc, not 2"
grep -q 'vxmon: --lang: "fr" is not zh or en' "$out" || fail "--lang fr: no message"
echo ok
