#!/usr/bin/env bash
# The README's recipe for converting an archive on many machines, run here on two local jobs:
# GNU parallel over the SPE files that find lists, each job writing into the mirrored tree with
# --update. A second run over the unchanged tree must rewrite nothing.
# Usage: parallel_recipe.sh FITS-CONVERT SAMPLES-DIR
set -euo pipefail
fits_convert=$1 samples=$2
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/spe/2020/pl/day 1" "$work/spe/2021" "$work/fits"
cp "$samples/image_uint16_30x20x2.spe" "$work/spe/2020/pl/day 1/run 7.spe"
cp "$samples/hene_int32_1340x1.spe" "$work/spe/2021/a.spe"
cp "$samples/noise_uint16_1020x1x5.spe" "$work/spe/b.spe"
cp "$samples/hene_int32_1340x1.spe" "$work/spe/2021/UPPER.SPE"  # the recipe finds .SPE too
PATH="$(dirname "$fits_convert"):$PATH"

convert_tree() {
    # The recipe as the README gives it (SPE=/data/spe, FITS=/data/fits there).
    (cd "$work/spe" && find . -iname '*.spe' -print0 |
        parallel -0 -j 2 --will-cite \
            "mkdir -p '$work/fits'/{//} && fits-convert -q --update -o '$work/fits'/{//} {}")
}

convert_tree
for f in "2020/pl/day 1/run 7.fit" 2021/a.fit b.fit 2021/UPPER.fit; do
    fitsverify -q "$work/fits/$f" | grep -q "verification OK" || { echo "not valid: $f"; exit 1; }
done
before=$(find "$work/fits" -type f -printf '%p %T@\n' | sort)
convert_tree
after=$(find "$work/fits" -type f -printf '%p %T@\n' | sort)
[ "$before" = "$after" ] || { echo "the second run rewrote files"; exit 1; }
echo "parallel recipe: 4 files converted on two jobs, nothing rewritten on the second run"
