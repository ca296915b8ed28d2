#!/usr/bin/env bash
# Sets up, builds and runs the program's main job: the loader's window with a
# simulated device ("Симулятор" in the port list) and a sample update file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
bin="$root/build/release"
sample="$bin/app/sample.qv"
[ -f "$sample" ] || "$bin/tools/qvsim/qvsim" --make-sample "$sample" >/dev/null

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting qvdemo with $sample loaded: choose \"Симулятор\" in the port list and turn on the switch."
  exec "$bin/app/qvdemo" "$sample"
fi

cat <<MSG
There is no display here, so the window (qvdemo) cannot open.
On a desktop, run this script again; or run the window on a virtual display:
    xvfb-run -a $bin/app/qvdemo
Meanwhile the same load runs from the command line into the simulated device:
    $bin/tools/qvflash/qvflash --simulate $sample
MSG
exec "$bin/tools/qvflash/qvflash" --simulate "$sample"
