#!/usr/bin/env bash
# Builds the Debian package from a built tree into WORK_DIR and checks it as a
# packager would: lintian --pedantic -I finds no error, no warning and none of
# the hardening or stripping findings; the version, the completion and
# stack-protected programs are there.
# Usage: check-package.sh BUILD_DIR WORK_DIR VERSION
set -uo pipefail
build=$1 work=$2 version=$3
if ! command -v lintian >/dev/null; then
  echo "SKIP: lintian is not installed (scripts/setup.sh installs it); the package was not checked"
  exit 77
fi
failed=0
fail() { echo "$*"; failed=1; }

rm -rf "$work" && mkdir -p "$work" || exit 1
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb="$work/qvloader_${version}_amd64.deb"
[ -f "$deb" ] || { fail "no $deb"; ls "$work"; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

# What lintian does not look for: the completion files, the stack protector.
root="$work/root"
dpkg-deb -x "$deb" "$root" || exit 1
for program in qvflash qvsim; do
  [ -f "$root/usr/share/bash-completion/completions/$program" ] || fail "the package lacks completion for $program"
done
for program in "$root"/usr/bin/*; do
  [[ $(readelf --dyn-syms -W "$program") == *__stack_chk_fail* ]] || fail "${program#"$root"} has no stack protector"
done

findings=$(lintian --pedantic -I "$deb" 2>&1 | grep -v '^running with root privileges')
echo "lintian --pedantic -I: ${findings:-no findings}"
grep -qE '^[EW]: ' <<<"$findings" && fail "lintian reports errors or warnings"
grep -qE '^[IP]: [^ ]+ (hardening-|binary-has-unneeded-section|desktop-entry-lacks-)' <<<"$findings" &&
  fail "lintian reports unhardened or unstripped programs, or incomplete desktop entries"

[ $failed -eq 0 ] && echo "Debian package: ok"
exit $failed
