#!/usr/bin/env bash
# The Windows installer under Wine: installed silently into the project's Wine
# prefix, the loader and the demo run from where their Start-menu entries
# point, .qv files associated, then uninstalled; afterwards the prefix's files
# (drive C:) and registry (HKLM\Software, HKCU\Software) must be as before.
#   tests/windows/check-installer.sh BUILD_DIR WORK_DIR VERSION
set -euo pipefail
build=$1 work=$2 version=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/windows/wine-env.sh
QV_WINE_FUNCTIONS_ONLY=1 . "$root/scripts/windows/wine-env.sh"
qv_wine_setup
qv_wine_start 30
wine() { "$qv_wine" "$@" </dev/null 2>/dev/null; }

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -C Release -G NSIS -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { tail -20 "$work/cpack.log"; exit 1; }
installer=$work/package/qvloader-$version-win64.exe
[ -f "$installer" ] || { echo "no installer $installer"; exit 1; }

# What the prefix holds: every file of drive C: with its size (Wine's own
# temporary files and logs aside), and the two registry trees, sorted.
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o \
     -path './users/*/AppData/Local/Temp' -prune -o -path './windows/Installer' -prune -o -printf '%p %s\n' | sort) >"$1.files"
  : >"$1.reg"
  for key in 'HKLM\Software' 'HKCU\Software'; do
    wine reg export "$key" "$work/export.reg" /y >/dev/null || true
    iconv -f UTF-16LE -t UTF-8 "$work/export.reg" 2>/dev/null | tr -d '\r' |
      grep -v -e '^"InstallDate"' -e 'Explorer\\' -e '^Windows Registry' >>"$1.reg" || true
  done
}

programs='C:\Program Files\QV loader'
dir=$WINEPREFIX/drive_c/Program\ Files/QV\ loader
# The uninstaller copies itself away and returns at once: wait for it to end.
uninstall() {
  wine "$programs\\Uninstall.exe" /S
  for _ in $(seq 1 120); do
    [ -d "$dir" ] || break
    sleep 0.5
  done
  sleep 2
}
# A run stopped half-way leaves its installation: take it away first.
[ ! -f "$dir/Uninstall.exe" ] || uninstall
snapshot "$work/before"
wine "$installer" /S
[ -f "$dir/qvloader.exe" ] || { echo "FAIL: nothing installed in $dir"; exit 1; }

# The Start menu's entries, and the programs they point at.
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/QV loader*' -name '*.lnk' | sort)
echo "$menu" | grep -q 'Загрузчик ПО в БК ВЕЛТ серии QV.lnk' || { echo "FAIL: no Start-menu entry for the loader: $menu"; exit 1; }
echo "$menu" | grep -q 'Демонстрация загрузчика ПО в БК.lnk' || { echo "FAIL: no Start-menu entry for the demo: $menu"; exit 1; }
status=0
for entry in 'Загрузчик ПО в БК ВЕЛТ серии QV:qvloader' 'Демонстрация загрузчика ПО в БК:qvdemo'; do
  name=${entry%%:*} program=${entry##*:}
  link=$(echo "$menu" | grep -F "/$name.lnk")
  # The link's target path, as the shell stores it (in UTF-16 or in ANSI text).
  target=$({ strings -el "$link"; strings "$link"; } | grep -i "\\\\$program\.exe\$" | head -n 1 || true)
  case "$target" in
    *"QV loader\\$program.exe") ;;
    *) echo "FAIL: $name points at '$target'"; status=1; continue ;;
  esac
  answer=$(wine "$programs\\$program.exe" --version | tr -d '\r')
  [ "$answer" = "$program $version" ] || { echo "FAIL: $program.exe from the Start menu's folder says '$answer'"; status=1; }
done
command=$(wine reg query 'HKLM\Software\Classes\QV.UpdateFile\shell\open\command' /ve | tr -d '\r')
echo "$command" | grep -qi 'qvloader.exe" "%1"' || { echo "FAIL: .qv does not open in the loader: $command"; status=1; }

uninstall
snapshot "$work/after"
if ! diff -u "$work/before.files" "$work/after.files" >"$work/files.diff"; then
  echo "FAIL: files left or changed:"; head -40 "$work/files.diff"; status=1
fi
if ! diff -u "$work/before.reg" "$work/after.reg" >"$work/reg.diff"; then
  echo "FAIL: registry left or changed:"; head -40 "$work/reg.diff"; status=1
fi
[ "$status" -eq 0 ] && echo "installer: installed, started from the Start menu's targets, uninstalled, nothing left ($(stat -c %s "$installer") bytes)"
exit "$status"
