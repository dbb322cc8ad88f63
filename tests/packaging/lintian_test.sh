#!/usr/bin/env bash
# The Debian packages as Debian's own checker sees them: cpack makes them from the build folder
# into a scratch folder, lintian finds no error and no warning in any of them, and the tarvo
# package holds the manual page and the AppStream metadata (lintian does not look for these).
# Usage: lintian_test.sh BUILD_DIR. Exits 77 (skipped) without lintian, cpack or dpkg-shlibdeps.
set -euo pipefail
build="$1"
for tool in lintian cpack dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/setup installs lintian and dpkg-dev)"
    exit 77
  fi
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
  echo "FAILED: cpack -G DEB could not make the packages:"
  cat "$work/cpack.log"
  exit 1
fi
packages=("$work"/*.deb)
[ -f "${packages[0]}" ] || { echo "FAILED: cpack -G DEB made no package"; exit 1; }

status=0
lintian --fail-on error,warning "${packages[@]}" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || { echo "FAILED: lintian reports errors or warnings (status $status)"; exit 1; }

contents="$(dpkg-deb -c "$work"/tarvo_*.deb)"
for file in usr/share/man/man1/tarvo.1.gz usr/share/metainfo/tarvo.metainfo.xml; do
  grep -q " \./$file\$" <<<"$contents" || { echo "FAILED: the tarvo package lacks /$file"; exit 1; }
done
echo "lintian passes ${packages[*]##*/}"
