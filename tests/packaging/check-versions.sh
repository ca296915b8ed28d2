#!/usr/bin/env bash
# The product version agrees everywhere: each program's --version, the
# package's file name in the README and the Debian changelog's latest entry.
# Usage: check-versions.sh VERSION SOURCE_DIR NAME=PROGRAM ...
set -uo pipefail
version=$1 src=$2; shift 2
failed=0
fail() { echo "$*"; failed=1; }

for pair in "$@"; do
  name=${pair%%=*} program=${pair#*=}
  out=$("$program" --version 2>&1)
  [ "$out" = "$name $version" ] || fail "$name --version printed '$out', not '$name $version'"
done

readme_versions=$(grep -oE 'qvloader_[^_ ]+_amd64\.deb' "$src/README.md" | sed -E 's/qvloader_(.*)_amd64\.deb/\1/' | sort -u)
[ -n "$readme_versions" ] || fail "README.md names no package file qvloader_VERSION_amd64.deb"
for v in $readme_versions; do
  [ "$v" = "$version" ] || fail "README.md names the package of version $v, not $version"
done

latest=$(head -n 1 "$src/packaging/debian/changelog.in")
[[ $latest == "qvloader ($version) "* ]] ||
  fail "packaging/debian/changelog.in begins with '$latest': add an entry for $version"

[ $failed -eq 0 ] && echo "version $version: $# programs, README.md and the changelog agree"
exit $failed
