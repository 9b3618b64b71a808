#!/bin/sh
# vxmon --lang: English starts the window; a language it does not know is
# refused with one line and exit code 2.
# Usage: check_lang.sh PATH-TO-vxmon
vxmon="$1"
VXMON_STARTUP_PROBE=1 "$vxmon" --lang en >"$VXMON_HOME.out" 2>&1
grep -q '^shown ' "$VXMON_HOME.out" || { echo "--lang en: the window did not show"; cat "$VXMON_HOME.out"; exit 1; }
"$vxmon" --lang fr >"$VXMON_HOME.out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || { echo "--lang fr: exit code $rc, not 2"; exit 1; }
grep -q 'vxmon: --lang: "fr" is not zh or en' "$VXMON_HOME.out" || { echo "--lang fr: no message"; cat "$VXMON_HOME.out"; exit 1; }
echo ok
