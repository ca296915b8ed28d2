#!/usr/bin/env bash
# Wine for running the Windows build's programs and tests on Debian 12.
#
#   . scripts/windows/wine-env.sh            sets up this shell: the environment below,
#                                            one persistent wineserver, the helpers
#   scripts/windows/wine-env.sh CMD [ARG...] runs CMD in that environment (for example
#                                            ctest --test-dir build/windows), then stops
#                                            the wineserver it started
#
# It installs wine and wine64 if they are missing (64-bit only: no i386 packages) and
# keeps a private prefix outside the tree, ~/.cache/qv-mingw/wineprefix (WINEPREFIX
# overrides it), made on first use with Wine's own fonts copied into C:\windows\Fonts:
# Qt lists the fonts it finds there. WINEDEBUG=-all keeps Wine's diagnostics out of
# the programs' output; WINEDLLOVERRIDES turns off the Mono and Gecko installers that
# would otherwise ask to be downloaded, and Wine's menu builder, which would copy the
# installer's Start-menu entries into this machine's own desktop menus (and leave them
# there after the uninstaller). WINEPATH finds Qt's DLLs in the cached Qt
# (QV_WINE_QT_PATH=no: not).
#
# Wine passes the Linux environment on to Windows programs except QT_* (and a few
# others): WINEQT_X=v reaches the program as QT_X=v. wine-run.sh passes on
# QT_QPA_PLATFORM; the offscreen platform's font folder is set here.
#
# Start one wineserver for a whole test run: every Wine process needs a server, and
# starting a cold one costs about 2.7 s a program, a warm one 0.1 s. `wineserver -p`
# keeps it running between programs; `qv_wine_stop` ends it.
#
# Serial ports: Wine opens COMn through a link in the prefix, dosdevices/comN, to
# any Linux character device. A Windows program under Wine reaches a Linux
# pseudo-terminal (for example the one qvsim plays the device on) by
#   qv_wine_map_com 5 /dev/pts/7      -> $WINEPREFIX/dosdevices/com5 -> /dev/pts/7
# and then opens "COM5" (\\.\COM5). `qv_wine_unmap_com 5` removes the link. The link
# may be made while the wineserver runs: Wine resolves it at each open.

# Functions only (no set -e here: this file may be sourced into a user's shell).
qv_wine_env_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=common.sh
. "$qv_wine_env_dir/common.sh"

export WINEPREFIX=${WINEPREFIX:-$qv_cache/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
# Qt's offscreen and minimal platforms on Windows read fonts from one folder only
# (QT_QPA_FONTDIR, else Qt's lib\fonts): without it they draw no text at all.
export WINEQT_QPA_FONTDIR=${WINEQT_QPA_FONTDIR:-'C:\windows\Fonts'}

# The 64-bit loader itself: Debian's `wine` wrapper looks for a 32-bit Wine first and
# prints a hint about it.
qv_wine=/usr/lib/wine/wine64
qv_wineserver=/usr/lib/wine/wineserver64

# Z:\ is the Linux root in every prefix.
qv_wine_path() {
  printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"
}

qv_wine_install() {
  [ -x "$qv_wine" ] && [ -x "$qv_wineserver" ] && [ -d /usr/share/wine/fonts ] &&
    ls /usr/share/wine/fonts/*.ttf >/dev/null 2>&1 && return 0
  qv_install wine wine64 fonts-wine
}

# Makes the prefix once (wineboot, fonts); the marker tells later calls it is ready.
qv_wine_prefix() {
  [ -f "$WINEPREFIX/.qv-ready" ] && return 0
  qv_lock wineprefix
  if [ ! -f "$WINEPREFIX/.qv-ready" ]; then
    echo "wine-env: making the Wine prefix $WINEPREFIX" >&2
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$qv_wine" wineboot --init >/dev/null 2>&1 || true
    "$qv_wineserver" -w
    [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "wine-env: wineboot made no prefix" >&2; return 1; }
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    touch "$WINEPREFIX/.qv-ready"
  fi
  flock -u "$qv_lock_fd"
}

# Qt's DLLs for programs that do not carry them beside themselves. Qt then finds its
# plugins (platforms\qwindows.dll, ...) relative to the Qt6Core.dll it was loaded from.
# QV_WINE_QT_PATH=no leaves WINEPATH alone (to prove a deployed folder complete).
qv_wine_path_qt() {
  [ "${QV_WINE_QT_PATH:-}" != no ] || return 0
  local qtbin
  qtbin=$(qv_wine_path "$qv_qt_prefix/bin")
  case ";${WINEPATH:-};" in
    *";$qtbin;"*) ;;
    *) export WINEPATH="$qtbin${WINEPATH:+;$WINEPATH}" ;;
  esac
}

qv_wine_setup() {
  qv_wine_install && qv_wine_prefix && qv_wine_path_qt
}

# A persistent server for this prefix, unless one runs already (-k0 asks whether one
# does): forever, or SECONDS after its last program ends. The first program of a new
# server also starts Wine's own services (services.exe, winedevice.exe, ...), which
# inherit its standard output and outlive it: a test's pipe would then stay open and
# ctest (or CMake's test discovery) would wait for it until its time-out. So a
# throw-away program starts them here, holding /dev/null. qv_wine_started tells
# whether this shell started the server.
qv_wine_started=
# shellcheck disable=SC2120
qv_wine_start() { # [SECONDS]
  "$qv_wineserver" -k0 2>/dev/null && return 0
  qv_lock wineserver
  if ! "$qv_wineserver" -k0 2>/dev/null; then
    # The server outlives this shell: it must not hold the caller's output open either.
    "$qv_wineserver" "-p${1:-}" </dev/null >/dev/null 2>&1 && qv_wine_started=1
    "$qv_wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  fi
  flock -u "$qv_lock_fd"
}

qv_wine_stop() {
  "$qv_wineserver" -k 2>/dev/null || true
  unset QV_WINE_READY
}

qv_wine_map_com() { # N DEVICE
  local n=$1 device=$2
  mkdir -p "$WINEPREFIX/dosdevices"
  ln -sfn "$device" "$WINEPREFIX/dosdevices/com$n"
}

qv_wine_unmap_com() { # N
  rm -f "$WINEPREFIX/dosdevices/com$1"
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then
  # Sourced: set up this shell (wine-run.sh wants the functions alone).
  [ -n "${QV_WINE_FUNCTIONS_ONLY:-}" ] || { qv_wine_setup && qv_wine_start && export QV_WINE_READY=$WINEPREFIX; }
else
  set -euo pipefail
  qv_wine_setup
  qv_wine_start
  export QV_WINE_READY=$WINEPREFIX
  if [ $# -eq 0 ]; then
    echo "usage: . $0   or   $0 COMMAND [ARG...]" >&2
    exit 2
  fi
  status=0
  "$@" || status=$?
  [ -z "$qv_wine_started" ] || qv_wine_stop
  exit "$status"
fi
