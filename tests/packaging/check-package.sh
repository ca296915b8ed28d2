#!/usr/bin/env bash
# Builds the Debian package from a built tree into WORK_DIR and checks it as a
# packager would: lintian --pedantic -I finds no error, no warning and none of
# the hardening or stripping findings; the control fields, the documents
# Debian wants (compressed with gzip -9n) and stack-protected programs are there.
# Usage: check-package.sh BUILD_DIR WORK_DIR VERSION MAINTAINER
set -uo pipefail
build=$1 work=$2 version=$3 maintainer=$4
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

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Maintainer)" = "$maintainer" ] || fail "Maintainer is '$(field Maintainer)', not '$maintainer'"

root="$work/root"
dpkg-deb -x "$deb" "$root" || exit 1
doc="$root/usr/share/doc/qvloader"
wanted=("$doc/copyright" "$doc/changelog.gz" /usr/share/bash-completion/completions/qvflash
        /usr/share/bash-completion/completions/qvsim)
for program in qvloader qvdemo qvflash qvsim; do
  wanted+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
for path in "${wanted[@]}"; do
  [[ $path == "$root"* ]] || path="$root$path"
  [ -e "$path" ] || fail "the package lacks ${path#"$root"}"
done

# gzip -9n: no name (flag 0x08) and no time stamp in the header, maximum compression (extra flags 2).
for gz in "$doc/changelog.gz" "$root"/usr/share/man/man1/*.gz; do
  read -r _ _ _ flags t1 t2 t3 t4 xfl _ < <(od -An -tu1 -N10 "$gz")
  if (( (flags & 8) != 0 || t1 + t2 + t3 + t4 != 0 || xfl != 2 )) || ! gzip -t "$gz"; then
    fail "${gz#"$root"} is not compressed with gzip -9n"
  fi
done
latest=$(zcat "$doc/changelog.gz")
[[ ${latest%%$'\n'*} == "qvloader ($version) "* ]] || fail "the changelog's latest entry is not $version"

# lintian has no tag for the stack protector.
for program in "$root"/usr/bin/*; do
  [[ $(readelf --dyn-syms -W "$program") == *__stack_chk_fail* ]] || fail "${program#"$root"} has no stack protector"
done

findings=$(lintian --pedantic -I "$deb" 2>&1 | grep -v '^running with root privileges')
echo "lintian --pedantic -I: ${findings:-no findings}"
grep -E '^[EW]: ' <<<"$findings" && fail "lintian reports errors or warnings"
grep -E '^[IP]: [^ ]+ (hardening-|binary-has-unneeded-section|desktop-entry-lacks-)' <<<"$findings" &&
  fail "lintian reports unhardened or unstripped programs, or incomplete desktop entries"

[ $failed -eq 0 ] && echo "Debian package: ok"
exit $failed
