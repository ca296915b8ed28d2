#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian 12 machine.
# Usage: scripts/setup.sh [programs]
#   (default)  everything the build and every test need (scripts/test.sh)
#   programs   only what building and running the programs needs (scripts/run.sh)
# Idempotent: packages already present are not fetched again.
set -euo pipefail
scope=${1:-all}

# The compiler, the build tools and Qt (its development package brings the
# platform plug-ins and the build tools), the JSON library of qvflash's record
# and results, Qt's Russian texts and the stand-in for the window's "MS Sans Serif".
programs=(
  g++ cmake ninja-build
  qt6-base-dev
  nlohmann-json3-dev
  qt6-translations-l10n fonts-liberation2
)
tests=(
  pkg-config git
  # the test command checks the sources' format first
  clang-format
  googletest libgtest-dev libgmock-dev
  qt6-base-dev-tools libgl-dev
  xvfb xauth fonts-dejavu-core
  # checks of the desktop entries and the MIME type
  desktop-file-utils shared-mime-info libxml2-utils
  dpkg-dev fakeroot file
  # the package's checks (lintian, manual pages, bash completion) and its
  # install-and-remove check in a fresh Debian (scripts/check-install.sh)
  lintian man-db bash-completion debootstrap
)
windows=(
  g++-mingw-w64-x86-64-posix perl xz-utils
  wine wine64 fonts-wine
  # the programs' icon and the installer, and reading it back
  librsvg2-bin icoutils nsis zip binutils
  # the window under Wine on a virtual display, and its pictures
  imagemagick
)
case "$scope" in
  programs) packages=("${programs[@]}") ;;
  all) packages=("${programs[@]}" "${tests[@]}") ;;
  windows) packages=("${programs[@]}" "${tests[@]}" "${windows[@]}") ;;
  *) echo "usage: $0 [programs|windows]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
