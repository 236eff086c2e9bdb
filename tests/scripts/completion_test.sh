#!/usr/bin/env bash
# fits-convert's bash completion offers a name with blanks as one word, SPE files whatever
# the case of their extension, and folders.
# Usage: completion_test.sh COMPLETION-FILE
set -euo pipefail
completion=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/run 1"
touch "$work/run 1.spe" "$work/UPPER.SPE" "$work/notes.txt"
cd "$work"
source "$completion"
COMP_WORDS=(fits-convert ""); COMP_CWORD=1
_fits_convert
got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' '|')
[ "$got" = "UPPER.SPE|run 1|run 1.spe|" ] || { echo "offered: $got"; exit 1; }
