#!/usr/bin/env bash
# Builds the release configuration and makes the Debian package in build/release.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
cd "$root/build/release"
cpack -G DEB
ls -1 "$root"/build/release/qvloader_*.deb
