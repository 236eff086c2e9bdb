#!/usr/bin/env bash
# Benchmark of fits-convert against the plain read-swap-write loop (bench/copy_loop.c) and
# astropy, with the peak memory of each, for every sample type; plus peak memory for a
# 256 MiB frame and a 100,000-frame spectrum file, header reading and a batch of small files.
#
# Usage: bench/run_benchmark.sh [work-folder]      (needs about 16 GiB free there)
# Then archives: -j 2 against -j 1 and --compress against the plain write (see archive()),
# and the window's Display and Convert on a 1 GiB file (see window()).
# Environment: ROUNDS (A B B A rounds against the loop and against the int16 conversion,
# default 5), ASTROPY_ROUNDS (default 3), CASES (the sample types to time, default "int16
# uint16 float32 int32 uint8"), SPECTRUM_FRAMES (default 100000), BENCH_BIN (a folder holding
# fits-convert, make-spe, copy-loop and window-bench already built, instead of building them in
# build-bench, Release).
#
# Timing on a shared or virtual disk is dominated by write-back and by run order. Each run
# writes a new file after `sync` has written back the page cache, and the two commands of a
# comparison run in A B B A order, so that order effects cancel within a round; the ratio of
# a round is (A1 + A2) / (B1 + B2). Printed: the median ratio and the spread (least-most).
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-5}
ASTROPY_ROUNDS=${ASTROPY_ROUNDS:-3}
SPECTRUM_FRAMES=${SPECTRUM_FRAMES:-100000}
CASES=${CASES:-int16 uint16 float32 int32 uint8}
if [ -n "${BENCH_BIN:-}" ]; then
    BIN=$BENCH_BIN
else
    source scripts/deps.sh
    ensure_packages "${RUN_PACKAGES[@]}" "${CONFIGURE_PACKAGES[@]}" python3-astropy time
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j2 --target fits-convert make-spe copy-loop window-bench >/dev/null
    BIN=build-bench/bin
fi
WORK=${1:-$(mktemp -d /tmp/fits-bench.XXXXXX)}
mkdir -p "$WORK"

# Seconds one command takes, after its output is removed and the page cache written back.
timed() {
    local output=$1 start end
    shift
    rm -rf "$output"
    sync
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    end=$(date +%s%N)
    echo $(((end - start) / 1000))e-6
}

# Prints the median and the least-most spread of the numbers on standard input.
median_spread() {
    sort -g | awk '{a[NR] = $1} END {
        m = NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
        printf "%.2f (%.2f-%.2f)", m, a[1], a[NR]}'
}

# A B B A rounds: abba ROUNDS -- OUT_A CMD_A... -- OUT_B CMD_B...
# Prints one ratio per round: (A1 + A2) / (B1 + B2).
abba() {
    local rounds=$1 a=() b=()
    shift 2
    while [ "$1" != "--" ]; do a+=("$1"); shift; done
    shift
    b=("$@")
    for _ in $(seq 1 "$rounds"); do
        local a1 b1 b2 a2
        a1=$(timed "${a[@]}"); b1=$(timed "${b[@]}"); b2=$(timed "${b[@]}"); a2=$(timed "${a[@]}")
        awk -v a1="$a1" -v a2="$a2" -v b1="$b1" -v b2="$b2" \
            'BEGIN {printf "%.4f\n", (a1 + a2) / (b1 + b2)}'
    done
}

peak_mib() {
    /usr/bin/time -v "$@" 2>&1 >/dev/null |
        awk -F: '/Maximum resident/ {printf "%.1f", $2 / 1024}'
}

# Archives: 96 files of 8 MiB (2048 x 2048 int16) converted with -j 2 against -j 1, and
# --compress against the plain write (size and time), in A B B A rounds. ARCHIVE_ROUNDS
# (default ROUNDS); ONLY_ARCHIVE=1 runs this part alone.
archive() {
    local rounds=${ARCHIVE_ROUNDS:-$ROUNDS} tree="$WORK/archive"
    mkdir -p "$tree/in"
    [ -f "$tree/in/f95.spe" ] || for i in $(seq 0 95); do
        "$BIN"/make-spe "$tree/in/f$i.spe" 2048 2048 1 2
    done
    # Each run writes a new tree (rm -rf and sync before), as timed() does for one file.
    local tree_run='rm -rf "$1" && mkdir -p "$1" && shift && "$@"'
    one=(-- "$tree/o1" bash -c "$tree_run" _ "$tree/o1" "$BIN"/fits-convert -q -j 1 -o "$tree/o1" "$tree/in")
    two=(-- "$tree/o2" bash -c "$tree_run" _ "$tree/o2" "$BIN"/fits-convert -q -j 2 -o "$tree/o2" "$tree/in")
    packed=(-- "$tree/oc" bash -c "$tree_run" _ "$tree/oc" "$BIN"/fits-convert -q -j 1 --compress -o "$tree/oc" "$tree/in")
    echo "96 files of 8 MiB, -j 2 / -j 1 (time): $(abba "$rounds" "${two[@]}" "${one[@]}" | median_spread)"
    echo "96 files of 8 MiB, --compress / plain (time): $(abba "$rounds" "${packed[@]}" "${one[@]}" | median_spread)"
    "$BIN"/fits-convert -q -o "$tree/o1" "$tree/in" 2>/dev/null || true
    "$BIN"/fits-convert -q --compress -o "$tree/oc" "$tree/in" 2>/dev/null || true
    echo "--compress size: $(du -sb "$tree/oc" | cut -f1) bytes against $(du -sb "$tree/o1" | cut -f1)"         "(plain / compressed $(awk -v a="$(du -sb "$tree/o1" | cut -f1)" -v b="$(du -sb "$tree/oc" | cut -f1)" 'BEGIN {printf "%.2f", a / b}'))"
    local samples="$WORK/samples"
    rm -rf "$samples" && mkdir -p "$samples/plain" "$samples/packed"
    "$BIN"/fits-convert -q --bzero -o "$samples/plain" tests/data/spe
    "$BIN"/fits-convert -q --bzero --compress -o "$samples/packed" tests/data/spe
    echo "the samples (--bzero), plain / compressed bytes: $(du -sb "$samples/plain" | cut -f1) / $(du -sb "$samples/packed" | cut -f1)"
}
# The window on a 1 GiB file (128 frames of 2048 x 2048 int16), on the offscreen platform:
# Display FITS File against fits-convert writing the same bytes (time, A B B A rounds), and
# the longest the window's event loop was kept from running (its and the viewer's repaint
# gap) during Display and during Convert SPE File(s): writing a new file, replacing one,
# and compressed. WINDOW_ROUNDS (default ROUNDS);
# ONLY_WINDOW=1 runs this part alone.
window() {
    local rounds=${WINDOW_ROUNDS:-$ROUNDS} dir="$WORK/window"
    mkdir -p "$dir"
    [ -f "$dir/big.spe" ] || "$BIN"/make-spe "$dir/big.spe" 2048 2048 128 2
    [ -f "$dir/shown.fit" ] || { "$BIN"/fits-convert -q "$dir/big.spe" && mv "$dir/big.fit" "$dir/shown.fit"; }
    export XDG_DATA_HOME="$dir/data" QT_QPA_PLATFORM=offscreen
    # The display document (shown.spe) is removed before each run: none is reused.
    local display=(-- "$dir/shown.spe" "$BIN"/window-bench "$dir/shown.fit")
    local convert=(-- "$dir/big.fit" "$BIN"/fits-convert -q "$dir/big.spe")
    echo "Display FITS File, 1 GiB / fits-convert of the same bytes (time):" \
        "$(abba "$rounds" "${display[@]}" "${convert[@]}" | median_spread)"
    local shows=() converts=() replaces=() packs=()
    gap() { sync && "$BIN"/window-bench "$@" 2>/dev/null | awk '{print $4}'; }
    for _ in $(seq 1 "$rounds"); do
        rm -f "$dir/shown.spe" "$dir/big.fit"
        shows+=("$(gap "$dir/shown.fit")")
        converts+=("$(gap "$dir/big.spe")")
        replaces+=("$(gap "$dir/big.spe")")  # big.fit now exists: replaced
        packs+=("$(gap --compress "$dir/big.spe")")
    done
    echo "longest repaint gap, ms: Display $(printf '%s\n' "${shows[@]}" | median_spread)," \
        "Convert SPE File(s) $(printf '%s\n' "${converts[@]}" | median_spread)," \
        "replacing $(printf '%s\n' "${replaces[@]}" | median_spread)," \
        "compressed $(printf '%s\n' "${packs[@]}" | median_spread)"
    rm -f "$dir/shown.spe" "$dir/big.fit"
}
if [ -n "${ONLY_ARCHIVE:-}" ]; then
    archive
    exit 0
fi
if [ -n "${ONLY_WINDOW:-}" ]; then
    window
    exit 0
fi

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
    "$(uname -sr), load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
echo "A B B A rounds: $ROUNDS against the loop, $ASTROPY_ROUNDS against astropy"
echo "case | in MiB | out MiB | fits-convert / loop | per byte written / loop | per byte written / int16's | astropy / fits-convert | peak MiB fits-convert | peak MiB astropy"
int16_bytes=
# name datatype columns rows frames loop-sample-bytes
while read -r name datatype columns rows frames sample; do
    [[ " $CASES " == *" $name "* ]] || continue
    spe="$WORK/bench_$name.spe"
    fit="$WORK/bench_$name.fit"
    [ -f "$spe" ] || "$BIN"/make-spe "$spe" "$columns" "$rows" "$frames" "$datatype"
    "$BIN"/fits-convert -q "$spe"
    out_bytes=$(stat -c %s "$fit")
    "$BIN"/copy-loop "$spe" "$WORK/loop.bin" "$sample"
    loop_bytes=$(stat -c %s "$WORK/loop.bin")
    conv=(-- "$fit" "$BIN"/fits-convert -q "$spe")
    loop=(-- "$WORK/loop.bin" "$BIN"/copy-loop "$spe" "$WORK/loop.bin" "$sample")
    py=(-- "$WORK/astropy.fit" /usr/bin/python3 bench/astropy_convert.py "$spe" "$WORK/astropy.fit")
    ratios=$(abba "$ROUNDS" "${conv[@]}" "${loop[@]}")
    per_byte=$(awk -v f="$loop_bytes" -v o="$out_bytes" '{printf "%.4f\n", $1 * f / o}' <<<"$ratios")
    # Time per byte written against the int16 conversion's, both by fits-convert (the int16
    # case runs first and keeps its file).
    if [ "$name" = int16 ]; then
        int16_bytes=$out_bytes
        vs_int16="1 (itself)"
    elif [ -n "$int16_bytes" ]; then
        ref=(-- "$WORK/bench_int16.fit" "$BIN"/fits-convert -q "$WORK/bench_int16.spe")
        vs_int16=$(abba "$ROUNDS" "${conv[@]}" "${ref[@]}" |
            awk -v r="$int16_bytes" -v o="$out_bytes" '{printf "%.4f\n", $1 * r / o}' | median_spread)
    else
        vs_int16="-"
    fi
    vs_astropy=$(abba "$ASTROPY_ROUNDS" "${py[@]}" "${conv[@]}")
    mem=$(peak_mib "$BIN"/fits-convert -q "$spe")
    mem_py=$(peak_mib /usr/bin/python3 bench/astropy_convert.py "$spe" "$WORK/astropy.fit")
    echo "$name | $(($(stat -c %s "$spe") >> 20)) | $((out_bytes >> 20)) |" \
        "$(median_spread <<<"$ratios") | $(median_spread <<<"$per_byte") | $vs_int16 |" \
        "$(median_spread <<<"$vs_astropy") | $mem | $mem_py"
    rm -f "$WORK/loop.bin" "$WORK/astropy.fit"
    [ "$name" = int16 ] || rm -f "$fit"
done <<'EOF'
int16 2 2048 2048 128 2
uint16 3 2048 2048 128 2
float32 0 2048 2048 64 4
int32 1 2048 2048 64 4
uint8 6 2048 2048 256 1
EOF

# Peak memory must not follow the frame: one 256 MiB frame, and a long file of spectra.
frame="$WORK/frame_8192x8192_int32.spe"
[ -f "$frame" ] || "$BIN"/make-spe "$frame" 8192 8192 1 1
echo "peak MiB, one 8192 x 8192 int32 frame (256 MiB): $(peak_mib "$BIN"/fits-convert -q "$frame")"
rm -f "${frame%.spe}.fit"
spectra="$WORK/spectra_65535x1x${SPECTRUM_FRAMES}_uint8.spe"
[ -f "$spectra" ] || "$BIN"/make-spe "$spectra" 65535 1 "$SPECTRUM_FRAMES" 6
echo "peak MiB, $SPECTRUM_FRAMES spectra of 65535 uint8 samples: $(peak_mib "$BIN"/fits-convert -q "$spectra")"
rm -f "${spectra%.spe}.fit"

# Header reading must not depend on the file's size; small files convert by the thousand.
header_ms() {
    local start end
    start=$(date +%s%N)
    # A new file each time: replacing one waits for the disk (fdatasync), which is not reading.
    for _ in $(seq 1 20); do
        rm -f "$WORK/h.txt"
        "$BIN"/fits-convert -q --header "$1" --save-header "$WORK/h.txt"
    done
    end=$(date +%s%N)
    echo $(((end - start) / 20000000))
}
echo "header read, whole fits-convert run: 1 GiB FITS $(header_ms "$WORK/bench_int16.fit") ms," \
    "small FITS $(header_ms tests/data/fits/hene_int32_1340x1.fit) ms"
small="$WORK/small"
rm -rf "$small/out"  # new files, as in a first conversion (replacing waits for the disk)
mkdir -p "$small/in" "$small/out"
[ -f "$small/in/s499.spe" ] || for i in $(seq 0 499); do
    "$BIN"/make-spe "$small/in/s$i.spe" 64 64 1 2
done
start=$(date +%s%N)
"$BIN"/fits-convert -q -o "$small/out" "$small/in"
end=$(date +%s%N)
echo "500 small files (64 x 64 int16): $((500 * 1000000000 / (end - start))) files/s"
archive
window
echo "load average at end $(cut -d' ' -f1-3 /proc/loadavg)"
