#!/usr/bin/env bash
# qvflash.exe under Wine loads a Linux qvsim over a COM port that Wine maps to
# qvsim's pseudo-terminal; qvsim checks every byte it receives.
#   com-load.sh QVFLASH.EXE QVSIM CASE     CASE: ok, hangup or stall
set -euo pipefail
exe=$1 qvsim=$2 case=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/windows/wine-env.sh
. "$here/../../scripts/windows/wine-env.sh"

work=$(mktemp -d)
com=$((40 + $$ % 200))  # a COM number of this run's own
cleanup() {
  qv_wine_unmap_com "$com"
  [ -z "${sim:-}" ] || kill "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$qvsim" --make-sample "$work/s.qv" >/dev/null
case "$case" in
  ok) device=(--expect "$work/s.qv"); want=0 ;;
  hangup) device=(--hangup 200); want=6 ;;
  stall) device=(--silence 200); want=5 ;;
  *) echo "com-load.sh: unknown case $case" >&2; exit 2 ;;
esac
"$qvsim" "${device[@]}" --timeout 120 >"$work/path" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do [ -s "$work/path" ] && break; sleep 0.05; done
qv_wine_map_com "$com" "$(head -n 1 "$work/path")"

status=0
"$here/../../scripts/windows/wine-run.sh" "$exe" --port "COM$com" --timeout 1000 "$(qv_wine_path "$work/s.qv")" \
  2>"$work/flash.err" || status=$?
sim_status=0
wait "$sim" || sim_status=$?
sim=
cat "$work/flash.err" >&2
cat "$work/sim.err" >&2
if [ "$status" -ne "$want" ]; then
  echo "com-load.sh: qvflash.exe ended with status $status, not $want" >&2
  exit 1
fi
if [ "$case" = ok ] && [ "$sim_status" -ne 0 ]; then
  echo "com-load.sh: the simulated device did not receive the whole image" >&2
  exit 1
fi
echo "com-load.sh: $case: status $status as expected"
