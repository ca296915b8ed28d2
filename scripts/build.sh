#!/usr/bin/env bash
# Configures and builds one configuration: build/release, build/asan or build/tsan.
# Usage: scripts/build.sh [release|asan|tsan]   (default: release, or $QV_SANITIZE)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-${QV_CONFIG:-release}}
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
cmake -S "$root" -B "$build" -G Ninja -DQV_SANITIZE="$sanitize" -DQV_WITH_QT="$with_qt" >/dev/null
cmake --build "$build" -j "$(nproc)"
