#!/usr/bin/env bash
# The Windows stage: cross-builds monodrv.dll and telx32.dll with MinGW-w64 for 32-bit
# Windows (the driver's target) and 64-bit Windows, checks the 32-bit DLL's format, exports,
# imports and resources, and runs the tests of the 64-bit build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
    mingw-w64-tools wine64 xvfb xauth xfonts-base

export WINELOADER=/usr/lib/wine/wine64 WINEPREFIX="$PWD/build-win64/wineprefix" WINEDEBUG=-all
wine() { /usr/lib/wine/wine64 "$@"; }
fail() { echo "windows stage: $*" >&2; exit 1; }

echo "== 64-bit Windows build"
configure_and_build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON

echo "== 32-bit Windows build"
mkdir -p build-win32
(cd build-win32 && wine ../build-win64/bin/make-typelib.exe monodrv.tlb win32)
configure_and_build build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON -DMONODRV_TLB="$PWD/build-win32/monodrv.tlb"

echo "== Checks of the 32-bit monodrv.dll"
dll=build-win32/bin/monodrv.dll
i686-w64-mingw32-objdump -f "$dll" | grep -q "file format pei-i386" || fail "$dll is not PE32"
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          awk '/\[/ && !/Ordinal/ {print $NF}' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer SPECT_CreateSpectrograph SPECT_DestroySpectrograph SPECT_GetDblParam SPECT_GetEnumParam SPECT_GetEnumString SPECT_GetResource SPECT_GetStrParam SPECT_GetULongParam SPECT_IsAvail SPECT_Process SPECT_SetDblParam SPECT_SetStrParam SPECT_SetULongParam "
[ "$exports" = "$expected" ] || fail "exports are: $exports"
imports=$(i686-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
for import in $imports; do
    case "${import,,}" in
        kernel32.dll|user32.dll|oleaut32.dll|ole32.dll|msvcrt.dll|advapi32.dll) ;;
        *) fail "$dll imports $import (only system libraries allowed)";;
    esac
done
resources=$(i686-w64-mingw32-windres -i "$dll" -O rc)
grep -q '"TYPELIB"' <<<"$resources" || fail "no TYPELIB resource"
grep -q 'LANGUAGE 9, 1' <<<"$resources" || fail "resources are not language 1033"
grep -q '"Steps/nm"' <<<"$resources" || fail "no string table"
telx=$(i686-w64-mingw32-objdump -p build-win32/bin/telx32.dll | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
       grep -c 'TELX_')
[ "$telx" -eq 51 ] || fail "telx32.dll exports $telx TELX_ names"
echo "PE32, 17 exports, imports: $imports, resources TYPELIB 1 and the string table"

echo "== Tests of the 64-bit build under Wine"
(cd build-win64/bin && wine windows_test.exe)
cp build-win64/bin/monodrv.dll build-win64/bin/windows_test.exe build-win64/partial/
# The message box needs a display for the host's hook to see it; a Wine server started
# without one would keep the desktop display-less, so it is stopped first.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
(cd build-win64/partial && xvfb-run -a /usr/lib/wine/wine64 windows_test.exe --expect-message)
echo "== Windows stage passed"
