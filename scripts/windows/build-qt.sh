#!/usr/bin/env bash
# Builds Qt 6 (qtbase) for 64-bit Windows on Debian 12, from Debian's own source
# package, with MinGW-w64, and caches it under ~/.cache/qv-mingw/qt-<version>-r<recipe>
# (see versions.env). Debian ships no Qt for MinGW and nothing but Debian packages may
# be fetched. A second run finds the cache and returns at once; it prints the prefix.
#
# What is built: shared Release libraries Core, Gui, Widgets and Test; the windows,
# offscreen and minimal platform plugins; no OpenGL, D-Bus, network, SQL or printing.
# The Direct2D platform plugin is left out through direct2d1_1: switching direct2d
# itself off also drops Qt Gui's DirectWrite font database, which the windows plugin
# still uses, and the plugin then fails to link (Qt 6.4.2).
# moc, rcc and uic are Debian's own Qt of the same version (QT_HOST_PATH=/usr).
# The C and C++ runtimes are linked into each DLL (see the toolchain file), so only
# Qt's own DLLs go beside a program. Qt's Russian translations come from Debian's
# qt6-translations-l10n (.qm files are the same on every platform) into translations/.
#
# Takes 20-25 minutes on two idle cores and installs about 80 MB.
# Environment: QV_JOBS (parallel jobs, default 2), QV_MINGW_CACHE (cache folder).
set -euo pipefail
. "$(dirname "$0")/common.sh"

prefix=$qv_qt_prefix
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
qv_lock qt
if [ -f "$prefix/.complete" ]; then # another run finished it while this one waited
  echo "$prefix"
  exit 0
fi

start=$(date +%s)
qv_install g++-mingw-w64-x86-64-posix cmake ninja-build perl dpkg-dev xz-utils \
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libwine-dev

# The host tools and the target must be the same Qt.
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
case "$host_version" in
  "$QV_QT_VERSION"+*) ;;
  *) echo "build-qt: Debian's Qt is $host_version, this recipe is for $QV_QT_VERSION" >&2; exit 1 ;;
esac

# An interrupted or failed build resumes in its work folder (ninja rebuilds only
# what is missing); the source is fetched and prepared once.
work=$qv_cache/work-qt-$QV_QT_VERSION-r$QV_QT_RECIPE
rm -rf "$prefix"
if [ ! -f "$work/.source-ready" ]; then
  qv_ensure_deb_src
  rm -rf "$work"
  mkdir -p "$work"
  cd "$work"
  # The same Debian revision as the host tools where the archive still has it.
  if ! apt-get source -qq "qt6-base=$host_version" >source.log 2>&1; then
    apt-get source -qq qt6-base >source.log 2>&1 || { cat source.log >&2; exit 1; }
  fi
fi
cd "$work"
src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$QV_QT_VERSION*" | head -n 1)
[ -n "$src" ] || { echo "build-qt: no qt6-base-$QV_QT_VERSION source in $work" >&2; exit 1; }

# Debian's source leaves out src/3rdparty/wintab (its licence forbids changes), yet
# the windows platform plugin includes <wintab.h> and <pktdef.h> for pen tablets.
# Wine's LGPL headers of the same interface fill the gap; they use two Wine macros.
wintab=$src/src/3rdparty/wintab
mkdir -p "$wintab"
cp /usr/include/wine/wine/windows/wintab.h "$wintab/wine_wintab.h"
cp /usr/include/wine/wine/windows/pktdef.h "$wintab/wine_pktdef.h"
cat >"$wintab/wintab.h" <<'EOF'
/* Wine's wintab.h (LGPL 2.1), for Qt's windows platform plugin. */
#ifndef QV_WINTAB_H
#define QV_WINTAB_H
#include <windows.h>
/* Wine's names for the ANSI/wide pairs, in MinGW's terms: LOGCONTEXT is LOGCONTEXTW. */
#ifndef WINELIB_NAME_AW
#define WINELIB_NAME_AW(name) __MINGW_NAME_AW(name)
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#ifndef API
#define API WINAPI
#endif
#include "wine_wintab.h"
#endif
EOF
cat >"$wintab/pktdef.h" <<'EOF'
/* Wine's pktdef.h (LGPL 2.1); PACKETDATA and friends are set by the includer. */
#include "wintab.h"
#include "wine_pktdef.h"
EOF
touch "$work/.source-ready"

build=$work/build
jobs=${QV_JOBS:-2}
log=$qv_cache/qt-$QV_QT_VERSION-r$QV_QT_RECIPE.log
echo "build-qt: building Qt $QV_QT_VERSION for Windows in $work (log: $log)" >&2
# Each step only after the one before it succeeded (errexit does not act inside
# a group that is followed by ||).
{
  nice cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qv_toolchain_file" \
    -DQV_MINGW_QT_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d1_1=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_zstd=OFF -DFEATURE_jpeg=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON -DFEATURE_freetype=ON &&
  nice cmake --build "$build" --parallel "$jobs" &&
  cmake --install "$build"
} >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "build-qt: failed, see $log" >&2; exit 1; }

for plugin in qwindows qoffscreen qminimal; do
  [ -f "$prefix/plugins/platforms/$plugin.dll" ] ||
    { echo "build-qt: platforms/$plugin.dll was not built" >&2; exit 1; }
done
mkdir -p "$prefix/translations"
cp /usr/share/qt6/translations/qtbase_ru.qm "$prefix/translations/"

cd /
rm -rf "$work"
end=$(date +%s)
echo "built $(date -u +%FT%TZ) in $((end - start)) s with $jobs jobs, from $(basename "$src")" >"$prefix/.complete"
echo "build-qt: done in $((end - start)) s, $(du -sh "$prefix" | cut -f1) in $prefix" >&2
echo "$prefix"
