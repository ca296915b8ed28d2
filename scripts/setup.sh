#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev
  # JSON for qvflash's record and results, and the tests that read them
  nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth fonts-dejavu-core
  # Qt's Russian texts and the stand-in for the window's "MS Sans Serif"
  qt6-translations-l10n fonts-liberation2
  # checks of the desktop entries and the MIME type
  desktop-file-utils shared-mime-info libxml2-utils
  dpkg-dev fakeroot file
  # the package's checks (lintian, manual pages, bash completion) and its
  # install-and-remove check in a fresh Debian (scripts/check-install.sh)
  lintian man-db bash-completion debootstrap
)

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
