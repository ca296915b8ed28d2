#!/usr/bin/env bash
# Configures and builds one configuration: build/release, build/asan, build/tsan
# or build/windows (the Windows programs and tests, cross-built with MinGW-w64
# against Qt for Windows, which scripts/windows/build-qt.sh builds once a machine).
# Usage: scripts/build.sh [release|asan|tsan|windows] [--programs]   (default: release, or $QV_CONFIG)
#   --programs  build only the programs (qvloader, qvdemo, qvflash, qvsim); a
#               build folder set up anew this way has no tests (nor needs
#               GoogleTest) until the next build without --programs
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${QV_CONFIG:-release}
programs=0
for arg in "$@"; do
  case "$arg" in
    --programs) programs=1 ;;
    -*) echo "usage: $0 [release|asan|tsan|windows] [--programs]" >&2; exit 2 ;;
    *) config=$arg ;;
  esac
done
# ThreadSanitizer cannot see inside the uninstrumented Qt libraries (their locks
# are invisible to it), so the tsan configuration builds and tests the
# toolkit-free layers and tools: the serial threads, the session, the tools.
with_qt=ON
toolchain=()
case "$config" in
  windows)
    # The Windows end-to-end tests play the device with a Linux qvsim.
    "$root/scripts/build.sh" release --programs >/dev/null
    "$root/scripts/windows/build-qt.sh" >/dev/null
    "$root/scripts/windows/build-googletest.sh" >/dev/null
    sanitize=""
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
               -DQV_HOST_QVSIM="$root/build/release/tools/qvsim/qvsim") ;;
  release) sanitize="" ;;
  asan)    sanitize="address" ;;
  tsan)    sanitize="thread"; with_qt=OFF ;;
  *) echo "unknown configuration '$config' (release, asan, tsan or windows)" >&2; exit 2 ;;
esac
build="$root/build/$config"
options=(-DQV_SANITIZE="$sanitize" -DQV_WITH_QT="$with_qt" "${toolchain[@]}")
if [ $programs -eq 0 ]; then
  options+=(-DQV_WITH_TESTS=ON)
elif [ ! -f "$build/CMakeCache.txt" ]; then
  options+=(-DQV_WITH_TESTS=OFF)  # a folder that has its tests keeps them
fi
cmake -S "$root" -B "$build" -G Ninja "${options[@]}" >/dev/null
if [ $programs -eq 1 ]; then
  targets=(qvflash)
  [ "$config" = windows ] || targets+=(qvsim)
  [ "$with_qt" = ON ] && targets+=(qvloader qvdemo)
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$build" -j "$(nproc)"
fi
