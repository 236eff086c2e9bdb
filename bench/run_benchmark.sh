#!/usr/bin/env bash
# Benchmark of fits-convert on a 1 GiB SPE file against cp and astropy.
# Usage: bench/run_benchmark.sh [work-folder]   (needs about 6 GiB free there)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}" "${CONFIGURE_PACKAGES[@]}" python3-astropy time bc
BUILD=build-bench
configure_and_build "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_GUI=OFF >/dev/null
WORK=${1:-$(mktemp -d /tmp/fits-bench.XXXXXX)}
mkdir -p "$WORK"
RUNS=4  # the first run of each is dropped: first touch of fresh memory is slow and noisy

# Median of the timed runs after the first, in seconds: time_runs OUTPUT COMMAND...
# Before each run (untimed) the output is removed and dirty pages are written back, so that
# every command writes a new file from the same starting point.
time_runs() {
    local output=$1 times=() t
    shift
    for i in $(seq 1 $RUNS); do
        rm -f "$output"
        sync
        local start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        local end=$(date +%s.%N)
        [ "$i" -gt 1 ] && times+=("$(echo "$end - $start" | bc)")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

peak_kib() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident/ {gsub(/ /,"",$2); print $2}'; }

header_time() { # reading the header of a FITS file, as fits-convert --header does it
    local f=$1 start end
    start=$(date +%s.%N)
    for i in $(seq 1 20); do "$BUILD"/bin/fits-convert -q --header "$f" --save-header "$WORK/h.txt"; done
    end=$(date +%s.%N)
    echo "($end - $start) / 20" | bc -l
}

for kind in int16:2 uint16:3; do
    name=${kind%%:*}; datatype=${kind##*:}
    spe="$WORK/bench_$name.spe"
    [ -f "$spe" ] || "$BUILD"/bin/make-spe "$spe" 2048 2048 128 "$datatype"
    rm -f "$WORK/bench_$name.fit"
    "$BUILD"/bin/fits-convert -q "$spe"
    out="$WORK/bench_$name.fit"
    cp --sparse=never "$out" "$WORK/same_size.bin"  # real content: cp cannot skip holes
    t_conv=$(time_runs "$out" "$BUILD"/bin/fits-convert -q "$spe")
    t_cp=$(time_runs "$WORK/copy.bin" cp --sparse=never --reflink=never "$WORK/same_size.bin" "$WORK/copy.bin")
    t_py=$(time_runs "$WORK/astropy.fit" /usr/bin/python3 bench/astropy_convert.py "$spe" "$WORK/astropy.fit")
    mem=$(peak_kib "$BUILD"/bin/fits-convert -q "$spe")
    mem_py=$(peak_kib /usr/bin/python3 bench/astropy_convert.py "$spe" "$WORK/astropy.fit")
    echo "== $name: $(stat -c %s "$spe") bytes in, $(stat -c %s "$out") bytes out"
    printf 'fits-convert %.2fs | cp %.2fs | astropy %.2fs\n' "$t_conv" "$t_cp" "$t_py"
    printf 'fits-convert / cp = %.2f (target <= 1.4); astropy / fits-convert = %.2f (target >= 2)\n' \
        "$(echo "$t_conv / $t_cp" | bc -l)" "$(echo "$t_py / $t_conv" | bc -l)"
    printf 'peak memory: fits-convert %d KiB (target < 32768); astropy %d KiB\n' "$mem" "$mem_py"
    rm -f "$WORK/copy.bin" "$WORK/astropy.fit" "$WORK/same_size.bin"
done
printf 'header read: 1 GiB FITS %.4fs, small FITS %.4fs\n' \
    "$(header_time "$WORK/bench_int16.fit")" "$(header_time tests/data/fits/hene_int32_1340x1.fit)"
