#!/usr/bin/env bash
# Builds the Windows installer and the zip beside it, on Debian:
#   build/windows/qvloader-<version>-win64.exe   (NSIS, 64-bit, Russian-capable)
#   build/windows/qvloader-<version>-win64.zip   (the same files)
# It builds (or finds cached) Qt, GoogleTest and nlohmann-json for Windows,
# cross-builds the release configuration and runs CPack's NSIS and ZIP
# generators (makensis from Debian's nsis).
#   scripts/windows/package.sh [BUILD_DIR]   (default build/windows)
set -euo pipefail
. "$(dirname "$0")/common.sh"
build=${1:-$qv_root/build/windows}

"$qv_windows_dir/build-qt.sh" >/dev/null
"$qv_windows_dir/build-googletest.sh" >/dev/null
qv_install nsis librsvg2-bin icoutils zip
nice cmake -S "$qv_root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$qv_toolchain_file" -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" --parallel "${QV_JOBS:-2}"
cd "$build"
cpack -C Release
ls -l "$build"/qvloader-*-win64.exe "$build"/qvloader-*-win64.zip
