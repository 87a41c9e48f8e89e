#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as released, and once
# more under AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev libbenchmark-dev \
    xvfb xauth xdotool x11-utils desktop-file-utils appstream dpkg-dev

echo "== release build"
build_project -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=ON
(cd "$BUILD_DIR" && ctest --output-on-failure -j2)

echo "== sanitizer build"
BUILD_DIR="$QUORVEX_ROOT/build-asan" BUILD_TYPE=RelWithDebInfo \
    build_project -DQUORVEX_SANITIZE=ON -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=OFF
(cd "$QUORVEX_ROOT/build-asan" && ctest --output-on-failure -j2)
