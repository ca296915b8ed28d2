#!/usr/bin/env bash
# Installs the Debian package in a fresh Debian 12 (a debootstrap chroot),
# purges it, and compares listings of the file system taken before the
# install and after the purge: the package must leave nothing behind.
# The package's dependencies are installed before the first listing and stay
# in both, so that the comparison is of the package alone.
#
# Usage (as root): scripts/check-install.sh [--fresh] [PACKAGE.deb]
#   PACKAGE.deb  default: the one scripts/package.sh makes (made when missing)
#   --fresh      bootstrap the chroot anew rather than reuse the one kept in
#                $QV_CHROOT (default /var/tmp/qv-install-check)
# Needs debootstrap and the network the first time (about 200 MB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fresh=0
deb=
for arg in "$@"; do
  case "$arg" in
    --fresh) fresh=1 ;;
    -*) echo "usage: $0 [--fresh] [PACKAGE.deb]" >&2; exit 2 ;;
    *) deb=$(realpath "$arg") ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "check-install: run as root (it installs into a chroot)" >&2; exit 2; }
chroot_dir=${QV_CHROOT:-/var/tmp/qv-install-check}
mirror=${QV_MIRROR:-http://deb.debian.org/debian}

if [ -z "$deb" ]; then
  deb=$(ls -t "$root"/build/release/qvloader_*_amd64.deb 2>/dev/null | head -n 1 || true)
  [ -n "$deb" ] || deb=$("$root/scripts/package.sh" | tail -n 1)
fi
[ -f "$deb" ] || { echo "check-install: no package $deb" >&2; exit 2; }
package=$(dpkg-deb -f "$deb" Package)
depends=$(dpkg-deb -f "$deb" Depends)

if [ $fresh -eq 1 ] || [ ! -f "$chroot_dir/etc/debian_version" ]; then
  rm -rf "$chroot_dir"
  echo "check-install: bootstrapping Debian 12 in $chroot_dir"
  debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$chroot_dir.debootstrap.log" 2>&1 ||
    { tail -n 20 "$chroot_dir.debootstrap.log"; exit 1; }
fi
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# Maintainer scripts and triggers may want /proc; the listing leaves it out.
mounted=0
if mount -t proc proc "$chroot_dir/proc" 2>/dev/null; then mounted=1; fi
in_chroot() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
log=$(mktemp)
trap '[ $mounted -eq 0 ] || umount "$chroot_dir/proc"; rm -f "$log"' EXIT
quietly() { "$@" >>"$log" 2>&1 || { cat "$log"; echo "check-install: failed: ${*:2}" >&2; exit 1; }; }

# Every file, link and folder with its type, mode and owner, the size and
# checksum of regular files and the target of links (a folder's own size is
# left out: it does not shrink when entries go). Places that change on their
# own are left out: kernel and run-time file systems, temporary files, logs,
# apt's and dpkg's own records.
volatile=(./proc ./sys ./dev ./run ./tmp ./var/tmp ./var/log ./var/cache/apt ./var/lib/apt
          ./var/lib/dpkg ./etc/resolv.conf)
listing() {
  local prune=() place
  for place in "${volatile[@]}"; do prune+=(-path "$place" -o); done
  unset 'prune[${#prune[@]}-1]'
  (cd "$chroot_dir" &&
    find . -xdev \( "${prune[@]}" \) -prune -o \( -type d -printf '%p d %m %u:%g\n' \) \
         -o -printf '%p %y %m %u:%g %s %l\n' | LC_ALL=C sort >"$1" &&
    find . -xdev \( "${prune[@]}" \) -prune -o -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum >>"$1")
}

echo "check-install: $(basename "$deb") needs: $depends"
quietly in_chroot apt-get update
quietly in_chroot apt-get satisfy -y --no-install-recommends "$depends"
work=$(mktemp -d)
listing "$work/before"

cp "$deb" "$chroot_dir/tmp/$package.deb"
quietly in_chroot apt-get install -y --no-install-recommends "/tmp/$package.deb"
installed=$(in_chroot dpkg-query -W -f='${Status} ${Version}' "$package")
echo "check-install: installed: $installed, $(in_chroot dpkg -L "$package" | wc -l) paths"
# The programs start in a system that has only what the package depends on.
for program in qvloader qvdemo qvflash qvsim; do in_chroot "$program" --version; done
in_chroot qvflash --help >/dev/null
quietly in_chroot apt-get purge -y "$package"
rm -f "$chroot_dir/tmp/$package.deb"
left=$(in_chroot dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
listing "$work/after"

paths=$(grep -vc '^[0-9a-f]\{32\}  ' "$work/before")
files=$(grep -c '^[0-9a-f]\{32\}  ' "$work/before")
if { [ -n "$left" ] && [ "$left" != "unknown ok not-installed" ]; } || compgen -G "$chroot_dir/var/lib/dpkg/info/$package.*" >/dev/null; then
  echo "check-install: after the purge dpkg still records $package ('$left')"
  exit 1
fi
if diff -u "$work/before" "$work/after" >"$work/diff"; then
  echo "check-install: nothing left behind: the listings before the install and after the purge are identical ($paths paths, $files files checksummed)"
  rm -rf "$work"
else
  echo "check-install: the file system differs after the purge ($work/diff):"
  cat "$work/diff"
  exit 1
fi
