#!/usr/bin/env bash
# Copies what Windows programs built against the cached Qt need beside them, the
# way a Windows installation carries it: the Qt DLLs they import (and those import),
# the windows platform plugin, the Windows Vista style (the native look) and Qt's
# Russian texts. The programs themselves need no MinGW runtime DLLs: the toolchain
# links the C and C++ runtimes into every program and DLL.
#   scripts/windows/deploy-qt.sh [--test-platforms] DIR PROGRAM.exe...
# --test-platforms adds the offscreen and minimal platform plugins (for tests).
# The layout is windeployqt's: platforms/ and styles/ beside the programs (Qt looks
# for plugins in the program's folder), translations/ where QLibraryInfo's
# TranslationsPath points when Qt6Core.dll sits beside the program.
set -euo pipefail
. "$(dirname "$0")/common.sh"

plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)
if [ "${1:-}" = --test-platforms ]; then
  plugins+=(platforms/qoffscreen.dll platforms/qminimal.dll)
  shift
fi
[ $# -ge 2 ] || { echo "usage: $0 [--test-platforms] DIR PROGRAM.exe..." >&2; exit 2; }
dest=$1
shift
qt=$qv_qt_prefix
[ -f "$qt/.complete" ] || { echo "deploy-qt: no Qt in $qt (run scripts/windows/build-qt.sh)" >&2; exit 1; }

# Imported DLLs that come from Qt's bin folder, followed through their own imports.
declare -A seen=()
queue=("$@")
for plugin in "${plugins[@]}"; do queue+=("$qt/plugins/$plugin"); done
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    [ -f "$qt/bin/$dll" ] && [ -z "${seen[$dll]:-}" ] || continue
    seen[$dll]=1
    queue+=("$qt/bin/$dll")
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done

mkdir -p "$dest"
for dll in "${!seen[@]}"; do
  cp "$qt/bin/$dll" "$dest/"
done
for plugin in "${plugins[@]}"; do
  mkdir -p "$dest/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin" "$dest/$plugin"
done
mkdir -p "$dest/translations"
cp "$qt/translations/qtbase_ru.qm" "$dest/translations/"
printf '%s\n' "${!seen[@]}" | sort
