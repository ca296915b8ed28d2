#!/usr/bin/env bash
# Sets up, builds and runs the program's main job: the loader's window with a
# simulated device ("Симулятор" in the port list) and a sample update file.
# It installs and builds only what the programs need; scripts/test.sh adds
# the rest (the tests, their tools and the package's checks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" programs
"$root/scripts/build.sh" release --programs
bin="$root/build/release"
sample="$bin/app/sample.qv"
[ -f "$sample" ] || "$bin/tools/qvsim/qvsim" --make-sample "$sample" >/dev/null
demo=$(printf '%q %q' "$bin/app/qvdemo" "$sample")
simulate=$(printf '%q --simulate %q' "$bin/tools/qvflash/qvflash" "$sample")

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting qvdemo with $sample loaded: choose \"Симулятор\" in the port list and turn on the switch."
  echo "The simulated device answers at the pace of a real line: a whole load takes about 70 s (qvdemo --fast: at once)."
  exec "$bin/app/qvdemo" "$sample"
fi

cat <<MSG
There is no display here, so the window (qvdemo) cannot open. On a desktop,
or logged in with "ssh -X" from one, start it with the sample loaded:
    $demo
Meanwhile the same load runs from the command line into the simulated device:
    $simulate
MSG
exec "$bin/tools/qvflash/qvflash" --simulate "$sample"
