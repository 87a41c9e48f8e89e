#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev libbenchmark-dev \
    xvfb xauth xdotool x11-utils
build_project -DQUORVEX_BUILD_TESTS=ON -DQUORVEX_BUILD_BENCH=ON
cd "$BUILD_DIR"
ctest --output-on-failure -j2
