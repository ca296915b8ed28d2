#!/usr/bin/env bash
# The demo window under Wine on a virtual X display, through Qt's windows
# platform: a whole load into the simulated device, with screenshots of it,
# of the Russian file dialog and of the port errors (windowshots).
#   window-load.sh WINDOWSHOTS.EXE OUT_DIR
set -euo pipefail
exe=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out"
mkdir -p "$out"
export QT_QPA_PLATFORM=windows
# The display of the whole run when there is one (scripts/test.sh windows
# starts the Wine server under it), else one of its own.
display=()
[ -n "${DISPLAY:-}" ] || display=(xvfb-run -a -s "-screen 0 1024x768x24")
status=0
"${display[@]}" "$here/../../scripts/windows/wine-run.sh" "$exe" \
  "$(printf 'Z:%s' "$out" | tr / '\\')" >"$out/shots.log" 2>&1 || status=$?
cat "$out/shots.log"
if [ "$status" -ne 0 ]; then
  echo "window-load.sh: the window's load did not complete (status $status)" >&2
  exit 1
fi
for shot in 1-fresh 4-complete 7-file-dialog 9-port-error-not-found; do
  [ -s "$out/$shot.png" ] || { echo "window-load.sh: no $shot.png" >&2; exit 1; }
done
# A window drawn on another display leaves the screen black.
colours=$(identify -format %k "$out/4-complete.png")
[ "$colours" -gt 2 ] || { echo "window-load.sh: the screenshots show no window ($colours colours)" >&2; exit 1; }
echo "window-load.sh: a whole load in the window under Wine; screenshots in $out"
