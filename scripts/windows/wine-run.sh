#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix and environment
# (wine-env.sh): the toolchain file's CMAKE_CROSSCOMPILING_EMULATOR, so ctest and
# add_custom_command run the cross-built programs through it. Run ctest under
# wine-env.sh (or source it first) so that one persistent server serves the whole
# run; on its own this starts a server that ends 30 s after its last program
# (QV_WINESERVER_PERSIST).
#   scripts/windows/wine-run.sh PROGRAM.exe [ARG...]
set -eu
# Wine drops the Linux environment's QT_* variables (a Linux Qt setting would misguide
# a Windows Qt program) and passes WINEQT_* on as QT_*. The platform is the one a test
# chooses (QT_QPA_PLATFORM=offscreen), so it goes on; set others as WINEQT_*.
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
  export WINEQT_QPA_PLATFORM=$QT_QPA_PLATFORM
fi
# Under wine-env.sh all is ready: go straight to Wine (this runs once a test).
if [ -n "${QV_WINE_READY:-}" ] && [ "$QV_WINE_READY" = "${WINEPREFIX:-}" ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
# shellcheck source=wine-env.sh
QV_WINE_FUNCTIONS_ONLY=1 . "$(dirname "$0")/wine-env.sh"
qv_wine_setup
# Without a server from wine-env.sh, start one that lingers a little for the next program.
qv_wine_start "${QV_WINESERVER_PERSIST:-30}"
exec "$qv_wine" "$@"
