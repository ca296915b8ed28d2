# shellcheck shell=bash disable=SC2034,SC2016
# Shared by the Windows toolchain scripts (sourced, not run).
# Debian 12 packages only: nothing else is fetched.

qv_windows_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
qv_root=$(cd "$qv_windows_dir/../.." && pwd)
# shellcheck source=versions.env
. "$qv_windows_dir/versions.env"

qv_cache=${QV_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qv-mingw}
qv_qt_prefix=$qv_cache/qt-$QV_QT_VERSION-r$QV_QT_RECIPE
qv_gtest_prefix=$qv_cache/googletest-$QV_GTEST_VERSION-r$QV_GTEST_RECIPE
qv_toolchain_file=$qv_root/cmake/toolchains/mingw-w64-x86_64.cmake

if [ "$(id -u)" -ne 0 ]; then qv_sudo=sudo; else qv_sudo=; fi

# Other jobs may hold the package database for a while: wait for it instead of failing.
qv_apt() {
  DEBIAN_FRONTEND=noninteractive $qv_sudo apt-get -o DPkg::Lock::Timeout=900 "$@"
}

qv_apt_updated=
qv_apt_update_once() {
  if [ -z "$qv_apt_updated" ]; then
    qv_apt update -qq
    qv_apt_updated=1
  fi
}

# Installs the packages that are not installed yet.
qv_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "windows: installing ${missing[*]}" >&2
  qv_apt_update_once
  qv_apt install -y -qq --no-install-recommends "${missing[@]}"
}

# apt-get source needs deb-src entries. A fresh Debian image has none: add them for
# the same mirrors and suites as its binary entries (the main archive and security).
qv_ensure_deb_src() {
  if apt-get indextargets --format '$(TARGET_OF)' 2>/dev/null | grep -qx deb-src; then
    return 0
  fi
  local pairs uri suites file=/etc/apt/sources.list.d/qv-deb-src.sources tmp
  pairs=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
          awk '$2 ~ /^bookworm(-updates|-security)?$/' | sort -u)
  [ -n "$pairs" ] || pairs=$'http://deb.debian.org/debian/ bookworm\nhttp://deb.debian.org/debian/ bookworm-updates\nhttp://deb.debian.org/debian-security/ bookworm-security'
  tmp=$(mktemp)
  # One stanza per mirror, with the suites it serves.
  for uri in $(awk '{ print $1 }' <<<"$pairs" | sort -u); do
    suites=$(awk -v u="$uri" '$1 == u { print $2 }' <<<"$pairs" | tr '\n' ' ')
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n' \
      "$uri" "${suites% }" >>"$tmp"
  done
  echo "windows: adding source entries ($file)" >&2
  $qv_sudo install -m 644 "$tmp" "$file"
  rm -f "$tmp"
  qv_apt update -qq
  qv_apt_updated=1
}

# One build of a cached item at a time on this machine.
qv_lock() {
  mkdir -p "$qv_cache"
  exec {qv_lock_fd}>"$qv_cache/.lock-$1"
  flock "$qv_lock_fd"
}
