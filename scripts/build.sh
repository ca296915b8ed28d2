#!/usr/bin/env bash
# Configures and builds one configuration: build/release, build/asan or build/tsan.
# Usage: scripts/build.sh [release|asan|tsan]   (default: release, or $QV_SANITIZE)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-${QV_CONFIG:-release}}
case "$config" in
  release) sanitize="" ;;
  asan)    sanitize="address" ;;
  tsan)    sanitize="thread" ;;
  *) echo "unknown configuration '$config' (release, asan or tsan)" >&2; exit 2 ;;
esac
build="$root/build/$config"
cmake -S "$root" -B "$build" -G Ninja -DQV_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$(nproc)"
