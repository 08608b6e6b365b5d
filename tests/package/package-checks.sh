#!/usr/bin/env bash
# What a Debian packager checks, on the build tree BUILD: package-checks.sh CHECK BUILD, where
# CHECK is lintian (the .deb cpack makes of the tree), hardening (the three binaries),
# appstream (the metainfo and the launcher entry) or manpage.
set -euo pipefail
check=$1 build=$2

lintian_package() {
  output=$(mktemp -d)
  trap 'rm -rf "$output"' EXIT
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$output" >"$output/cpack.log" ||
    { cat "$output/cpack.log"; return 1; }
  local deb=("$output"/*.deb)
  dpkg-deb --info "${deb[0]}"
  # Informational tags are listed, not failed on: they are hints, not faults.
  lintian --fail-on error,warning --display-info --tag-display-limit 0 "${deb[0]}"
}

# Debian 12's C start files carry no CET marking, so the linker marks no program for control-flow
# protection, whatever it was compiled with; that check waits for a CET-built C library.
hardening() {
  hardening-check --nocfprotection "$build/bin/quorvane" "$build/libexec/quorvane/quorvane-agent"
  # Fortified too, but every buffer of the module's fortifiable calls is proven safe or of unknown
  # size (a QByteArray's), which hardening-check reads as no fortification.
  hardening-check --nocfprotection --nofortify "$build/lib/quorvane/quorvane-panel.so"
}

appstream() {
  appstreamcli validate --no-net "$build/data/ru.quorvane.Panel.metainfo.xml"
  desktop-file-validate "$(dirname "$0")/../../data/ru.quorvane.Panel.desktop"
}

# As lintian renders manual pages: any groff warning fails.
manpage() {
  local page=$build/data/quorvane.1 warnings
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "$warnings"; return 1; }
  man -l "$page" | grep -q -- '--read-agent-token'
  man -l "$page"
}

case $check in
lintian) lintian_package ;;
hardening | appstream | manpage) "$check" ;;
*) echo "usage: package-checks.sh lintian|hardening|appstream|manpage BUILD" >&2; exit 2 ;;
esac
