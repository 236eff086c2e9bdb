#!/usr/bin/env bash
# Installs what is missing, builds the programs, and starts the FITS converter window.
# Uses the build/ tree in the same configuration as test.sh, so the two run in either order.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}" "${CONFIGURE_PACKAGES[@]}"
configure_tree build "${NORMAL_BUILD_OPTIONS[@]}"
cmake --build build -j2 --target FITS fits-convert monodrv-ctl spectrograph-emulator monodrv telx32
echo "Starting the FITS converter (build/bin/FITS)."
# Without a display the program says how to go on in one line and exits with status 1.
exec build/bin/FITS "$@"
