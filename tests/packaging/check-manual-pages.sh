#!/usr/bin/env bash
# Each program's manual page documents every option its --help lists, lists
# no option the program lacks, and renders without a warning.
# Usage: check-manual-pages.sh PAGES_DIR NAME=PROGRAM ...
set -uo pipefail
pages=$1; shift
failed=0
fail() { echo "$*"; failed=1; }

# The options of the option lines of a help text (indented lines that begin with a dash).
help_options() {
  grep -E '^[[:space:]]+-' | grep -oE '(^|[[:space:],])--?[[:alnum:]][[:alnum:]-]*' | tr -d ' ,\t' | sort -u
}
# The page as text, with roff's escaped dashes and font changes taken out.
page_text() {
  sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$1"
}
# The options named in the tags of the OPTIONS section (the line after each .TP).
page_option_tags() {
  page_text "$1" | awk '/^\.SH /{ in_options = ($2 == "OPTIONS") } in_options && tag { print } { tag = in_options && /^\.TP/ }' |
    grep -oE '(^|[[:space:],"])--?[[:alnum:]][[:alnum:]-]*' | tr -d ' ,\t"' | sort -u
}

for pair in "$@"; do
  name=${pair%%=*} program=${pair#*=}
  page="$pages/$name.1"
  [ -f "$page" ] || { fail "$name: no manual page $page"; continue; }
  help=$("$program" --help) || { fail "$name: --help failed"; continue; }
  options=$(help_options <<<"$help")
  [ -n "$options" ] || fail "$name: no options found in its --help"
  text=$(page_text "$page")
  for option in $options; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|$)" <<<"$text" || fail "$name: $option is missing from $page"
  done
  for option in $(page_option_tags "$page"); do
    grep -qxF -- "$option" <<<"$options" || fail "$name: $page documents $option, which $name --help does not list"
  done
  if command -v man >/dev/null; then
    # lintian's own rendering: any warning is a finding.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$name: $page renders with warnings: $warnings"
  else
    echo "$name: man is not installed, the page's rendering was not checked"
  fi
done
[ $failed -eq 0 ] && echo "manual pages: every option of $# programs documented"
exit $failed
