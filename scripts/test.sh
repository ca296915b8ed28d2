#!/usr/bin/env bash
# Sets up, builds and runs every test.
# Usage: scripts/test.sh [release|asan|tsan]   (default: release; also QV_CONFIG=asan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-${QV_CONFIG:-release}}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$config"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cd "$root/build/$config"
ctest --output-on-failure -j "$(nproc)"
