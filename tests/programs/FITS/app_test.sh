#!/bin/sh
# The FITS program's answers that need no window: app_test.sh FITS VERSION
# --version and --help work without a display; without one the program exits with status 1
# and one line of advice (no abort, whose status would be 134).
fits=$1
version=$2
fail() { echo "FAILED: $*"; exit 1; }

[ "$("$fits" --version | head -n 1)" = "FITS $version" ] || fail "--version: $("$fits" --version)"
"$fits" --help | grep -q "fits-convert" || fail "--help does not point to fits-convert"
for platform in "" xcb; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM="$platform" "$fits" 2>&1)
    status=$?
    [ "$status" -eq 1 ] || fail "without a display (platform '$platform'): status $status"
    [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "more than one line: $out"
    case $out in
        *fits-convert*xvfb-run*) ;;
        *) fail "no advice: $out" ;;
    esac
done
echo "ok"
