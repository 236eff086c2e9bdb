#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds the normal and the sanitizer
# configurations, runs every test with CTest, checks the installed layout and the Debian
# packages, and runs the Windows stage. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}" "${CONFIGURE_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
ensure_test_locale

echo "== Format check"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror

echo "== Normal build"
configure_and_build build "${NORMAL_BUILD_OPTIONS[@]}"
ctest --test-dir build -j2 --output-on-failure

echo "== Staged install (prefix, C hosts, installed programs, Debian packages)"
bash scripts/install-stage.sh

echo "== Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DWARNINGS_AS_ERRORS=ON -DSANITIZE=ON
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan -j2 --output-on-failure

echo "== Windows stage (cross-build, checks, tests under Wine)"
bash scripts/windows.sh

echo "== All tests passed"
