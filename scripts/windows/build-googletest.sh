#!/usr/bin/env bash
# Builds GoogleTest (gtest, gmock and their main libraries, static, Release) for
# 64-bit Windows with MinGW-w64 from Debian's googletest source package, and caches
# it under ~/.cache/qv-mingw/googletest-<version>-r<recipe> (see versions.env).
# A second run finds the cache and returns at once; it prints the prefix.
# Environment: QV_JOBS (parallel jobs, default 2), QV_MINGW_CACHE (cache folder).
set -euo pipefail
. "$(dirname "$0")/common.sh"

prefix=$qv_gtest_prefix
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
qv_lock googletest
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

start=$(date +%s)
qv_install g++-mingw-w64-x86-64-posix cmake ninja-build dpkg-dev
qv_ensure_deb_src
work=$qv_cache/work-googletest-$QV_GTEST_VERSION-r$QV_GTEST_RECIPE
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
apt-get source -qq googletest >source.log 2>&1 || { cat source.log >&2; exit 1; }
src=$(find "$work" -maxdepth 1 -type d -name "googletest-$QV_GTEST_VERSION*" | head -n 1)
[ -n "$src" ] || { echo "build-googletest: no googletest-$QV_GTEST_VERSION source in $work" >&2; exit 1; }

log=$qv_cache/googletest-$QV_GTEST_VERSION-r$QV_GTEST_RECIPE.log
{
  nice cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qv_toolchain_file" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  nice cmake --build "$work/build" --parallel "${QV_JOBS:-2}"
  cmake --install "$work/build"
} >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "build-googletest: failed, see $log" >&2; exit 1; }

cd /
rm -rf "$work"
end=$(date +%s)
echo "built $(date -u +%FT%TZ) in $((end - start)) s from $(basename "$src")" >"$prefix/.complete"
echo "build-googletest: done in $((end - start)) s in $prefix" >&2
echo "$prefix"
