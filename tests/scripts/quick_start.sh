#!/usr/bin/env bash
# Runs the README's quick start as written, from the top of the source tree, and checks what
# it promises: a converted file and the move to 500 nm.
# Usage: quick_start.sh SOURCE-DIR
set -euo pipefail
cd "$1"
block=$(awk '/^## Quick start/ {section = 1} section && /^```sh/ {inside = 1; next}
             inside && /^```/ {exit} inside {print}' README.md)
[ -n "$block" ] || { echo "no quick start block in README.md"; exit 1; }
said=$(setsid bash -euo pipefail -c "$block" 2>&1) || { echo "$said"; exit 1; }
echo "$said"
grep -q "1 of 1 file(s) converted" <<<"$said" || { echo "no conversion said"; exit 1; }
grep -q "moved to 500.000 nm" <<<"$said" || { echo "no move said"; exit 1; }
