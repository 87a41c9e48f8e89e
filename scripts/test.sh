#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as released, once more
# under AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, and the Windows
# programs under Wine (scripts/build-windows.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
    "${WINE_PACKAGES[@]}"

echo "== release build"
build_project -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=ON
(cd "$BUILD_DIR" && ctest --output-on-failure -j2)

echo "== sanitizer build"
BUILD_DIR="$QUORVEX_ROOT/build-asan" BUILD_TYPE=RelWithDebInfo \
    build_project -DQUORVEX_SANITIZE=ON -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=OFF
(cd "$QUORVEX_ROOT/build-asan" && ctest --output-on-failure -j2)

echo "== Windows build"
bash "$QUORVEX_ROOT/scripts/build-windows.sh"
