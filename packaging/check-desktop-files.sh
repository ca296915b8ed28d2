#!/usr/bin/env bash
# Validates the desktop entries and checks that the MIME definition gives
# *.qv (in any case) the update files' type. Usage: check-desktop-files.sh SRC WORKDIR
set -euo pipefail
src=$1 work=$2
desktop-file-validate "$src/qvloader.desktop" "$src/qvdemo.desktop"
for entry in qvloader qvdemo; do
  for key in 'Icon=qvloader' "Exec=$entry %f" 'Keywords='; do
    grep -q "^$key" "$src/$entry.desktop" || { echo "$entry.desktop lacks $key"; exit 1; }
  done
done
[ "$(grep '^Name=' "$src/qvloader.desktop")" != "$(grep '^Name=' "$src/qvdemo.desktop")" ] || { echo "same Name"; exit 1; }
[ "$(grep '^Comment=' "$src/qvloader.desktop")" != "$(grep '^Comment=' "$src/qvdemo.desktop")" ] || { echo "same Comment"; exit 1; }
rm -rf "$work" && mkdir -p "$work/mime/packages" "$work/applications"
# An update file opens the loader: the demo, which only looks the same, must
# not claim the type (a desktop may pick any entry that does as the default).
cp "$src/qvloader.desktop" "$src/qvdemo.desktop" "$work/applications/"
update-desktop-database "$work/applications"
claims=$(grep '^application/x-qv-update=' "$work/applications/mimeinfo.cache" || true)
[ "$claims" = "application/x-qv-update=qvloader.desktop;" ] ||
  { echo "update files are claimed by: ${claims:-nothing}"; exit 1; }
cp "$src/qvloader-mime.xml" "$work/mime/packages/qvloader.xml"
update-mime-database "$work/mime" 2>/dev/null  # it only notes that the folder is not searched
grep -q '^50:application/x-qv-update:\*\.qv$' "$work/mime/globs2" || { echo "no *.qv glob"; cat "$work/mime/globs2"; exit 1; }
xmllint --noout "$src/qvloader.svg" "$src/qvloader-mime.xml"
echo "desktop entries and MIME type: ok"
