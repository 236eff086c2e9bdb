#!/usr/bin/env bash
# The staged-install stage: installs the normal build (build/) into a staging prefix, builds a
# small C host against the installed driver with pkg-config and with find_package, runs the
# installed programs from the prefix, validates the desktop entry, and makes the Debian
# packages with cpack and checks their contents, their Depends fields and lintian's verdict.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${PACKAGE_TEST_PACKAGES[@]}"

fail() { echo "install stage: $*" >&2; exit 1; }
cache_value() { sed -n "s/^$1:[A-Z]*=//p" build/CMakeCache.txt; }

version=$(sed -n 's/^#define PROJECT_VERSION_TEXT "\(.*\)"$/\1/p' build/generated/project_version.h)
[ -n "$version" ] || fail "no project version in build/generated/project_version.h"
major=${version%%.*}
libdir=$(cache_value CMAKE_INSTALL_LIBDIR)
stage=$PWD/build/stage
work=$(mktemp -d)
emulator_pid=""
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

echo "== Install into $stage"
rm -rf "$stage"
cmake --install build --prefix "$stage" >/dev/null
python_module=$(find "$stage/lib" -path '*/dist-packages/monodrv.py')
for file in bin/FITS bin/fits-convert bin/monodrv-ctl bin/spectrograph-emulator \
    "$libdir/libmonodrv.so.$version" "$libdir/libmonodrv.so.$major" "$libdir/libmonodrv.so" \
    "$libdir/libtelx32.so.$major" include/monodrv.h "$libdir/pkgconfig/monodrv.pc" \
    "$libdir/cmake/monodrv/monodrvConfig.cmake" "$libdir/cmake/monodrv/monodrvTargets.cmake" \
    share/man/man1/FITS.1.gz share/man/man1/fits-convert.1.gz share/man/man1/monodrv-ctl.1.gz \
    share/man/man1/spectrograph-emulator.1.gz share/applications/orlix-fits.desktop \
    share/icons/hicolor/scalable/apps/orlix-fits.svg share/bash-completion/completions/fits-convert; do
    [ -e "$stage/$file" ] || fail "not installed: $file"
done
[ -n "$python_module" ] || fail "the Python module is not installed"
soname=$(objdump -p "$stage/$libdir/libmonodrv.so.$version" | awk '/SONAME/ {print $2}')
[ "$soname" = "libmonodrv.so.$major" ] || fail "SONAME is '$soname'"
# The driver finds libtelx32.so.1 in its own folder (its run path).
driver_runpath() { objdump -p "$1" | awk '/RUNPATH/ {print $2}'; }
[ "$(driver_runpath "$stage/$libdir/libmonodrv.so.$major")" = '$ORIGIN' ] ||
    fail "the installed driver's run path is not its own folder"

echo "== A C host built against the installed driver"
export LD_LIBRARY_PATH="$stage/$libdir"
pc_version=$(PKG_CONFIG_PATH="$stage/$libdir/pkgconfig" pkg-config --modversion monodrv)
[ "$pc_version" = "$version" ] || fail "monodrv.pc gives version '$pc_version'"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror tests/packaging/host/host.c -o "$work/host-pc" \
    $(PKG_CONFIG_PATH="$stage/$libdir/pkgconfig" pkg-config --cflags --libs monodrv)
[ "$("$work/host-pc" 2>&1)" = "ok" ] || fail "host built with pkg-config: $("$work/host-pc" 2>&1)"
cmake -S tests/packaging/host -B "$work/host-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/host-cmake" >/dev/null
[ "$("$work/host-cmake/host" 2>&1)" = "ok" ] ||
    fail "host built with find_package: $("$work/host-cmake/host" 2>&1)"
# The example host opens the port itself, with the installed telx32.h and libtelx32.
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror \
    "$stage/share/doc/orlix-fits-monodrv-dev/examples/move.c" -o "$work/move" \
    $(PKG_CONFIG_PATH="$stage/$libdir/pkgconfig" pkg-config --cflags --libs monodrv) -ltelx32
unset LD_LIBRARY_PATH

echo "== The installed programs, run from the prefix"
# Every program answers --help and --version (the one project version).
for program in FITS fits-convert monodrv-ctl spectrograph-emulator; do
    help=$("$stage/bin/$program" --help) || fail "$program --help failed"
    grep -q "$program" <<<"$help" || fail "$program --help does not name the program"
    said=$("$stage/bin/$program" --version)
    [ "$(head -n 1 <<<"$said")" = "$program $version" ] ||
        fail "$program --version does not print '$program $version'"
    grep -q "BSD 3-Clause" <<<"$said" || fail "$program --version does not name the licence"
done
no_display=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/bin/FITS" 2>&1) &&
    fail "FITS without a display exited with status 0"
[ "$(wc -l <<<"$no_display")" -eq 1 ] && grep -q "fits-convert" <<<"$no_display" ||
    fail "FITS without a display printed: $no_display"
mkdir "$work/fits"
"$stage/bin/fits-convert" -q -o "$work/fits" tests/data/spe/image_uint16_30x20x2.spe
fitsverify -q "$work/fits/image_uint16_30x20x2.fit" >/dev/null ||
    fail "fitsverify rejects the installed fits-convert's output"
"$stage/bin/spectrograph-emulator" --model triax320 >"$work/emulator.out" &
emulator_pid=$!
for _ in $(seq 50); do
    grep -q '^PORT ' "$work/emulator.out" && break
    sleep 0.1
done
port=$(sed -n 's/^PORT //p' "$work/emulator.out")
[ -n "$port" ] || fail "the installed emulator printed no port"
"$stage/bin/monodrv-ctl" --port "$port" --model triax320 goto 500 position >"$work/ctl.out" ||
    fail "monodrv-ctl against the emulator failed: $(cat "$work/ctl.out")"
grep -q "500" "$work/ctl.out" || fail "monodrv-ctl did not report 500 nm: $(cat "$work/ctl.out")"
[ "$(LD_LIBRARY_PATH="$stage/$libdir" "$work/move" "$port" 321.5)" = "at 321.500 nm" ] ||
    fail "the example host did not move the emulator"
PYTHONPATH=$(dirname "$python_module") MONODRV_LIB="$stage/$libdir" /usr/bin/python3 -c '
import ctypes, monodrv
text = ctypes.create_string_buffer(32)
assert monodrv.load().SPECT_GetResource(136, text, 32) and text.value == b"Steps/nm"' ||
    fail "the installed Python module does not load the installed driver"
desktop-file-validate "$stage/share/applications/orlix-fits.desktop"

echo "== Debian packages"
rm -rf build/packages
(cd build && cpack -G DEB -B "$PWD/packages" >/dev/null)
arch=$(dpkg --print-architecture)
deb() { echo "build/packages/$1_${version}_$arch.deb"; }
runtime=$(deb orlix-fits-monodrv) dev=$(deb orlix-fits-monodrv-dev)
tango=$(deb orlix-fits-monodrv-tango) driver=$(deb "libmonodrv$major") port=$(deb "libtelx32-$major")
packages=("$runtime" "$dev" "$tango" "$driver" "$port")
for package in "${packages[@]}"; do
    [ -f "$package" ] || fail "cpack made: $(ls build/packages)"
    [ "$(dpkg-deb -f "$package" Version)" = "$version" ] || fail "$package has another version"
done
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
# has PACKAGE FILE...: the package holds every FILE.
has() {
    local package=$1 files file
    shift
    files=$(contents "$package")
    for file in "$@"; do grep -qx "$file" <<<"$files" || fail "$package lacks $file"; done
}
has "$runtime" /usr/bin/FITS /usr/bin/fits-convert /usr/bin/monodrv-ctl /usr/bin/spectrograph-emulator \
    /usr/lib/python3/dist-packages/monodrv.py /usr/share/applications/orlix-fits.desktop \
    /usr/share/man/man1/fits-convert.1.gz /usr/share/doc/orlix-fits-monodrv/copyright \
    /usr/share/doc/orlix-fits-monodrv/README.md /usr/share/doc/orlix-fits-monodrv/docs/driver.md \
    /usr/share/doc/orlix-fits-monodrv/docs/converter.md
has "$driver" "/usr/$libdir/libmonodrv.so.$major" "/usr/$libdir/libmonodrv.so.$version"
has "$port" "/usr/$libdir/libtelx32.so.$major" "/usr/$libdir/libtelx32.so.$version"
has "$dev" /usr/include/monodrv.h /usr/include/telx32.h "/usr/$libdir/libmonodrv.so" \
    "/usr/$libdir/libtelx32.so" /usr/share/doc/orlix-fits-monodrv-dev/examples/move.c \
    "/usr/$libdir/pkgconfig/monodrv.pc" "/usr/$libdir/cmake/monodrv/monodrvConfig.cmake"
has "$tango" /usr/bin/monodrv-tango /usr/share/man/man1/monodrv-tango.1.gz \
    /usr/share/doc/orlix-fits-monodrv-tango/examples/spectrograph.db \
    /usr/share/doc/orlix-fits-monodrv-tango/copyright
grep -q 'include\|\.so' <<<"$(contents "$runtime")" && fail "$runtime holds libraries or headers"
grep -q monodrv-tango <<<"$(contents "$runtime")" && fail "$runtime holds the Tango server"
grep -q libtango <<<"$(dpkg-deb -f "$runtime" Depends)" && fail "$runtime depends on Tango"
grep -q libtango <<<"$(dpkg-deb -f "$tango" Depends)" ||
    fail "$tango Depends lacks libtango: $(dpkg-deb -f "$tango" Depends)"
depends=$(dpkg-deb -f "$runtime" Depends)
for dependency in libc6 libstdc++6 libqt6widgets6 libpugixml1v5 "libmonodrv$major" "libtelx32-$major"; do
    grep -q "\b$dependency\b" <<<"$depends" || fail "$runtime Depends lacks $dependency: $depends"
done
grep -q "libtelx32-$major (= $version)" <<<"$(dpkg-deb -f "$driver" Depends)" ||
    fail "$driver Depends: $(dpkg-deb -f "$driver" Depends)"
# The libraries' packages leave the loader's cache to dpkg's trigger.
for package in "$driver" "$port"; do
    dpkg-deb -I "$package" | grep -q 'postinst\|postrm' && fail "$package has maintainer scripts"
    dpkg-deb --ctrl-tarfile "$package" | tar -xO ./triggers | grep -q ldconfig ||
        fail "$package does not activate the ldconfig trigger"
done
apt-get install -s -qq "${packages[@]/#/./}" >/dev/null || fail "apt cannot install the packages"
# The packages' files, unpacked side by side, work together: a host built with find_package
# and the programs with their run paths.
for package in "${packages[@]}"; do dpkg-deb -x "$package" "$work/root"; done
cmake -S tests/packaging/host -B "$work/host-deb" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/host-deb" >/dev/null
[ "$("$work/host-deb/host" 2>&1)" = "ok" ] || fail "host built against the packages failed"
[ "$(driver_runpath "$work/root/usr/$libdir/libmonodrv.so.$major")" = '$ORIGIN' ] ||
    fail "the packaged driver's run path is not its own folder"
"$work/root/usr/bin/monodrv-ctl" --simulate --model triax320 position >/dev/null ||
    fail "the packaged monodrv-ctl does not run"
[ "$("$work/root/usr/bin/monodrv-tango" --version | head -n 1)" = "monodrv-tango $version" ] ||
    fail "the packaged monodrv-tango does not run"
lintian --fail-on warning "${packages[@]}"

# As root: installed for real with apt, used, and removed again leaving none of their files
# (nor the byte-compiled copy Python makes of the module).
if [ "$(id -u)" -eq 0 ]; then
    echo "== Installed with apt, then removed"
    names=(orlix-fits-monodrv-tango orlix-fits-monodrv-dev orlix-fits-monodrv "libmonodrv$major"
           "libtelx32-$major")
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${packages[@]/#/./}" >/dev/null 2>&1 || fail "apt cannot install the packages"
    installed=$(dpkg -L "${names[@]}" | sort -u)
    /usr/bin/monodrv-ctl --simulate --model triax320 position >/dev/null ||
        fail "the installed monodrv-ctl does not run"
    /usr/bin/python3 -c 'import monodrv; monodrv.load()' || fail "the installed module fails"
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${names[@]}" >/dev/null 2>&1 ||
        fail "apt cannot remove the packages"
    for name in "${names[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$name" 2>/dev/null || true)
        case $status in "" | "un "*) ;; *) fail "$name is left as '$status' after removal" ;; esac
    done
    while IFS= read -r file; do
        [ -f "$file" ] || [ -L "$file" ] && fail "left after removal: $file"
    done <<<"$installed"
    ls /usr/lib/python3/dist-packages/__pycache__/monodrv.* 2>/dev/null &&
        fail "Python's byte-compiled module is left after removal"
fi
echo "== Staged install passed"
