#!/usr/bin/env bash
# Configures and builds one configuration: build/release, build/asan or build/tsan.
# Usage: scripts/build.sh [release|asan|tsan] [--programs]   (default: release, or $QV_CONFIG)
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
    -*) echo "usage: $0 [release|asan|tsan] [--programs]" >&2; exit 2 ;;
    *) config=$arg ;;
  esac
done
# ThreadSanitizer cannot see inside the uninstrumented Qt libraries (their locks
# are invisible to it), so the tsan configuration builds and tests the
# toolkit-free layers and tools: the serial threads, the session, the tools.
with_qt=ON
case "$config" in
  release) sanitize="" ;;
  asan)    sanitize="address" ;;
  tsan)    sanitize="thread"; with_qt=OFF ;;
  *) echo "unknown configuration '$config' (release, asan or tsan)" >&2; exit 2 ;;
esac
build="$root/build/$config"
options=(-DQV_SANITIZE="$sanitize" -DQV_WITH_QT="$with_qt")
if [ $programs -eq 0 ]; then
  options+=(-DQV_WITH_TESTS=ON)
elif [ ! -f "$build/CMakeCache.txt" ]; then
  options+=(-DQV_WITH_TESTS=OFF)  # a folder that has its tests keeps them
fi
cmake -S "$root" -B "$build" -G Ninja "${options[@]}" >/dev/null
if [ $programs -eq 1 ]; then
  targets=(qvflash qvsim)
  [ "$with_qt" = ON ] && targets+=(qvloader qvdemo)
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$build" -j "$(nproc)"
fi
