#!/usr/bin/env bash
# The packages as a site gets them: built by cpack from this build tree,
# unpacked into a throw-away root, every file where Debian wants it, the
# programs run from there, and lintian without errors or unexplained warnings.
# Usage: check_packages.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build="$1" source="$2" version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# A service run for a second, then SIGTERM: its exit code in $rc, its output in LOG.
run_briefly() {
  local log="$1"; shift
  set +e
  "$@" >"$log" 2>&1 &
  local pid=$!
  sleep 1
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
  rc=$?
  set -e
}

(cd "$build" && cpack -G DEB -B "$work/dist" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
for p in vxmon vxcollect vxingest vxsim; do
  deb="$work/dist/${p}_${version}_amd64.deb"
  [ -f "$deb" ] || fail "no $p package for version $version: $(ls "$work/dist")"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$p: version $(dpkg-deb -f "$deb" Version)"
  dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6' || fail "$p: library dependencies not computed"
  dpkg -x "$deb" "$work/root"
  dpkg-deb -e "$deb" "$work/control-$p"
  [ -s "$work/root/usr/share/doc/$p/copyright" ] || fail "$p: no copyright"
  gzip -t "$work/root/usr/share/doc/$p/changelog.gz" || fail "$p: changelog"
  gzip -t "$work/root/usr/share/man/man1/$p.1.gz" || fail "$p: manual page"
done
root="$work/root"

# The window: program, menu entry (Chinese and English names), icons, metainfo.
[ -x "$root/usr/bin/vxmon" ] || fail "vxmon not in /usr/bin"
desktop="$root/usr/share/applications/vxmon.desktop"
desktop-file-validate "$desktop" || fail "desktop entry"
grep -q '^Name=' "$desktop" && grep -q '^Name\[zh_CN\]=' "$desktop" || fail "desktop entry names"
for size in 16 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/vxmon.png" | grep -q "PNG image data, $size x $size" \
    || fail "icon ${size}x${size}"
done
[ -s "$root/usr/share/icons/hicolor/scalable/apps/vxmon.svg" ] || fail "scalable icon"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.vxmon.vxmon.metainfo.xml" >/dev/null || fail "metainfo"
grep -q "version=\"$version\"" "$root/usr/share/metainfo/org.vxmon.vxmon.metainfo.xml" || fail "metainfo release"

# The service: program, unit, a conffile, the user and the enabled-not-started unit in postinst.
[ "$("$root/usr/bin/vxcollect" --version)" = "vxcollect $version" ] || fail "vxcollect --version"
unit="$root/lib/systemd/system/vxcollect.service"
grep -q '^User=vxcollect$' "$unit" && grep -q '^SupplementaryGroups=dialout$' "$unit" \
  && grep -q '^StateDirectory=vxcollect$' "$unit" && grep -q 'ExecStart=/usr/bin/vxcollect --config /etc/vxcollect/vxcollect.conf' "$unit" \
  || fail "unit"
# Hardened: systemd's own analyser rates its exposure under 4.0 (of 10).
if command -v systemd-analyze >/dev/null; then
  systemd-analyze security --offline=yes --threshold=40 "$unit" >/dev/null 2>&1 \
    || fail "unit exposure: $(systemd-analyze security --offline=yes "$unit" 2>&1 | grep Overall)"
fi
[ -s "$root/etc/vxcollect/vxcollect.conf" ] || fail "no /etc/vxcollect/vxcollect.conf"
grep -qx /etc/vxcollect/vxcollect.conf "$work/control-vxcollect/conffiles" || fail "the configuration is no conffile"
post="$work/control-vxcollect/postinst"
[ -x "$post" ] && [ -x "$work/control-vxcollect/prerm" ] && [ -x "$work/control-vxcollect/postrm" ] || fail "maintainer scripts"
for s in postinst prerm postrm; do sh -n "$work/control-vxcollect/$s" || fail "$s syntax"; done
grep -q 'adduser --system --group' "$post" && grep -q 'adduser vxcollect dialout' "$post" \
  && grep -q "deb-systemd-helper enable 'vxcollect.service'" "$post" || fail "postinst: user, dialout, enable"
if grep -E "deb-systemd-invoke (start|restart) " "$post"; then fail "postinst starts the service"; fi
# Its INI file is one vxcollect reads: with a port named, the configuration is accepted.
conf="$work/vxcollect.conf"
sed 's|^port=.*|port=/dev/null|' "$root/etc/vxcollect/vxcollect.conf" >"$conf"
run_briefly "$work/run.log" "$root/usr/bin/vxcollect" --config "$conf" --dir "$work" --metrics off --store "$work/v.db"
[ "$rc" -ne 2 ] || { cat "$work/run.log"; fail "the packaged configuration is refused"; }

# The central ingester: program, unit, a conffile, its user, enabled but not started.
[ "$("$root/usr/bin/vxingest" --version)" = "vxingest $version" ] || fail "vxingest --version"
unit="$root/lib/systemd/system/vxingest.service"
grep -q '^User=vxingest$' "$unit" && grep -q 'ExecStart=/usr/bin/vxingest --config /etc/vxingest/vxingest.conf' "$unit" \
  || fail "vxingest unit"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze security --offline=yes --threshold=40 "$unit" >/dev/null 2>&1 \
    || fail "vxingest unit exposure: $(systemd-analyze security --offline=yes "$unit" 2>&1 | grep Overall)"
fi
grep -qx /etc/vxingest/vxingest.conf "$work/control-vxingest/conffiles" || fail "vxingest's configuration is no conffile"
post="$work/control-vxingest/postinst"
for s in postinst prerm postrm; do sh -n "$work/control-vxingest/$s" || fail "vxingest $s syntax"; done
grep -q 'adduser --system --group' "$post" && grep -q "deb-systemd-helper enable 'vxingest.service'" "$post" \
  || fail "vxingest postinst: user, enable"
if grep -E "deb-systemd-invoke (start|restart) " "$post"; then fail "vxingest postinst starts the service"; fi
# Its INI file is read: every key accepted (a wrong one would exit 2 at once).
run_briefly "$work/ingest.log" "$root/usr/bin/vxingest" --config "$root/etc/vxingest/vxingest.conf" --metrics off \
  --mqtt 127.0.0.1:1
[ "$rc" -eq 0 ] || { cat "$work/ingest.log"; fail "the packaged vxingest configuration is refused ($rc)"; }
grep -q 'storing in postgresql://vx@localhost:5432/depots' "$work/ingest.log" || { cat "$work/ingest.log"; fail "vxingest did not read its configuration"; }

# The simulator.
help="$("$root/usr/bin/vxsim" --help 2>&1)" || fail "vxsim --help: exit code"
grep -q -- '--link' <<<"$help" || fail "vxsim --help: $help"

# lintian: no error; a warning fails unless packaging/lintian.md explains it (and it is suppressed).
lintian --fail-on error,warning --suppress-tags-from-file "$source/packaging/lintian-suppressed" \
  "$work"/dist/*.deb 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error,warning --suppress-tags-from-file "$source/packaging/lintian-suppressed" \
  "$work"/dist/*.deb >/dev/null 2>&1 || fail "lintian"
echo "packages ok: $(cd "$work/dist" && ls ./*.deb | tr '\n' ' ')"
