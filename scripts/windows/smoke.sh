#!/usr/bin/env bash
# Proves the Windows toolchain end to end: builds (or finds cached) Qt and GoogleTest
# for Windows, cross-builds scripts/windows/smoke/, runs its tests under Wine through
# ctest, runs the window again from a folder laid out as shipped (deploy-qt.sh), and,
# with --window, shows the window on a virtual X display and saves a screenshot.
#   scripts/windows/smoke.sh [--window] [BUILD_DIR]    (default build/windows-smoke)
set -euo pipefail
. "$(dirname "$0")/common.sh"

window=
if [ "${1:-}" = --window ]; then
  window=1
  shift
fi
build=${1:-$qv_root/build/windows-smoke}

"$qv_windows_dir/build-qt.sh" >/dev/null
"$qv_windows_dir/build-googletest.sh" >/dev/null
qv_install xvfb xauth imagemagick

nice cmake -S "$qv_windows_dir/smoke" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$qv_toolchain_file" -DCMAKE_BUILD_TYPE=Release >/dev/null
nice cmake --build "$build" --parallel "${QV_JOBS:-2}"

# One persistent wineserver for the whole run (wine-env.sh), Qt's DLLs through WINEPATH.
"$qv_windows_dir/wine-env.sh" ctest --test-dir "$build" --output-on-failure -j 2

# The same window from a folder laid out as it is shipped: Qt's DLLs, plugins and
# translations beside the program, nothing from WINEPATH.
deploy=$build/deploy
rm -rf "$deploy"
mkdir -p "$deploy"
cp "$build/smoke_window.exe" "$deploy/"
echo "smoke: the window needs $("$qv_windows_dir/deploy-qt.sh" --test-platforms "$deploy" "$deploy/smoke_window.exe" | tr '\n' ' ')"
QV_WINE_QT_PATH=no QT_QPA_PLATFORM=offscreen "$qv_windows_dir/wine-env.sh" "$qv_windows_dir/wine-run.sh" \
  "$deploy/smoke_window.exe" --check --platform offscreen

if [ -n "$window" ]; then
  shot=$build/smoke_window.png
  # $0 is wine-run.sh, $1 the program, $2 the screenshot.
  # shellcheck disable=SC2016
  xvfb-run -a -s "-screen 0 800x600x24" "$qv_windows_dir/wine-env.sh" bash -c '
    "$0" "$1" --quit-after 20000 &
    program=$!
    sleep "${QV_SMOKE_SETTLE:-10}"
    import -window root "$2"
    wait "$program"' "$qv_windows_dir/wine-run.sh" "$build/smoke_window.exe" "$shot"
  echo "smoke: screenshot in $shot"
fi
