#!/usr/bin/env bash
# Checks the bash completion against the program: every encoding and option it offers is accepted.
set -eu
completion=$1 program=$2
shopt -s extglob
source "$completion"
offered() {  # the completions for the command line "$@", the last word being completed
  COMP_WORDS=(tessivane-shuffle "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _tessivane_shuffle
  printf '%s\n' "${COMPREPLY[@]}"
}
encodings=$(offered --encoding '')
[ "$(echo "$encodings" | wc -l)" -ge 10 ] || { echo "too few encodings: $encodings"; exit 1; }
for encoding in $encodings; do
  "$program" --encoding="$encoding" --seed 1 < /dev/null || { echo "refused: $encoding"; exit 1; }
done
for option in $(offered -); do
  # getopt_long knows every offered name: only an argument may be refused, never the option.
  if "$program" "${option%=}" < /dev/null 2>&1 >/dev/null | grep -q "unknown option"; then
    echo "unknown to the program: $option"
    exit 1
  fi
done
echo "completion offers $(echo "$encodings" | wc -l) encodings, all accepted"
