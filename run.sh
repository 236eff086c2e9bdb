#!/usr/bin/env bash
# Installs what is missing, builds, and starts the FITS converter window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}" libgtest-dev
configure_and_build build -DCMAKE_BUILD_TYPE=Release
if [ -x build/bin/FITS ]; then
    echo "Starting the FITS converter (build/bin/FITS)."
    exec build/bin/FITS "$@"
fi
echo "Built. The converter window (build/bin/FITS) is not built yet; nothing started."
exit 0
