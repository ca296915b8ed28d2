#!/usr/bin/env bash
# bash completion of qvflash and qvsim: every option of each program's --help
# is offered, --port offers the port list, a value is completed by the kind
# of its placeholder (update files, any file, nothing for numbers), and only
# qvflash takes an update file as its argument.
# Usage: check-completion.sh COMPLETION_SCRIPT QVFLASH QVSIM WORK_DIR
set -uo pipefail
script=$1 qvflash=$2 qvsim=$3 work=$4
main=/usr/share/bash-completion/bash_completion
if [ ! -f "$main" ]; then
  echo "SKIP: bash-completion is not installed (scripts/setup.sh installs it); the completion was not checked"
  exit 77
fi
# shellcheck source=/dev/null
source "$main"
# shellcheck source=/dev/null
source "$script"

failed=0
fail() { echo "$*"; failed=1; }

# Completes the last word of the command line given word by word.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _qv_tool "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {  # expect WANTED WORD... : the candidates are exactly WANTED (one a line)
  local wanted=$1; shift
  local got
  got=$(complete_words "$@")
  [ "$got" = "$(sort <<<"$wanted")" ] || fail "[${*:2}] offered [${got//$'\n'/ }], not [${wanted//$'\n'/ }]"
}

rm -rf "$work" && mkdir -p "$work/folder" && cd "$work" || exit 1
touch update.qv notes.txt

for program in "$qvflash" "$qvsim"; do
  long=$("$program" --help | grep -E '^[[:space:]]+-' | grep -oE -- '--[[:alnum:]][[:alnum:]-]*' | sort -u)
  offered=$(complete_words "$program" --)
  for option in $long; do
    grep -qxF -- "$option" <<<"$offered" || fail "$(basename "$program"): $option is not offered"
  done
done

ports=$("$qvflash" --list-ports | awk '{ print $1 }')
expect "$ports" "$qvflash" --port ''
expect "$ports" "$qvflash" -p ''
expect "$(grep '^COM' <<<"$ports")" "$qvflash" --port CO
expect "$(printf 'folder\nupdate.qv')" "$qvflash" ''
expect "$(printf 'folder\nnotes.txt\nupdate.qv')" "$qvflash" --log ''
expect "" "$qvflash" --timeout ''

expect "$(printf 'folder\nupdate.qv')" "$qvsim" --write ''
expect "$(printf 'folder\nnotes.txt\nupdate.qv')" "$qvsim" --make-sample ''
expect "" "$qvsim" --baud ''
expect "" "$qvsim" ''

[ $failed -eq 0 ] && echo "completion of qvflash and qvsim: ok"
exit $failed
