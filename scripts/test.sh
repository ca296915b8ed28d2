#!/usr/bin/env bash
# Sets up, builds and runs every test of one configuration.
# Usage: scripts/test.sh [release|asan|tsan|windows]   (default: release; also QV_CONFIG=asan)
#   windows: the Windows build under Wine (the first run on a machine builds Qt
#   for Windows, about half an hour on two idle cores)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:-${QV_CONFIG:-release}}
if [ "$config" = windows ]; then "$root/scripts/setup.sh" windows; else "$root/scripts/setup.sh"; fi
"$root/scripts/check-format.sh"
"$root/scripts/build.sh" "$config"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cd "$root/build/$config"
if [ "$config" = windows ]; then
  # One Wine server and one virtual display for the whole run: a cold server
  # costs seconds a program, and the Wine desktop that the first program
  # starts stays on the display that program had (none, for an offscreen
  # test), so a server left from before is stopped first.
  QV_WINE_FUNCTIONS_ONLY=1 . "$root/scripts/windows/wine-env.sh"
  qv_wine_stop
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/windows/wine-env.sh" \
    ctest --output-on-failure -j "$(nproc)"
fi
ctest --output-on-failure -j "$(nproc)"
